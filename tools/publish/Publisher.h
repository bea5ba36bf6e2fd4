// The publishing run: turns a client folder into the tree that the update
// server serves (the compressed manifest "files.lst.bz2" and one ".bz2" copy
// per file), replacing the previous tree in one step.
#pragma once

#include "PublishChanges.h"
#include "PublishErrors.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace publish {

struct Options {
    std::filesystem::path source;
    std::filesystem::path out;
    std::int32_t revision = 0;
    bool modHosts = false;
    std::optional<std::filesystem::path> hostsFile;
    std::vector<std::string> criticalPatterns;
    // Files and folders of SOURCE left out of the tree (a folder with
    // everything in it); the patterns of --critical.
    std::vector<std::string> excludePatterns;
    std::string selfName; // the launcher build, a file directly in SOURCE; empty: none
    unsigned jobs = 0;    // compression threads; 0: one per processor
    // Signs the tree with this private key (a PEM file of --keygen): the
    // signature file beside the manifest.
    std::optional<std::filesystem::path> signingKey;
    // Publishes without --sign over a tree that was signed, which launchers
    // that trust its key then refuse; otherwise that is refused.
    bool publishUnsigned = false;
    // Removes what OUT holds beyond the published tree it replaces (files
    // its manifest does not list); otherwise that is refused.
    bool replaceForeign = false;
    // When the signed manifest expires, in seconds since 1970 (UTC); none:
    // kDefaultExpiryDays from now.
    std::optional<std::int64_t> expiresAt;
    // Writes the chunk store beside the copies (see ChunkStore.h).
    bool chunks = true;
    // Other addresses that serve the same tree: named in the manifest, where
    // launchers that know of mirrors spread their requests over them.
    std::vector<std::string> mirrors;
    const std::atomic<bool>* cancel = nullptr; // set to stop early (nothing is published)
    // Reads and checks everything as a run does and tells what it would do,
    // but writes nothing (no copy is compressed).
    bool dryRun = false;
};

// Work under way: after each block read and each file done. Called from the
// worker threads, one call at a time.
struct Progress {
    std::size_t done = 0; // files
    std::size_t total = 0;
    std::string path;            // relative, UTF-8, "/" separators
    bool finished = false;       // `path` is done
    bool reused = false;         // and its copy was taken over
    std::uint64_t bytesDone = 0; // of the content of all files
    std::uint64_t bytesTotal = 0;
};

struct Summary {
    std::int32_t revision = 0;
    std::optional<std::int32_t> previousRevision; // of the manifest that was replaced
    std::size_t criticalFiles = 0;
    std::size_t normalFiles = 0;
    bool selfPublished = false;
    std::uint64_t contentBytes = 0;    // uncompressed, all published files
    std::uint64_t compressedBytes = 0; // the copies, without the manifest
    std::size_t reusedCopies = 0;      // taken over from the previous tree
    std::size_t compressedCopies = 0;  // compressed in this run
    // The chunk store: none without one; else its chunks written in this
    // run and taken over from the tree before, the bytes of the frames
    // written, and of all frames the store holds.
    bool chunked = false;
    std::size_t chunksWritten = 0;
    std::size_t chunksTakenOver = 0;
    std::uint64_t chunkBytesWritten = 0;
    std::uint64_t chunkStoreBytes = 0;
    std::string signingKey; // the public key that signed the tree (base64); empty: unsigned
    std::string expires;    // when the signed manifest expires (UTC text); empty: unsigned
    // The installation's settings files at the top of SOURCE (Quenmor.ini in
    // any letter case), left out of the tree.
    std::vector<std::string> settingsLeftOut;
    // What was removed from OUT with --replace-foreign, relative, "/"
    // separators, a folder with a final "/".
    std::vector<std::string> foreignRemoved;
    // Left out by --exclude, relative, "/" separators, a folder with a final "/".
    std::vector<std::string> excluded;
    // What the tree gains and loses against the published one (none: no tree
    // was published before, or its manifest cannot be read).
    std::optional<TreeChanges> changes;
    bool dryRun = false; // nothing was written; no copy size is known
    std::vector<std::string> warnings;
};

// Publishes SOURCE into OUT. Everything is built in a staging folder beside
// OUT and swapped in at the end; on any failure OUT is left as it was and the
// staging folder is removed.
Summary Publish(const Options& options,
                const std::function<void(const Progress&)>& onProgress = {});

} // namespace publish
