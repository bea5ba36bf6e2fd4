// Starting programs on Windows, and what the system says about this one.
#include "Process.h"

#include "Errors.h"
#include "Files.h"
#include "Text.h"
#include "WideText.h"

#include "WindowsApi.h"

#include <shellapi.h>
#include <shlobj.h>
#include <ws2tcpip.h>

namespace platform {
namespace {

// One argument of a command line.
std::wstring Quoted(const std::string& text) {
    return Wide(WindowsCommandLineArgument(text));
}

bool Start(const std::wstring& application, std::wstring commandLine, const std::string& folder,
           DWORD flags, WORD show) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show;
    PROCESS_INFORMATION process{};
    const std::wstring wideFolder = Wide(folder);
    if (!::CreateProcessW(application.empty() ? nullptr : application.c_str(), commandLine.data(),
                          nullptr, nullptr, FALSE, flags, nullptr,
                          wideFolder.empty() ? nullptr : wideFolder.c_str(), &startup, &process))
        return false;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

// The command interpreter of the system folder, or empty text when the system
// does not say where that is. Named by itself, "cmd.exe" would be looked for
// in this program's folder and in the current folder first: the
// installation's, where any file could lie under that name.
std::wstring CommandInterpreter() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length > MAX_PATH)
        return {};
    return std::wstring(folder, length) + L"\\cmd.exe";
}

// Starts a program with its arguments; a batch file through the command
// interpreter, named by its path.
bool StartCommand(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& folder, DWORD flags, WORD show) {
    std::wstring line = Quoted(program);
    for (const std::string& argument : arguments)
        line += L" " + Quoted(argument);
    if (!EndsWithNoCase(program, ".bat") && !EndsWithNoCase(program, ".cmd"))
        return Start({}, line, folder, flags, show);
    const std::wstring interpreter = CommandInterpreter();
    if (interpreter.empty())
        return false;
    return Start(interpreter, Quoted(Utf8(interpreter)) + L" /c \"" + line + L"\"", folder, flags,
                 show);
}

} // namespace

std::string ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return Utf8(path);
        }
        path.resize(path.size() * 2);
    }
    return {};
}

long ProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

void LowerCurrentThreadPriority() {
    (void)::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

bool StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& folder) {
    return StartCommand(program, arguments, folder, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP,
                        SW_HIDE);
}

void CheckWorkingFolder(const std::string& folder) {
    // The texts of Delphi's run-time errors, as SetCurrentDir reports them.
    const DWORD attributes = ::GetFileAttributesW(Wide(folder).c_str());
    DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : 0;
    if (!error && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        error = ERROR_DIRECTORY;
    switch (error) {
    case 0:
        return;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        throw EInOutError("File not found");
    case ERROR_DIRECTORY:
    case ERROR_INVALID_NAME:
        throw EInOutError("Invalid filename");
    case ERROR_TOO_MANY_OPEN_FILES:
        throw EInOutError("Too many open files");
    case ERROR_ACCESS_DENIED:
        throw EInOutError("File access denied");
    default:
        throw EInOutError(FormatText("I/O error %d", std::to_string(error)));
    }
}

std::string FindOnPath(const std::string& name) {
    std::wstring found(MAX_PATH, L'\0');
    const std::wstring wide = Wide(name);
    DWORD length = ::SearchPathW(nullptr, wide.c_str(), nullptr, static_cast<DWORD>(found.size()),
                                 found.data(), nullptr);
    if (length > found.size()) {
        found.resize(length);
        length = ::SearchPathW(nullptr, wide.c_str(), nullptr, static_cast<DWORD>(found.size()),
                               found.data(), nullptr);
    }
    if (length == 0 || length > found.size())
        return {};
    found.resize(length);
    return Utf8(found);
}

bool StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& folder) {
    // As WinExec starts a command line with SW_RESTORE (a batch file through
    // the command interpreter), with the folder as the new program's current
    // folder, and in wide characters, so that an installation path outside
    // the ANSI code page still works.
    return StartCommand(program, arguments, folder, 0, SW_RESTORE);
}

bool OpenHidden(const std::string& file, const std::string& folder) {
    // The shell answers a value above 32 when it could start the file.
    const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", Wide(file).c_str(), nullptr,
                                             Wide(folder).c_str(), SW_HIDE);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

bool RunningAsAdministrator() {
    return ::IsUserAnAdmin() != FALSE;
}

std::string ToScriptEncoding(const std::string& utf8) {
    const std::wstring wide = Wide(utf8);
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int length =
        ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, ansi.data(), length, nullptr, nullptr);
    return ansi;
}

std::string DefaultHostsFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = ::GetWindowsDirectoryW(folder, MAX_PATH);
    if (length == 0 || length > MAX_PATH)
        return {};
    return Utf8(std::wstring_view(folder, length)) + "\\system32\\drivers\\etc";
}

bool IsIpAddressLiteral(const std::string& text) {
    // The system reads the text only up to a NUL.
    if (text.find('\0') != std::string::npos)
        return false;
    unsigned char buffer[sizeof(IN6_ADDR)];
    return ::inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

} // namespace platform
