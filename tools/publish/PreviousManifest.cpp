#include "PreviousManifest.h"

#include "ChunkIndex.h"

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
#include <cstring>
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

// A compressed manifest held in memory, read as the decompression stream
// reads a file.
class MemoryStream : public TStream {
public:
    explicit MemoryStream(const std::string& data) : data_(data) {}

    std::size_t Read(void* buffer, std::size_t count) override {
        const std::size_t n = std::min(count, data_.size() - position_);
        std::memcpy(buffer, data_.data() + position_, n);
        position_ += n;
        return n;
    }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
        const std::int64_t base = origin == TSeekOrigin::soBeginning ? 0
                                  : origin == TSeekOrigin::soCurrent
                                      ? static_cast<std::int64_t>(position_)
                                      : static_cast<std::int64_t>(data_.size());
        const std::int64_t to =
            std::clamp<std::int64_t>(base + offset, 0, static_cast<std::int64_t>(data_.size()));
        position_ = static_cast<std::size_t>(to);
        return to;
    }

private:
    const std::string& data_;
    std::size_t position_ = 0;
};

void CollectForeign(const fs::path& folder, const std::string& relative,
                    const PreviousManifest& previous, std::vector<std::string>& foreign) {
    const std::set<std::string>& copies = previous.copies;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        const std::string name = platform::PathText(it->path().filename());
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        if (rel == kManifestCopyName || rel == kSignatureName ||
            (rel == kChunkFolder && previous.chunked))
            continue;
        std::error_code statError;
        const fs::file_status status = it->symlink_status(statError);
        if (statError)
            throw EPublishError(SystemError("Cannot read", it->path(), statError));
        if (fs::is_directory(status)) {
            const auto below = copies.lower_bound(rel + "/");
            if (below != copies.end() && below->rfind(rel + "/", 0) == 0)
                CollectForeign(it->path(), rel, previous, foreign);
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

PreviousManifest ReadManifest(const std::string& compressed,
                              const std::function<void(const TListFile&)>& inspect) {
    PreviousManifest previous;
    previous.present = true;
    {
        MemoryStream in(compressed);
        TBZDecompressionStream bz(in);
        std::unique_ptr<char[]> buffer(new char[kBlockSize]);
        while (const std::size_t n = bz.Read(buffer.get(), kBlockSize))
            previous.text.append(buffer.get(), n);
        if (!bz.StreamEnded())
            throw EPublishError("the compressed data is cut off");
    }
    // The launcher's own reader takes it from a file, which is nowhere near
    // OUT: a dry run and a check write nothing there.
    std::error_code error;
    const fs::path temporary = fs::temp_directory_path(error);
    if (error)
        throw EPublishError("Cannot find the temporary folder: " + error.message());
    struct Scratch {
        fs::path folder;
        ~Scratch() {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    } scratch{MakeUniqueFolder(temporary / "quenmor-publish", "-")};
    const fs::path unpacked = scratch.folder / kManifestName;
    {
        std::ofstream out(unpacked, std::ios::binary);
        out.write(previous.text.data(), static_cast<std::streamsize>(previous.text.size()));
        if (!out.flush())
            throw EPublishError(SystemError("Cannot write", unpacked, errno));
    }
    const TListFile list(platform::PathText(unpacked));
    if (inspect)
        inspect(list);
    try {
        previous.revision = StrToInt(list.GetValue("settings", "Rev"));
    } catch (const EConvertError&) {
    }
    previous.expires = list.GetValue("settings", "Expires");
    previous.chunked = !list.GetValue("settings", kChunksSetting).empty();
    const auto pairOf = [](const std::string& line) {
        const std::size_t bar = line.find('|');
        return bar == std::string::npos
                   ? std::pair<std::string, std::string>{line, ""}
                   : std::pair<std::string, std::string>{line.substr(0, bar), line.substr(bar + 1)};
    };
    for (const std::string& line : SectionEntries(list, "settings"))
        previous.settings.push_back(pairOf(line));
    for (const std::string& line : SectionEntries(list, "hosts"))
        previous.hosts.push_back(pairOf(line));
    const auto add = [&](const std::string& entry, const char* section, bool listed) {
        const std::vector<std::string> fields = SplitFromEnd(entry, "|");
        if (fields.size() < 3 || !IsSafeRelativePath(fields[2])) {
            if (listed)
                previous.unusable.push_back(entry);
            return;
        }
        const std::string relative = platform::ManifestPathToRelative(fields[2]);
        previous.copies.insert(relative + kCopySuffix);
        if (!listed)
            return;
        if (section == std::string("files_normal"))
            previous.normal[fields[2]] = fields[1];
        const std::optional<std::uint64_t> copySize = ParseUnsigned(fields[0]);
        if (!copySize) {
            previous.unusable.push_back(entry);
            return;
        }
        ListedFile file;
        file.section = section;
        file.manifestPath = fields[2];
        file.relative = relative;
        file.digest = fields[1];
        file.copySize = *copySize;
        if (fields.size() > 3 && IsSha256Text(fields[3])) {
            file.sha256 = fields[3];
            if (fields.size() > 4)
                file.contentSize = ParseUnsigned(fields[4]);
        }
        previous.entries[file.manifestPath] = {file.digest, file.sha256, file.copySize, section};
        previous.files.push_back(std::move(file));
    };
    // The launcher takes the first line of self alone; the copies of the
    // others are still the tree's.
    const std::vector<std::string> self = SectionEntries(list, "self");
    for (std::size_t k = 0; k < self.size(); ++k)
        add(self[k], "self", k == 0);
    for (const std::string& entry : SectionEntries(list, "files_critical"))
        add(entry, "files_critical", true);
    for (const std::string& entry : SectionEntries(list, "files_normal"))
        add(entry, "files_normal", true);
    return previous;
}

PreviousManifest ReadPreviousManifest(const fs::path& out, std::vector<std::string>& warnings) {
    const fs::path copy = out / kManifestCopyName;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(copy, error)))
        return {};
    try {
        PreviousManifest previous = ReadManifest(ReadWholeFile(copy, kMaxManifestSize));
        if (!previous.revision)
            warnings.push_back("The published manifest has no valid revision: the new one is "
                               "not compared with it.");
        return previous;
    } catch (const std::exception& e) {
        warnings.push_back("The published manifest " + QuotedPath(copy) + " cannot be read (" +
                           e.what() + "): no copy is reused and the revision is not checked.");
        PreviousManifest previous;
        previous.present = true;
        previous.unreadable = e.what();
        return previous;
    }
}

std::vector<std::string> ForeignEntries(const fs::path& out, const PreviousManifest& previous) {
    std::vector<std::string> foreign;
    if (previous.present)
        CollectForeign(out, "", previous, foreign);
    std::sort(foreign.begin(), foreign.end());
    return foreign;
}

} // namespace publish
