// The install of the pending entries: in their order, each entry's copy is
// awaited from the work ahead (fetched on several connections, unpacked and
// verified on every core beside its target), the old content is kept in
// "backup" when asked, and the verified content is put in place. The first
// copy that cannot be fetched ends the install; an entry that fails
// otherwise leaves its file as it was and the install goes on.
#pragma once

#include "ChunkIndex.h"
#include "FileEntry.h"
#include "Installation.h"
#include "Notifier.h"
#include "WorkAhead.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class TInstallStep {
public:
    struct Settings {
        std::string updateUrl; // ends with "/"
        bool backup = false;   // keep the old content in "backup"
        // The content must match the entries' SHA-256 as well as their MD5.
        bool requireSha256 = false;
        // The sizes of the tree's chunk store: entries with a local file
        // that may hold some of their chunks are made of chunks where they
        // can be. None: every entry's copy is fetched whole.
        std::optional<TChunkSizes> chunks;
        // With a chunk store, files that are not installed yet are made of
        // chunks too (faster to unpack than bzip2 where the line outruns
        // bzip2 on the cores); otherwise their copies are fetched.
        bool chunksForNew = false;
        // Its `showNotes` and `waiting` are the install's own.
        TWorkAhead::Settings ahead;
    };

    // `stopRequested` is asked before each entry.
    TInstallStep(TNotifier& notifier, const TInstallation& installation, Settings settings,
                 std::function<bool()> stopRequested);

    struct Result {
        bool failed = false;  // an entry failed, or a copy could not be fetched
        bool stopped = false; // a stop request left entries out
    };
    Result Install(const std::vector<std::string>& pending);

private:
    // Where each pending entry is fetched to and installed.
    std::vector<TAheadEntry> Plan(const std::vector<std::string>& pending) const;
    std::string ServerCopy(const std::string& manifestPath) const;
    // The delta of an entry installed at `target`: none when the tree has no
    // store, the entry lacks the digest or size its index is found by, or
    // no local file may hold any of its chunks.
    std::optional<TDeltaEntry> Delta(const FileEntry& entry, const std::string& target) const;
    // Keeps the old content of `local` in "backup"; raises when it cannot,
    // and the file is then not replaced.
    void KeepBackup(const std::string& manifestPath, const std::string& local) const;

    TNotifier& notifier_;
    const TInstallation& installation_;
    Settings settings_;
    std::function<bool()> stopRequested_;
};
