// The install benchmark (see InstallBench.h).

#include "InstallBench.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include <sys/resource.h>

namespace fs = std::filesystem;

namespace bench {

namespace {

// The files a run's output says it checked.
std::size_t CheckedFiles(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(status::kCheckingFile) && line != status::kChecking)
            ++count;
    return count;
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

} // namespace

Published PublishClient(const Options& options, const ClientTree& tree, const std::string& www,
                        const std::string& log, const std::string& errors, bool chunks) {
    std::printf(chunks ? "publishing it with its chunk store ... "
                       : "publishing it with quenmor-publish ... ");
    std::fflush(stdout);
    int code = 0;
    std::vector<std::string> args{options.publish, tree.root, www, "--rev", "1",
                                  "--critical",    "bin/**"};
    if (!chunks)
        args.push_back("--no-chunks");
    const double publishing = Seconds([&] { code = RunToolStatus(args, {log, errors, {}}); });
    Check(code == 0, "quenmor-publish failed:\n" + Tail(errors));
    Published published;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(www)) {
        if (!entry.is_regular_file())
            continue;
        WarmCache(entry.path().string());
        if (entry.path().extension() != ".bz2")
            continue; // the chunk store, which installs from scratch do not read
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
    const std::string chunked = work.File("install-chunked"); // under BASE/install-chunked/
    const std::string fromChunks = work.File("install-from-chunks");

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
    PublishClient(options, tree, chunked, log, errors, true);
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

    std::vector<double> oursCpu, theirsCpu, pairCpu, flushes, pairFlushes, chunkTimes, chunkCpu;
    std::size_t madeOfChunks = 0;
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
        Check(code == 0 && LastStatus(log) == status::kAllUpdated &&
                  LastLine(log).rfind("updated to revision ", 0) == 0,
              "quenmor-update exited with status " + std::to_string(code) + ":\n" + Tail(log) +
                  Tail(errors));

        // The same client from the tree with its chunk store.
        RemoveFolder(fromChunks);
        fs::create_directories(fromChunks);
        WriteText(fromChunks + "/Quenmor.ini",
                  "[main]\r\nUpdatesUrl=" + options.url + "install-chunked/\r\nAtRevision=0\r\n");
        Settle();
        cpu = CpuSeconds(RUSAGE_CHILDREN);
        chunkTimes.push_back(Seconds([&] {
            code = RunToolStatus({options.update, "--hosts-dir", hosts, "--verbose"},
                                 {log, errors, fromChunks});
        }));
        chunkCpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - cpu);
        Check(code == 0 && LastStatus(log) == status::kAllUpdated,
              "quenmor-update from the chunk store exited with status " + std::to_string(code) +
                  ":\n" + Tail(log) + Tail(errors));
        {
            std::ifstream in(errors);
            for (std::string line; std::getline(in, line);)
                if (const std::size_t at = line.find(" files made of chunks: "); at != line.npos)
                    madeOfChunks =
                        std::strtoul(line.c_str() + line.rfind(' ', at - 1) + 1, nullptr, 10);
        }

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
            CheckSameTree(client, fromChunks, "quenmor-update from the chunk store", errors);
            result.notes.push_back("the four installations equal the client (diff -r)");
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
    result.notes.push_back(Format(
        "from the chunk store (the same client published with it, %zu of %zu files made of "
        "chunks): %.2f s best, %.2f s median, processor %.2f s; the copies' path over it %.2f "
        "(target >= 3.00)%s",
        madeOfChunks, tree.files.size(), Best(chunkTimes), Median(chunkTimes), Median(chunkCpu),
        Best(result.ours) / Best(chunkTimes),
        Best(result.ours) / Best(chunkTimes) < 3 ? "  UNDER TARGET" : ""));

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
        Check(code == 0 && LastLine(log).rfind("up to date, revision ", 0) == 0 &&
                  CheckedFiles(log) == tree.files.size(),
              "quenmor-update --full-check did not find every file current:\n" + Tail(log));
        tool.push_back(Seconds([&] { code = RunToolStatus(md5sum, {sums, {}, ours}); }));
        Check(code == 0, "md5sum failed");
    }
    CheckMd5sumOutput(tree, sums);
    result.notes.push_back(
        Format("then quenmor-update --full-check of that installation (manifest from nginx, every "
               "file digested, nothing fetched): %.3f s, md5sum of its files %.3f s, ratio %.2f",
               Best(runner), Best(tool), Best(tool) / Best(runner)));

    for (const std::string& folder : {client, www, ours, loop, pair, chunked, fromChunks})
        RemoveFolder(folder);
    return result;
}

} // namespace bench
