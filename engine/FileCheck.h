// The file check: the entries of one section of the manifest compared with
// the installed files by MD5 digest, in order, the digests computed ahead on
// every core, several files side by side on each (a file whose size is not
// the content size its entry lists differs without being read). What
// differs, or is missing, becomes pending; what may never be written (a path
// that leads outside, the installation's own settings file) is left out with
// its cause or note.
#pragma once

#include "Installation.h"
#include "Notifier.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class TFileCheck {
public:
    // `stopRequested` is asked before each entry.
    TFileCheck(TNotifier& notifier, const TInstallation& installation, unsigned cores,
               std::function<bool()> stopRequested);

    struct Result {
        bool failed = false;  // an entry was left out as one that cannot be installed
        bool stopped = false; // a stop request left entries unchecked
    };
    // Checks the entries (the single entry "FAIL": none) and appends those
    // out of date to `pending`. Nothing is checked once a stop was requested.
    Result Check(const std::vector<std::string>& entries, std::vector<std::string>& pending);

private:
    // The installed file whose digest decides an entry, if it is to be read:
    // none when the entry names no file that is there, or one of another
    // size than its content (out of date unread).
    std::optional<std::string> FileToDigest(const std::string& line) const;

    TNotifier& notifier_;
    const TInstallation& installation_;
    unsigned cores_;
    std::function<bool()> stopRequested_;
};
