#include "PreviousManifest.h"

#include "PublishErrors.h"
#include "PublishFiles.h"
#include "PublishText.h"
#include "PublishedTree.h"

#include "BZip2.h"
#include "Files.h"
#include "LstFile.h"
#include "Misc.h"
#include "Streams.h"
#include "md5.h"

#include <cerrno>
#include <exception>
#include <fstream>
#include <memory>
#include <system_error>

namespace publish {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> SectionEntries(const TListFile& list, const char* name) {
    std::vector<std::string> entries = list.GetSection(name);
    if (entries.size() == 1 && entries.front() == kEmptySection)
        entries.clear();
    return entries;
}

} // namespace

PreviousManifest ReadPreviousManifest(const fs::path& out, const fs::path& scratch,
                                      std::vector<std::string>& warnings) {
    PreviousManifest previous;
    const fs::path copy = out / kManifestCopyName;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(copy, error)))
        return previous;
    previous.present = true;
    try {
        std::string text;
        {
            TFileStream in(platform::PathText(copy), TFileStream::Mode::fmOpenRead);
            TBZDecompressionStream bz(in);
            std::unique_ptr<char[]> buffer(new char[kBlockSize]);
            while (const std::size_t n = bz.Read(buffer.get(), kBlockSize))
                text.append(buffer.get(), n);
            if (!bz.StreamEnded())
                throw EPublishError("the compressed data is cut off");
        }
        {
            std::ofstream file(scratch, std::ios::binary);
            file.write(text.data(), static_cast<std::streamsize>(text.size()));
            if (!file.flush())
                throw EPublishError(SystemError("Cannot write", scratch, errno));
        }
        const TListFile list(platform::PathText(scratch));
        try {
            previous.revision = StrToInt(list.GetValue("settings", "Rev"));
        } catch (const EConvertError&) {
            warnings.push_back("The published manifest has no valid revision: the new one is "
                               "not compared with it.");
        }
        const auto add = [&](const std::string& entry, bool normal) {
            const std::vector<std::string> fields = SplitFromEnd(entry, "|");
            if (fields.size() < 3 || !IsSafeRelativePath(fields[2]))
                return;
            if (normal)
                previous.normal[fields[2]] = fields[1];
            const std::string sha256 =
                fields.size() > 3 && IsSha256Text(fields[3]) ? fields[3] : std::string();
            if (const auto size = ParseUnsigned(fields[0]))
                previous.entries[fields[2]] = {fields[1], sha256, *size};
        };
        const std::vector<std::string> self = SectionEntries(list, "self");
        if (!self.empty())
            add(self.front(), false);
        for (const std::string& entry : SectionEntries(list, "files_critical"))
            add(entry, false);
        for (const std::string& entry : SectionEntries(list, "files_normal"))
            add(entry, true);
    } catch (const std::exception& e) {
        warnings.push_back("The published manifest " + QuotedPath(copy) + " cannot be read (" +
                           e.what() + "): no copy is reused and the revision is not checked.");
        previous = PreviousManifest{};
        previous.present = true;
    }
    fs::remove(scratch, error);
    return previous;
}

} // namespace publish
