// Times the engine's decompression, file digests and downloads against the
// standard tools doing the same work on the same data (bzip2 -d, md5sum and
// curl), and prints the throughput of each side and their ratio: the tool's
// time over ours, so 1.00 means as fast as the tool and more means faster.
//
//   quenmor-bench [--dir FOLDER] [--url BASE] [--size-mb N] [--runs N]
//
// The data, a client-like mix of incompressible media, binary tables, mesh
// data and text, is generated in FOLDER (a fresh temporary folder, removed at
// the end, when none is given); every file made there is removed at the end.
// BASE is the address under which a web server serves FOLDER: the download
// benchmark needs it and is skipped without it. Figures are the best and the
// median of the runs, which alternate between our side and the tool's. A result
// that differs from the tool's ends the program with exit status 1.

#include "Files.h"
#include "GetFilesThr.h"
#include "md5.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// ---------------------------------------------------------------------------
// Helpers.

struct Options {
    std::string dir;
    std::string url;
    std::size_t sizeMiB = 100;
    int runs = 3;
};

[[noreturn]] void Usage() {
    std::fprintf(stderr, "usage: quenmor-bench [--dir FOLDER] [--url BASE] [--size-mb N] "
                         "[--runs N]\n");
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc)
            Usage();
        const std::string value = argv[++i];
        if (name == "--dir") {
            options.dir = value;
        } else if (name == "--url") {
            options.url = value;
            if (!options.url.empty() && options.url.back() != '/')
                options.url += '/';
        } else if (name == "--size-mb") {
            options.sizeMiB = std::strtoul(value.c_str(), nullptr, 10);
            if (options.sizeMiB == 0 || options.sizeMiB > 4096)
                Usage();
        } else if (name == "--runs") {
            options.runs = std::atoi(value.c_str());
            if (options.runs < 1 || options.runs > 20)
                Usage();
        } else {
            Usage();
        }
    }
    return options;
}

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double MBps(std::uint64_t bytes, double seconds) {
    return static_cast<double>(bytes) / 1e6 / seconds;
}

void Check(bool condition, const std::string& what) {
    if (!condition)
        throw std::runtime_error(what);
}

// Runs a program to its end, with its standard output sent to `output` when
// one is given; fails unless it exits with status 0.
void RunTool(const std::vector<std::string>& args, const std::string& output = {}) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!output.empty())
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Check(error == 0, "cannot run " + args[0] + ": " + std::strerror(error));
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        Check(errno == EINTR, "cannot wait for " + args[0] + ": " + std::strerror(errno));
    Check(WIFEXITED(status) && WEXITSTATUS(status) == 0, args[0] + " failed");
}

void RemoveFile(const std::string& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

std::uint64_t FileSize(const std::string& path) {
    return fs::file_size(path);
}

bool SameContent(const std::string& a, const std::string& b) {
    const platform::MappedFile first(a);
    const platform::MappedFile second(b);
    return first.size() == second.size() &&
           (first.size() == 0 || std::memcmp(first.data(), second.data(), first.size()) == 0);
}

// Reads a whole file once so that the timed reads find it in the page cache.
void WarmCache(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    Check(file != nullptr, "cannot open " + path);
    std::vector<char> buffer(kMiB);
    while (std::fread(buffer.data(), 1, buffer.size(), file) == buffer.size()) {
    }
    std::fclose(file);
}

// Flushes what earlier runs left to write, so that no run pays for another.
void Settle() {
    ::sync();
}

// The working folder and the files made in it, removed at the end.
class Workspace {
public:
    explicit Workspace(const std::string& dir) {
        if (dir.empty()) {
            const char* tmp = std::getenv("TMPDIR");
            std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quenmor-bench.XXXXXX";
            Check(::mkdtemp(pattern.data()) != nullptr, "cannot create a temporary folder");
            dir_ = pattern;
            owned_ = true;
        } else {
            dir_ = dir;
            Check(fs::is_directory(dir_), dir_ + " is not a folder");
        }
    }
    ~Workspace() {
        std::error_code ignored;
        if (owned_)
            fs::remove_all(dir_, ignored);
        else
            for (const std::string& path : made_)
                fs::remove(path, ignored);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // The path of a file of the workspace, removed at the end.
    std::string File(const std::string& name) {
        std::string path = dir_ + "/" + name;
        made_.push_back(path);
        return path;
    }

private:
    std::string dir_;
    bool owned_ = false;
    std::vector<std::string> made_;
};

// A host that only counts what it is told.
class CountingTarget final : public TUpdateTarget {
public:
    void LockCommands() override { ++total; }
    void ShowStatus(const std::string&) override { ++total; }
    void SetFileGaugeMax(std::int32_t) override { ++total; }
    void SetTotalGaugeMax(std::int32_t) override { ++total; }
    void SetFileProgress(std::int32_t) override {
        ++total;
        ++fileProgress;
    }
    void SetTotalProgress(std::int32_t) override { ++total; }
    void StoreRevision(const std::string&) override { ++total; }
    void UnlockCommands() override { ++total; }

    void Reset() { total = fileProgress = 0; }

    std::int64_t total = 0;
    std::int64_t fileProgress = 0;
};

// The figures of one benchmark: times of our side and of the tool's.
struct Result {
    std::string name;
    std::string tool;
    std::uint64_t bytes = 0;
    double target = 0;
    std::vector<double> ours;
    std::vector<double> theirs;
    std::vector<std::string> notes;
};

double Best(const std::vector<double>& times) {
    return *std::min_element(times.begin(), times.end());
}

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

void PrintRun(const Result& result, int run) {
    const auto i = static_cast<std::size_t>(run);
    std::printf("  %-9s run %d: ours %7.3f s, %-9s %7.3f s\n", result.name.c_str(), run + 1,
                result.ours[i], result.tool.c_str(), result.theirs[i]);
    std::fflush(stdout);
}

void PrintResult(const Result& r) {
    const double ours = Best(r.ours);
    const double theirs = Best(r.theirs);
    const double ratio = theirs / ours;
    std::printf("%-9s ours %7.1f MB/s  %-9s %7.1f MB/s  ratio %.2f (target >= %.2f)%s\n",
                r.name.c_str(), MBps(r.bytes, ours), r.tool.c_str(), MBps(r.bytes, theirs), ratio,
                r.target, ratio < r.target ? "  BELOW TARGET" : "");
    std::printf("          median: ours %7.1f MB/s  %-9s %7.1f MB/s  ratio %.2f\n",
                MBps(r.bytes, Median(r.ours)), r.tool.c_str(), MBps(r.bytes, Median(r.theirs)),
                Median(r.theirs) / Median(r.ours));
    for (const std::string& note : r.notes)
        std::printf("          %s\n", note.c_str());
}

// ---------------------------------------------------------------------------
// Test data: what a game client's files hold, in pieces of a few hundred
// kilobytes to a few megabytes each.

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
        const std::uint32_t kind = random.Below(100);
        if (kind < 30)
            AppendMedia(piece, size, random);
        else if (kind < 50)
            AppendMesh(piece, size, random);
        else if (kind < 75)
            AppendRecords(piece, size, random);
        else
            AppendText(piece, size, random);
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
// The benchmarks.

Result BenchUnpack(Workspace& work, const std::string& data, const std::string& packed, int runs) {
    Result result{"unpack", "bzip2 -d", FileSize(data), 0.95, {}, {}, {}};
    const std::string copy = work.File("ours.bz2");
    const std::string ours = work.File("ours.out");
    const std::string theirs = work.File("bzip2.out");
    CountingTarget target;
    // Unpack flushes its output to disk before it puts it in place; bzip2 -d
    // does not. The tool followed by an fsync shows what that costs.
    std::vector<double> flushed;
    const auto decompress = [&] { RunTool({"bzip2", "-dc", packed}, theirs); };
    WarmCache(packed);
    for (int run = 0; run < runs; ++run) {
        fs::copy_file(packed, copy, fs::copy_options::overwrite_existing);
        RemoveFile(ours);
        Settle();
        target.Reset();
        GFilesThread thread(target);
        result.ours.push_back(Seconds([&] { thread.Unpack(copy, ours); }));
        Check(!fs::exists(copy), "Unpack left the compressed file behind");

        RemoveFile(theirs);
        Settle();
        result.theirs.push_back(Seconds(decompress));
        PrintRun(result, run);
        if (run == 0) {
            Check(SameContent(theirs, data), "bzip2 -d did not restore the data");
            Check(SameContent(ours, theirs), "Unpack's output differs from bzip2 -d's");
            result.notes.push_back("output identical to bzip2 -d's; " +
                                   std::to_string(target.total) + " notifications per run for " +
                                   std::to_string(FileSize(packed)) + " compressed bytes");
        }

        RemoveFile(theirs);
        Settle();
        flushed.push_back(Seconds([&] {
            decompress();
            const int fd = ::open(theirs.c_str(), O_RDONLY | O_CLOEXEC);
            Check(fd >= 0 && ::fsync(fd) == 0, "cannot flush " + theirs);
            ::close(fd);
        }));
    }
    char line[160];
    std::snprintf(line, sizeof line,
                  "bzip2 -d + fsync of its output, as Unpack does: %.1f MB/s, ratio to that %.2f",
                  MBps(result.bytes, Best(flushed)), Best(flushed) / Best(result.ours));
    result.notes.push_back(line);
    RemoveFile(ours);
    RemoveFile(theirs);
    return result;
}

Result BenchDigest(Workspace& work, const std::string& data, int runs) {
    Result result{"md5", "md5sum", FileSize(data), 0.95, {}, {}, {}};
    const std::string output = work.File("md5sum.out");
    WarmCache(data);
    std::string digest;
    for (int run = 0; run < runs; ++run) {
        result.ours.push_back(Seconds([&] { digest = FileDigestText(data); }));
        result.theirs.push_back(Seconds([&] { RunTool({"md5sum", data}, output); }));
        PrintRun(result, run);
        if (run == 0) {
            char text[64] = {};
            std::FILE* file = std::fopen(output.c_str(), "rb");
            Check(file != nullptr, "cannot read md5sum's output");
            const std::size_t n = std::fread(text, 1, 32, file);
            std::fclose(file);
            Check(n == 32 && digest == std::string(text, 32),
                  "FileDigestText gives " + digest + ", md5sum " + std::string(text, n));
            result.notes.push_back("digest " + digest + " equals md5sum's");
        }
    }
    RemoveFile(output);
    return result;
}

Result BenchDownload(Workspace& work, const std::string& data, const std::string& url, int runs) {
    Result result{"download", "curl", FileSize(data), 0.50, {}, {}, {}};
    const std::string ours = work.File("download.ours");
    const std::string theirs = work.File("download.curl");
    CountingTarget target;
    WarmCache(data);
    for (int run = 0; run < runs; ++run) {
        RemoveFile(ours);
        Settle();
        target.Reset();
        GFilesThread thread(target);
        bool opened = false;
        result.ours.push_back(Seconds([&] { opened = thread.Download(url, ours, true); }));
        Check(opened, "Download could not open " + url);

        RemoveFile(theirs);
        Settle();
        result.theirs.push_back(Seconds([&] {
            RunTool({"curl", "-s", "--max-time", "300", "-o", theirs, url});
        }));
        PrintRun(result, run);
        if (run == 0) {
            Check(SameContent(ours, data), "Download's file differs from the served one");
            Check(SameContent(theirs, data), "curl's file differs from the served one");
            const std::int64_t blocks = static_cast<std::int64_t>((result.bytes + 1023) / 1024);
            Check(target.fileProgress >= blocks && target.fileProgress <= 2 * blocks + 8,
                  "Download sent " + std::to_string(target.fileProgress) +
                      " progress notifications for " + std::to_string(blocks) + " blocks");
            result.notes.push_back("file identical to the served one; " +
                                   std::to_string(target.fileProgress) +
                                   " progress notifications per run, size/1024 = " +
                                   std::to_string(result.bytes / 1024));
        }
    }
    RemoveFile(ours);
    RemoveFile(theirs);
    return result;
}

int Run(const Options& options) {
    Workspace work(options.dir);
    const std::string data = work.File("client.dat");
    const std::string packed = work.File("client.dat.bz2");

    const std::size_t total = options.sizeMiB * kMiB;
    std::printf("generating %zu MiB of client-like data ... ", options.sizeMiB);
    std::fflush(stdout);
    std::printf("%.1f s\n", Seconds([&] { GenerateClientData(data, total); }));
    std::printf("compressing it with bzip2 ... ");
    std::fflush(stdout);
    const double packing = Seconds([&] { RunTool({"bzip2", "-kf", data}); });
    std::printf("%.1f s, %llu bytes (%.0f%% of the data)\n", packing,
                static_cast<unsigned long long>(FileSize(packed)),
                100.0 * static_cast<double>(FileSize(packed)) / static_cast<double>(total));

    std::vector<Result> results;
    results.push_back(BenchUnpack(work, data, packed, options.runs));
    results.push_back(BenchDigest(work, data, std::max(options.runs, 5)));
    if (!options.url.empty())
        results.push_back(
            BenchDownload(work, data, options.url + "client.dat", std::max(options.runs, 5)));

    std::printf("\nresults (best of the runs; MB = 10^6 bytes; ratio = tool's time / ours)\n");
    for (const Result& result : results)
        PrintResult(result);
    if (options.url.empty())
        std::printf("download  skipped: no --url given\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    try {
        return Run(options);
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "\nquenmor-bench FAILED: %s\n", error.what());
        return 1;
    }
}
