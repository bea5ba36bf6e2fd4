// Client-like test data: what a game client's files hold (incompressible
// media, binary tables, mesh data and text, in pieces of a few hundred
// kilobytes to a few megabytes), one file of it, and whole client
// installations of it: nested folders of files of every size with the
// digests of their content, and what the benchmarks read from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Writes `total` bytes of client-like data into a new file; the same bytes for
// the same size every time.
void GenerateClientData(const std::string& path, std::size_t total);

// `size` bytes of an archive's content (media, meshes, tables and text in
// pieces), the same for the same seed.
std::string ClientArchiveBytes(std::size_t size, std::uint64_t seed);

struct ClientFile {
    std::string path; // relative, "/" between folders, UTF-8
    std::uint64_t size = 0;
    std::string digest;
};

struct ClientTree {
    std::string root;
    std::vector<ClientFile> files; // sorted by path
    std::size_t folders = 0;
    std::uint64_t bytes = 0;

    // Its files, folders and bytes, and how they are spread over the sizes.
    std::string Describe() const;
};

// Makes a client of `count` files and `total` bytes in `root`, a folder that
// does not exist yet.
ClientTree GenerateClientTree(const std::string& root, std::uint64_t total, std::size_t count,
                              std::uint64_t seed);

// Reads every file of the tree copied into `root` into the page cache.
void WarmTree(const ClientTree& tree, const std::string& root);

// The manifest's entries for the files: "path|digest|size", the path with
// "\" between folders, in Windows-1251.
std::vector<std::string> ManifestEntries(const ClientTree& tree);

// md5sum with every path of the tree, relative to the folder it runs in.
std::vector<std::string> Md5sumCommand(const ClientTree& tree);

// Fails unless md5sum's output in `output` gives every file of the tree its
// digest.
void CheckMd5sumOutput(const ClientTree& tree, const std::string& output);

} // namespace bench
