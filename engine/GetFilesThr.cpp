#include "GetFilesThr.h"

#include "BZip2.h"
#include "Errors.h"
#include "FileEntry.h"
#include "Files.h"
#include "Http.h"
#include "JobQueue.h"
#include "Limits.h"
#include "LstFile.h"
#include "Misc.h"
#include "Process.h"
#include "Text.h"
#include "WorkAhead.h"
#include "md5.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kDownloadBlock = 1024;
constexpr std::size_t kUnpackBlock = 0x10000;

bool IsFile(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(platform::FsPath(path), error);
}

void RemoveFile(const std::string& path) {
    std::error_code error;
    fs::remove(platform::FsPath(path), error);
}

// Copies a whole file; the copy is complete or absent, never partial.
void CopyWhole(const std::string& source, const std::string& target) {
    TFileStream in(source, TFileStream::Mode::fmOpenRead);
    platform::AtomicFile out(target);
    std::unique_ptr<char[]> buffer(new char[kUnpackBlock]);
    while (const std::size_t n = in.Read(buffer.get(), kUnpackBlock))
        out.Write(buffer.get(), n);
    out.Commit();
}

// A failure's text, with what its download went through when that went
// wrong too (an error page unpacked, a body cut short): that is the cause.
std::string Because(const std::string& failure, const std::string& fetchFailure) {
    return fetchFailure.empty() ? failure : fetchFailure + "; " + failure;
}

// An error as the log gives it: damaged compressed data says so, whose own
// text is only the library's code.
std::string Described(const std::exception& error) {
    if (dynamic_cast<const EBZip2Error*>(&error))
        return std::string("the compressed copy cannot be unpacked (bzip2 ") + error.what() + ")";
    return ErrorForLog(error);
}

// The text of an error that ends a run.
std::string ErrorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return Described(e);
    } catch (...) {
        return "the run ended unexpectedly";
    }
}

// The bounds of the manifest, which no entry lists.
limits::TSizeLimit ManifestLimit(std::int64_t bytes, const char* what) {
    return {bytes, "the " + std::to_string(bytes >> 20) + " MiB " + what};
}

} // namespace

GFilesThread::GFilesThread(TUpdateTarget& target, TDispatcher dispatcher)
    : target_(target), dispatcher_(std::move(dispatcher)) {}

GFilesThread::~GFilesThread() {
    if (thread_.joinable())
        thread_.join();
}

void GFilesThread::Start() {
    thread_ = std::thread([this] {
        Execute();
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        ended_.notify_all();
    });
}

bool GFilesThread::Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

void GFilesThread::WaitFor() {
    if (thread_.joinable())
        thread_.join();
}

bool GFilesThread::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return ended_.wait_for(lock, timeout, [this] { return finished_; });
}

void GFilesThread::CheckAborted() const {
    if (aborted_)
        throw Exception("The update was stopped");
}

platform::HttpOptions GFilesThread::TransferOptions() const {
    platform::HttpOptions options;
    options.agent = kAgentName;
    options.connectTimeoutS = ConnectTimeoutS;
    options.stallTimeoutS = StallTimeoutS;
    options.minBytesPerS = StallMinBytesPerS;
    return options;
}

unsigned GFilesThread::CoreCount() const {
    return Cores > 0 ? Cores : std::max(1u, std::thread::hardware_concurrency());
}

std::string GFilesThread::SettingsText() const {
    std::string text = "UpdatesUrl=" + UpdateUrl + " AtRevision=" + std::to_string(AtRevision);
    if (RecordedRevision > AtRevision)
        text += " (recorded " + std::to_string(RecordedRevision) + ")";
    if (TrustedRevision > 0)
        text += " TrustedRevision=" + std::to_string(TrustedRevision);
    text += std::string(" FullCheck=") + (FullCheck ? "1" : "0") +
            " CreateBackup=" + std::to_string(CreateBackup) +
            " TrustedKeys=" + std::to_string(TrustedKeys.size()) + " Connections=" +
            std::to_string(std::clamp(Connections > 0 ? Connections : kDefaultConnections, 1,
                                      kMaxConnections)) +
            " Folder=" + platform::CurrentFolder();
    if (!HostsFolder.empty())
        text += " HostsFolder=" + HostsFolder;
    return text;
}

// ---------------------------------------------------------------------------
// The run.

void GFilesThread::Execute() {
    std::string manifest; // known once the base folder is
    try {
        BaseDir = platform::CurrentFolder();
        manifest = BaseDir + "files.lst";
        Synchronize(&GFilesThread::LockCommands);
        Show(status::kFetchingList);
        // An empty address names no server: the list cannot be fetched.
        bool fetched = false;
        if (!UpdateUrl.empty()) {
            if (UpdateUrl.back() != '/')
                UpdateUrl += '/';
            try {
                fetched =
                    Download(UpdateUrl + "files.lst.bz2", BaseDir + "files.lst.bz2", true,
                             ManifestLimit(limits::kManifestCopy, "a manifest's copy may take"));
            } catch (const limits::ELimitPassed& e) {
                lastFetchFailure_ = e.what(); // nothing of it is kept
            }
        }
        if (!fetched) {
            StatusText = status::kFailed;
            RemoveFile(manifest);
            Cause(UpdateUrl.empty() ? std::string("no update address: UpdatesUrl is empty")
                                    : lastFetchFailure_);
        } else if (Signed() && !SignatureHolds()) {
            // Nothing of a manifest without a good signature is read.
            RemoveFile(BaseDir + "files.lst.bz2");
            RemoveFile(manifest);
        } else {
            Show("");
            try {
                Unpack(BaseDir + "files.lst.bz2", manifest, {}, {},
                       ManifestLimit(limits::kManifestText, "a manifest may take"));
            } catch (const std::exception& e) {
                Show(status::kFailed);
                RemoveFile(manifest);
                // An error page in the manifest's place is the transfer's
                // failure; that it does not unpack says nothing more.
                Cause(lastFetchFailure_.empty() ? "files.lst.bz2: " + Described(e)
                                                : lastFetchFailure_);
            }
            if (IsFile(manifest))
                ProcessManifest();
        }
        Synchronize(&GFilesThread::ShowStatus);
        Synchronize(&GFilesThread::UnlockCommands);
    } catch (...) {
        // Whatever else went wrong ends the run here, but never leaves the
        // window locked or a manifest of this run behind.
        std::string cause;
        try {
            throw;
        } catch (const HostRefusal& refusal) {
            cause =
                "the launcher could not take the run's notification: " + ErrorText(refusal.error);
        } catch (...) {
            cause = ErrorText(std::current_exception());
        }
        PendingFiles.clear();
        SourceStream = nullptr;
        if (!manifest.empty())
            RemoveFile(manifest);
        try {
            FlushNotifications();
        } catch (...) {
            batch_.clear();
        }
        try {
            Cause(cause);
            StatusText = status::kFailed;
            Synchronize(&GFilesThread::ShowStatus);
            Synchronize(&GFilesThread::UnlockCommands);
        } catch (...) {
            // The host refused even these; nothing more can be reported.
        }
    }
}

void GFilesThread::ProcessManifest() {
    PendingFiles.clear();
    runFailed_ = false;
    stopped_ = false;
    std::int32_t revision = 0;
    {
        const TListFile list(BaseDir + "files.lst");
        if (Signed() && !SignedManifestHolds(list)) {
            RemoveFile(BaseDir + "files.lst");
            return;
        }
        revision = StrToInt(list.GetValue("settings", "Rev"));
        if (Signed() && revision > TrustedRevision) {
            // Verified: no older signed tree is taken here from now on,
            // whether or not this run gets through.
            TrustedRevision = revision;
            Synchronize(&GFilesThread::StoreTrustedRevision);
        }
        // Everything the run takes from the manifest is read before the
        // self-update: the update script it starts removes "files.lst" once
        // the launcher has ended, and does so at once when that process is
        // already gone, while this run may still be going.
        const std::vector<std::string> self = list.GetSection("self");
        const std::vector<std::string> critical = list.GetSection("files_critical");
        const std::vector<std::string> normal = list.GetSection("files_normal");
        if (StrToInt(list.GetValue("settings", "ModHosts")) == 1)
            UpdateHosts(list.GetSection("hosts"));
        SelfEntry = self.front();
        if (SelfEntry != kEmptySection)
            SelfUpdate(SelfEntry);
        RemoveLeftovers({self, critical, normal});

        CheckFiles(critical);
        if (FullCheck || AtRevision < revision) {
            if (CreateBackup == 1) {
                const std::string backup = BaseDir + "backup";
                DeleteFolder(backup);
                std::error_code error;
                fs::create_directory(platform::FsPath(backup), error);
                if (error)
                    throw EInOutError("Cannot create folder \"" + backup +
                                      "\": " + error.message());
            }
            CheckFiles(normal);
        }
        InstallPending();
    }
    PendingFiles.clear();
    RemoveFile(BaseDir + "files.lst");
    // A run stopped on request has not brought the installation to the
    // revision, nor has a signed run in which something failed.
    if (AtRevision < revision && !stopped_ && !(Signed() && runFailed_)) {
        AtRevision = revision;
        Synchronize(&GFilesThread::StoreRevision);
    }
}

std::string GFilesThread::LocalFile(const std::string& manifestPath) const {
    return platform::ResolveCaseInsensitive(BaseDir, platform::ManifestPathToLocal(manifestPath));
}

bool GFilesThread::IsListed(const std::string& manifestPath) const {
    return listed_.count(platform::FoldCase(platform::ManifestPathToLocal(manifestPath))) > 0;
}

bool GFilesThread::IsSettingsFile(const std::string& manifestPath) const {
    return platform::FoldCase(platform::ManifestPathToLocal(manifestPath)) ==
           platform::FoldCase(kSettingsFileName);
}

bool GFilesThread::LinksOutside(const std::string& path) const {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(platform::FsPath(path), error)))
        return false;
    const fs::path real = fs::canonical(platform::FsPath(path), error);
    return error || !platform::StaysInside(BaseDir, platform::PathText(real));
}

std::string GFilesThread::BackupFile(const std::string& manifestPath) const {
    return platform::ResolveCaseInsensitive(BaseDir,
                                            "backup" + std::string(1, platform::kPathSeparator) +
                                                platform::ManifestPathToLocal(manifestPath));
}

std::string GFilesThread::ServerCopy(const std::string& manifestPath) const {
    return UpdateUrl + platform::EncodeUrlPath(platform::ManifestPathToRelative(manifestPath)) +
           ".bz2";
}

// A run that was killed can leave the downloaded copy of an entry (its path +
// ".bz2") and its own temporary files behind. Nothing else is touched: a
// ".bz2" file that the manifest lists itself is a file of the game.
void GFilesThread::RemoveLeftovers(const std::vector<std::vector<std::string>>& sections) {
    listed_.clear();
    std::vector<std::string> paths;
    for (const auto& section : sections) {
        for (const std::string& entry : section) {
            const std::vector<std::string> fields = SplitFromEnd(entry, "|");
            if (fields.size() < 3 || !IsSafeRelativePath(fields[2]))
                continue;
            listed_.insert(platform::FoldCase(platform::ManifestPathToLocal(fields[2])));
            paths.push_back(fields[2]);
        }
    }
    // Nothing is removed in a folder that a link takes outside the
    // installation: what lies there is not the installation's.
    std::map<std::string, bool> folders; // folder -> whether it stays inside
    const auto inside = [&](const std::string& path) {
        const std::string folder = platform::PathText(platform::FsPath(path).parent_path());
        const auto [it, added] = folders.emplace(folder, false);
        if (added)
            it->second = platform::StaysInside(BaseDir, path);
        return it->second;
    };
    // Backup copies are written the same way: their folders are looked at
    // only when there is a backup folder at all.
    std::error_code noBackups;
    const bool backups = fs::is_directory(
        platform::FsPath(platform::ResolveCaseInsensitive(BaseDir, "backup")), noBackups);
    for (const std::string& path : paths) {
        const std::string local = LocalFile(path);
        if (inside(local) && !IsListed(path + ".bz2") && IsFile(local + ".bz2"))
            RemoveFile(local + ".bz2");
        if (backups)
            inside(BackupFile(path));
    }
    inside(BaseDir + "files.lst");
    for (const auto& [folder, stays] : folders) {
        if (!stays)
            continue;
        std::error_code error;
        for (fs::directory_iterator it(platform::FsPath(folder), error), end; !error && it != end;
             it.increment(error))
            if (platform::IsOwnTempFileName(platform::PathText(it->path().filename())) &&
                it->is_regular_file(error))
                RemoveFile(platform::PathText(it->path()));
    }
}

// ---------------------------------------------------------------------------
// Fetch and unpack.

bool GFilesThread::Download(const std::string& url, const std::string& target, bool progress,
                            const limits::TSizeLimit& limit) {
    ProgressValue = 0;
    if (!connection_)
        connection_ = std::make_unique<platform::HttpConnection>();
    std::unique_ptr<TFileStream> file;
    std::int64_t received = 0;
    // The body is handed on in whole blocks of 1024 bytes (the last one may
    // be shorter), whatever pieces the network delivers.
    char block[kDownloadBlock];
    std::size_t filled = 0;
    const auto handOn = [&] {
        file->Write(block, filled);
        if (progress) {
            received += static_cast<std::int64_t>(filled);
            ProgressValue = received;
            Synchronize(&GFilesThread::SetFileProgress);
        }
        filled = 0;
    };
    platform::HttpOptions options = TransferOptions();
    options.cancelled = [this] { return Aborted(); };
    TFetch fetch(*connection_, options, Retry,
                 [this](const std::string& note) { ShowRetries({note}); });
    TFetchSink sink;
    std::int64_t body = 0; // of the body in the file, the block included
    sink.restart = [&] {
        // A body from its start: what came before is dropped.
        file.reset();
        file = std::make_unique<TFileStream>(target, TFileStream::Mode::fmCreate);
        filled = 0;
        body = 0;
        if (received > 0) {
            received = 0;
            ProgressValue = 0;
            Synchronize(&GFilesThread::SetFileProgress);
        }
    };
    sink.data = [&](const char* data, std::size_t size) {
        body += static_cast<std::int64_t>(size);
        if (limit.Passed(body))
            throw LimitPassed(url, fetch.AnswerStatus(), limit);
        while (size > 0) {
            const std::size_t piece = std::min(size, kDownloadBlock - filled);
            std::memcpy(block + filled, data, piece);
            filled += piece;
            data += piece;
            size -= piece;
            if (filled == kDownloadBlock)
                handOn();
        }
    };
    bool opened = false;
    lastFetchFailure_.clear();
    try {
        const TFetchResult result = fetch.Get(url, sink);
        opened = result.opened;
        lastFetchFailure_ = FetchFailure(url, result);
    } catch (...) {
        // Nothing of a transfer that broke off this way is kept.
        file.reset();
        if (!target.empty())
            RemoveFile(target);
        throw;
    }
    if (opened && file) {
        if (filled > 0)
            handOn();
        if (progress) // the read that finds the end of the body
            Synchronize(&GFilesThread::SetFileProgress);
        file->Close();
    } else {
        file.reset();
        RemoveFile(target); // a body of an answer that was then given up
        opened = false;
    }
    ProgressValue = 0;
    Synchronize(&GFilesThread::SetFileProgress);
    return opened;
}

void GFilesThread::OnUnpackProgress() {
    ProgressValue = SourceStream ? SourceStream->Position() : 0;
    Synchronize(&GFilesThread::SetFileProgress);
}

void GFilesThread::Unpack(const std::string& compressed, const std::string& target,
                          const std::string& expectedDigest, const std::string& expectedSha256,
                          const limits::TSizeLimit& maxContent) {
    auto source = std::make_unique<TFileStream>(compressed, TFileStream::Mode::fmOpenRead);
    std::unique_ptr<platform::AtomicFile> output;
    try {
        output = std::make_unique<platform::AtomicFile>(target);
    } catch (...) {
        source.reset();
        RemoveFile(compressed);
        throw;
    }
    SourceStream = source.get();
    ProgressValue = source->Size();
    GaugeSelector = 0;
    std::exception_ptr error;
    try {
        Synchronize(&GFilesThread::SetGaugeMax);
        UnpackCopy(
            *source, [&](const char* data, std::size_t size) { output->Write(data, size); },
            expectedDigest, expectedSha256, target, maxContent, [this] { OnUnpackProgress(); },
            [this] { CheckAborted(); });
    } catch (...) {
        error = std::current_exception();
    }
    SourceStream = nullptr;
    ProgressValue = 0;
    try {
        Synchronize(&GFilesThread::SetFileProgress);
    } catch (...) {
        if (!error)
            error = std::current_exception();
    }
    source.reset();
    RemoveFile(compressed);
    if (error) {
        output->Discard();
        std::rethrow_exception(error);
    }
    output->Commit();
}

// ---------------------------------------------------------------------------
// File synchronisation.

void GFilesThread::CheckFiles(const std::vector<std::string>& entries) {
    if (entries.empty() || entries.front() == kEmptySection || Terminated())
        return;
    Show(status::kChecking);
    GaugeSelector = 1;
    ProgressValue = static_cast<std::int64_t>(entries.size()) - 1;
    Synchronize(&GFilesThread::SetGaugeMax);
    // The digests of the coming entries are computed ahead on every core;
    // what each entry shows and what becomes of it still comes in order.
    TJobQueue digesting(CoreCount(), true);
    TOrderedAhead<std::optional<std::string>> digests(
        digesting, entries.size(), 4 * static_cast<std::size_t>(CoreCount()),
        [&](std::size_t k) -> std::optional<std::string> {
            const std::vector<std::string> fields = SplitFromEnd(entries[k], "|");
            if (fields.size() < 3 || !IsSafeRelativePath(fields[2]))
                return std::nullopt;
            const std::string local = LocalFile(fields[2]);
            if (!IsFile(local))
                return std::nullopt;
            return FileDigestTextByReading(local);
        });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (Terminated()) {
            // What is left unchecked is not known to be current.
            stopped_ = runFailed_ = true;
            break;
        }
        ProgressValue = static_cast<std::int64_t>(i);
        Synchronize(&GFilesThread::SetTotalProgress);
        const FileEntry entry = SplitFileEntry(entries[i]);
        Show(status::kCheckingFile + platform::AnsiToUtf8(entry.path));
        if (!IsSafeRelativePath(entry.path)) {
            runFailed_ = true; // never read, written or fetched
            Cause("'" + platform::AnsiToUtf8(entry.path) +
                  "' is no path of a file in the installation (it leads outside, or Windows "
                  "reads it as another name or a device); left out");
            continue;
        }
        if (IsSettingsFile(entry.path)) {
            // The installation's own settings (its update address, its
            // revision, the key it trusts) are never the server's to replace.
            Note("'" + platform::AnsiToUtf8(entry.path) +
                 "' is the installation's own settings file; the server's copy is left out");
            continue;
        }
        if (digests.Take(i, [this] { FlushNotifications(true); }) == entry.digest)
            continue;
        if (!platform::StaysInside(BaseDir, LocalFile(entry.path))) {
            runFailed_ = true; // a folder on its way is a link to elsewhere
            Cause("'" + platform::AnsiToUtf8(entry.path) +
                  "' leads outside the installation through a linked folder; left out");
            continue;
        }
        PendingFiles.push_back(entries[i]);
        SizeField(entry);
    }
    ProgressValue = 0;
    Synchronize(&GFilesThread::SetTotalProgress);
    Show("");
}

// Where each pending entry is fetched to and installed. Names are matched
// against the disk without regard to letter case, and against the entries
// before it: an entry that names a folder or file of an earlier entry in
// other letters gets the earlier entry's spelling, as if that one were
// already installed.
std::vector<TAheadEntry> GFilesThread::PlanPending() const {
    std::vector<TAheadEntry> plan;
    std::map<std::string, std::string> spelled; // folded path -> first spelling
    std::set<std::string> copies;               // downloaded copies (folded) of this run
    for (const std::string& pending : PendingFiles) {
        const FileEntry entry = SplitFileEntry(pending);
        std::string relative = LocalFile(entry.path).substr(BaseDir.size());
        for (std::size_t end = 0; end != std::string::npos;) {
            end = relative.find(platform::kPathSeparator, end + 1);
            const std::string prefix = relative.substr(0, end);
            const auto [it, added] = spelled.emplace(platform::FoldCase(prefix), prefix);
            if (!added)
                relative.replace(0, prefix.size(), it->second);
        }
        TAheadEntry ahead;
        ahead.url = ServerCopy(entry.path);
        ahead.target = BaseDir + relative;
        ahead.digest = entry.digest;
        if (Signed())
            ahead.sha256 = entry.sha256;
        ahead.size = SizeField(entry);
        ahead.maxCopy = CopyLimit(entry);
        ahead.maxContent = ContentLimit(entry);
        // The copy is fetched beside the file as its name + ".bz2", unless a
        // file of that name is listed itself, or another entry of this run
        // fetches there too: then under a name of our own.
        if (!IsListed(entry.path + ".bz2") &&
            copies.insert(platform::FoldCase(ahead.target + ".bz2")).second)
            ahead.copy = ahead.target + ".bz2";
        plan.push_back(std::move(ahead));
    }
    return plan;
}

TWorkAhead::Settings GFilesThread::AheadSettings() {
    TWorkAhead::Settings settings;
    settings.connections = static_cast<unsigned>(
        std::clamp(Connections > 0 ? Connections : kDefaultConnections, 1, kMaxConnections));
    settings.cores = CoreCount();
    settings.budget = AheadBudget;
    settings.http = TransferOptions();
    settings.retry = Retry;
    settings.stopRequested = [this] { return Terminated(); };
    settings.abortRequested = [this] { return Aborted(); };
    settings.showNotes = [this](const std::vector<std::string>& notes) { ShowRetries(notes); };
    // Short waits for work ahead are the rule: what they hold back is shown
    // within the batch interval all the same.
    settings.waiting = [this] { FlushNotifications(true); };
    return settings;
}

void GFilesThread::InstallPending() {
    if (PendingFiles.empty()) {
        StatusText = runFailed_ ? status::kFailed : "";
        return;
    }
    planSizes_.clear();
    for (const std::string& pending : PendingFiles)
        planSizes_.push_back(SizeField(SplitFileEntry(pending)));
    Synchronize(&GFilesThread::ShowPlan);
    GaugeSelector = 1;
    ProgressValue = static_cast<std::int64_t>(PendingFiles.size()) - 1;
    Synchronize(&GFilesThread::SetGaugeMax);

    std::vector<TAheadEntry> plan = PlanPending();
    std::vector<std::string> targets;
    for (const TAheadEntry& entry : plan)
        targets.push_back(entry.target);
    TWorkAhead ahead(std::move(plan), AheadSettings());
    const auto fileProgress = [this](std::int64_t value) {
        ProgressValue = value;
        Synchronize(&GFilesThread::SetFileProgress);
    };

    bool failed = false;
    std::size_t i = 0;
    for (; i < PendingFiles.size() && !Terminated(); ++i) {
        const FileEntry entry = SplitFileEntry(PendingFiles[i]);
        const std::string& local = targets[i];
        const std::string shown = platform::AnsiToUtf8(entry.path);
        Show(status::kDownloading + shown);
        GaugeSelector = 0;
        ProgressValue = SizeField(entry);
        Synchronize(&GFilesThread::SetGaugeMax);
        const TWorkAhead::Fetched fetched = ahead.AwaitDownload(i, fileProgress);
        if (fetched.opened) // the read that finds the end of the body
            fileProgress(fetched.copySize);
        fileProgress(0);
        if (!fetched.opened) {
            StatusText = status::kFailed;
            failed = true;
            Cause(fetched.failure);
            break; // the later entries are not installed, fetched or not
        }
        try {
            if (CreateBackup == 1 && IsFile(local) && !LinksOutside(local)) {
                // The old content is kept before anything replaces it; a file
                // that cannot be kept is not replaced.
                const std::string backup = BackupFile(entry.path);
                if (!platform::StaysInside(BaseDir, backup))
                    throw EInOutError("The backup copy \"" + backup +
                                      "\" would lie outside the installation, through a linked "
                                      "folder; the file is not replaced");
                fs::create_directories(platform::FsPath(backup).parent_path());
                CopyWhole(local, backup);
            }
            Show(status::kExtracting + shown);
            GaugeSelector = 0;
            ProgressValue = fetched.copySize;
            Synchronize(&GFilesThread::SetGaugeMax);
            std::exception_ptr error;
            try {
                ahead.AwaitInstall(i, fileProgress);
            } catch (...) {
                error = std::current_exception();
            }
            fileProgress(0);
            if (error)
                std::rethrow_exception(error);
        } catch (const std::exception& e) {
            StatusText = status::kFailed;
            failed = true;
            Cause(Because(shown + ": " + Described(e), fetched.failure));
        }
        ProgressValue = static_cast<std::int64_t>(i) + 1;
        Synchronize(&GFilesThread::SetTotalProgress);
    }
    if (i < PendingFiles.size() && !failed)
        stopped_ = true; // a stop request left files out
    runFailed_ = runFailed_ || failed;
    ProgressValue = 0;
    Synchronize(&GFilesThread::SetTotalProgress);
    StatusText = (failed || runFailed_ || stopped_) ? status::kFailed : status::kAllUpdated;
}

// ---------------------------------------------------------------------------
// Self-update.

void GFilesThread::SelfUpdate(const std::string& entry) {
    if (entry.empty())
        return;
    const FileEntry self = SplitFileEntry(entry);
    // The entry names a file of the installation's root folder, and only this
    // launcher's own program file is ever replaced; a build for another
    // system is left alone.
    if (!IsSafeRelativePath(self.path) || self.path.find_first_of("\\/") != std::string::npos) {
        runFailed_ = true;
        Cause("the launcher build '" + platform::AnsiToUtf8(self.path) +
              "' is not a file name of the installation's folder; left alone");
        return;
    }
    const std::string launcher = LocalFile(self.path);
    std::error_code error;
    if (LauncherFile.empty() ||
        !fs::equivalent(platform::FsPath(launcher), platform::FsPath(LauncherFile), error))
        return;
    if (FileDigestText(launcher) == self.digest)
        return;
    const limits::TSizeLimit maxCopy = CopyLimit(self), maxContent = ContentLimit(self);
    const std::string build = launcher + ".New";
    const std::string url =
        UpdateUrl + platform::EncodeUrlPath(platform::AnsiToUtf8(self.path)) + ".bz2";
    const auto failed = [&](const std::string& why) {
        RemoveFile(build);
        StatusText = status::kFailed;
        runFailed_ = true;
        Cause(Because("the launcher build is not replaced: " + why, lastFetchFailure_));
    };
    bool fetched = false;
    try {
        fetched = Download(url, launcher + ".bz2", true, maxCopy);
    } catch (const limits::ELimitPassed& e) {
        failed(e.what());
        return;
    }
    if (!fetched) {
        Cause("the launcher build is not replaced: " + lastFetchFailure_);
        return;
    }
    try {
        // The new build must be exactly the one listed before the launcher is
        // ended for it.
        RemoveFile(build);
        Unpack(launcher + ".bz2", build, self.digest, Signed() ? self.sha256 : std::string(),
               maxContent);
        const std::string script = WriteUpdateScript(
            platform::PathText(platform::FsPath(launcher).filename()), LauncherProcessId);
        RunInOwnFolder(script);
    } catch (const std::exception& e) {
        failed(Described(e));
    }
}
