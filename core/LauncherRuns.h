// The window's update runs: preparing a run from the launcher's settings,
// waiting while another launcher holds the installation, starting it, watching
// it end, stopping it when the window closes, and the bookkeeping of its
// notifications (the log, the trace, the revisions it records). Everything
// here runs on the window's thread; the window draws and forwards its events.
#pragma once

#include "GetFilesThr.h"
#include "LauncherSettings.h"
#include "RunHint.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {
class InstallLock;
}

// The states of the commands that a run locks: play and check are shown or
// hidden, options enabled or not.
struct TCommandStates {
    bool play = true;
    bool check = true;
    bool options = true;

    friend bool operator==(const TCommandStates&, const TCommandStates&) = default;
};
inline constexpr TCommandStates kCommandsLocked{false, false, false};
inline constexpr TCommandStates kCommandsUnlocked{true, true, true};

// What a window does for its runs.
class TRunWindow {
public:
    virtual ~TRunWindow() = default;
    // The dispatcher that brings a run's notifications to the window's thread.
    virtual TDispatcher RunDispatcher() = 0;
    // Refuses every further notification (see the window's dispatcher).
    virtual void CloseRunDispatcher() = 0;
    // The status line, cleared when a run is prepared and showing
    // kInstallationBusy while another launcher holds the installation.
    virtual void SetStatusLine(const std::string& text) = 0;
    // The status line's hover text (see TRunHint): set when a run ends,
    // cleared when the next one is prepared; empty for none.
    virtual void SetStatusHint(const std::string& /*text*/) {}
    virtual void SetCommands(const TCommandStates& states) = 0;
    // Calls TLauncherRuns::Poll every 50 ms until StopPolling.
    virtual void StartPolling() = 0;
    virtual void StopPolling() = 0;
    // Handles the window's events, except the player's input, until `done`
    // holds or `limit` has passed.
    virtual void WaitWithEvents(std::chrono::milliseconds limit,
                                const std::function<bool()>& done) = 0;
};

class TLauncherRuns {
public:
    // Runs notify `target` (the window) through `window`'s dispatcher.
    TLauncherRuns(TUpdateTarget& target, TRunWindow& window);
    // A run still going is left to end on its own: it ends at its next
    // notification, which the closed dispatcher refuses. Waiting here could
    // take as long as a stalled transfer (the program is ending).
    ~TLauncherRuns();
    TLauncherRuns(const TLauncherRuns&) = delete;
    TLauncherRuns& operator=(const TLauncherRuns&) = delete;

    // The installation's folder: its settings file, its lock and the
    // revisions recorded (kept after the settings are cleared on close).
    std::string BaseFolder;
    // The folder of the system's hosts file that runs maintain.
    std::string HostsFolder;
    // The program runs replace when they update the launcher, and its process.
    std::string LauncherFile;
    long LauncherProcessId = 0;
    // On close, how long a run gets to finish its current file, and then how
    // long to stop once its transfer is cut.
    std::chrono::milliseconds CloseWait{3000};
    std::chrono::milliseconds AbortWait{2000};

    // Starts an update run (the automatic one or a full check) once the
    // installation is free. One run at a time: a check clicked before the
    // automatic run began makes the automatic one unnecessary. Nothing starts
    // once the window closes or without complete settings. Raises what a
    // malformed key, the revision floor or the installation's lock raise; no
    // run is then prepared.
    void Start(const TLauncherSettings& settings, bool fullCheck);
    // The window's poll: starts the prepared run once the installation is
    // free, cleans up a run that has ended. Raises what the lock raises.
    void Poll();
    // Ends the runs on close: no run starts from now on; a run going on is
    // asked to stop and waited for a bounded time (CloseWait, then cut and
    // AbortWait); one that still goes is abandoned.
    void Stop();

    // Whether a run is going on or waiting for the installation to be free.
    bool Active() const;
    // The run could not be brought to an end when the window closed: the
    // program must end without waiting for it.
    bool Abandoned() const { return abandoned_; }

    // What the status line tells of the last run when hovered.
    const TRunHint& Hint() const { return hint_; }

    // Records the revision an update run reached as the installation's
    // "AtRevision" (also after close); no signed manifest below the highest
    // recorded in this process is taken by later runs.
    void RecordRevision(const std::string& revision);

    // The bookkeeping of the run's notifications, called by the window's own
    // handlers before they draw.
    void Locked();
    void Status(const std::string& text);
    void Gauge(const char* event, std::int32_t value);
    void Revision(const std::string& revision);
    void Unlocked();
    void Retry(const std::string& note);
    void Cause(const std::string& cause);
    void Note(const std::string& note);
    void TrustedRevision(const std::string& revision);

private:
    void TryStartPending();

    TUpdateTarget& target_;
    TRunWindow& window_;
    std::unique_ptr<GFilesThread> pending_; // prepared, waiting for the lock
    std::unique_ptr<GFilesThread> run_;     // started, not yet cleaned up
    std::unique_ptr<platform::InstallLock> lock_;
    bool busyShown_ = false; // the wait for the lock is on the status line
    bool closing_ = false;
    bool abandoned_ = false;
    // The highest revision recorded in this process: the revision read at
    // start-up stays what runs are given, but no signed manifest below this
    // one is taken.
    std::int32_t recordedRevision_ = 0;
    std::string runStatus_; // the run's last status text, for the log
    TRunHint hint_;
};
