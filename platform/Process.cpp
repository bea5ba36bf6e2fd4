#include "Process.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

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

bool IsAccessibleFolder(const std::string& folder) {
    return ::access(folder.c_str(), X_OK) == 0;
}

std::string DefaultHostsFolder() {
    return "/etc";
}

bool IsIpAddressLiteral(const std::string& text) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

} // namespace platform
