#include "LauncherRuns.h"

#include "Mirrors.h"

#include "InstallLock.h"
#include "LauncherLog.h"
#include "Messages.h"
#include "Misc.h"
#include "RevisionFloor.h"
#include "Signature.h"
#include "Trace.h"

#include <algorithm>
#include <vector>

TLauncherRuns::TLauncherRuns(TUpdateTarget& target, TRunWindow& window)
    : target_(target), window_(window), hint_(LauncherLogFile()) {}

TLauncherRuns::~TLauncherRuns() {
    pending_.reset();
    if (run_ && !run_->Finished()) {
        window_.CloseRunDispatcher();
        run_->Abort();
        (void)run_.release();
    }
    run_.reset();
}

bool TLauncherRuns::Active() const {
    return pending_ || (run_ && !run_->Finished());
}

void TLauncherRuns::Start(const TLauncherSettings& settings, bool fullCheck) {
    if (closing_ || Active() || !SettingsComplete(settings))
        return;
    // A malformed key reaches the error box, and no run starts.
    std::vector<signing::PublicKey> keys = signing::TrustedKeys(settings[UpdateKey]);
    // The floor as another launcher or quenmor-update may have raised it.
    const std::int32_t trustedRevision = ReadTrustedRevision(SettingsFileOf(BaseFolder));
    window_.SetStatusLine({});
    hint_.RunStarted();
    window_.SetStatusHint({});
    busyShown_ = false;
    auto run = std::make_unique<GFilesThread>(target_, window_.RunDispatcher());
    run->UpdateUrl = settings[UpdatesUrl];
    run->UpdateMirrors = SettingMirrors(settings[UpdateMirrors]);
    run->FullCheck = fullCheck;
    run->CreateBackup = StrToInt(settings[CreateBackup]);
    run->AtRevision = StrToInt(settings[AtRevision]);
    run->RecordedRevision = recordedRevision_;
    run->TrustedRevision = trustedRevision;
    run->TrustedKeys = std::move(keys);
    run->HostsFolder = HostsFolder;
    run->LauncherFile = LauncherFile;
    run->LauncherProcessId = LauncherProcessId;
    run->CoalesceProgress = true;
    run->BatchNotifications = true;
    pending_ = std::move(run);
    TryStartPending();
}

void TLauncherRuns::TryStartPending() {
    if (!pending_)
        return;
    if (!lock_) {
        try {
            lock_ = platform::InstallLock::TryAcquire(BaseFolder);
        } catch (...) {
            pending_.reset();
            throw;
        }
    }
    if (!lock_) {
        // Another launcher works on this installation: wait for it, with the
        // game and the check out of reach meanwhile.
        if (!busyShown_) {
            busyShown_ = true;
            Locked();
            window_.SetStatusLine(kInstallationBusy);
        }
        window_.StartPolling();
        return;
    }
    if (run_) {
        run_->WaitFor(); // an earlier run that has ended
        run_.reset();
    }
    run_ = std::move(pending_);
    runStatus_.clear();
    LauncherLog().RunStarted(run_->SettingsText());
    run_->Start();
    window_.StartPolling();
}

void TLauncherRuns::Poll() {
    if (pending_) {
        TryStartPending();
        return;
    }
    if (run_ && run_->Finished()) {
        run_->WaitFor();
        run_.reset();
    }
    if (!run_) {
        lock_.reset();
        window_.StopPolling();
    }
}

void TLauncherRuns::Stop() {
    closing_ = true;
    pending_.reset();
    window_.StopPolling();
    if (run_) {
        // The run's notifications keep arriving while it finishes (a revision
        // it reaches is still recorded); the player's input does not.
        const auto finished = [this] { return run_->Finished(); };
        run_->Terminate();
        if (!run_->WaitFor(std::chrono::milliseconds(0)))
            window_.WaitWithEvents(CloseWait, finished);
        if (!run_->Finished()) {
            run_->Abort();
            window_.WaitWithEvents(AbortWait, finished);
        }
        if (run_->Finished()) {
            run_->WaitFor();
            run_.reset();
        } else {
            window_.CloseRunDispatcher();
            abandoned_ = true;
        }
    }
    if (!run_)
        lock_.reset();
}

void TLauncherRuns::RecordRevision(const std::string& revision) {
    WriteRevision(BaseFolder, revision);
    try {
        recordedRevision_ = std::max(recordedRevision_, StrToInt(revision));
    } catch (const EConvertError&) {
        // Not a revision a run stores; nothing to remember.
    }
}

void TLauncherRuns::Locked() {
    Trace("lock");
    window_.SetCommands(kCommandsLocked);
}

void TLauncherRuns::Status(const std::string& text) {
    Trace("status", text);
    runStatus_ = text;
}

void TLauncherRuns::Gauge(const char* event, std::int32_t value) {
    Trace(event, std::to_string(value));
}

void TLauncherRuns::Revision(const std::string& revision) {
    Trace("revision", revision);
    RecordRevision(revision);
}

void TLauncherRuns::Unlocked() {
    Trace("unlock");
    LauncherLog().RunEnded(runStatus_);
    hint_.RunEnded(runStatus_);
    window_.SetStatusHint(hint_.Text());
    window_.SetCommands(kCommandsUnlocked);
}

void TLauncherRuns::Retry(const std::string& note) {
    Trace("retry", note);
    LauncherLog().Retry(note);
}

void TLauncherRuns::Cause(const std::string& cause) {
    Trace("failure", cause);
    LauncherLog().Failure(cause);
    hint_.Failure(cause);
}

void TLauncherRuns::Note(const std::string& note) {
    Trace("note", note);
    LauncherLog().Note(note);
}

void TLauncherRuns::TrustedRevision(const std::string& revision) {
    Trace("trusted-revision", revision);
    RaiseTrustedRevision(SettingsFileOf(BaseFolder), StrToInt(revision));
}
