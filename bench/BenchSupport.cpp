// What the benchmarks share (see BenchSupport.h).

#include "BenchSupport.h"

#include "Files.h"
#include "InstallLock.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace bench {

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

double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

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

std::string Tail(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    return text.size() > 600 ? "..." + text.substr(text.size() - 600) : text;
}

std::string LastLine(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string last;
    for (std::string line; std::getline(in, line);)
        last = line;
    return last;
}

std::string LastStatus(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string last;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("up to date, revision ", 0) != 0 &&
            line.rfind("updated to revision ", 0) != 0)
            last = line;
    return last;
}

std::string UrlPath(const std::string& path) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (const char ch : path) {
        const auto b = static_cast<unsigned char>(ch);
        if ((std::isalnum(b) && b < 128) || ch == '/' || ch == '-' || ch == '.' || ch == '_' ||
            ch == '~')
            out += ch;
        else
            out += {'%', kHex[b >> 4], kHex[b & 0x0F]};
    }
    return out;
}

namespace {

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

} // namespace

Exit RunToolExit(const std::vector<std::string>& args, const Spawn& spawn, double limit) {
    const Exit exit = WaitTool(StartTool(args, spawn), args[0], limit);
    Check(!exit.timedOut, args[0] + " did not end within " +
                              std::to_string(static_cast<long long>(limit)) + " s and was killed");
    return exit;
}

int RunToolStatus(const std::vector<std::string>& args, const Spawn& spawn) {
    return RunToolExit(args, spawn).status;
}

void RunTool(const std::vector<std::string>& args, const std::string& output) {
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

void WarmCache(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    Check(file != nullptr, "cannot open " + path);
    std::vector<char> buffer(kMiB);
    while (std::fread(buffer.data(), 1, buffer.size(), file) == buffer.size()) {
    }
    std::fclose(file);
}

void Settle() {
    ::sync();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    Check(file.good(), "cannot write " + path);
}

void CheckSameTree(const std::string& client, const std::string& installation,
                   const std::string& who, const std::string& output) {
    const int status = RunToolStatus({"diff", "-r", "-q", "--exclude=Quenmor.ini",
                                      std::string("--exclude=") + platform::kInstallLockName,
                                      client, installation},
                                     {output, output, {}});
    Check(status == 0,
          "the installation made by " + who + " differs from the client:\n" + Tail(output));
}

Workspace::Workspace(const std::string& dir) {
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

Workspace::~Workspace() {
    std::error_code ignored;
    if (owned_)
        fs::remove_all(dir_, ignored);
    else
        for (const std::string& path : made_)
            fs::remove_all(path, ignored);
}

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

std::string RatioText(double ratio, double target) {
    const std::string text = Format("%.2f", ratio);
    const double shown = std::strtod(text.c_str(), nullptr);
    const bool moved = (shown < target) != (ratio < target) || (shown > target) != (ratio > target);
    return target > 0 && moved ? Format("%.3f", ratio) : text;
}

namespace {

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

} // namespace

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

} // namespace bench
