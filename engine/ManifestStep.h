// The run's first step: the manifest "files.lst.bz2" fetched from the update
// server into the installation's folder, its signature checked against the
// trusted keys before anything of it is read, unpacked into "files.lst",
// read, and for a signed tree checked for what a signed manifest must hold
// (not expired, not below the revisions this installation reached, a
// SHA-256 digest on every file line). A manifest that verifies raises the
// rollback floor at once.
#pragma once

#include "ChunkIndex.h"
#include "FileTransfer.h"
#include "Notifier.h"
#include "Signature.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the run takes from the manifest, read whole before any of it is used:
// the update script that the self-update starts removes "files.lst" once the
// launcher has ended, while the run may still be going.
struct TManifest {
    std::int32_t revision = 0;
    bool modHosts = false;
    // The sections' entries, or the single entry "FAIL" of a missing or
    // empty one; `hosts` only when the manifest asks for them.
    std::vector<std::string> self, critical, normal, hosts;
    // The sizes of the tree's chunk store; none: it has none (or one this
    // build cannot read), and every file is fetched whole.
    std::optional<TChunkSizes> chunks;
    // The mirrors it names, each with a final "/".
    std::vector<std::string> mirrors;
    // Where the manifest (and its signature) came from: the update address,
    // or the mirror that gave it.
    std::string base;
    // How fast the manifest came, from its request to its last byte: a
    // line at least this fast (round trips and setup count against it).
    double lineBytesPerSecond = 0;
};

class TManifestStep {
public:
    struct Settings {
        std::string updateUrl; // ends with "/"; empty: no server named
        // Tried in turn for the manifest (and its signature) when the update
        // address cannot give it; each ends with "/".
        std::vector<std::string> mirrors;
        std::string folder; // the installation's, ending with the separator
        // None: the tree is not signed, and signatures are not looked at.
        std::vector<signing::PublicKey> trustedKeys;
        // A signed manifest below this is an old one replayed.
        std::int32_t floor = 0;
        // The rollback floor recorded; a verified manifest above it raises it
        // (TNotifier::StoreTrustedRevision).
        std::int32_t trustedRevision = 0;
    };

    TManifestStep(TNotifier& notifier, TFileTransfer& transfer, Settings settings);

    // The manifest, or none when it could not be fetched or unpacked, or was
    // refused: the cause has been shown, and no manifest file of the run is
    // left but "files.lst" of a manifest taken.
    std::optional<TManifest> Take();

private:
    // Each refuses the tree when not (the cause is shown).
    bool SignatureHolds();
    // `another`: a mirror is left to ask, so that an answer that is no
    // success is not taken (nor shown as the cause).
    bool Fetched(bool another);
    bool Unpacked();

    TNotifier& notifier_;
    TFileTransfer& transfer_;
    Settings settings_;
    std::string fetchFailure_; // of the manifest's download
    std::string base_;         // the address being tried
    double lineBytesPerSecond_ = 0;
};
