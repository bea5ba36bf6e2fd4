// The parts of starting programs that are the same on every system.
#include "Process.h"

namespace platform {

bool EndsWithNoCase(std::string_view text, std::string_view ending) {
    if (text.size() < ending.size())
        return false;
    for (std::size_t i = 0; i < ending.size(); ++i) {
        char c = text[text.size() - ending.size() + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != ending[i])
            return false;
    }
    return true;
}

bool IsWindowsProgram(const std::string& program) {
    return EndsWithNoCase(program, ".exe") || EndsWithNoCase(program, ".bat") ||
           EndsWithNoCase(program, ".cmd");
}

std::string CommandLineToLocal(const std::string& commandLine) {
    std::string local = commandLine;
    for (char& c : local)
        if (c == '\\')
            c = kPathSeparator;
    return local;
}

} // namespace platform
