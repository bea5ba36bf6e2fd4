// The command line in wide characters, the console's output code page, and
// its interrupt events.
#include "Console.h"

#include "WideText.h"

#include "WindowsApi.h"

#include <shellapi.h>

#include <cstdio>

namespace platform {

std::vector<std::string> ProgramArguments(int, char**) {
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; words && i < count; ++i)
        arguments.push_back(Utf8(words[i]));
    if (words)
        ::LocalFree(words);
    return arguments;
}

void PrepareConsole() {
    ::SetConsoleOutputCP(CP_UTF8);
    // The live progress line moves the cursor with terminal sequences, which
    // a console takes once asked to (Windows 10 and later).
    for (const DWORD stream : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE handle = ::GetStdHandle(stream);
        DWORD mode = 0;
        if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode))
            ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

bool OutputForWindowProgram() {
    const HANDLE given = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (given != nullptr && given != INVALID_HANDLE_VALUE &&
        ::GetFileType(given) != FILE_TYPE_UNKNOWN)
        return true;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS))
        return false;
    // The C library took no standard output at the start; it takes the
    // console's now.
    if (std::freopen("CONOUT$", "w", stdout) == nullptr)
        return false;
    ::SetConsoleOutputCP(CP_UTF8);
    return true;
}

namespace {

std::atomic<bool>* gStop = nullptr;

// The first request sets the flag; a second one is left to the system's
// handler, which ends the program at once.
BOOL WINAPI OnConsoleEvent(DWORD) {
    if (!gStop || gStop->exchange(true))
        return FALSE;
    return TRUE;
}

} // namespace

void StopOnInterrupt(std::atomic<bool>& stop) {
    gStop = &stop;
    ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

} // namespace platform
