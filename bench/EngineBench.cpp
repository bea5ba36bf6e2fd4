// Times the engine against the standard tools doing the same work on the same
// data, and prints the throughput of each side and their ratio: the tool's
// time over ours, so 1.00 means as fast as the tool and more means faster.
//
//   unpack    Unpack of one bzip2 file            against bzip2 -d
//   md5       FileDigestText of one file          against md5sum
//   download  Download of one file over HTTP      against curl
//   check     the file check of an update run over a whole up-to-date client
//             installation (TFileCheck::Check)  against md5sum of all
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
//   delta     quenmor-update bringing an installed client (1 GiB in 200
//             files, --delta-mb) to a revision that changed 1 % of its ten
//             large files, through the same proxy, against its floor: the
//             line time of what it fetched or cutting the ten installed files
//             on every core, whichever is longer (target: at most 1.3 times
//             it; see bench/DeltaBench.h for the other figures)
//
//   quenmor-bench [--dir FOLDER] [--url BASE] [--only NAME,...] [--runs N]
//                 [--size-mb N] [--check-mb N] [--check-files N]
//                 [--install-mb N] [--install-files N] [--install-runs N]
//                 [--wan-mb N] [--wan-files N] [--wan-runs N]
//                 [--wan-connections N] [--wan-sweep N,...] [--delta-mb N]
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

#include "BenchOptions.h"
#include "BenchSupport.h"
#include "CheckBench.h"
#include "ClientData.h"
#include "DeltaBench.h"
#include "FileBench.h"
#include "InstallBench.h"
#include "WanBench.h"
#include "WanProxy.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace bench {
namespace {

[[noreturn]] void Usage() {
    std::fprintf(stderr,
                 "usage: quenmor-bench [--dir FOLDER] [--url BASE] [--only NAME,...] [--runs N]\n"
                 "                     [--size-mb N] [--check-mb N] [--check-files N]\n"
                 "                     [--install-mb N] [--install-files N] [--install-runs N]\n"
                 "                     [--wan-mb N] [--wan-files N] [--wan-runs N]\n"
                 "                     [--wan-connections N] [--wan-sweep N,...] [--delta-mb N]\n"
                 "                     [--publish PROGRAM] [--update PROGRAM]\n"
                 "       quenmor-bench --url BASE --wan-proxy SECONDS\n"
                 "benchmarks: unpack, md5, download, check, install, wan, delta (all by "
                 "default)\n");
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
        } else if (name == "--delta-mb") {
            options.deltaMiB = Number(value, 700, 16384);
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
    if (options.Selected("delta")) // client, copies twice, the store, an installation
        trees = std::max<std::uint64_t>(trees, 5 * options.deltaMiB * kMiB);
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
    if (options.Selected("delta")) {
        const int port = LoopbackPort(options.url);
        if (port == 0)
            skipped.push_back("delta     skipped: no --url http://127.0.0.1:PORT/ given");
        else if (options.publish.empty() || options.update.empty())
            skipped.push_back("delta     skipped: no --publish and --update programs given");
        else
            results.push_back(BenchDelta(work, options, port));
    }

    std::printf("\nresults (best of the runs; MB = 10^6 bytes; ratio = tool's time / ours)\n");
    for (const Result& result : results)
        PrintResult(result);
    for (const std::string& line : skipped)
        std::printf("%s\n", line.c_str());
    return 0;
}

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

} // namespace
} // namespace bench

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--peak-of") == 0)
        return bench::PeakOf(argv + 2);
    const bench::Options options = bench::ParseOptions(argc, argv);
    try {
        if (options.proxySeconds > 0)
            return bench::RunProxy(options);
        return bench::Run(options);
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "\nquenmor-bench FAILED: %s\n", error.what());
        return 1;
    }
}
