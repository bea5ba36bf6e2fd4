#include "ChildProcess.h"

#include "Text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace testing_support {
namespace {

bool IsProxySetting(std::string entry) {
    entry = entry.substr(0, entry.find('='));
    std::transform(entry.begin(), entry.end(), entry.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return entry.size() >= 6 && entry.compare(entry.size() - 6, 6, "_proxy") == 0;
}

} // namespace

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& folder, const std::string& outputFile) {
    std::wstring line = Wide(platform::WindowsCommandLineArgument(program));
    for (const std::string& argument : arguments)
        line += L" " + Wide(platform::WindowsCommandLineArgument(argument));
    // The environment without proxy settings, as a block of NUL-ended entries.
    std::wstring environment;
    if (wchar_t* block = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry; entry += std::wcslen(entry) + 1) {
            const std::wstring text = entry;
            std::string narrow(text.begin(), text.end());
            if (!IsProxySetting(narrow))
                environment += text + L'\0';
        }
        ::FreeEnvironmentStringsW(block);
    }
    environment += L'\0';

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE null =
        ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inherit, OPEN_EXISTING, 0, nullptr);
    const HANDLE output = outputFile.empty()
                              ? INVALID_HANDLE_VALUE
                              : ::CreateFileW(Wide(outputFile).c_str(), GENERIC_WRITE,
                                              FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = null;
    if (output != INVALID_HANDLE_VALUE)
        startup.hStdOutput = startup.hStdError = output;
    PROCESS_INFORMATION process{};
    const std::wstring wideFolder = Wide(folder);
    started_ =
        ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                         environment.data(), wideFolder.empty() ? nullptr : wideFolder.c_str(),
                         &startup, &process) != 0;
    if (null != INVALID_HANDLE_VALUE)
        ::CloseHandle(null);
    if (output != INVALID_HANDLE_VALUE)
        ::CloseHandle(output);
    if (started_) {
        ::CloseHandle(process.hThread);
        handle_ = reinterpret_cast<std::intptr_t>(process.hProcess);
        id_ = static_cast<long>(process.dwProcessId);
    }
}

ChildProcess::~ChildProcess() {
    Kill();
    if (handle_ != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::optional<ChildProcess::Ending> ChildProcess::Wait(Clock::time_point until) {
    if (!started_)
        return Ending{false, -1};
    if (ending_)
        return ending_;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    const DWORD wait = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
    if (::WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), wait) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(reinterpret_cast<HANDLE>(handle_), &code);
    // Windows tells a killed process only by the code its killer chose:
    // ours gives 0xDEAD.
    ending_ = Ending{killedByUs_ || code == 0xDEAD, static_cast<int>(code)};
    return ending_;
}

void ChildProcess::Kill() {
    if (!started_ || ending_)
        return;
    killedByUs_ = true;
    ::TerminateProcess(reinterpret_cast<HANDLE>(handle_), 0xDEAD);
    ::WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), 30000);
    Wait(Clock::now());
}

// A console's Ctrl-C reaches a process group, not one process: the tests
// that need it run on POSIX only.
void ChildProcess::Interrupt() {}

#else

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& folder, const std::string& outputFile) {
    // Everything the child needs is made before fork.
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> argp;
    for (std::string& a : argv)
        argp.push_back(a.data());
    argp.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** e = environ; e && *e; ++e)
        if (!IsProxySetting(*e))
            environment.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0)
        return;
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        const int output = outputFile.empty()
                               ? null
                               : ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (null < 0 || output < 0 || (!folder.empty() && ::chdir(folder.c_str()) != 0) ||
            ::dup2(null, 0) < 0 || ::dup2(output, 1) < 0 || ::dup2(output, 2) < 0)
            ::_exit(127);
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    started_ = true;
    id_ = static_cast<long>(pid);
}

ChildProcess::~ChildProcess() {
    Kill();
}

std::optional<ChildProcess::Ending> ChildProcess::Wait(Clock::time_point until) {
    if (!started_)
        return Ending{false, -1};
    if (ending_)
        return ending_;
    for (;;) {
        int status = 0;
        const pid_t got = ::waitpid(static_cast<pid_t>(id_), &status, WNOHANG);
        if (got == static_cast<pid_t>(id_)) {
            if (WIFSIGNALED(status))
                ending_ = Ending{WTERMSIG(status) == SIGKILL, -1, WTERMSIG(status)};
            else
                ending_ = Ending{false, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
            return ending_;
        }
        if (got < 0 && errno != EINTR) {
            ending_ = Ending{false, -1};
            return ending_;
        }
        if (Clock::now() >= until)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

void ChildProcess::Kill() {
    if (!started_ || ending_)
        return;
    ::kill(static_cast<pid_t>(id_), SIGKILL);
    int status = 0;
    while (::waitpid(static_cast<pid_t>(id_), &status, 0) < 0 && errno == EINTR) {
    }
    ending_ = Ending{WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL, -1,
                     WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}

void ChildProcess::Interrupt() {
    if (started_ && !ending_)
        ::kill(static_cast<pid_t>(id_), SIGINT);
}

#endif

std::string BuildPath(std::string path) {
#ifdef _WIN32
    if (!path.empty() && path.front() == '/') {
        for (char& c : path)
            if (c == '/')
                c = '\\';
        path = "Z:" + path;
    }
#endif
    return path;
}

std::string TestChildPath() {
    return BuildPath(QUENMOR_TEST_CHILD_PATH);
}

} // namespace testing_support
