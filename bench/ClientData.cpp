// Client-like test data (see ClientData.h).

#include "ClientData.h"

#include "BenchSupport.h"
#include "Text.h"
#include "md5.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace bench {

// ---------------------------------------------------------------------------
// Test data: what a game client's files hold, in pieces of a few hundred
// kilobytes to a few megabytes each.

namespace {

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() { // splitmix64
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }
    double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; } // [0, 1)
    template <std::size_t N> const char* Pick(const std::array<const char*, N>& words) {
        return words[Below(static_cast<std::uint32_t>(N))];
    }

private:
    std::uint64_t state_;
};

constexpr std::array<const char*, 24> kNouns = {
    "sword", "shield", "helm",   "boots",   "ring",  "amulet", "staff", "bow",
    "arrow", "potion", "scroll", "gem",     "cloak", "gloves", "axe",   "dagger",
    "mace",  "wand",   "tome",   "lantern", "key",   "banner", "totem", "relic"};
constexpr std::array<const char*, 16> kAdjectives = {
    "iron",    "steel",  "ancient", "cursed", "blessed", "rusty", "golden",  "shadow",
    "crystal", "frozen", "burning", "silent", "royal",   "elven", "dwarven", "bone"};
constexpr std::array<const char*, 8> kClasses = {"weapon", "armor",    "jewel", "consumable",
                                                 "quest",  "material", "tool",  "misc"};
constexpr std::array<const char*, 20> kWords = {
    "a",  "the",      "of",   "forged", "in", "deep",   "mountain", "halls", "grants", "bonus",
    "to", "strength", "when", "worn",   "by", "heroes", "northern", "realm", "old",    "magic"};

// Already compressed media: textures, sounds, video.
void AppendMedia(std::string& out, std::size_t size, Random& random) {
    const std::size_t start = out.size();
    out.resize(start + size);
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t value = random.Next();
        std::memcpy(&out[start + i], &value, std::min<std::size_t>(8, size - i));
    }
}

template <typename T> void AppendRaw(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

// Binary tables of fixed-size records: item and monster databases.
void AppendRecords(std::string& out, std::size_t size, Random& random) {
    const std::size_t end = out.size() + size;
    std::uint32_t id = random.Below(100000);
    while (out.size() < end) {
        AppendRaw<std::uint32_t>(out, id++);
        AppendRaw<std::uint16_t>(out, static_cast<std::uint16_t>(random.Below(8)));
        AppendRaw<std::uint16_t>(out, static_cast<std::uint16_t>(1u << random.Below(6)));
        AppendRaw<std::uint32_t>(out, 1 + random.Below(80));
        AppendRaw<std::uint32_t>(out, 5 * random.Below(2000));
        for (int axis = 0; axis < 3; ++axis)
            AppendRaw<float>(out, static_cast<float>(random.Below(4096)) * 0.25f);
        char name[24] = {};
        std::snprintf(name, sizeof name, "%s_%s", random.Pick(kAdjectives), random.Pick(kNouns));
        out.append(name, sizeof name);
    }
    out.resize(end);
}

// Vertex data: positions along surfaces, normals and texture coordinates.
void AppendMesh(std::string& out, std::size_t size, Random& random) {
    const std::size_t end = out.size() + size;
    float x = 0, y = 0, z = 0;
    while (out.size() < end) {
        const auto step = [&random] {
            return (static_cast<float>(random.Below(2001)) - 1000.0f) / 4000.0f;
        };
        x += step();
        y += step();
        z += step() / 4;
        AppendRaw<float>(out, x);
        AppendRaw<float>(out, y);
        AppendRaw<float>(out, z);
        AppendRaw<float>(out, 0.0f);
        AppendRaw<float>(out, 0.0f);
        AppendRaw<float>(out, 1.0f);
        AppendRaw<float>(out, static_cast<float>(random.Below(1024)) / 1024.0f);
        AppendRaw<float>(out, static_cast<float>(random.Below(1024)) / 1024.0f);
    }
    out.resize(end);
}

// Configuration and script text.
void AppendText(std::string& out, std::size_t size, Random& random) {
    const std::size_t end = out.size() + size;
    char line[256];
    std::uint32_t id = random.Below(100000);
    while (out.size() < end) {
        const char* adjective = random.Pick(kAdjectives);
        const char* noun = random.Pick(kNouns);
        std::snprintf(line, sizeof line,
                      "[item_%05u]\nname=%s %s\nclass=%s\nlevel=%u\nprice=%u\n"
                      "model=data/models/%s/%s_%02u.mdl\nicon=data/icons/%s_%04u.png\ndesc=",
                      id, adjective, noun, random.Pick(kClasses), 1 + random.Below(80),
                      5 * random.Below(2000), random.Pick(kClasses), noun, random.Below(40), noun,
                      id % 10000);
        out += line;
        const std::uint32_t words = 4 + random.Below(10);
        for (std::uint32_t w = 0; w < words; ++w) {
            out += random.Pick(kWords);
            out += w + 1 < words ? ' ' : '.';
        }
        out += "\n\n";
        ++id;
    }
    out.resize(end);
}

// One piece of an archive: media, mesh data, a table or text.
void AppendPiece(std::string& out, std::size_t size, Random& random) {
    const std::uint32_t kind = random.Below(100);
    if (kind < 30)
        AppendMedia(out, size, random);
    else if (kind < 50)
        AppendMesh(out, size, random);
    else if (kind < 75)
        AppendRecords(out, size, random);
    else
        AppendText(out, size, random);
}

// Archive content: pieces of every kind, padded to sector boundaries.
void AppendArchive(std::string& out, std::size_t size, Random& random) {
    const std::size_t end = out.size() + size;
    while (out.size() < end) {
        const std::size_t left = end - out.size();
        const std::size_t piece =
            std::min<std::size_t>(left, 256 * 1024 + random.Below(4 * 1024 * 1024));
        AppendPiece(out, piece, random);
        out.append(std::min<std::size_t>(left - piece, random.Below(4096)), '\0');
    }
}

} // namespace

std::string ClientArchiveBytes(std::size_t size, std::uint64_t seed) {
    Random random(seed);
    std::string out;
    out.reserve(size + 4096);
    AppendArchive(out, size, random);
    out.resize(size);
    return out;
}

void GenerateClientData(const std::string& path, std::size_t total) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Check(file != nullptr, "cannot create " + path);
    Random random(0x51E7A11ULL);
    std::string piece;
    std::size_t written = 0;
    while (written < total) {
        const std::size_t size =
            std::min<std::size_t>(total - written, 256 * 1024 + random.Below(4 * 1024 * 1024));
        piece.clear();
        AppendPiece(piece, size, random);
        // Files of archives are padded to sector boundaries.
        const std::size_t padding =
            std::min<std::size_t>(total - written - size, random.Below(4096));
        piece.append(padding, '\0');
        Check(std::fwrite(piece.data(), 1, piece.size(), file) == piece.size(),
              "cannot write " + path);
        written += piece.size();
    }
    Check(std::fclose(file) == 0, "cannot write " + path);
}

// ---------------------------------------------------------------------------
// A client installation: nested folders of files of every size.

namespace {

enum class Content { Media, Mesh, Records, Text, Archive };

void AppendContent(std::string& out, Content content, std::size_t size, Random& random) {
    switch (content) {
    case Content::Media:
        AppendMedia(out, size, random);
        break;
    case Content::Mesh:
        AppendMesh(out, size, random);
        break;
    case Content::Records:
        AppendRecords(out, size, random);
        break;
    case Content::Text:
        AppendText(out, size, random);
        break;
    case Content::Archive:
        AppendArchive(out, size, random);
        break;
    }
}

struct FolderKind {
    std::string path;
    std::string extension;
    Content content;
    std::uint32_t weight; // how often a small file lands here
};

// Where a client keeps its small and middle-sized files, and what they hold.
std::vector<FolderKind> ClientFolders() {
    std::vector<FolderKind> folders = {
        {"bin", ".dll", Content::Archive, 2},
        {"bin/plugins", ".dll", Content::Archive, 1},
        {"data/items", ".dat", Content::Records, 3},
        {"data/items", ".ini", Content::Text, 3},
        {"data/textures/ui", ".png", Content::Media, 4},
        {"sound/fx", ".wav", Content::Media, 4},
        {"sound/music", ".ogg", Content::Media, 1},
        {"sound/voice/en", ".ogg", Content::Media, 2},
        {"sound/voice/ru", ".ogg", Content::Media, 2},
        {"scripts/ai", ".lua", Content::Text, 2},
        {"scripts/quests", ".lua", Content::Text, 2},
        {"Мир данных/карты", ".txt", Content::Text, 1},
    };
    for (const char* region : {"north", "south", "east", "west", "islands", "Северные земли"}) {
        folders.push_back({std::string("data/maps/") + region, ".map", Content::Mesh, 2});
        folders.push_back({std::string("data/maps/") + region, ".txt", Content::Text, 1});
    }
    for (const char* kind : kClasses) {
        folders.push_back({std::string("data/models/") + kind, ".mdl", Content::Mesh, 3});
        folders.push_back({std::string("data/textures/") + kind, ".dds", Content::Media, 4});
    }
    return folders;
}

double LogUniform(Random& random, double low, double high) {
    return std::exp(std::log(low) + random.Unit() * (std::log(high) - std::log(low)));
}

// The sizes of a client's files, the `large` large ones first. Most files are
// small (settings, scripts, icons, sounds), some take a few hundred kilobytes
// to a few megabytes (textures, models, music), and a few archives and videos
// hold most of the bytes. One file is empty.
std::vector<std::uint64_t> ClientFileSizes(std::uint64_t total, std::size_t count,
                                           std::size_t large, Random& random) {
    std::vector<double> small(count - large);
    double smallTotal = 0;
    for (double& size : small) {
        size = random.Below(100) < 85 ? LogUniform(random, 200, 256 * 1024)
                                      : LogUniform(random, 256 * 1024, 4 * kMiB);
        smallTotal += size;
    }
    // The large files keep at least 40% of the bytes.
    const double smallShare = 0.6 * static_cast<double>(total);
    const double scale = smallTotal > smallShare ? smallShare / smallTotal : 1.0;
    std::vector<std::uint64_t> sizes(count);
    std::uint64_t used = 0;
    for (std::size_t i = 0; i < small.size(); ++i) {
        const auto size = static_cast<std::uint64_t>(small[i] * scale);
        sizes[large + i] = i == 0 ? 0 : std::max<std::uint64_t>(1, size);
        used += sizes[large + i];
    }
    Check(used < total, "too many files for so few bytes");
    std::vector<double> weights(large);
    double weightTotal = 0;
    for (double& weight : weights) {
        weight = 0.4 + 1.2 * random.Unit();
        weightTotal += weight;
    }
    const std::uint64_t rest = total - used;
    std::uint64_t given = 0;
    for (std::size_t i = 0; i + 1 < large; ++i) {
        sizes[i] = static_cast<std::uint64_t>(static_cast<double>(rest) * weights[i] / weightTotal);
        given += sizes[i];
    }
    sizes[large - 1] = rest - given;
    return sizes;
}

// Writes one file in large blocks and returns the digest of its content.
std::string WriteClientFile(const std::string& path, Content content, std::uint64_t size,
                            Random& random, std::string& buffer) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Check(fd >= 0, "cannot create " + path + ": " + std::strerror(errno));
    TMD5 md5;
    for (std::uint64_t done = 0; done < size;) {
        const auto block = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, 8 * kMiB));
        buffer.clear();
        AppendContent(buffer, content, block, random);
        md5.Update(buffer.data(), block);
        for (std::size_t at = 0; at < block;) {
            const ssize_t n = ::write(fd, buffer.data() + at, block - at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                const int error = errno;
                ::close(fd);
                throw std::runtime_error("cannot write " + path + ": " + std::strerror(error));
            }
            at += static_cast<std::size_t>(n);
        }
        done += block;
    }
    Check(::close(fd) == 0, "cannot write " + path);
    return md5.FinalText();
}

} // namespace

std::string ClientTree::Describe() const {
    std::size_t small = 0, middle = 0, large = 0;
    std::uint64_t largest = 0, largeBytes = 0;
    for (const ClientFile& file : files) {
        largest = std::max(largest, file.size);
        if (file.size < 64 * 1024) {
            ++small;
        } else if (file.size < 8 * kMiB) {
            ++middle;
        } else {
            ++large;
            largeBytes += file.size;
        }
    }
    return Format(
        "%zu files in %zu folders, %.1f MB (%zu MiB): %zu under 64 KiB, %zu from "
        "64 KiB to 8 MiB, %zu of 8 MiB or more holding %.0f%% of the bytes "
        "(largest %.1f MB)",
        files.size(), folders, MB(bytes), static_cast<std::size_t>(bytes / kMiB), small, middle,
        large, 100.0 * static_cast<double>(largeBytes) / static_cast<double>(bytes), MB(largest));
}

ClientTree GenerateClientTree(const std::string& root, std::uint64_t total, std::size_t count,
                              std::uint64_t seed) {
    Random random(seed);
    const std::vector<FolderKind> folders = ClientFolders();
    std::uint32_t weights = 0;
    for (const FolderKind& folder : folders)
        weights += folder.weight;
    const FolderKind packs{"packs", ".pak", Content::Archive, 0};
    const FolderKind video{"video", ".bik", Content::Media, 0};
    const std::size_t large = std::max<std::size_t>(1, count / 100);
    const std::vector<std::uint64_t> sizes = ClientFileSizes(total, count, large, random);

    ClientTree tree;
    tree.root = root;
    std::set<std::string> made;
    std::string buffer;
    for (std::size_t i = 0; i < count; ++i) {
        const FolderKind* folder = nullptr;
        if (i < large) {
            folder = random.Below(10) < 7 ? &packs : &video;
        } else {
            std::uint32_t pick = random.Below(weights);
            for (const FolderKind& candidate : folders) {
                if (pick < candidate.weight) {
                    folder = &candidate;
                    break;
                }
                pick -= candidate.weight;
            }
        }
        std::string name;
        if (folder->path.starts_with("Мир"))
            name = Format("карта %05zu", i);
        else
            name = Format("%s_%s_%05zu", random.Pick(kAdjectives), random.Pick(kNouns), i);
        // A few names as Windows programs write them: capitals and blanks.
        if (i % 37 == 0 && name[0] >= 'a' && name[0] <= 'z')
            name[0] = static_cast<char>(name[0] - 'a' + 'A');
        if (i % 53 == 0)
            std::replace(name.begin(), name.end(), '_', ' ');
        ClientFile file{folder->path + "/" + name + folder->extension, sizes[i], {}};
        if (made.insert(folder->path).second) {
            fs::create_directories(root + "/" + folder->path);
            for (fs::path parent(folder->path); !parent.empty(); parent = parent.parent_path())
                made.insert(parent.string());
        }
        file.digest =
            WriteClientFile(root + "/" + file.path, folder->content, file.size, random, buffer);
        tree.bytes += file.size;
        tree.files.push_back(std::move(file));
    }
    tree.folders = made.size();
    std::sort(tree.files.begin(), tree.files.end(),
              [](const ClientFile& a, const ClientFile& b) { return a.path < b.path; });
    return tree;
}

void WarmTree(const ClientTree& tree, const std::string& root) {
    for (const ClientFile& file : tree.files)
        WarmCache(root + "/" + file.path);
}

std::vector<std::string> ManifestEntries(const ClientTree& tree) {
    std::vector<std::string> entries;
    for (const ClientFile& file : tree.files) {
        const std::optional<std::string> path = platform::LocalPathToManifest(file.path);
        Check(path.has_value(), "the manifest cannot name " + file.path);
        entries.push_back(*path + "|" + file.digest + "|" + std::to_string(file.size));
    }
    return entries;
}

std::vector<std::string> Md5sumCommand(const ClientTree& tree) {
    std::vector<std::string> command{"md5sum", "--"};
    for (const ClientFile& file : tree.files)
        command.push_back(file.path);
    return command;
}

void CheckMd5sumOutput(const ClientTree& tree, const std::string& output) {
    std::ifstream in(output, std::ios::binary);
    std::map<std::string, std::string> digests;
    for (std::string line; std::getline(in, line);) {
        Check(line.size() > 34 && line[32] == ' ' && line[33] == ' ',
              "unexpected output of md5sum: " + line);
        digests[line.substr(34)] = line.substr(0, 32);
    }
    Check(digests.size() == tree.files.size(), "md5sum gave " + std::to_string(digests.size()) +
                                                   " digests for " +
                                                   std::to_string(tree.files.size()) + " files");
    for (const ClientFile& file : tree.files) {
        const auto found = digests.find(file.path);
        Check(found != digests.end() && found->second == file.digest,
              "md5sum's digest of " + file.path + " differs from the manifest's");
    }
}

} // namespace bench
