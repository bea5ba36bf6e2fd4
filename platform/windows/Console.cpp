// The command line in wide characters, the console's output code page, and
// its interrupt events.
#include "Console.h"

#include "WideText.h"

#include "WindowsApi.h"

#include <shellapi.h>

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
}

namespace {

std::atomic<bool>* gStop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
    if (!gStop)
        return FALSE;
    *gStop = true;
    return TRUE;
}

} // namespace

void StopOnInterrupt(std::atomic<bool>& stop) {
    gStop = &stop;
    ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

} // namespace platform
