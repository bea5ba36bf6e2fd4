// Times the engine against the standard tools doing the same work on the same
// data, and prints the throughput of each side and their ratio: the tool's
// time over ours, so 1.00 means as fast as the tool and more means faster.
//
//   unpack    Unpack of one bzip2 file            against bzip2 -d
//   md5       FileDigestText of one file          against md5sum
//   download  Download of one file over HTTP      against curl
//   check     the file check of an update run over a whole up-to-date client
//             installation (GFilesThread::CheckFiles)  against md5sum of all
//             its files in one process (target: 1.7 times as fast) and in two
//             at once, xargs -P2 md5sum over the two halves of the list
//             (target: 0.85 of its speed)
//   install   quenmor-update installing a client from scratch from the update
//             server (a tree that quenmor-publish made)  against a shell loop
//             running curl and bzip2 -d for each file, and against xargs -P2
//             running bzip2 -dc over the published copies read from disk
//             (target: ours in at most 1.5 times its time)
//   wan       quenmor-update installing a client from scratch through a
//             loopback proxy with the delays and the line of a distant server
//             (bench/WanProxy.h: 50 ms round trip, one more per new
//             connection, one shared line of 100 Mbit/s towards the client)
//             against the floor: the line time of the compressed copies or
//             our own install straight from the web server, whichever is
//             longer (target: ours in at most 1.3 times the floor); also
//             curl --parallel --parallel-max 8 fetching the same copies
//             through the proxy, and the peak memory of quenmor-update
//             (target: at most 64 MB)
//
//   quenmor-bench [--dir FOLDER] [--url BASE] [--only NAME,...] [--runs N]
//                 [--size-mb N] [--check-mb N] [--check-files N]
//                 [--install-mb N] [--install-files N] [--install-runs N]
//                 [--wan-mb N] [--wan-files N] [--wan-runs N]
//                 [--wan-connections N] [--wan-sweep N,...]
//                 [--publish PROGRAM] [--update PROGRAM]
//   quenmor-bench --url BASE --wan-proxy SECONDS
//
// The data, a client-like mix of incompressible media, binary tables, mesh
// data and text, is generated in FOLDER (a fresh temporary folder, removed at
// the end, when none is given); everything made there is removed at the end.
// BASE is the address under which a web server serves FOLDER: the download,
// install and wan benchmarks need it and are skipped without it (wan needs it
// on 127.0.0.1, http://127.0.0.1:PORT/); install and wan also need the
// quenmor-publish and quenmor-update programs. --size-mb sizes the single
// file of unpack, md5 and download; --check-mb/--check-files, --install-mb/
// --install-files and --wan-mb/--wan-files size the client trees (MiB and
// number of files). --runs is the number of runs of each side (at least 5 for
// md5, download and check), --install-runs that of install (2 by default: its
// loop takes minutes), --wan-runs that of wan (1 by default). --wan-connections
// N passes --connections N to quenmor-update in wan (by default it runs with
// its own default); --wan-sweep 1,4,8,16 adds one wan install for each of
// those connection counts and prints their times in a note. --wan-proxy runs
// only the proxy of wan in front of BASE, for that many seconds, and prints
// its address: for trying quenmor-update through it by hand.
// Figures are the best and the median of the runs, which alternate between our
// side and the tool's. A result that differs from the tool's ends the program
// with exit status 1.

#include "Files.h"
#include "GetFilesThr.h"
#include "InstallLock.h"
#include "Text.h"
#include "WanProxy.h"
#include "md5.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// ---------------------------------------------------------------------------
// Helpers.

const std::array<const char*, 6> kBenchmarks = {"unpack", "md5",     "download",
                                                "check",  "install", "wan"};

struct Options {
    std::string dir;
    std::string url;
    std::set<std::string> only{kBenchmarks.begin(), kBenchmarks.end()};
    std::size_t sizeMiB = 100;
    std::size_t checkMiB = 1024;
    std::size_t checkFiles = 2500;
    std::size_t installMiB = 300;
    std::size_t installFiles = 2000;
    std::string publish;
    std::string update;
    std::size_t wanMiB = 90;
    std::size_t wanFiles = 1000;
    int runs = 3;
    int installRuns = 2; // the loop of the install benchmark takes minutes
    int wanRuns = 1;
    int wanConnections = 0;    // 0: quenmor-update's default
    std::vector<int> wanSweep; // connection counts for the note of wan
    int proxySeconds = 0;      // only the proxy of wan, for this long

    bool Selected(const std::string& name) const { return only.count(name) > 0; }
};

[[noreturn]] void Usage() {
    std::fprintf(stderr,
                 "usage: quenmor-bench [--dir FOLDER] [--url BASE] [--only NAME,...] [--runs N]\n"
                 "                     [--size-mb N] [--check-mb N] [--check-files N]\n"
                 "                     [--install-mb N] [--install-files N] [--install-runs N]\n"
                 "                     [--wan-mb N] [--wan-files N] [--wan-runs N]\n"
                 "                     [--wan-connections N] [--wan-sweep N,...]\n"
                 "                     [--publish PROGRAM] [--update PROGRAM]\n"
                 "       quenmor-bench --url BASE --wan-proxy SECONDS\n"
                 "benchmarks: unpack, md5, download, check, install, wan (all by default)\n");
    std::exit(2);
}

std::size_t Number(const std::string& value, std::size_t low, std::size_t high) {
    char* end = nullptr;
    const unsigned long long number = std::strtoull(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || number < low || number > high)
        Usage();
    return static_cast<std::size_t>(number);
}

std::set<std::string> BenchmarkList(const std::string& value) {
    std::set<std::string> names;
    std::stringstream list(value);
    for (std::string name; std::getline(list, name, ',');) {
        if (std::find(kBenchmarks.begin(), kBenchmarks.end(), name) == kBenchmarks.end())
            Usage();
        names.insert(name);
    }
    if (names.empty())
        Usage();
    return names;
}

// Connection counts of quenmor-update, "1,4,8,16".
std::vector<int> ConnectionList(const std::string& value) {
    std::vector<int> counts;
    std::stringstream list(value);
    for (std::string count; std::getline(list, count, ',');)
        if (counts.size() < 16)
            counts.push_back(static_cast<int>(Number(count, 1, 16)));
        else
            Usage();
    if (counts.empty())
        Usage();
    return counts;
}

// A program given by its path is found from the folders the tools run in.
std::string ProgramPath(const std::string& value) {
    return value.find('/') == std::string::npos ? value : fs::absolute(value).string();
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
        } else if (name == "--only") {
            options.only = BenchmarkList(value);
        } else if (name == "--size-mb") {
            options.sizeMiB = Number(value, 1, 4096);
        } else if (name == "--check-mb") {
            options.checkMiB = Number(value, 1, 65536);
        } else if (name == "--check-files") {
            options.checkFiles = Number(value, 10, 20000);
        } else if (name == "--install-mb") {
            options.installMiB = Number(value, 1, 16384);
        } else if (name == "--install-files") {
            options.installFiles = Number(value, 10, 20000);
        } else if (name == "--publish") {
            options.publish = ProgramPath(value);
        } else if (name == "--update") {
            options.update = ProgramPath(value);
        } else if (name == "--install-runs") {
            options.installRuns = static_cast<int>(Number(value, 1, 20));
        } else if (name == "--wan-mb") {
            options.wanMiB = Number(value, 1, 16384);
        } else if (name == "--wan-files") {
            options.wanFiles = Number(value, 10, 20000);
        } else if (name == "--wan-runs") {
            options.wanRuns = static_cast<int>(Number(value, 1, 20));
        } else if (name == "--wan-connections") {
            options.wanConnections = static_cast<int>(Number(value, 1, 16));
        } else if (name == "--wan-sweep") {
            options.wanSweep = ConnectionList(value);
        } else if (name == "--wan-proxy") {
            options.proxySeconds = static_cast<int>(Number(value, 1, 86400));
        } else if (name == "--runs") {
            options.runs = static_cast<int>(Number(value, 1, 20));
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

double MB(std::uint64_t bytes) {
    return static_cast<double>(bytes) / 1e6;
}

void Check(bool condition, const std::string& what) {
    if (!condition)
        throw std::runtime_error(what);
}

// Processor time (user and system) used so far by this process, all its
// threads, or by the children it has waited for and theirs.
double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The last lines of a small text file, for error messages.
std::string Tail(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    return text.size() > 600 ? "..." + text.substr(text.size() - 600) : text;
}

struct Spawn {
    std::string output; // the standard output goes to this file when given
    std::string errors; // and the standard error to this one
    std::string folder; // the program runs in this folder when given
};

// How a program ended.
struct Exit {
    int status = -1;       // its exit status, -1 when a signal ended it
    bool timedOut = false; // killed at the end of the time it was given
};

// A program that runs longer than this is killed: every run of a tool here
// takes minutes at the most.
constexpr double kToolLimitSeconds = 1800;

// Starts a program and returns its process number.
pid_t StartTool(const std::vector<std::string>& args, const Spawn& spawn) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!spawn.output.empty())
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, spawn.output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!spawn.errors.empty())
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, spawn.errors.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!spawn.folder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, spawn.folder.c_str());
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Check(error == 0, "cannot run " + args[0] + ": " + std::strerror(error));
    return pid;
}

// Waits for a program started by StartTool to end, at most `limit` seconds,
// after which it is killed.
Exit WaitTool(pid_t pid, const std::string& name, double limit) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(limit));
    Exit exit;
    const int handle = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            ::kill(pid, SIGKILL);
            exit.timedOut = true;
            break;
        }
        if (handle >= 0) {
            // Readable when the program has ended.
            pollfd ended{handle, POLLIN, 0};
            const int n = ::poll(&ended, 1, static_cast<int>(std::min<long long>(left, 60000)));
            Check(n >= 0 || errno == EINTR,
                  "cannot wait for " + name + ": " + std::strerror(errno));
            if (n > 0)
                break;
        } else {
            // A system without process handles: look every few milliseconds.
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == pid)
                break;
            ::usleep(2000);
        }
    }
    if (handle >= 0)
        ::close(handle);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        Check(errno == EINTR, "cannot wait for " + name + ": " + std::strerror(errno));
    exit.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exit;
}

// Runs a program to its end and returns how it ended.
Exit RunToolExit(const std::vector<std::string>& args, const Spawn& spawn,
                 double limit = kToolLimitSeconds) {
    const Exit exit = WaitTool(StartTool(args, spawn), args[0], limit);
    Check(!exit.timedOut, args[0] + " did not end within " +
                              std::to_string(static_cast<long long>(limit)) + " s and was killed");
    return exit;
}

// Runs a program to its end and returns its exit status (-1: ended by a signal).
int RunToolStatus(const std::vector<std::string>& args, const Spawn& spawn) {
    return RunToolExit(args, spawn).status;
}

// Runs a program to its end, with its standard output sent to `output` when
// one is given; fails unless it exits with status 0.
void RunTool(const std::vector<std::string>& args, const std::string& output = {}) {
    Check(RunToolStatus(args, {output, {}, {}}) == 0, args[0] + " failed");
}

void RemoveFile(const std::string& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

void RemoveFolder(const std::string& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
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

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    Check(file.good(), "cannot write " + path);
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
        // The tools run in folders of their own and are given absolute paths.
        dir_ = fs::absolute(dir_).string();
    }
    ~Workspace() {
        std::error_code ignored;
        if (owned_)
            fs::remove_all(dir_, ignored);
        else
            for (const std::string& path : made_)
                fs::remove_all(path, ignored);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // The path of a file or folder of the workspace, removed at the end.
    std::string File(const std::string& name) {
        std::string path = dir_ + "/" + name;
        made_.push_back(path);
        return path;
    }

    const std::string& Dir() const { return dir_; }

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

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(static_cast<std::size_t>(std::max(size, 0)) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    text.resize(text.size() - 1);
    return text;
}

// Another tool timed in the same runs as the first.
struct Reference {
    std::string tool;
    double target = 0; // the ratio (its time over ours) aimed at, none when 0
    std::string goal;  // the target in other words, printed beside it
    std::vector<double> times;
};

// The figures of one benchmark: times of our side and of the tools'.
struct Result {
    std::string name;
    std::string tool;
    std::uint64_t bytes = 0;
    double target = 0; // none when 0
    std::vector<double> ours;
    std::vector<double> theirs;
    std::vector<std::string> notes;
    std::vector<Reference> others;
    // Lines printed instead of the throughput of each side, when given.
    std::vector<std::string> summary;
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
    std::string line = Format("  %-9s run %d: ours %7.3f s, %-12s %7.3f s", result.name.c_str(),
                              run + 1, result.ours[i], result.tool.c_str(), result.theirs[i]);
    for (const Reference& other : result.others)
        if (i < other.times.size())
            line += Format(", %-12s %7.3f s", other.tool.c_str(), other.times[i]);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// A ratio with two decimals, or with three when two would round it onto the
// other side of its target.
std::string RatioText(double ratio, double target) {
    const std::string text = Format("%.2f", ratio);
    const double shown = std::strtod(text.c_str(), nullptr);
    const bool moved = (shown < target) != (ratio < target) || (shown > target) != (ratio > target);
    return target > 0 && moved ? Format("%.3f", ratio) : text;
}

// One side against one tool: "ours ... MB/s  tool ... MB/s  ratio ...".
std::string Comparison(const Result& r, const std::vector<double>& ours, const std::string& tool,
                       const std::vector<double>& theirs, double target, const std::string& goal) {
    const double ratio = Best(theirs) / Best(ours);
    std::string text =
        Format("ours %7.1f MB/s  %-12s %7.1f MB/s  ratio %s ", MBps(r.bytes, Best(ours)),
               tool.c_str(), MBps(r.bytes, Best(theirs)), RatioText(ratio, target).c_str());
    if (target <= 0)
        text += "(no target)";
    else
        text += Format("(target >= %.2f%s%s)%s", target, goal.empty() ? "" : ": ", goal.c_str(),
                       ratio < target ? "  BELOW TARGET" : "");
    text += Format("\n          median: ours %7.1f MB/s  %-12s %7.1f MB/s  ratio %.2f",
                   MBps(r.bytes, Median(ours)), tool.c_str(), MBps(r.bytes, Median(theirs)),
                   Median(theirs) / Median(ours));
    return text;
}

void PrintResult(const Result& r) {
    if (!r.summary.empty()) {
        for (std::size_t i = 0; i < r.summary.size(); ++i)
            std::printf("%-9s %s\n", i == 0 ? r.name.c_str() : "", r.summary[i].c_str());
    } else {
        std::printf("%-9s %s\n", r.name.c_str(),
                    Comparison(r, r.ours, r.tool, r.theirs, r.target, {}).c_str());
        for (const Reference& other : r.others)
            std::printf(
                "          %s\n",
                Comparison(r, r.ours, other.tool, other.times, other.target, other.goal).c_str());
    }
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

    std::string Describe() const {
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
        return Format("%zu files in %zu folders, %.1f MB (%zu MiB): %zu under 64 KiB, %zu from "
                      "64 KiB to 8 MiB, %zu of 8 MiB or more holding %.0f%% of the bytes "
                      "(largest %.1f MB)",
                      files.size(), folders, MB(bytes), static_cast<std::size_t>(bytes / kMiB),
                      small, middle, large,
                      100.0 * static_cast<double>(largeBytes) / static_cast<double>(bytes),
                      MB(largest));
    }
};

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

// Makes a client of `count` files and `total` bytes in `root`, a folder that
// does not exist yet.
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

// The manifest's entries for the files: "path|digest|size", the path with
// "\" between folders, in Windows-1251.
std::vector<std::string> ManifestEntries(const ClientTree& tree) {
    std::vector<std::string> entries;
    for (const ClientFile& file : tree.files) {
        const std::optional<std::string> path = platform::LocalPathToManifest(file.path);
        Check(path.has_value(), "the manifest cannot name " + file.path);
        entries.push_back(*path + "|" + file.digest + "|" + std::to_string(file.size));
    }
    return entries;
}

// md5sum with every path of the tree, relative to the folder it runs in.
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

std::string LastLine(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string last;
    for (std::string line; std::getline(in, line);)
        last = line;
    return last;
}

// The files a run's output says it checked.
std::size_t CheckedFiles(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(status::kCheckingFile) && line != status::kChecking)
            ++count;
    return count;
}

// Percent-encodes a relative path for an address, keeping "/".
std::string UrlPath(const std::string& path) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (const char ch : path) {
        const auto b = static_cast<unsigned char>(ch);
        if (std::isalnum(b) && b < 128)
            out += ch;
        else if (ch == '/' || ch == '-' || ch == '.' || ch == '_' || ch == '~')
            out += ch;
        else
            out += {'%', kHex[b >> 4], kHex[b & 0x0F]};
    }
    return out;
}

// Fails unless the installation holds exactly the client's files (its
// settings file and the lock file that update runs leave in it aside).
void CheckSameTree(const std::string& client, const std::string& installation,
                   const std::string& who, const std::string& output) {
    const int status = RunToolStatus({"diff", "-r", "-q", "--exclude=Quenmor.ini",
                                      std::string("--exclude=") + platform::kInstallLockName,
                                      client, installation},
                                     {output, output, {}});
    Check(status == 0,
          "the installation made by " + who + " differs from the client:\n" + Tail(output));
}

// ---------------------------------------------------------------------------
// The benchmarks.

Result BenchUnpack(Workspace& work, const std::string& data, const std::string& packed, int runs) {
    Result result{"unpack", "bzip2 -d", FileSize(data), 0.95, {}, {}, {}, {}, {}};
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
    Result result{"md5", "md5sum", FileSize(data), 0.95, {}, {}, {}, {}, {}};
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
    Result result{"download", "curl", FileSize(data), 0.50, {}, {}, {}, {}, {}};
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

// The paths of a tree in two halves for two processes at once: about the same
// bytes and the same number of files in each (the sizes taken largest first,
// each pair split between the halves, the larger to the lighter), a NUL after
// each path. `first` is the count of the first half, which is never the
// smaller one: xargs -0 -n `first` gives each half to a process of its own.
std::string HalvedList(const ClientTree& tree, std::size_t& first) {
    std::vector<const ClientFile*> files;
    for (const ClientFile& file : tree.files)
        files.push_back(&file);
    std::stable_sort(files.begin(), files.end(),
                     [](const ClientFile* a, const ClientFile* b) { return a->size > b->size; });
    std::array<std::vector<const ClientFile*>, 2> halves;
    std::array<std::uint64_t, 2> bytes{};
    for (std::size_t i = 0; i < files.size(); i += 2) {
        const std::size_t lighter = bytes[0] <= bytes[1] ? 0 : 1;
        halves[lighter].push_back(files[i]);
        bytes[lighter] += files[i]->size;
        if (i + 1 < files.size()) {
            halves[1 - lighter].push_back(files[i + 1]);
            bytes[1 - lighter] += files[i + 1]->size;
        }
    }
    if (halves[0].size() < halves[1].size())
        std::swap(halves[0], halves[1]);
    first = halves[0].size();
    std::string list;
    for (const auto& half : halves)
        for (const ClientFile* file : half)
            list += file->path + '\0';
    return list;
}

// The file check of an update run over a whole installation that is current,
// against md5sum reading the same files in one process, and in two at once.
Result BenchCheck(Workspace& work, const Options& options) {
    const std::string root = work.File("check-client");
    const std::string output = work.File("check-md5sum.out");
    const std::string list = work.File("check-halves.lst");
    const std::string pairOutput = work.File("check-xargs.out");
    std::printf("generating a client of %zu files, %zu MiB to check ... ", options.checkFiles,
                options.checkMiB);
    std::fflush(stdout);
    ClientTree tree;
    const double making = Seconds([&] {
        tree = GenerateClientTree(root, options.checkMiB * kMiB, options.checkFiles, 0xC4EC7ULL);
        Settle();
    });
    std::printf("%.1f s\n", making);
    Result result{"check", "md5sum", tree.bytes, 1.70, {}, {}, {}, {}, {}};
    result.others.push_back({"xargs md5sum", 0.85, {}, {}});
    result.notes.push_back(tree.Describe());

    const std::vector<std::string> entries = ManifestEntries(tree);
    const std::vector<std::string> md5sum = Md5sumCommand(tree);
    // Two md5sum processes at once, one for each half of the files. Their
    // output is line-buffered (stdbuf -oL) so that the lines of the two do not
    // cut into each other in the file they share.
    std::size_t first = 0;
    WriteText(list, HalvedList(tree, first));
    const std::vector<std::string> pair{
        "xargs", "-0",      "-a",     list,  "-P",     "2", "-n", std::to_string(first),
        "-s",    "1048576", "stdbuf", "-oL", "md5sum", "--"};
    CountingTarget target;
    std::vector<double> oursCpu, theirsCpu, pairCpu;
    WarmTree(tree, root);
    for (int run = 0; run < std::max(options.runs, 5); ++run) {
        target.Reset();
        GFilesThread thread(target);
        thread.BaseDir = root + "/";
        double cpu = CpuSeconds(RUSAGE_SELF);
        result.ours.push_back(Seconds([&] { thread.CheckFiles(entries); }));
        oursCpu.push_back(CpuSeconds(RUSAGE_SELF) - cpu);
        Check(thread.PendingFiles.empty(),
              std::to_string(thread.PendingFiles.size()) + " files found out of date, the first: " +
                  (thread.PendingFiles.empty() ? "" : thread.PendingFiles.front()));

        int code = 0;
        cpu = CpuSeconds(RUSAGE_CHILDREN);
        result.theirs.push_back(Seconds([&] { code = RunToolStatus(md5sum, {output, {}, root}); }));
        theirsCpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - cpu);
        Check(code == 0, "md5sum failed");

        cpu = CpuSeconds(RUSAGE_CHILDREN);
        result.others[0].times.push_back(Seconds([&] {
            code = RunToolStatus(pair, {pairOutput, {}, root});
        }));
        pairCpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - cpu);
        Check(code == 0, "xargs -P2 md5sum failed");
        PrintRun(result, run);
        if (run == 0) {
            CheckMd5sumOutput(tree, output);
            CheckMd5sumOutput(tree, pairOutput);
            result.notes.push_back("every file found current in every run; the digests of md5sum "
                                   "and of xargs -P2 md5sum equal the manifest's; " +
                                   std::to_string(target.total) + " notifications per run");
        }
    }
    result.notes.push_back(Format(
        "ours: GFilesThread::CheckFiles in this process; md5sum: one process given all %zu paths; "
        "xargs md5sum: xargs -P2 -n %zu running two md5sum processes at once, on halves of "
        "about the same bytes, their output line-buffered (stdbuf -oL) so that it does not mix",
        tree.files.size(), first));
    result.notes.push_back(
        Format("processor time per run (median): ours %.3f s, md5sum %.3f s, xargs md5sum %.3f s",
               Median(oursCpu), Median(theirsCpu), Median(pairCpu)));
    RemoveFolder(root);
    RemoveFile(output);
    RemoveFile(pairOutput);
    RemoveFile(list);
    return result;
}

// Fetches and unpacks every file of a list, one curl and one bzip2 each: the
// list holds the path of each file and its address under BASE, tab between.
constexpr const char* kInstallLoop = R"(set -u
cd "$1" || exit 1
base=$2
made=
while IFS=$'\t' read -r path url; do
    folder=${path%/*}
    if [ "$folder" != "$path" ] && [ "$folder" != "$made" ]; then
        mkdir -p -- "$folder" || exit 1
        made=$folder
    fi
    curl -s -f --max-time 300 -o "$path.bz2" "$base$url" && bzip2 -d -f -- "$path.bz2" || exit 1
done <"$3"
)";

// Unpacks the published copies of a list of files with bzip2 -dc, two
// processes at once, each file's output to its path: $1 the folder of the
// copies, $2 the folder to fill, $3 the paths (a NUL after each, the largest
// copies first, so that the two processes end together), $4 their folders (the
// same). Each sh takes a few files, to start fewer programs than one per file.
constexpr const char* kUnpackPair = R"(set -eu
cd "$2"
xargs -0 -r -a "$4" mkdir -p --
exec xargs -0 -a "$3" -P 2 -n 8 sh -c 'for path do bzip2 -dc -- "$0/$path.bz2" >"$path" || exit 255; done' "$1"
)";

// A client published with quenmor-publish.
struct Published {
    std::uint64_t copies = 0;                   // bytes of the compressed copies of the files
    std::uint64_t manifest = 0;                 // bytes of files.lst.bz2
    std::map<std::string, std::uint64_t> sizes; // of each file's copy, by the file's path
};

// Publishes the client as revision 1 into `www` and reads every file of the
// tree once, so that the web server serves them from the page cache.
Published PublishClient(const Options& options, const ClientTree& tree, const std::string& www,
                        const std::string& log, const std::string& errors) {
    std::printf("publishing it with quenmor-publish ... ");
    std::fflush(stdout);
    int code = 0;
    const double publishing = Seconds([&] {
        code =
            RunToolStatus({options.publish, tree.root, www, "--rev", "1", "--critical", "bin/**"},
                          {log, errors, {}});
    });
    Check(code == 0, "quenmor-publish failed:\n" + Tail(errors));
    Published published;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(www)) {
        if (!entry.is_regular_file())
            continue;
        WarmCache(entry.path().string());
        if (entry.path().filename() == "files.lst.bz2")
            published.manifest = entry.file_size();
        else
            published.copies += entry.file_size();
    }
    for (const ClientFile& file : tree.files) {
        const std::string copy = www + "/" + file.path + ".bz2";
        Check(fs::is_regular_file(copy), "quenmor-publish made no " + copy);
        published.sizes[file.path] = fs::file_size(copy);
    }
    std::printf("%.1f s, %.1f MB of compressed copies (%.0f%% of the client)\n", publishing,
                MB(published.copies),
                100.0 * static_cast<double>(published.copies) / static_cast<double>(tree.bytes));
    Settle();
    return published;
}

// A fresh installation from the update server: quenmor-update against the
// same files fetched with curl and unpacked with bzip2 -d one by one, and
// against the published copies unpacked by bzip2 -dc, two at once.
Result BenchInstall(Workspace& work, const Options& options) {
    const std::string client = work.File("install-client");
    const std::string www = work.File("install-www"); // served under BASE/install-www/
    const std::string ours = work.File("install-ours");
    const std::string loop = work.File("install-loop");
    const std::string hosts = work.File("install-hosts");
    const std::string log = work.File("install.log");
    const std::string errors = work.File("install.err");
    const std::string script = work.File("install-loop.sh");
    const std::string list = work.File("install-loop.lst");
    const std::string sums = work.File("install-md5sum.out");
    const std::string pair = work.File("install-xargs");
    const std::string pairScript = work.File("install-xargs.sh");
    const std::string pairList = work.File("install-xargs.lst");
    const std::string pairFolders = work.File("install-xargs-folders.lst");
    const std::string base = options.url + "install-www/";

    std::printf("generating a client of %zu files, %zu MiB to install ... ", options.installFiles,
                options.installMiB);
    std::fflush(stdout);
    ClientTree tree;
    std::printf("%.1f s\n", Seconds([&] {
                    tree = GenerateClientTree(client, options.installMiB * kMiB,
                                              options.installFiles, 0x1257A11ULL);
                }));
    const Published published = PublishClient(options, tree, www, log, errors);
    const std::uint64_t copies = published.copies;
    int code = 0;

    Result result{"install", "curl+bzip2", tree.bytes, 0, {}, {}, {}, {}, {}};
    result.others.push_back({"xargs bzip2", 1 / 1.5, "ours in at most 1.5 times its time", {}});
    result.notes.push_back(tree.Describe());
    if (options.installMiB < options.checkMiB && options.Selected("check"))
        result.notes.push_back("a smaller client than the check's, so that publishing it "
                               "stays within the benchmark's time");
    WriteText(script, kInstallLoop);
    std::string lines;
    for (const ClientFile& file : tree.files)
        lines += file.path + "\t" + UrlPath(file.path) + ".bz2\n";
    WriteText(list, lines);
    WriteText(pairScript, kUnpackPair);
    std::vector<const ClientFile*> largestFirst;
    std::set<std::string> folders;
    for (const ClientFile& file : tree.files) {
        largestFirst.push_back(&file);
        const std::string folder = fs::path(file.path).parent_path().string();
        if (!folder.empty())
            folders.insert(folder);
    }
    std::stable_sort(largestFirst.begin(), largestFirst.end(),
                     [&](const ClientFile* a, const ClientFile* b) {
                         return published.sizes.at(a->path) > published.sizes.at(b->path);
                     });
    lines.clear();
    for (const ClientFile* file : largestFirst)
        lines += file->path + '\0';
    WriteText(pairList, lines);
    lines.clear();
    for (const std::string& folder : folders)
        lines += folder + '\0';
    WriteText(pairFolders, lines);
    fs::create_directories(hosts); // the manifest leaves the hosts file alone
    const std::string settings = "[main]\r\nUpdatesUrl=" + base + "\r\nAtRevision=0\r\n";

    std::vector<double> oursCpu, theirsCpu, pairCpu, flushes, pairFlushes;
    for (int run = 0; run < options.installRuns; ++run) {
        RemoveFolder(ours);
        fs::create_directories(ours);
        WriteText(ours + "/Quenmor.ini", settings);
        Settle();
        double cpu = CpuSeconds(RUSAGE_CHILDREN);
        result.ours.push_back(Seconds([&] {
            code = RunToolStatus({options.update, "--hosts-dir", hosts}, {log, errors, ours});
        }));
        oursCpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - cpu);
        Check(code == 0 && LastLine(log) == status::kAllUpdated,
              "quenmor-update exited with status " + std::to_string(code) + ":\n" + Tail(log) +
                  Tail(errors));

        RemoveFolder(loop);
        fs::create_directories(loop);
        Settle();
        cpu = CpuSeconds(RUSAGE_CHILDREN);
        result.theirs.push_back(Seconds([&] {
            code = RunToolStatus({"bash", script, loop, base, list}, {{}, errors, {}});
        }));
        theirsCpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - cpu);
        Check(code == 0, "the curl and bzip2 loop failed:\n" + Tail(errors));
        flushes.push_back(Seconds(Settle));

        RemoveFolder(pair);
        fs::create_directories(pair);
        Settle();
        cpu = CpuSeconds(RUSAGE_CHILDREN);
        result.others[0].times.push_back(Seconds([&] {
            code = RunToolStatus({"sh", pairScript, www, pair, pairList, pairFolders},
                                 {{}, errors, {}});
        }));
        pairCpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - cpu);
        Check(code == 0, "xargs -P2 bzip2 -dc failed:\n" + Tail(errors));
        pairFlushes.push_back(Seconds(Settle));
        PrintRun(result, run);
        if (run == 0) {
            CheckSameTree(client, ours, "quenmor-update", errors);
            CheckSameTree(client, loop, "the curl and bzip2 loop", errors);
            CheckSameTree(client, pair, "xargs -P2 bzip2 -dc", errors);
            result.notes.push_back("the three installations equal the client (diff -r)");
        }
    }
    result.notes.push_back(Format(
        "compressed copies %.1f MB served by nginx on 127.0.0.1; ours: quenmor-update, one "
        "process, flushes each file to disk (fsync) before renaming it into place; the loop: "
        "one curl and one bzip2 -d process per file, no flush (the sync after its run took "
        "%.2f s, median)",
        MB(copies), Median(flushes)));
    result.notes.push_back(Format(
        "xargs bzip2: xargs -P2 -n 8 sh, each running bzip2 -dc for its files, largest copy "
        "first, reading the copies from disk (page cache), no download, no flush (the sync after "
        "its run took %.2f s, median)",
        Median(pairFlushes)));
    result.notes.push_back(Format(
        "processor time per run (median): ours %.2f s, curl+bzip2 loop %.2f s, xargs bzip2 %.2f s",
        Median(oursCpu), Median(theirsCpu), Median(pairCpu)));

    // The runner over the installation it made, which is current now: with
    // --full-check it digests every file and fetches nothing.
    RemoveFolder(loop);
    WarmTree(tree, ours);
    const std::vector<std::string> md5sum = Md5sumCommand(tree);
    std::vector<double> runner, tool;
    for (int run = 0; run < 3; ++run) {
        runner.push_back(Seconds([&] {
            code = RunToolStatus({options.update, "--full-check", "--hosts-dir", hosts},
                                 {log, errors, ours});
        }));
        Check(code == 0 && LastLine(log).empty() && CheckedFiles(log) == tree.files.size(),
              "quenmor-update --full-check did not find every file current:\n" + Tail(log));
        tool.push_back(Seconds([&] { code = RunToolStatus(md5sum, {sums, {}, ours}); }));
        Check(code == 0, "md5sum failed");
    }
    CheckMd5sumOutput(tree, sums);
    result.notes.push_back(
        Format("then quenmor-update --full-check of that installation (manifest from nginx, every "
               "file digested, nothing fetched): %.3f s, md5sum of its files %.3f s, ratio %.2f",
               Best(runner), Best(tool), Best(tool) / Best(runner)));

    for (const std::string& folder : {client, www, ours, loop, pair})
        RemoveFolder(folder);
    return result;
}

// ---------------------------------------------------------------------------
// An installation from a distant update server.

// The port of a base address on the loopback interface (http://127.0.0.1:PORT/),
// 0 for any other address.
int LoopbackPort(const std::string& url) {
    const std::string prefix = "http://127.0.0.1:";
    if (!url.starts_with(prefix))
        return 0;
    std::size_t at = prefix.size();
    int port = 0;
    for (; at < url.size() && at < prefix.size() + 5 &&
           std::isdigit(static_cast<unsigned char>(url[at]));
         ++at)
        port = port * 10 + (url[at] - '0');
    if (at == prefix.size() || port < 1 || port > 65535 || (at < url.size() && url[at] != '/'))
        return 0;
    return port;
}

// A string of a curl configuration file.
std::string CurlQuoted(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        if (ch == '\\' || ch == '"')
            out += '\\';
        out += ch;
    }
    return out + "\"";
}

struct UpdateRun {
    double seconds = 0;
    std::uint64_t peakMemory = 0; // ru_maxrss of quenmor-update, in bytes
};

// Installs the client from scratch with quenmor-update into `folder` from the
// update tree at `base`, and fails unless it completes.
// Its peak memory comes through `peak` (see PeakOf).
UpdateRun InstallFrom(const Options& options, const std::string& folder, const std::string& base,
                      const std::string& hosts, const std::vector<std::string>& extra,
                      const std::string& log, const std::string& errors, const std::string& peak) {
    RemoveFolder(folder);
    fs::create_directories(folder);
    WriteText(folder + "/Quenmor.ini", "[main]\r\nUpdatesUrl=" + base + "\r\nAtRevision=0\r\n");
    RemoveFile(peak);
    Settle();
    std::vector<std::string> args{fs::read_symlink("/proc/self/exe").string(),
                                  "--peak-of",
                                  peak,
                                  options.update,
                                  "--hosts-dir",
                                  hosts};
    args.insert(args.end(), extra.begin(), extra.end());
    UpdateRun run;
    Exit exit;
    run.seconds = Seconds([&] { exit = RunToolExit(args, {log, errors, folder}); });
    Check(exit.status == 0 && LastLine(log) == status::kAllUpdated,
          "quenmor-update from " + base + " exited with status " + std::to_string(exit.status) +
              ":\n" + Tail(log) + Tail(errors));
    std::ifstream in(peak);
    in >> run.peakMemory;
    Check(in && run.peakMemory > 0, "no peak memory of quenmor-update in " + peak);
    return run;
}

// The proxy of one run; its address for the tree served under BASE/wan-www/.
std::string ProxyBase(const bench::WanProxy& proxy) {
    return "http://127.0.0.1:" + std::to_string(proxy.Port()) + "/wan-www/";
}

void StopProxy(bench::WanProxy& proxy) {
    proxy.Stop();
    Check(proxy.Failure().empty(), proxy.Failure());
}

// A fresh installation through a proxy with the delays and the line of a
// distant server: quenmor-update against the floor (the line time of the
// compressed copies, or our own installation straight from the web server,
// whichever is longer), and curl fetching the same copies, 8 at once.
Result BenchWan(Workspace& work, const Options& options, int serverPort) {
    const std::string client = work.File("wan-client");
    const std::string www = work.File("wan-www"); // served under BASE/wan-www/
    const std::string near = work.File("wan-loopback");
    const std::string ours = work.File("wan-ours");
    const std::string fetched = work.File("wan-curl");
    const std::string hosts = work.File("wan-hosts");
    const std::string log = work.File("wan.log");
    const std::string errors = work.File("wan.err");
    const std::string config = work.File("wan-curl.cfg");
    const std::string peakFile = work.File("wan-peak.txt");
    const bench::WanLink link;
    // The proxy outlives the longest run it serves.
    const auto proxyLimit = std::chrono::seconds(static_cast<long>(kToolLimitSeconds) + 60);

    std::printf("generating a client of %zu files, %zu MiB to install through the proxy ... ",
                options.wanFiles, options.wanMiB);
    std::fflush(stdout);
    ClientTree tree;
    std::printf("%.1f s\n", Seconds([&] {
                    tree = GenerateClientTree(client, options.wanMiB * kMiB, options.wanFiles,
                                              0x3A7E11ULL);
                }));
    const Published published = PublishClient(options, tree, www, log, errors);
    fs::create_directories(hosts); // the manifest leaves the hosts file alone
    const double lineTime = static_cast<double>(published.copies) / link.lineBytesPerSecond;
    std::vector<std::string> connections;
    if (options.wanConnections > 0)
        connections = {"--connections", std::to_string(options.wanConnections)};

    Result result{"wan", "curl -Z", tree.bytes, 0, {}, {}, {}, {}, {}};
    result.others.push_back({"from nginx", 0, {}, {}});
    std::vector<double>& loopback = result.others[0].times;
    std::uint64_t peak = 0;
    bench::WanCounters seen;
    for (int run = 0; run < options.wanRuns; ++run) {
        // Ours straight from nginx, for the floor.
        loopback.push_back(InstallFrom(options, near, options.url + "wan-www/", hosts, connections,
                                       log, errors, peakFile)
                               .seconds);

        {
            bench::WanProxy proxy(serverPort, link, proxyLimit);
            const UpdateRun far = InstallFrom(options, ours, ProxyBase(proxy), hosts, connections,
                                              log, errors, peakFile);
            StopProxy(proxy);
            result.ours.push_back(far.seconds);
            peak = std::max(peak, far.peakMemory);
            if (run == 0)
                seen = proxy.Counters();
        }
        CheckSameTree(client, ours, "quenmor-update through the proxy", errors);

        {
            bench::WanProxy proxy(serverPort, link, proxyLimit);
            std::string lines;
            const auto transfer = [&](const std::string& path) {
                lines += "url = " + CurlQuoted(ProxyBase(proxy) + UrlPath(path)) + "\n" +
                         "output = " + CurlQuoted(fetched + "/" + path) + "\n";
            };
            transfer("files.lst.bz2");
            for (const ClientFile& file : tree.files)
                transfer(file.path + ".bz2");
            WriteText(config, lines);
            RemoveFolder(fetched);
            Settle();
            int code = 0;
            result.theirs.push_back(Seconds([&] {
                code = RunToolStatus({"curl", "--parallel", "--parallel-max", "8", "-s", "-S", "-f",
                                      "--create-dirs", "--max-time", "600", "-K", config},
                                     {{}, errors, {}});
            }));
            StopProxy(proxy);
            Check(code == 0, "curl --parallel through the proxy failed with status " +
                                 std::to_string(code) + ":\n" + Tail(errors));
        }
        PrintRun(result, run);
        if (run == 0) {
            CheckSameTree(client, near, "quenmor-update from nginx", errors);
            Check(SameContent(www + "/files.lst.bz2", fetched + "/files.lst.bz2"),
                  "curl's files.lst.bz2 differs from the published one");
            for (const ClientFile& file : tree.files)
                Check(
                    SameContent(www + "/" + file.path + ".bz2", fetched + "/" + file.path + ".bz2"),
                    "curl's copy of " + file.path + " differs from the published one");
        }
    }

    // One install for each connection count asked for, for a note.
    struct Sweep {
        int count = 0;
        UpdateRun run;
        bench::WanCounters counters;
    };
    std::vector<Sweep> sweep;
    for (const int count : options.wanSweep) {
        bench::WanProxy proxy(serverPort, link, proxyLimit);
        const UpdateRun far =
            InstallFrom(options, ours, ProxyBase(proxy), hosts,
                        {"--connections", std::to_string(count)}, log, errors, peakFile);
        StopProxy(proxy);
        CheckSameTree(client, ours, "quenmor-update through the proxy", errors);
        sweep.push_back({count, far, proxy.Counters()});
        std::printf("  wan       --connections %2d: %7.3f s\n", count, far.seconds);
        std::fflush(stdout);
    }

    const double floor = std::max(lineTime, Best(loopback));
    const double ratio = Best(result.ours) / floor;
    const double medianFloor = std::max(lineTime, Median(loopback));
    result.summary.push_back(Format("ours %8.2f s  floor %8.2f s  ours/floor %s (target <= 1.30)%s",
                                    Best(result.ours), floor, RatioText(ratio, 1.3).c_str(),
                                    ratio > 1.3 ? "  OVER TARGET" : ""));
    result.summary.push_back(Format("median: ours %8.2f s  floor %8.2f s  ours/floor %.2f",
                                    Median(result.ours), medianFloor,
                                    Median(result.ours) / medianFloor));
    result.summary.push_back(Format(
        "floor: the larger of the line time of the copies, %.2f s (%.1f MB at 100 Mbit/s), and "
        "ours straight from nginx on 127.0.0.1 (no proxy), %.2f s",
        lineTime, MB(published.copies), Best(loopback)));
    result.summary.push_back(
        Format("curl --parallel --parallel-max 8 through the same proxy (the same copies and "
               "files.lst.bz2, to files, not unpacked): %.2f s, ours/curl %.2f",
               Best(result.theirs), Best(result.ours) / Best(result.theirs)));
    result.summary.push_back(
        Format("peak memory of quenmor-update (ru_maxrss): %.1f MB (target <= 64 MB)%s", MB(peak),
               MB(peak) > 64 ? "  OVER TARGET" : ""));

    result.notes.push_back(tree.Describe());
    result.notes.push_back(Format(
        "%.1f MB of compressed copies (%.0f%% of the client) and a manifest of %.0f KB, published "
        "with quenmor-publish and served by nginx on 127.0.0.1",
        MB(published.copies),
        100.0 * static_cast<double>(published.copies) / static_cast<double>(tree.bytes),
        static_cast<double>(published.manifest) / 1e3));
    result.notes.push_back(
        "the proxy (a thread of this program, one epoll loop on 127.0.0.1): 25 ms each way, "
        "a new connection's first request leaves 50 ms after its accept (one more round trip), "
        "one line of 100 Mbit/s towards the client shared by all connections, requests not "
        "limited");
    result.notes.push_back(
        Format("quenmor-update ran with %s; through the proxy (first run): %llu connections, at "
               "most %llu at once, %.1f MB towards the client, the line busy %.0f%% of the run",
               options.wanConnections > 0
                   ? ("--connections " + std::to_string(options.wanConnections)).c_str()
                   : "its default number of connections",
               static_cast<unsigned long long>(seen.connections),
               static_cast<unsigned long long>(seen.mostOpen), MB(seen.bytesDown),
               100.0 * static_cast<double>(seen.bytesDown) / link.lineBytesPerSecond /
                   result.ours.front()));
    result.notes.push_back("every installation equals the client (diff -r); curl's files equal "
                           "the published ones");
    if (!sweep.empty())
        result.notes.push_back("connection counts (one install through the proxy for each):");
    for (const Sweep& line : sweep)
        result.notes.push_back(
            Format("  --connections %2d: %7.2f s, ours/floor %5.2f, peak memory %5.1f MB, %llu "
                   "connections, at most %llu at once",
                   line.count, line.run.seconds, line.run.seconds / floor, MB(line.run.peakMemory),
                   static_cast<unsigned long long>(line.counters.connections),
                   static_cast<unsigned long long>(line.counters.mostOpen)));

    for (const std::string& folder : {client, www, near, ours, fetched})
        RemoveFolder(folder);
    return result;
}

// ---------------------------------------------------------------------------

std::uint64_t AvailableMemory() {
    std::ifstream in("/proc/meminfo");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with("MemAvailable:"))
            return std::strtoull(line.c_str() + 13, nullptr, 10) * 1024;
    return 0;
}

void CheckFreeSpace(const std::string& dir, const Options& options) {
    std::uint64_t need = 64 * kMiB;
    if (options.Selected("unpack") || options.Selected("md5") || options.Selected("download"))
        need += 4 * options.sizeMiB * kMiB; // the data, its compressed copy, two outputs
    std::uint64_t trees = 0;
    if (options.Selected("check"))
        trees = options.checkMiB * kMiB;
    if (options.Selected("install")) // client, copies, three installations
        trees = std::max<std::uint64_t>(trees, 5 * options.installMiB * kMiB);
    if (options.Selected("wan")) // client, copies, two installations, curl's copies
        trees = std::max<std::uint64_t>(trees, 5 * options.wanMiB * kMiB);
    need += trees;
    struct statvfs disk {};
    Check(::statvfs(dir.c_str(), &disk) == 0, "cannot query the free space of " + dir);
    const std::uint64_t free = static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
    if (free < need)
        throw std::runtime_error(Format(
            "not enough free space in %s: these benchmarks need about %.0f MB and only %.0f MB "
            "are free. Point TMPDIR at a larger disk or make the data smaller (--size-mb, "
            "--check-mb, --install-mb, --wan-mb).",
            dir.c_str(), MB(need), MB(free)));
    std::printf("working in %s: about %.0f MB needed, %.0f MB free\n", dir.c_str(), MB(need),
                MB(free));
    const std::uint64_t memory = AvailableMemory();
    if (options.Selected("check") && memory > 0 && options.checkMiB * kMiB > memory / 10 * 8)
        std::printf("warning: the client to check (%zu MiB) hardly fits in the %.0f MB of "
                    "available memory; its timings will include disk reads\n",
                    options.checkMiB, MB(memory));
}

int Run(const Options& options) {
    Workspace work(options.dir);
    CheckFreeSpace(work.Dir(), options);
    std::vector<Result> results;
    std::vector<std::string> skipped;

    if (options.Selected("unpack") || options.Selected("md5") || options.Selected("download")) {
        const std::string data = work.File("client.dat");
        const std::string packed = work.File("client.dat.bz2");
        const std::size_t total = options.sizeMiB * kMiB;
        std::printf("generating %zu MiB of client-like data ... ", options.sizeMiB);
        std::fflush(stdout);
        std::printf("%.1f s\n", Seconds([&] { GenerateClientData(data, total); }));
        if (options.Selected("unpack")) {
            std::printf("compressing it with bzip2 ... ");
            std::fflush(stdout);
            const double packing = Seconds([&] { RunTool({"bzip2", "-kf", data}); });
            std::printf("%.1f s, %llu bytes (%.0f%% of the data)\n", packing,
                        static_cast<unsigned long long>(FileSize(packed)),
                        100.0 * static_cast<double>(FileSize(packed)) / static_cast<double>(total));
            results.push_back(BenchUnpack(work, data, packed, options.runs));
        }
        if (options.Selected("md5"))
            results.push_back(BenchDigest(work, data, std::max(options.runs, 5)));
        if (options.Selected("download")) {
            if (options.url.empty())
                skipped.push_back("download  skipped: no --url given");
            else
                results.push_back(BenchDownload(work, data, options.url + "client.dat",
                                                std::max(options.runs, 5)));
        }
        RemoveFile(data);
        RemoveFile(packed);
    }
    if (options.Selected("check"))
        results.push_back(BenchCheck(work, options));
    if (options.Selected("install")) {
        if (options.url.empty())
            skipped.push_back("install   skipped: no --url given");
        else if (options.publish.empty() || options.update.empty())
            skipped.push_back("install   skipped: no --publish and --update programs given");
        else
            results.push_back(BenchInstall(work, options));
    }
    if (options.Selected("wan")) {
        const int port = LoopbackPort(options.url);
        if (options.url.empty())
            skipped.push_back("wan       skipped: no --url given");
        else if (port == 0)
            skipped.push_back("wan       skipped: --url is not http://127.0.0.1:PORT/");
        else if (options.publish.empty() || options.update.empty())
            skipped.push_back("wan       skipped: no --publish and --update programs given");
        else
            results.push_back(BenchWan(work, options, port));
    }

    std::printf("\nresults (best of the runs; MB = 10^6 bytes; ratio = tool's time / ours)\n");
    for (const Result& result : results)
        PrintResult(result);
    for (const std::string& line : skipped)
        std::printf("%s\n", line.c_str());
    return 0;
}

} // namespace

// The proxy of wan alone in front of the web server at BASE, for trying a
// program through it by hand.
int RunProxy(const Options& options) {
    const int port = LoopbackPort(options.url);
    Check(port != 0, "--wan-proxy needs --url http://127.0.0.1:PORT/");
    bench::WanProxy proxy(port, bench::WanLink{}, std::chrono::seconds(options.proxySeconds));
    std::printf("the proxy forwards http://127.0.0.1:%d/ to %s for %d s (25 ms each way, a round "
                "trip more per new connection, 100 Mbit/s towards the client)\n",
                proxy.Port(), options.url.c_str(), options.proxySeconds);
    std::fflush(stdout);
    while (proxy.Failure().empty() && proxy.Running())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const bench::WanCounters counters = proxy.Counters();
    std::printf("%llu connections, at most %llu at once, %.1f MB towards the client, %.1f KB "
                "towards the server\n",
                static_cast<unsigned long long>(counters.connections),
                static_cast<unsigned long long>(counters.mostOpen), MB(counters.bytesDown),
                static_cast<double>(counters.bytesUp) / 1e3);
    return 0;
}

// quenmor-bench --peak-of FILE PROGRAM [ARGUMENT...]: runs the program, writes
// its peak memory (ru_maxrss, in bytes) into FILE and exits as the program did.
// A child's ru_maxrss also counts what the process it was started from held
// at that moment (its memory until the exec), so a program whose memory is
// measured is started from this small process, not from the benchmark with
// its client data and its proxy. Both end when the benchmark does.
int PeakOf(char** argv) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const pid_t self = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("quenmor-bench --peak-of: fork");
        return 127;
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() == self)
            ::execvp(argv[1], argv + 1);
        std::perror("quenmor-bench --peak-of: exec");
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR)
            return 127;
    std::FILE* file = std::fopen(argv[0], "w");
    if (file == nullptr ||
        std::fprintf(file, "%llu\n", static_cast<unsigned long long>(usage.ru_maxrss) * 1024) < 0 ||
        std::fclose(file) != 0)
        return 127;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--peak-of") == 0)
        return PeakOf(argv + 2);
    const Options options = ParseOptions(argc, argv);
    try {
        if (options.proxySeconds > 0)
            return RunProxy(options);
        return Run(options);
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "\nquenmor-bench FAILED: %s\n", error.what());
        return 1;
    }
}
