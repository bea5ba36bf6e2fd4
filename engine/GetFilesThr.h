// The update run: brings the installation in line with the manifest on the
// update server, on a worker thread, reporting through notifications. It
// holds the run's inputs and takes the steps in their order (the manifest,
// the hosts file, the self-update, the check and the install); each step is
// a unit of its own.
#pragma once

#include "Fetch.h"
#include "Installation.h"
#include "Notifier.h"
#include "Signature.h"
#include "StopSignal.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The agent name of every request to the update server.
inline constexpr const char* kAgentName = "ZentyrClientUpdater";

class TFileTransfer;
struct TManifest;

class GFilesThread {
public:
    explicit GFilesThread(TUpdateTarget& target, TDispatcher dispatcher = {});
    ~GFilesThread(); // waits for a started run to end
    GFilesThread(const GFilesThread&) = delete;
    GFilesThread& operator=(const GFilesThread&) = delete;

    // Thread control. Inputs are set before Start.
    void Start();
    // The run on the calling thread, for hosts that wait for it anyway.
    void Execute();
    // A stop request: the entry being installed is finished, the rest are
    // skipped, and the run ends with the failure text without recording a
    // revision (the installation is not yet at it).
    void Terminate() { stop_.RequestStop(); }
    bool Terminated() const { return stop_.StopRequested(); }
    // A stop request that does not wait for the current entry: its transfer
    // is cut and its unpacking abandoned (the installed file stays as it
    // was). Implies Terminate.
    void Abort() { stop_.RequestAbort(); }
    bool Aborted() const { return stop_.AbortRequested(); }
    bool Finished() const;
    void WaitFor();
    bool WaitFor(std::chrono::milliseconds timeout); // whether the run has ended

    // The run's inputs. The installation is the current folder.
    std::int32_t CreateBackup = 0;
    std::int32_t AtRevision = 0;
    bool FullCheck = false;
    std::string UpdateUrl;
    // Other addresses of the same tree, each ending with "/", asked in turn
    // for the manifest when UpdateUrl cannot give it ("UpdateMirrors"); the
    // tree's files are spread over them too, with the mirrors the manifest
    // names.
    std::vector<std::string> UpdateMirrors;

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
    // What bzip2 unpacks of a copy on one core, about: a line faster than
    // this on every core makes new files faster from the chunk store, whose
    // zstd frames unpack some thirty times as fast.
    static constexpr double kBzip2BytesPerSecondPerCore = 20e6;
    std::int64_t AheadBudget = std::int64_t{256} << 20;

    // How the notifications reach the host (see TNotifier::Settings):
    // progress that changes nothing shown left out, and batches.
    bool CoalesceProgress = false;
    bool BatchNotifications = false;

    // The settings the run takes, as one line of the run log: the update
    // address, the revision, the check, backups, the trusted keys, the
    // connections and the folders.
    std::string SettingsText() const;

private:
    // The steps, in their order; each ends the run's part in it.
    void Run(TNotifier& notifier);
    void TakeManifest(TNotifier& notifier, TFileTransfer& transfer, const TManifest& manifest);
    // Ends a run that something unexpected broke off: the cause shown, the
    // failure text, the commands unlocked.
    void BrokenOff(TNotifier& notifier, const std::exception_ptr& error);
    bool Signed() const { return !TrustedKeys.empty(); }
    platform::HttpOptions TransferOptions() const;
    unsigned CoreCount() const;
    int ConnectionCount() const;

    TUpdateTarget& target_;
    TDispatcher dispatcher_;
    // The installation's folder, known once the run started.
    std::string folder_;
    // A part of this run failed (an entry, the hosts file, the self-update)
    // without ending it: its final status is the failure text.
    bool runFailed_ = false;
    // A stop request ended the run before it was through.
    bool stopped_ = false;
    // The status the run ends with.
    std::string endStatus_;

    TStopSignal stop_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable ended_;
    bool finished_ = false;
};
