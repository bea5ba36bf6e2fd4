// The delta benchmark (see DeltaBench.h).

#include "DeltaBench.h"

#include "ClientData.h"
#include "WanProxy.h"

#include "Chunker.h"
#include "md5.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace bench {
namespace {

constexpr std::size_t kFiles = 200;
constexpr std::size_t kLargeFiles = 10;
constexpr std::uint64_t kLargeSize = 60 * kMiB;

// Bytes that neither bzip2 nor zstd can make smaller.
std::string Noise(std::size_t size, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::string out;
    out.reserve(size + 8);
    while (out.size() < size) {
        const std::uint64_t value = random();
        out.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    out.resize(size);
    return out;
}

void WriteFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    Check(static_cast<bool>(out.flush()), "cannot write " + path);
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string FileName(std::size_t k) {
    return k < kLargeFiles ? Format("data/pack%02zu.pak", k)
                           : Format("data/%02zu/file%03zu.dat", k % 17, k);
}

// The client: ten large files, the rest of `total` spread over the others;
// every file half archive content (client-like) and half noise.
void MakeClient(const std::string& root, std::uint64_t total) {
    const std::uint64_t rest = total - std::min(total, kLargeFiles * kLargeSize);
    for (std::size_t k = 0; k < kFiles; ++k) {
        const std::uint64_t size =
            k < kLargeFiles ? kLargeSize : rest / (kFiles - kLargeFiles) + (k * 7919) % 4096;
        WriteFile(root + "/" + FileName(k),
                  ClientArchiveBytes(size / 2, 0xC11E47ULL + k) + Noise(size - size / 2, k));
    }
}

// 1 % of a large file's bytes changed in runs of 48 to 160 KiB at random
// places: inserted, removed or overwritten in turn, as a patch of a few maps
// in an archive does.
std::string Edited(std::string content, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    const std::size_t budget = content.size() / 100;
    std::size_t changed = 0;
    for (int k = 0; changed < budget; ++k) {
        const std::size_t length =
            std::min<std::size_t>(budget - changed, 48 * 1024 + random() % (112 * 1024));
        const std::size_t at = random() % (content.size() - length);
        switch (k % 3) {
        case 0:
            content.insert(at, Noise(length, random()));
            break;
        case 1:
            content.erase(at, length);
            break;
        default:
            content.replace(at, length, Noise(length, random()));
        }
        changed += length;
    }
    return content;
}

// Cuts the files as a delta run does and digests every chunk, on every core.
double ChunkingTime(const std::vector<std::string>& paths) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::atomic<std::size_t> next{0};
    return Seconds([&] {
        std::vector<std::thread> threads;
        for (unsigned t = 0; t < cores; ++t)
            threads.emplace_back([&] {
                const TChunker chunker{TChunkSizes{}};
                for (std::size_t k; (k = next++) < paths.size();) {
                    const std::string content = ReadWhole(paths[k]);
                    ForEachChunk(chunker, reinterpret_cast<const unsigned char*>(content.data()),
                                 content.size(), [&](std::size_t offset, std::size_t length) {
                                     TSHA256 digest;
                                     digest.Update(content.data() + offset, length);
                                     digest.FinalText();
                                 });
                }
            });
        for (std::thread& thread : threads)
            thread.join();
    });
}

struct Publishing {
    double seconds = 0;
    std::string output;
};

Publishing Publish(const Options& options, const std::string& client, const std::string& www,
                   int revision, bool chunks, const std::string& log, const std::string& errors) {
    std::vector<std::string> args{options.publish, client, www, "--rev", std::to_string(revision)};
    if (!chunks)
        args.push_back("--no-chunks");
    int code = 0;
    Publishing done;
    done.seconds = Seconds([&] { code = RunToolStatus(args, {log, errors, {}}); });
    Check(code == 0, "quenmor-publish failed:\n" + Tail(errors));
    done.output = ReadWhole(log);
    return done;
}

// The bytes of the files below `folder` whose names end with `suffix`.
std::uint64_t BytesOf(const std::string& folder, const std::string& suffix) {
    std::uint64_t bytes = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            bytes += entry.file_size();
    }
    return bytes;
}

// The line "Chunk store: N chunks compressed (B bytes), ..." of the publisher.
std::string StoreLine(const std::string& output) {
    const std::size_t at = output.find("Chunk store: ");
    Check(at != std::string::npos, "quenmor-publish printed no chunk store line:\n" + output);
    return output.substr(at, output.find('\n', at) - at);
}

struct UpdateRun {
    double seconds = 0;
    std::uint64_t peak = 0;
};

UpdateRun Update(const Options& options, const std::string& folder, const std::string& hosts,
                 const std::string& log, const std::string& errors, const std::string& peak) {
    RemoveFile(peak);
    Settle();
    Exit exit;
    UpdateRun run;
    run.seconds = Seconds([&] {
        exit = RunToolExit({fs::read_symlink("/proc/self/exe").string(), "--peak-of", peak,
                            options.update, "--hosts-dir", hosts},
                           {log, errors, folder});
    });
    Check(exit.status == 0 && LastStatus(log) == status::kAllUpdated,
          "quenmor-update exited with status " + std::to_string(exit.status) + ":\n" + Tail(log) +
              Tail(errors));
    std::ifstream in(peak);
    in >> run.peak;
    return run;
}

} // namespace

Result BenchDelta(Workspace& work, const Options& options, int serverPort) {
    const std::string client = work.File("delta-client");
    const std::string plain = work.File("delta-plain");
    const std::string www = work.File("delta-www"); // served under BASE/delta-www/
    const std::string installed = work.File("delta-installed");
    const std::string hosts = work.File("delta-hosts");
    const std::string log = work.File("delta.log");
    const std::string errors = work.File("delta.err");
    const std::string peakFile = work.File("delta-peak.txt");
    const WanLink link;
    const std::uint64_t total = options.deltaMiB * kMiB;

    std::printf("generating a client of %zu files, %zu MiB, for delta ... ", kFiles,
                options.deltaMiB);
    std::fflush(stdout);
    std::printf("%.1f s\n", Seconds([&] { MakeClient(client, total); }));

    std::printf("publishing it without and with its chunk store ... ");
    std::fflush(stdout);
    const Publishing copiesOnly = Publish(options, client, plain, 1, false, log, errors);
    const Publishing first = Publish(options, client, www, 1, true, log, errors);
    const std::uint64_t copies = BytesOf(www, ".bz2") - FileSize(www + "/files.lst.bz2");
    const std::uint64_t store = BytesOf(www + "/chunks", ".zst");
    std::printf("%.1f s and %.1f s\n", copiesOnly.seconds, first.seconds);
    RemoveFolder(plain);

    fs::create_directories(installed);
    fs::create_directories(hosts);
    WriteText(installed + "/Quenmor.ini",
              "[main]\r\nUpdatesUrl=" + options.url + "delta-www/\r\nAtRevision=0\r\n");
    std::printf("installing revision 1 from nginx ... ");
    std::fflush(stdout);
    std::printf("%.1f s\n", Update(options, installed, hosts, log, errors, peakFile).seconds);

    std::vector<std::string> large;
    std::uint64_t wholeCopies = 0;
    for (std::size_t k = 0; k < kLargeFiles; ++k) {
        const std::string path = client + "/" + FileName(k);
        WriteFile(path, Edited(ReadWhole(path), 0xD1FFULL + k));
        large.push_back(installed + "/" + FileName(k));
    }
    const Publishing second = Publish(options, client, www, 2, true, log, errors);
    for (std::size_t k = 0; k < kLargeFiles; ++k)
        wholeCopies += FileSize(www + "/" + FileName(k) + ".bz2");

    for (const std::string& path : large)
        WarmCache(path);
    const double chunking = ChunkingTime(large);

    // The delta run through the proxy, from the installation at revision 1.
    UpdateRun run;
    WanCounters seen;
    {
        WanProxy proxy(serverPort, link, std::chrono::seconds(600));
        const std::string base = "http://127.0.0.1:" + std::to_string(proxy.Port()) + "/";
        WriteText(installed + "/Quenmor.ini",
                  "[main]\r\nUpdatesUrl=" + base + "delta-www/\r\nAtRevision=1\r\n");
        run = Update(options, installed, hosts, log, errors, peakFile);
        proxy.Stop();
        Check(proxy.Failure().empty(), proxy.Failure());
        seen = proxy.Counters();
    }
    CheckSameTree(client, installed, "quenmor-update's delta run", errors);

    const double lineTime = static_cast<double>(seen.bytesDown) / link.lineBytesPerSecond;
    const double floor = std::max(lineTime, chunking);
    const double fewer = static_cast<double>(wholeCopies) / static_cast<double>(seen.bytesDown);
    const double storeRatio = static_cast<double>(store) / static_cast<double>(copies);
    const double chunkCost = first.seconds - copiesOnly.seconds;

    Result result{"delta", "floor", total, 0, {run.seconds}, {floor}, {}, {}, {}};
    result.summary.push_back(
        Format("fetched %.2f MB against %.1f MB of whole copies of the ten files: %.1f times "
               "fewer (target >= 20)%s",
               MB(seen.bytesDown), MB(wholeCopies), fewer, fewer < 20 ? "  UNDER TARGET" : ""));
    result.summary.push_back(
        Format("ours %.2f s  floor %.2f s (the larger of the line time %.2f s and cutting the ten "
               "installed files %.2f s)  ours/floor %s (target <= 1.30)%s",
               run.seconds, floor, lineTime, chunking, RatioText(run.seconds / floor, 1.3).c_str(),
               run.seconds / floor > 1.3 ? "  OVER TARGET" : ""));
    result.summary.push_back(Format("peak memory of quenmor-update (ru_maxrss): %.1f MB (target "
                                    "<= 128 MB)%s",
                                    MB(run.peak), MB(run.peak) > 128 ? "  OVER TARGET" : ""));
    result.summary.push_back(Format(
        "publish: copies alone %.1f s, with the chunk store %.1f s: the store cost %.1f s, %.2f "
        "of the copies' (target <= 1.00)%s",
        copiesOnly.seconds, first.seconds, chunkCost, chunkCost / copiesOnly.seconds,
        chunkCost > copiesOnly.seconds ? "  OVER TARGET" : ""));
    result.summary.push_back(Format("store %.1f MB against %.1f MB of copies: %.3f (target <= "
                                    "1.05)%s",
                                    MB(store), MB(copies), storeRatio,
                                    storeRatio > 1.05 ? "  OVER TARGET" : ""));
    result.summary.push_back("revision 2 published in " + Format("%.1f s", second.seconds) + "; " +
                             StoreLine(second.output));
    result.notes.push_back(Format(
        "%zu files, %.0f MiB, each half archive content and half noise; revision 2 changes 1%% "
        "of the bytes of the %zu files of %.0f MiB in runs of 48 to 160 KiB",
        kFiles, static_cast<double>(total) / kMiB, kLargeFiles,
        static_cast<double>(kLargeSize) / kMiB));
    result.notes.push_back(Format("through the wan proxy: %llu connections, %.2f MB towards the "
                                  "client (the manifest, indexes, chunks and headers)",
                                  static_cast<unsigned long long>(seen.connections),
                                  MB(seen.bytesDown)));
    for (const std::string& folder : {client, www, installed, hosts})
        RemoveFolder(folder);
    return result;
}

} // namespace bench
