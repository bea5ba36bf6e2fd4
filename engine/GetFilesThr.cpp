#include "GetFilesThr.h"

#include "Errors.h"
#include "FileCheck.h"
#include "FileTransfer.h"
#include "Files.h"
#include "HostsFile.h"
#include "InstallStep.h"
#include "LstFile.h"
#include "ManifestStep.h"
#include "Mirrors.h"
#include "Misc.h"
#include "SelfUpdate.h"
#include "Text.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

void RemoveFile(const std::string& path) {
    std::error_code error;
    fs::remove(platform::FsPath(path), error);
}

// The text of an error that ends a run.
std::string ErrorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const TNotifier::HostRefusal& refusal) {
        return "the launcher could not take the run's notification: " + ErrorText(refusal.error);
    } catch (const std::exception& e) {
        return DescribedError(e);
    } catch (...) {
        return "the run ended unexpectedly";
    }
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

int GFilesThread::ConnectionCount() const {
    return std::clamp(Connections > 0 ? Connections : kDefaultConnections, 1, kMaxConnections);
}

std::string GFilesThread::SettingsText() const {
    std::string text = "UpdatesUrl=" + UpdateUrl + " AtRevision=" + std::to_string(AtRevision);
    if (RecordedRevision > AtRevision)
        text += " (recorded " + std::to_string(RecordedRevision) + ")";
    if (TrustedRevision > 0)
        text += " TrustedRevision=" + std::to_string(TrustedRevision);
    text += std::string(" FullCheck=") + (FullCheck ? "1" : "0") +
            " CreateBackup=" + std::to_string(CreateBackup) +
            " TrustedKeys=" + std::to_string(TrustedKeys.size()) +
            " Connections=" + std::to_string(ConnectionCount()) +
            " Folder=" + platform::CurrentFolder();
    if (!HostsFolder.empty())
        text += " HostsFolder=" + HostsFolder;
    return text;
}

// ---------------------------------------------------------------------------
// The run.

void GFilesThread::Execute() {
    TNotifier notifier(target_, dispatcher_, {CoalesceProgress, BatchNotifications});
    try {
        Run(notifier);
    } catch (...) {
        BrokenOff(notifier, std::current_exception());
    }
}

void GFilesThread::Run(TNotifier& notifier) {
    folder_ = platform::CurrentFolder();
    notifier.LockCommands();
    notifier.ShowStatus(status::kFetchingList);
    // An address gets one trailing slash; an empty one names no server.
    if (!UpdateUrl.empty() && UpdateUrl.back() != '/')
        UpdateUrl += '/';
    TFileTransfer transfer(notifier, TransferOptions(), Retry, &stop_);
    TManifestStep step(notifier, transfer,
                       {UpdateUrl, UpdateMirrors, folder_, TrustedKeys,
                        std::max({AtRevision, RecordedRevision, TrustedRevision}),
                        TrustedRevision});
    endStatus_ = status::kFailed;
    if (const std::optional<TManifest> manifest = step.Take())
        TakeManifest(notifier, transfer, *manifest);
    notifier.ShowStatus(endStatus_);
    notifier.UnlockCommands();
}

void GFilesThread::TakeManifest(TNotifier& notifier, TFileTransfer& transfer,
                                const TManifest& manifest) {
    runFailed_ = false;
    stopped_ = false;
    if (Signed())
        TrustedRevision = std::max(TrustedRevision, manifest.revision);
    TInstallation installation(folder_);
    if (manifest.modHosts && !UpdateHosts(notifier, HostsFolder, manifest.hosts))
        runFailed_ = true;
    if (manifest.self.front() != kEmptySection &&
        !TSelfUpdate(notifier, transfer, installation,
                     {manifest.base, LauncherFile, LauncherProcessId, Signed()})
             .Run(manifest.self.front()))
        runFailed_ = true;
    installation.TakeListing({manifest.self, manifest.critical, manifest.normal});

    std::vector<std::string> pending;
    TFileCheck check(notifier, installation, CoreCount(), [this] { return Terminated(); });
    const auto checked = [&](const TFileCheck::Result& result) {
        runFailed_ = runFailed_ || result.failed;
        stopped_ = stopped_ || result.stopped;
    };
    checked(check.Check(manifest.critical, pending));
    if (FullCheck || AtRevision < manifest.revision) {
        if (CreateBackup == 1) {
            const std::string backup = folder_ + "backup";
            DeleteFolder(backup);
            std::error_code error;
            fs::create_directory(platform::FsPath(backup), error);
            if (error)
                throw EInOutError("Cannot create folder \"" + backup + "\": " + error.message());
        }
        checked(check.Check(manifest.normal, pending));
    }

    if (pending.empty()) {
        endStatus_ = runFailed_ ? status::kFailed : "";
    } else {
        TInstallStep::Settings settings;
        settings.updateUrl = UpdateUrl;
        settings.backup = CreateBackup == 1;
        settings.requireSha256 = Signed();
        settings.chunks = manifest.chunks;
        // The tree's files come from the update address, the mirror that gave
        // the manifest, the mirrors the manifest names and the installation's
        // own: every byte is checked against the manifest.
        std::vector<std::string> bases{UpdateUrl};
        std::vector<std::string> more{manifest.base};
        more.insert(more.end(), manifest.mirrors.begin(), manifest.mirrors.end());
        more.insert(more.end(), UpdateMirrors.begin(), UpdateMirrors.end());
        for (const std::string& base : more)
            if (std::find(bases.begin(), bases.end(), base) == bases.end())
                bases.push_back(base);
        if (bases.size() > 1)
            settings.ahead.mirrors = std::make_shared<TMirrorSet>(bases);
        settings.chunksForNew =
            manifest.lineBytesPerSecond > kBzip2BytesPerSecondPerCore * CoreCount();
        settings.ahead.connections = static_cast<unsigned>(ConnectionCount());
        settings.ahead.cores = CoreCount();
        settings.ahead.budget = AheadBudget;
        settings.ahead.http = TransferOptions();
        settings.ahead.retry = Retry;
        settings.ahead.stop = &stop_;
        const TInstallStep::Result installed =
            TInstallStep(notifier, installation, settings, [this] {
                return Terminated();
            }).Install(pending);
        runFailed_ = runFailed_ || installed.failed;
        stopped_ = stopped_ || installed.stopped;
        endStatus_ = (runFailed_ || stopped_) ? status::kFailed : status::kAllUpdated;
    }
    RemoveFile(folder_ + "files.lst");
    // A run stopped on request has not brought the installation to the
    // revision, nor has a signed run in which something failed.
    if (AtRevision < manifest.revision && !stopped_ && !(Signed() && runFailed_)) {
        AtRevision = manifest.revision;
        notifier.StoreRevision(AtRevision);
    }
}

// Whatever else went wrong ends the run here, but never leaves the window
// locked or a manifest of this run behind.
void GFilesThread::BrokenOff(TNotifier& notifier, const std::exception_ptr& error) {
    const std::string cause = ErrorText(error);
    if (!folder_.empty())
        RemoveFile(folder_ + "files.lst");
    try {
        notifier.Flush();
    } catch (...) {
        notifier.Drop();
    }
    try {
        notifier.ShowCause(cause);
        notifier.ShowStatus(status::kFailed);
        notifier.UnlockCommands();
    } catch (...) {
        // The host refused even these; nothing more can be reported.
    }
}
