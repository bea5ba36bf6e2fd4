// The published tree before this run, as its manifest lists it: the revision
// to compare the new one with, the copies that can be reused, and what in OUT
// is no part of the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace publish {

// A file as the published manifest lists it. Lines are read from the end:
// "path|md5|copysize" as trees were first published, with "sha256|" in front
// in the signed trees that followed, and "contentsize|sha256|" in front now.
struct PreviousEntry {
    std::string digest;     // MD5 of the content
    std::string sha256;     // SHA-256 of the content; empty when the line has none
    std::uint64_t size = 0; // of the compressed copy
};

struct PreviousManifest {
    bool present = false;
    std::string unreadable; // why the manifest cannot be read; empty when it can
    std::string text;       // the manifest unpacked
    std::optional<std::int32_t> revision;
    std::string expires;                          // the setting Expires as it stands; empty: none
    std::map<std::string, PreviousEntry> entries; // by manifest path, all sections
    std::map<std::string, std::string> normal;    // files_normal: path -> digest
    // The copies of every entry listed (relative, UTF-8, "/" separators).
    std::set<std::string> copies;
};

// A compressed manifest is never larger than this.
inline constexpr std::size_t kMaxManifestSize = std::size_t{1} << 31;

// Reads a manifest from its compressed bytes; `scratch` is a free file name
// for the unpacked manifest (removed again). Raises EPublishError (and the
// reader's errors) when it cannot be unpacked or read.
PreviousManifest ReadManifest(const std::string& compressed, const std::filesystem::path& scratch);

// Reads OUT/files.lst.bz2, as ReadManifest does. A manifest that cannot be
// read only costs the reuse of copies: it adds a warning, and so does one
// without a valid revision.
PreviousManifest ReadPreviousManifest(const std::filesystem::path& out,
                                      const std::filesystem::path& scratch,
                                      std::vector<std::string>& warnings);

// What OUT holds beyond the published tree (the manifest, its signature and
// the copies that `previous` lists), relative with "/" separators and sorted:
// a folder with nothing of the tree in it is named once, with a final "/".
// Raises EPublishError when a folder cannot be read.
std::vector<std::string> ForeignEntries(const std::filesystem::path& out,
                                        const PreviousManifest& previous);

} // namespace publish
