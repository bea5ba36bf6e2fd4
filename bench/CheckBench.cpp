// The check benchmark (see CheckBench.h).

#include "CheckBench.h"

#include "ClientData.h"
#include "FileCheck.h"
#include "Installation.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/resource.h>

namespace bench {

namespace {

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

} // namespace

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
        TNotifier notifier(target);
        const TInstallation installation(root + "/");
        TFileCheck check(notifier, installation, std::max(1u, std::thread::hardware_concurrency()),
                         {});
        std::vector<std::string> pending;
        double cpu = CpuSeconds(RUSAGE_SELF);
        result.ours.push_back(Seconds([&] { check.Check(entries, pending); }));
        oursCpu.push_back(CpuSeconds(RUSAGE_SELF) - cpu);
        Check(pending.empty(), std::to_string(pending.size()) +
                                   " files found out of date, the first: " +
                                   (pending.empty() ? "" : pending.front()));

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
        "ours: TFileCheck::Check in this process; md5sum: one process given all %zu paths; "
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

} // namespace bench
