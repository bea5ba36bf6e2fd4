#include "FileEntry.h"

#include "Errors.h"
#include "Misc.h"
#include "md5.h"

#include <string_view>
#include <vector>

namespace {

std::int64_t ContentSizeField(std::string_view text) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != text.npos)
        return -1;
    return StrToInt64(text);
}

} // namespace

FileEntry SplitFileEntry(const std::string& entry) {
    const std::vector<std::string> fields = SplitFromEnd(entry, "|");
    if (fields.size() < 3)
        throw Exception("Manifest entry without path, digest and size: " + entry);
    FileEntry split{fields[2], fields[1], fields[0], fields.size() > 3 ? fields[3] : std::string()};
    if (fields.size() > 4 && IsSha256Text(fields[3]))
        split.contentSize = ContentSizeField(fields[4]);
    return split;
}

std::int64_t SizeField(const FileEntry& entry) {
    const std::int64_t size = StrToInt64(entry.size);
    if (size < 0)
        throw EConvertError(FormatText("'%s' is not a valid size", entry.size));
    return size;
}

limits::TSizeLimit CopyLimit(const FileEntry& entry) {
    const std::int64_t listed = SizeField(entry);
    const std::int64_t most = entry.contentSize >= 0 ? limits::MaxCopyOf(entry.contentSize) : -1;
    if (most >= 0 && most < listed)
        return {most, "the " + std::to_string(most) + " bytes bzip2 can make of its " +
                          std::to_string(entry.contentSize) + "-byte content"};
    return {listed, "the " + std::to_string(listed) + " bytes its entry lists"};
}

limits::TSizeLimit ContentLimit(const FileEntry& entry) {
    if (entry.contentSize >= 0)
        return {entry.contentSize,
                "the " + std::to_string(entry.contentSize) + " bytes its entry lists"};
    const std::int64_t copy = SizeField(entry);
    const std::int64_t most = limits::MaxContentOf(copy);
    return {most, "the " + std::to_string(most) + " bytes a copy of " + std::to_string(copy) +
                      " bytes can unpack to"};
}
