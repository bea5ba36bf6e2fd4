#include "FileCheck.h"

#include "FileEntry.h"
#include "Files.h"
#include "JobQueue.h"
#include "LstFile.h"
#include "Md5Lanes.h"
#include "Misc.h"
#include "Text.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

namespace {

// The entries digested side by side by one worker.
constexpr std::size_t kGroup = 8;

} // namespace

std::optional<std::string> TFileCheck::FileToDigest(const std::string& line) const {
    const std::vector<std::string> fields = SplitFromEnd(line, "|");
    if (fields.size() < 3 || !IsSafeRelativePath(fields[2]))
        return std::nullopt;
    std::string local = installation_.LocalFile(fields[2]);
    std::error_code error;
    if (!std::filesystem::is_regular_file(platform::FsPath(local), error))
        return std::nullopt;
    // A file of another size than the content its entry lists is not that
    // content: it is out of date without being read. Only the digest tells a
    // file current.
    const std::int64_t listed = SplitFileEntry(line).contentSize;
    if (listed >= 0) {
        const std::uintmax_t size = std::filesystem::file_size(platform::FsPath(local), error);
        if (!error && size != static_cast<std::uintmax_t>(listed))
            return std::nullopt;
    }
    return local;
}

TFileCheck::TFileCheck(TNotifier& notifier, const TInstallation& installation, unsigned cores,
                       std::function<bool()> stopRequested)
    : notifier_(notifier), installation_(installation), cores_(std::max(cores, 1u)),
      stopRequested_(std::move(stopRequested)) {}

TFileCheck::Result TFileCheck::Check(const std::vector<std::string>& entries,
                                     std::vector<std::string>& pending) {
    Result result;
    const auto stop = [this] { return stopRequested_ && stopRequested_(); };
    if (entries.empty() || entries.front() == kEmptySection || stop())
        return result;
    notifier_.ShowStatus(status::kChecking);
    notifier_.SetGaugeMax(TRunGauge::Total, static_cast<std::int64_t>(entries.size()) - 1);
    // The digests of the coming entries are computed ahead on every core, a
    // group of entries at a time (their files side by side in the lanes of
    // one digest); what each entry shows and what becomes of it still comes
    // in order.
    using Digests = std::vector<std::optional<std::string>>;
    const std::size_t groups = (entries.size() + kGroup - 1) / kGroup;
    TJobQueue digesting(cores_, true);
    TOrderedAhead<Digests> digests(
        digesting, groups, 2 * static_cast<std::size_t>(cores_), [&](std::size_t g) {
            Digests group;
            std::vector<std::string> read;
            std::vector<std::size_t> readAt;
            for (std::size_t k = g * kGroup; k < std::min(entries.size(), (g + 1) * kGroup); ++k) {
                group.emplace_back(std::nullopt);
                if (std::optional<std::string> local = FileToDigest(entries[k])) {
                    readAt.push_back(group.size() - 1);
                    read.push_back(std::move(*local));
                }
            }
            std::vector<std::string> found = FileDigestTextsByReading(read);
            for (std::size_t n = 0; n < found.size(); ++n)
                group[readAt[n]] = std::move(found[n]);
            return group;
        });
    Digests group;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (stop()) {
            // What is left unchecked is not known to be current.
            result.stopped = result.failed = true;
            break;
        }
        notifier_.SetTotalProgress(static_cast<std::int64_t>(i));
        const FileEntry entry = SplitFileEntry(entries[i]);
        notifier_.ShowStatus(status::kCheckingFile + platform::AnsiToUtf8(entry.path));
        if (i % kGroup == 0) // taken whatever becomes of the entry, for the entries after it
            group = digests.Take(
                i / kGroup, [this] { return notifier_.Due(); }, [this] { notifier_.FlushIfDue(); });
        if (!IsSafeRelativePath(entry.path)) {
            result.failed = true; // never read, written or fetched
            notifier_.ShowCause("'" + platform::AnsiToUtf8(entry.path) +
                                "' is no path of a file in the installation (it leads outside, "
                                "or Windows reads it as another name or a device); left out");
            continue;
        }
        if (installation_.IsSettingsFile(entry.path)) {
            // The installation's own settings (its update address, its
            // revision, the key it trusts) are never the server's to replace.
            notifier_.ShowNote("'" + platform::AnsiToUtf8(entry.path) +
                               "' is the installation's own settings file; the server's copy is "
                               "left out");
            continue;
        }
        if (group[i % kGroup] == entry.digest)
            continue;
        if (!installation_.StaysInside(installation_.LocalFile(entry.path))) {
            result.failed = true; // a folder on its way is a link to elsewhere
            notifier_.ShowCause("'" + platform::AnsiToUtf8(entry.path) +
                                "' leads outside the installation through a linked folder; left "
                                "out");
            continue;
        }
        SizeField(entry); // an entry without a size cannot be installed: raises
        pending.push_back(entries[i]);
    }
    notifier_.SetTotalProgress(0);
    notifier_.ShowStatus("");
    return result;
}
