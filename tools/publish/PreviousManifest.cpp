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
#include "Text.h"
#include "md5.h"

#include <algorithm>
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

void CollectForeign(const fs::path& folder, const std::string& relative,
                    const std::set<std::string>& copies, std::vector<std::string>& foreign) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        const std::string name = platform::PathText(it->path().filename());
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        if (rel == kManifestCopyName || rel == kSignatureName)
            continue;
        std::error_code statError;
        const fs::file_status status = it->symlink_status(statError);
        if (statError)
            throw EPublishError(SystemError("Cannot read", it->path(), statError));
        if (fs::is_directory(status)) {
            const auto below = copies.lower_bound(rel + "/");
            if (below != copies.end() && below->rfind(rel + "/", 0) == 0)
                CollectForeign(it->path(), rel, copies, foreign);
            else
                foreign.push_back(rel + "/");
        } else if (!copies.count(rel)) {
            foreign.push_back(rel);
        }
    }
    if (error)
        throw EPublishError(SystemError("Cannot read the folder", folder, error));
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
        for (const char* section : {"self", "files_critical", "files_normal"}) {
            for (const std::string& entry : SectionEntries(list, section)) {
                const std::vector<std::string> fields = SplitFromEnd(entry, "|");
                if (fields.size() >= 3 && IsSafeRelativePath(fields[2]))
                    previous.copies.insert(platform::ManifestPathToRelative(fields[2]) +
                                           kCopySuffix);
            }
        }
    } catch (const std::exception& e) {
        warnings.push_back("The published manifest " + QuotedPath(copy) + " cannot be read (" +
                           e.what() + "): no copy is reused and the revision is not checked.");
        previous = PreviousManifest{};
        previous.present = true;
        previous.unreadable = e.what();
    }
    fs::remove(scratch, error);
    return previous;
}

std::vector<std::string> ForeignEntries(const fs::path& out, const PreviousManifest& previous) {
    std::vector<std::string> foreign;
    if (previous.present)
        CollectForeign(out, "", previous.copies, foreign);
    std::sort(foreign.begin(), foreign.end());
    return foreign;
}

} // namespace publish
