// The wan benchmark (see WanBench.h).

#include "WanBench.h"

#include "ClientData.h"
#include "InstallBench.h"
#include "WanProxy.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace bench {

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

namespace {

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
// Its peak memory comes through `peak` (see PeakOf in
// EngineBench.cpp).
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
    Check(exit.status == 0 && LastStatus(log) == status::kAllUpdated,
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

} // namespace

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

} // namespace bench
