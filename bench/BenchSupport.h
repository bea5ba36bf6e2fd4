// What the benchmarks share: timing and figures, the standard tools and
// quenmor's programs run to their end, the files and the working folder they
// use, and the results of a benchmark with their printing.
#pragma once

#include "GetFilesThr.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace bench {

constexpr std::size_t kMiB = 1024 * 1024;

// ---------------------------------------------------------------------------
// Timing, figures and text.

// The time `work` takes, in seconds.
double Seconds(const std::function<void()>& work);

// Megabytes (10^6 bytes) per second, and megabytes.
double MBps(std::uint64_t bytes, double seconds);
double MB(std::uint64_t bytes);

// Raises std::runtime_error with `what` unless `condition` holds.
void Check(bool condition, const std::string& what);

// Processor time (user and system) used so far by this process, all its
// threads, or by the children it has waited for and theirs.
double CpuSeconds(int who);

// printf into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The last lines of a small text file, for error messages.
std::string Tail(const std::string& path);

// The last line of a text file, "" when it has none.
std::string LastLine(const std::string& path);
// The last status text quenmor-update printed into its output `path`: the
// last line but its own end line ("up to date, ...", "updated to ...").
std::string LastStatus(const std::string& path);

// Percent-encodes a relative path for an address, keeping "/".
std::string UrlPath(const std::string& path);

// ---------------------------------------------------------------------------
// Programs.

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

// Runs a program to its end and returns how it ended.
Exit RunToolExit(const std::vector<std::string>& args, const Spawn& spawn,
                 double limit = kToolLimitSeconds);

// Runs a program to its end and returns its exit status (-1: ended by a signal).
int RunToolStatus(const std::vector<std::string>& args, const Spawn& spawn);

// Runs a program to its end, with its standard output sent to `output` when
// one is given; fails unless it exits with status 0.
void RunTool(const std::vector<std::string>& args, const std::string& output = {});

// ---------------------------------------------------------------------------
// Files and folders.

// Remove a file, or a folder with all it holds; errors are ignored.
void RemoveFile(const std::string& path);
void RemoveFolder(const std::string& path);

std::uint64_t FileSize(const std::string& path);

// Whether two files hold the same bytes.
bool SameContent(const std::string& a, const std::string& b);

// Reads a whole file once so that the timed reads find it in the page cache.
void WarmCache(const std::string& path);

// Flushes what earlier runs left to write, so that no run pays for another.
void Settle();

// Writes `text` into a file, replacing what it held.
void WriteText(const std::string& path, const std::string& text);

// Fails unless the installation holds exactly the client's files (its
// settings file and the lock file that update runs leave in it aside).
// `who` names the installation's maker in the error, `output` is a file for
// diff's output.
void CheckSameTree(const std::string& client, const std::string& installation,
                   const std::string& who, const std::string& output);

// The working folder and the files made in it, removed at the end.
class Workspace {
public:
    // The folder given, or a fresh temporary one when none is.
    explicit Workspace(const std::string& dir);
    ~Workspace();
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

// ---------------------------------------------------------------------------
// Results.

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

// The shortest of the times, and their median.
double Best(const std::vector<double>& times);
double Median(std::vector<double> times);

// One line for a run of each side, printed as it ends.
void PrintRun(const Result& result, int run);

// A ratio with two decimals, or with three when two would round it onto the
// other side of its target.
std::string RatioText(double ratio, double target);

// The figures of a benchmark, as printed at the end.
void PrintResult(const Result& r);

} // namespace bench
