#include "InstallStep.h"

#include "Errors.h"
#include "FileEntry.h"
#include "FileTransfer.h"
#include "Files.h"
#include "Streams.h"
#include "Text.h"
#include "md5.h"

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCopyBlock = 0x10000;

// Copies a whole file; the copy is complete or absent, never partial.
void CopyWhole(const std::string& source, const std::string& target) {
    TFileStream in(source, TFileStream::Mode::fmOpenRead);
    platform::AtomicFile out(target);
    std::unique_ptr<char[]> buffer(new char[kCopyBlock]);
    while (const std::size_t n = in.Read(buffer.get(), kCopyBlock))
        out.Write(buffer.get(), n);
    out.Commit();
}

} // namespace

TInstallStep::TInstallStep(TNotifier& notifier, const TInstallation& installation,
                           Settings settings, std::function<bool()> stopRequested)
    : notifier_(notifier), installation_(installation), settings_(std::move(settings)),
      stopRequested_(std::move(stopRequested)) {
    settings_.ahead.showNotes = [this](const std::vector<std::string>& notes) {
        for (const std::string& note : notes)
            notifier_.ShowRetry(note);
    };
    // Short waits for work ahead are the rule: what they hold back is shown
    // within the batch interval all the same.
    settings_.ahead.showDeltaNotes = [this](const std::vector<std::string>& notes) {
        for (const std::string& note : notes)
            notifier_.ShowNote(note);
    };
    settings_.ahead.waiting = [this] { notifier_.FlushIfDue(); };
    settings_.ahead.due = [this] { return notifier_.Due(); };
}

std::string TInstallStep::ServerCopy(const std::string& manifestPath) const {
    return settings_.updateUrl +
           platform::EncodeUrlPath(platform::ManifestPathToRelative(manifestPath)) + ".bz2";
}

std::optional<TDeltaEntry> TInstallStep::Delta(const FileEntry& entry,
                                               const std::string& target) const {
    if (!settings_.chunks || !IsSha256Text(entry.sha256) || entry.contentSize < 0)
        return std::nullopt;
    TDeltaEntry delta;
    delta.base = settings_.updateUrl;
    delta.sizes = *settings_.chunks;
    delta.sha256 = entry.sha256;
    delta.md5 = entry.digest;
    delta.size = entry.contentSize;
    // Bytes are read only from inside the installation.
    for (const std::string& source : {target, installation_.BackupFile(entry.path)}) {
        std::error_code error;
        if (fs::is_regular_file(platform::FsPath(source), error) &&
            installation_.StaysInside(source) && !installation_.LinksOutside(source))
            delta.sources.push_back(source);
    }
    if (delta.sources.empty() && !settings_.chunksForNew)
        return std::nullopt;
    return delta;
}

// Names are matched against the disk without regard to letter case, and
// against the entries before it: an entry that names a folder or file of an
// earlier entry in other letters gets the earlier entry's spelling, as if
// that one were already installed.
std::vector<TAheadEntry> TInstallStep::Plan(const std::vector<std::string>& pending) const {
    std::vector<TAheadEntry> plan;
    const std::string& folder = installation_.Folder();
    std::map<std::string, std::string> spelled; // folded path -> first spelling
    std::set<std::string> copies;               // downloaded copies (folded) of this run
    for (const std::string& line : pending) {
        const FileEntry entry = SplitFileEntry(line);
        std::string relative = installation_.LocalFile(entry.path).substr(folder.size());
        for (std::size_t end = 0; end != std::string::npos;) {
            end = relative.find(platform::kPathSeparator, end + 1);
            const std::string prefix = relative.substr(0, end);
            const auto [it, added] = spelled.emplace(platform::FoldCase(prefix), prefix);
            if (!added)
                relative.replace(0, prefix.size(), it->second);
        }
        TAheadEntry ahead;
        ahead.url = ServerCopy(entry.path);
        ahead.target = folder + relative;
        ahead.digest = entry.digest;
        if (settings_.requireSha256)
            ahead.sha256 = entry.sha256;
        ahead.size = SizeField(entry);
        ahead.maxCopy = CopyLimit(entry);
        ahead.maxContent = ContentLimit(entry);
        ahead.delta = Delta(entry, ahead.target);
        ahead.name = platform::AnsiToUtf8(entry.path);
        // The copy is fetched beside the file as its name + ".bz2", unless a
        // file of that name is listed itself, or another entry of this run
        // fetches there too: then under a name of our own.
        if (!installation_.IsListed(entry.path + ".bz2") &&
            copies.insert(platform::FoldCase(ahead.target + ".bz2")).second)
            ahead.copy = ahead.target + ".bz2";
        plan.push_back(std::move(ahead));
    }
    return plan;
}

void TInstallStep::KeepBackup(const std::string& manifestPath, const std::string& local) const {
    std::error_code error;
    if (!fs::is_regular_file(platform::FsPath(local), error) || installation_.LinksOutside(local))
        return;
    // The old content is kept before anything replaces it; a file that
    // cannot be kept is not replaced.
    const std::string backup = installation_.BackupFile(manifestPath);
    if (!installation_.StaysInside(backup))
        throw EInOutError("The backup copy \"" + backup +
                          "\" would lie outside the installation, through a linked folder; the "
                          "file is not replaced");
    fs::create_directories(platform::FsPath(backup).parent_path());
    CopyWhole(local, backup);
}

TInstallStep::Result TInstallStep::Install(const std::vector<std::string>& pending) {
    Result result;
    if (pending.empty())
        return result;
    std::vector<std::int64_t> sizes;
    for (const std::string& line : pending)
        sizes.push_back(SizeField(SplitFileEntry(line)));
    notifier_.ShowPlan(sizes);
    notifier_.SetGaugeMax(TRunGauge::Total, static_cast<std::int64_t>(pending.size()) - 1);

    std::vector<TAheadEntry> plan = Plan(pending);
    std::vector<std::string> targets;
    for (const TAheadEntry& entry : plan)
        targets.push_back(entry.target);
    TWorkAhead ahead(std::move(plan), settings_.ahead);
    const auto fileProgress = [this](std::int64_t value) { notifier_.SetFileProgress(value); };

    std::size_t i = 0;
    for (; i < pending.size() && !(stopRequested_ && stopRequested_()); ++i) {
        const FileEntry entry = SplitFileEntry(pending[i]);
        const std::string shown = platform::AnsiToUtf8(entry.path);
        notifier_.ShowStatus(status::kDownloading + shown);
        notifier_.SetGaugeMax(TRunGauge::File, SizeField(entry));
        const TWorkAhead::Fetched fetched = ahead.AwaitDownload(i, fileProgress);
        if (fetched.opened) // the read that finds the end of the body
            fileProgress(fetched.copySize);
        fileProgress(0);
        if (!fetched.opened) {
            result.failed = true;
            notifier_.ShowCause(fetched.failure);
            break; // the later entries are not installed, fetched or not
        }
        try {
            if (settings_.backup)
                KeepBackup(entry.path, targets[i]);
            notifier_.ShowStatus(status::kExtracting + shown);
            notifier_.SetGaugeMax(TRunGauge::File, fetched.unpackSize);
            std::exception_ptr error;
            try {
                ahead.AwaitInstall(i, fileProgress);
            } catch (...) {
                error = std::current_exception();
            }
            fileProgress(0); // before the cause, whatever became of the entry
            if (error)
                std::rethrow_exception(error);
        } catch (const std::exception& e) {
            result.failed = true;
            notifier_.ShowCause(
                WithFetchFailure(shown + ": " + DescribedError(e), fetched.failure));
        }
        notifier_.SetTotalProgress(static_cast<std::int64_t>(i) + 1);
    }
    if (i < pending.size() && !result.failed)
        result.stopped = true; // a stop request left files out
    if (const TWorkAhead::DeltaTotals deltas = ahead.Deltas(); deltas.files > 0)
        notifier_.ShowNote(std::to_string(deltas.files) + (deltas.files == 1 ? " file" : " files") +
                           " made of chunks: " + std::to_string(deltas.chunksFound) +
                           " found here, " + std::to_string(deltas.chunksFetched) + " fetched (" +
                           std::to_string(deltas.bytesFetched) + " bytes)");
    notifier_.SetTotalProgress(0);
    return result;
}
