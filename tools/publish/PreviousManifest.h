// The published tree before this run, as its manifest lists it: the revision
// to compare the new one with, the copies that can be reused, and what in OUT
// is no part of the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class TListFile;

namespace publish {

// A file as the published manifest lists it. Lines are read from the end:
// "path|md5|copysize" as trees were first published, with "sha256|" in front
// in the signed trees that followed, and "contentsize|sha256|" in front now.
struct PreviousEntry {
    std::string digest;     // MD5 of the content
    std::string sha256;     // SHA-256 of the content; empty when the line has none
    std::uint64_t size = 0; // of the compressed copy
    std::string section;    // "self", "files_critical" or "files_normal"
};

// A file line of the manifest as it stands, in the manifest's order.
struct ListedFile {
    std::string section;                      // "self", "files_critical" or "files_normal"
    std::string manifestPath;                 // Windows-1251, "\" separators
    std::string relative;                     // UTF-8, "/" separators
    std::string digest;                       // MD5
    std::string sha256;                       // empty when the line has none
    std::optional<std::uint64_t> contentSize; // only in front of a SHA-256
    std::uint64_t copySize = 0;
};

struct PreviousManifest {
    bool present = false;
    std::string unreadable; // why the manifest cannot be read; empty when it can
    std::string text;       // the manifest unpacked
    std::optional<std::int32_t> revision;
    std::string expires;  // the setting Expires as it stands; empty: none
    bool chunked = false; // the tree has a chunk store (its folder is the tree's)
    std::map<std::string, PreviousEntry> entries; // by manifest path, all sections
    std::map<std::string, std::string> normal;    // files_normal: path -> digest
    // The copies of every entry listed (relative, UTF-8, "/" separators).
    std::set<std::string> copies;
    // The lines as they stand: the settings (name, value) and the hosts
    // (address, name) in their order, the files that can be used, and the
    // file lines that cannot (a path outside the tree, no copy size).
    std::vector<std::pair<std::string, std::string>> settings;
    std::vector<std::pair<std::string, std::string>> hosts;
    std::vector<ListedFile> files;
    std::vector<std::string> unusable;
};

// A compressed manifest is never larger than this.
inline constexpr std::size_t kMaxManifestSize = std::size_t{1} << 31;

// Reads a manifest from its compressed bytes (the launcher's reader takes the
// unpacked text from a scratch file in the system's temporary folder, removed
// again). Raises EPublishError (and the reader's errors) when it cannot be
// unpacked or read.
// `inspect` (may be empty) sees the launcher's reading of it.
PreviousManifest ReadManifest(const std::string& compressed,
                              const std::function<void(const TListFile&)>& inspect = {});

// Reads OUT/files.lst.bz2, as ReadManifest does. A manifest that cannot be
// read only costs the reuse of copies: it adds a warning, and so does one
// without a valid revision.
PreviousManifest ReadPreviousManifest(const std::filesystem::path& out,
                                      std::vector<std::string>& warnings);

// What OUT holds beyond the published tree (the manifest, its signature and
// the copies that `previous` lists), relative with "/" separators and sorted:
// a folder with nothing of the tree in it is named once, with a final "/".
// Raises EPublishError when a folder cannot be read.
std::vector<std::string> ForeignEntries(const std::filesystem::path& out,
                                        const PreviousManifest& previous);

} // namespace publish
