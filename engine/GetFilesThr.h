// The update run: brings the installation in line with the manifest on the
// update server, on a worker thread, reporting through notifications.
#pragma once

#include "Fetch.h"
#include "Limits.h"
#include "Signature.h"
#include "Streams.h"
#include "WorkAhead.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// The status texts of the run.
namespace status {
inline constexpr const char* kFetchingList = "Скачивание списка обновлений";
inline constexpr const char* kFailed = "Не удалось обновить";
inline constexpr const char* kAllUpdated = "Все файлы были обновлены";
inline constexpr const char* kChecking = "Проверка файлов";
inline constexpr const char* kCheckingFile = "Проверка ";
inline constexpr const char* kDownloading = "Загружается ";
inline constexpr const char* kExtracting = "Извлекается ";
inline constexpr const char* kHostsApplying = "Приминение изминений к хостам";
inline constexpr const char* kHostsChanged = "Файлы хоста изменены";
} // namespace status

// The agent name of every request to the update server.
inline constexpr const char* kAgentName = "ZentyrClientUpdater";

// The installation's own settings file, in its root folder. A run never
// replaces it with a copy from the server.
inline constexpr const char* kSettingsFileName = "Quenmor.ini";

// What the run's notifications change: the launcher window, or the headless
// runner. Every method runs where the dispatcher runs it, one at a time, while
// the worker waits; what it raises is raised in the worker.
class TUpdateTarget {
public:
    virtual ~TUpdateTarget() = default;
    virtual void LockCommands() = 0;
    virtual void ShowStatus(const std::string& text) = 0;
    virtual void SetFileGaugeMax(std::int32_t value) = 0;
    virtual void SetTotalGaugeMax(std::int32_t value) = 0;
    virtual void SetFileProgress(std::int32_t value) = 0;
    virtual void SetTotalProgress(std::int32_t value) = 0;
    virtual void StoreRevision(const std::string& revision) = 0;
    virtual void UnlockCommands() = 0;
    // What a transfer is about to try again, and why: for live displays and
    // traces, never for the status line.
    virtual void ShowRetry(const std::string& /*note*/) {}
    // Why the run, or a part of it, failed: the address and what its server
    // answered, the bytes received of those expected, the digest expected and
    // got, the system's error text, or why the update server's tree was
    // refused (a signature that does not hold, an expired or replayed
    // manifest). For logs, traces and standard error, never for the status
    // line, which keeps its fixed texts.
    virtual void ShowCause(const std::string& /*cause*/) {}
    // What the run left out on purpose, without failing: for logs and
    // traces, never for the status line.
    virtual void ShowNote(const std::string& /*note*/) {}
    // Records the revision of a signed manifest that verified, whatever
    // becomes of the run that took it: no signed manifest below it is taken
    // from then on (see GFilesThread::TrustedRevision). The host keeps it
    // apart from the revision StoreRevision records, and never lowers it.
    virtual void StoreTrustedRevision(const std::string& /*revision*/) {}
    // The copies the run is about to fetch and install, their sizes in bytes
    // in the order of their entries: sent once, before the first of them,
    // for displays that count bytes rather than files.
    virtual void ShowPlan(const std::vector<std::int64_t>& /*copySizes*/) {}
};

// Runs one notification on the host's thread and returns when it has run,
// passing back whatever it raised. An empty dispatcher runs it in place.
using TDispatcher = std::function<void(const std::function<void()>&)>;

class TListFile;

class GFilesThread {
public:
    explicit GFilesThread(TUpdateTarget& target, TDispatcher dispatcher = {});
    ~GFilesThread(); // waits for a started run to end
    GFilesThread(const GFilesThread&) = delete;
    GFilesThread& operator=(const GFilesThread&) = delete;

    // Thread control. Inputs are set before Start.
    void Start();
    // A stop request: the entry being installed is finished, the rest are
    // skipped, and the run ends with the failure text without recording a
    // revision (the installation is not yet at it).
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    // A stop request that does not wait for the current entry: its transfer
    // is cut and its unpacking abandoned (the installed file stays as it
    // was). Implies Terminate.
    void Abort() {
        terminated_ = true;
        aborted_ = true;
    }
    bool Aborted() const { return aborted_; }
    bool Finished() const;
    void WaitFor();
    bool WaitFor(std::chrono::milliseconds timeout); // whether the run has ended

    // The run's fields. Sizes and progress are 64-bit; a gauge whose maximum
    // does not fit the host's 32 bits gets it and its values scaled down by the
    // same power of two, so that it shows the right share.
    std::int64_t ProgressValue = 0;
    std::string StatusText;
    std::vector<std::string> PendingFiles;
    std::int32_t CreateBackup = 0;
    std::int32_t AtRevision = 0;
    bool FullCheck = false;
    std::int32_t GaugeSelector = 0;
    std::string UpdateUrl;
    std::string SelfEntry;
    std::string BaseDir;
    TStream* SourceStream = nullptr;

    // The folder that holds the system's "hosts" file; the host names it.
    std::string HostsFolder;
    // The launcher's own program file and process, which the manifest's
    // "self" entry may replace and the update script ends. Empty: no
    // self-update.
    std::string LauncherFile;
    long LauncherProcessId = 0;

    // Signed trees. With at least one trusted key the manifest must come with
    // a signature file by one of them ("files.lst.bz2.sig"), must not have
    // expired, must not name a revision below the one recorded, and every
    // file it installs, the launcher's build included, must match the SHA-256
    // digest of its entry as well as the MD5; what fails this is refused as a
    // manifest that cannot be downloaded, and the cause is shown through
    // ShowCause. Such a run records its revision only when nothing of it
    // failed, so that the next run tries again. With no trusted key,
    // signatures and the SHA-256 digests are not looked at.
    std::vector<signing::PublicKey> TrustedKeys;
    // The highest revision this installation recorded, when the host knows a
    // higher one than AtRevision (the window keeps giving its runs the
    // revision read at start-up): a signed manifest below it is an old one
    // replayed.
    std::int32_t RecordedRevision = 0;
    // The rollback floor the host recorded: the highest revision of a signed
    // manifest that verified here. A signed manifest below the highest of
    // AtRevision, RecordedRevision and this is refused; one that verifies
    // above this raises it at once (StoreTrustedRevision), before anything
    // of the run can fail.
    std::int32_t TrustedRevision = 0;

    // Network limits: a connection not made, or a transfer silent, for so long
    // fails like a broken connection.
    long ConnectTimeoutS = 15;
    long StallTimeoutS = 30;
    // A transfer that averages less than this over StallTimeoutS, once it
    // has run that long, is stalled too (see platform::HttpOptions).
    long StallMinBytesPerS = 1024;
    // Transfers that run at once to the update server (1 to kMaxConnections;
    // 0: the default), and how transient faults are tried again.
    int Connections = 0;
    static constexpr int kDefaultConnections = 16;
    static constexpr int kMaxConnections = 16;
    TRetryPolicy Retry;
    // Threads that digest and unpack (0: one per core), and the disk space
    // that copies and new contents fetched ahead of the entry being installed
    // may take.
    unsigned Cores = 0;
    std::int64_t AheadBudget = std::int64_t{256} << 20;

    // Leaves out a progress notification that would not change the whole
    // percentage its gauge shows (the window's gauges redraw only on such a
    // change), or that follows the last one sent for its gauge within
    // kProgressInterval (the window redraws no more often than that), so
    // that per-block progress costs next to nothing. A value left out is sent
    // before any other notification, so the gauges stand as they would have
    // whenever anything else is shown, and at the run's end. Off: every value
    // is sent.
    bool CoalesceProgress = false;
    static constexpr std::chrono::milliseconds kProgressInterval{50};

    // Hands the notifications that only show something (status, gauges,
    // retries) to the dispatcher in batches: each still runs on the host, in
    // order and with the values it was sent with, but the worker hands them
    // over together at most kBatchInterval after the first of a batch (also
    // while it waits for work done ahead), before the commands are locked or
    // unlocked, before a revision is stored, and when the run ends. For a
    // host on another thread, which every hand-over wakes. Off: each
    // notification is handed over by itself.
    bool BatchNotifications = false;
    static constexpr std::chrono::milliseconds kBatchInterval{20};

    // The settings the run takes, as one line of the run log: the update
    // address, the revision, the check, backups, the trusted keys, the
    // connections and the folders.
    std::string SettingsText() const;

    // The body of the run.
    void Execute();

    // Operations of the run.
    // A body longer than `limit` raises limits::ELimitPassed as soon as it
    // passes it; nothing of it is kept.
    bool Download(const std::string& url, const std::string& target, bool progress,
                  const limits::TSizeLimit& limit = {});
    // Decompresses `compressed` into `target` and deletes `compressed`. The
    // target is replaced only by complete content, and, when a digest is
    // given, only by content with that digest; content longer than
    // `maxContent` raises limits::ELimitPassed without being written beyond it.
    void Unpack(const std::string& compressed, const std::string& target,
                const std::string& expectedDigest = {}, const std::string& expectedSha256 = {},
                const limits::TSizeLimit& maxContent = {});
    void CheckFiles(const std::vector<std::string>& entries);
    void InstallPending();
    void SelfUpdate(const std::string& entry);
    void UpdateHosts(const std::vector<std::string>& entries);
    // Sets a gauge's maximum (0 file, 1 overall) through the host, as the
    // steps of a run do.
    void SendGaugeMax(std::int32_t gauge, std::int64_t max);

private:
    using Notification = void (GFilesThread::*)();

    void Synchronize(Notification notification);
    void Dispatch(Notification notification);
    std::function<void()> Capture(Notification notification);
    // Hands the batch over; `onlyWhenDue`: only when its first notification
    // waited kBatchInterval.
    void FlushNotifications(bool onlyWhenDue = false);
    // A notification that the host refused, raised in place of the host's
    // error. It is no failure of the step that was going on when it was
    // handed over (a file's backup or unpacking, the manifest's unpacking,
    // the self-update, the hosts file), which a batch handed over later
    // would otherwise make it, so no step's own handling takes it (it is no
    // std::exception): it ends the run.
    struct HostRefusal {
        std::exception_ptr error;
    };
    void Deliver(const std::function<void()>& notifications);
    void ApplyGaugeMax(std::int32_t gauge, std::int64_t max);
    void ApplyProgress(std::int32_t gauge, std::int64_t value);
    // The coalescing of progress notifications: whether this one is left out.
    bool SkipProgress(int gauge);
    void FlushProgress(int gauge);
    void CheckAborted() const;
    void Show(const std::string& text);
    void ShowRetries(const std::vector<std::string>& notes);
    // Shows why something failed (see TUpdateTarget::ShowCause), and what
    // was left out without a failure (TUpdateTarget::ShowNote).
    void Cause(const std::string& cause);
    void Note(const std::string& note);
    // Refuses the update server's tree: the failure text becomes the run's
    // status, and the cause is shown.
    void Refuse(const std::string& cause);
    bool Signed() const { return !TrustedKeys.empty(); }
    // Whether the downloaded "files.lst.bz2" comes with a good signature by a
    // trusted key, and whether the manifest holds what a signed one must;
    // each refuses the tree when not (SignedRun.cpp).
    bool SignatureHolds();
    bool SignedManifestHolds(const TListFile& list);
    platform::HttpOptions TransferOptions() const;
    unsigned CoreCount() const;
    void OnUnpackProgress();
    void ProcessManifest();
    std::vector<TAheadEntry> PlanPending() const;
    TWorkAhead::Settings AheadSettings();
    void RemoveLeftovers(const std::vector<std::vector<std::string>>& sections);
    std::string LocalFile(const std::string& manifestPath) const;
    bool IsListed(const std::string& manifestPath) const;
    // Whether a manifest path names the installation's settings file.
    bool IsSettingsFile(const std::string& manifestPath) const;
    // Whether `path` is a symbolic link to something outside the installation.
    bool LinksOutside(const std::string& path) const;
    std::string BackupFile(const std::string& manifestPath) const;
    std::string ServerCopy(const std::string& manifestPath) const;

    // Notifications.
    void LockCommands();
    void ShowStatus();
    void SetGaugeMax();
    void SetFileProgress();
    void SetTotalProgress();
    void StoreRevision();
    void UnlockCommands();
    void ShowRetry();
    void ShowCause();
    void ShowNote();
    void StoreTrustedRevision();
    void ShowPlan();

    TUpdateTarget& target_;
    TDispatcher dispatcher_;
    // A part of this run failed (an entry, the hosts file, the self-update)
    // without ending it: its final status is the failure text.
    bool runFailed_ = false;
    // A stop request ended the run before it was through.
    bool stopped_ = false;
    // The run's own connection, for the manifest and the launcher's build.
    std::unique_ptr<platform::HttpConnection> connection_;
    std::string retryText_;        // what ShowRetry shows
    std::string lastFetchFailure_; // of the last Download (see FetchFailure)
    std::string causeText_;        // what ShowCause shows
    std::string noteText_;         // what ShowNote shows
    std::vector<std::int64_t> planSizes_; // what ShowPlan shows
    // The power of two that scales each gauge (0 file, 1 total) into 32 bits;
    // the host's, kept where the notifications run.
    int gaugeShift_[2] = {0, 0};
    // Notifications waiting to be handed over, and since when.
    std::vector<std::function<void()>> batch_;
    std::chrono::steady_clock::time_point batchSince_{};
    // The local paths the manifest lists (letter case folded).
    std::set<std::string> listed_;

    // What the coalescing knows of each gauge (0 file, 1 total): its maximum
    // (-1 until this run set it), the value it shows, and a value left out.
    struct GaugeShadow {
        std::int64_t max = -1;
        std::int64_t shown = -1;
        bool pending = false;
        std::int64_t pendingValue = 0;
        std::chrono::steady_clock::time_point sentAt{};
    };
    GaugeShadow gauges_[2];

    std::atomic<bool> terminated_{false};
    std::atomic<bool> aborted_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable ended_;
    bool finished_ = false;
};
