// The benchmarks on one file of client data (see FileBench.h).

#include "FileBench.h"

#include "FileTransfer.h"
#include "md5.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace bench {

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
        TNotifier notifier(target);
        TFileTransfer transfer(notifier, {});
        result.ours.push_back(Seconds([&] { transfer.Unpack(copy, ours); }));
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
        TNotifier notifier(target);
        TFileTransfer transfer(notifier, {});
        bool opened = false;
        result.ours.push_back(Seconds([&] { opened = transfer.Download(url, ours, true).opened; }));
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

} // namespace bench
