// The self-update: when the manifest's "self" entry names this launcher's own
// program file and its digest differs, the listed build is fetched and
// unpacked beside it as NAME.New (verified against the entry's digests
// first), and an update script is started that replaces the program once
// the launcher has ended. A build for another system, or one that is already
// current, is left alone.
#pragma once

#include "FileTransfer.h"
#include "Installation.h"
#include "Notifier.h"

#include <string>

class TSelfUpdate {
public:
    struct Settings {
        std::string updateUrl; // ends with "/"
        // The launcher's own program file and process; empty: no self-update.
        std::string launcherFile;
        long processId = 0;
        // The build must match the entry's SHA-256 as well as its MD5.
        bool requireSha256 = false;
    };

    TSelfUpdate(TNotifier& notifier, TFileTransfer& transfer, const TInstallation& installation,
                Settings settings);

    // Brings the launcher to the entry's build. False when that failed in a
    // way the run's end must report (the cause is shown); a build that
    // cannot be fetched is only named in a cause.
    bool Run(const std::string& entry);

private:
    TNotifier& notifier_;
    TFileTransfer& transfer_;
    const TInstallation& installation_;
    Settings settings_;
};
