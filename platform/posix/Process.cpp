#include "Process.h"

#include "Errors.h"
#include "Files.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

extern char** environ;

namespace platform {

std::string ExecutablePath() {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

long ProcessId() {
    return static_cast<long>(::getpid());
}

bool StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& folder) {
    // Everything the child needs is prepared here: between fork and exec only
    // async-signal-safe calls are allowed.
    std::vector<std::string> argv;
    const bool script = program.size() > 3 && program.compare(program.size() - 3, 3, ".sh") == 0;
    if (script)
        argv.push_back("/bin/sh");
    argv.push_back(program);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return false;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        // The intermediate child starts the program in a session of its own
        // and leaves at once, so the program is nobody's child to wait for.
        ::close(report[0]);
        ::setsid();
        if (::fork() != 0)
            ::_exit(0);
        int error = 0;
        if (::chdir(folder.c_str()) != 0) {
            error = errno;
        } else {
            const int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) {
                ::dup2(null, 0);
                ::dup2(null, 1);
                ::dup2(null, 2);
                if (null > 2)
                    ::close(null);
            }
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::execve(args[0], args.data(), environ);
            error = errno;
        }
        [[maybe_unused]] const ssize_t written = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // End of file: the program was started; otherwise the child reports why not.
    int error = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    return got == 0;
}

void CheckWorkingFolder(const std::string& folder) {
    int error = 0;
    const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
    } else {
        ::close(fd);
        if (::access(folder.c_str(), X_OK) != 0)
            error = errno;
    }
    switch (error) {
    case 0:
        return;
    case ENOENT:
        throw EInOutError("File not found");
    case ENOTDIR:
        throw EInOutError("Invalid filename");
    case EMFILE:
    case ENFILE:
        throw EInOutError("Too many open files");
    case EACCES:
    case EPERM:
        throw EInOutError("File access denied");
    default:
        throw EInOutError(FormatText("I/O error %d", std::to_string(error)));
    }
}

std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (!path)
        return {};
    const std::string list = path;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        // An empty entry is the current folder.
        const std::string folder = end > start ? list.substr(start, end - start) : ".";
        const std::string candidate = folder + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

bool StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& folder) {
    if (!IsWindowsProgram(program))
        return StartDetached(program, arguments, folder);
    const std::string wine = FindOnPath("wine");
    if (wine.empty()) {
        // Named as the player knows it: below the installation folder.
        std::string shown = program;
        const std::string current = CurrentFolder();
        if (shown.compare(0, current.size(), current) == 0)
            shown.erase(0, current.size());
        throw Exception("Wine is needed to start " + shown + "; install the package \"wine\"");
    }
    std::vector<std::string> line;
    if (EndsWithNoCase(program, ".exe")) {
        std::error_code error;
        const auto absolute = std::filesystem::absolute(program, error);
        line.push_back(error ? program : absolute.string());
    } else {
        const std::size_t cut = program.find_last_of('/');
        // The command interpreter of Wine's system folder, by its path: Wine
        // looks for a bare "cmd" in the program's folder first, where one may
        // have been planted.
        line = {"C:\\windows\\system32\\cmd.exe", "/c",
                cut == std::string::npos ? program : program.substr(cut + 1)};
    }
    line.insert(line.end(), arguments.begin(), arguments.end());
    return StartDetached(wine, line, folder);
}

bool OpenHidden(const std::string& file, const std::string& folder) {
    return StartProgram(file, {}, folder);
}

std::string ToScriptEncoding(const std::string& utf8) {
    return utf8;
}

std::string DefaultHostsFolder() {
    return "/etc";
}

bool IsIpAddressLiteral(const std::string& text) {
    // The system reads the text only up to a NUL.
    if (text.find('\0') != std::string::npos)
        return false;
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

bool RunningAsAdministrator() {
    return ::geteuid() == 0;
}

void LowerCurrentThreadPriority() {
    // On Linux a nice value belongs to each thread. Failing to set it only
    // costs the window some smoothness.
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    (void)::setpriority(PRIO_PROCESS, thread, 10);
}

} // namespace platform
