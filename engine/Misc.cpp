#include "Misc.h"

#include "Errors.h"
#include "Files.h"
#include "Process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <system_error>

std::vector<std::string> SplitFromEnd(std::string_view text, std::string_view delimiters) {
    std::vector<std::string> pieces;
    std::string_view rest = text;
    while (true) {
        const std::size_t p = rest.find_last_of(delimiters);
        const std::size_t start = (p == std::string_view::npos) ? 0 : p + 1;
        if (start < rest.size())
            pieces.emplace_back(rest.substr(start));
        if (p == std::string_view::npos)
            return pieces;
        rest = rest.substr(0, p);
    }
}

std::string_view TrimControl(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 32)
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32)
        --e;
    return text.substr(b, e - b);
}

std::string ReplaceText(std::string_view text, std::string_view search,
                        std::string_view replacement) {
    if (search.empty())
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    while (true) {
        const std::size_t at = text.find(search, from);
        if (at == std::string_view::npos)
            break;
        out.append(text.substr(from, at - from));
        out.append(replacement);
        from = at + search.size();
    }
    out.append(text.substr(from));
    return out;
}

bool DeleteFolder(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(platform::FsPath(path), error);
    if (error || !std::filesystem::exists(status))
        return true;
    std::filesystem::remove_all(platform::FsPath(path), error);
    return !error;
}

namespace {

// Integer text of a 32- or 64-bit value: decimal text within its range, or
// hexadecimal text of its bit pattern ("$FFFFFFFF" is -1 in 32 bits).
std::int64_t ParseInteger(std::string_view text, unsigned bits) {
    const auto fail = [&]() -> std::int64_t {
        throw EConvertError(FormatText("'%s' is not a valid integer value", std::string(text)));
    };
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    unsigned base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return fail();
    const std::uint64_t mask = bits == 64 ? ~0ull : (1ull << bits) - 1;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return fail();
        if (value > (mask - digit) / base)
            return fail();
        value = value * base + digit;
    }
    const std::uint64_t sign = 1ull << (bits - 1);
    if (base == 10) {
        if (value > (negative ? sign : sign - 1))
            return fail();
        return negative ? static_cast<std::int64_t>(0 - value) : static_cast<std::int64_t>(value);
    }
    if (negative)
        value = (~value + 1u) & mask;
    // The pattern's top bit is the sign.
    return (value & sign) != 0 ? static_cast<std::int64_t>(value | ~mask)
                               : static_cast<std::int64_t>(value);
}

} // namespace

std::int32_t StrToInt(std::string_view text) {
    return static_cast<std::int32_t>(ParseInteger(text, 32));
}

std::int64_t StrToInt64(std::string_view text) {
    return ParseInteger(text, 64);
}

bool StrToBool(std::string_view text) {
    try {
        return StrToInt(text) != 0;
    } catch (const EConvertError&) {
    }
    // A decimal fraction is a number too.
    const std::string copy(text);
    char* end = nullptr;
    if (!copy.empty() && copy.find_first_of("xXnN") == std::string::npos) {
        const double number = std::strtod(copy.c_str(), &end);
        if (end == copy.c_str() + copy.size())
            return number != 0.0;
    }
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (lower == "true")
        return true;
    if (lower == "false")
        return false;
    throw EConvertError(FormatText("'%s' is not a valid boolean value", std::string(text)));
}

bool IsWindowsDeviceName(std::string_view name) {
    // Windows reads the name up to its first dot (or a stream's ":"), without
    // the blanks at its end.
    std::string_view base = name.substr(0, name.find_first_of(".:"));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    if (base.size() < 3 || base.size() > 7)
        return false;
    std::string upper(base);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    for (const std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (upper == device)
            return true;
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
           upper[3] >= '1' && upper[3] <= '9';
}

bool IsSafeRelativePath(std::string_view path) {
    if (path.empty())
        return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("\\/", start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(start, end - start);
        // A dot at the end also refuses "." and "..".
        if (part.empty() || part.back() == '.' || part.back() == ' ' || IsWindowsDeviceName(part))
            return false;
        for (char c : part) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 32 || b == 127 || c == ':')
                return false;
        }
        start = end + 1;
    }
    return true;
}

std::size_t FindFrom(std::size_t start, std::string_view text, std::string_view pattern) {
    const std::size_t m = pattern.size();
    if (m == 0 || start == 0 || text.size() < m)
        return 0;
    std::size_t shift[256];
    for (std::size_t& s : shift)
        s = m;
    for (std::size_t i = 0; i + 1 < m; ++i)
        shift[static_cast<unsigned char>(pattern[i])] = m - 1 - i;
    const auto last = static_cast<unsigned char>(pattern[m - 1]);
    std::size_t at = start - 1; // 0-based start of the window
    while (at + m <= text.size()) {
        const auto under = static_cast<unsigned char>(text[at + m - 1]);
        if (under != last) {
            at += shift[under];
            continue;
        }
        std::size_t k = m - 1;
        while (k > 0 && text[at + k - 1] == pattern[k - 1])
            --k;
        if (k == 0)
            return at + 1;
        ++at;
    }
    return 0;
}

bool IsPlainHostName(std::string_view name) {
    if (name.empty() || name.size() > 253)
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('.', start);
        if (end == std::string_view::npos)
            end = name.size();
        const std::string_view label = name.substr(start, end - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (char c : label)
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-'))
                return false;
        start = end + 1;
    }
    return true;
}

namespace {

// A name as one quoted word of a batch file: cmd expands "%" even between
// quotes, and Windows names hold no quotes.
std::string BatchQuote(const std::string& text) {
    std::string quoted = "\"";
    quoted += ReplaceText(text, "%", "%%");
    quoted += '"';
    return quoted;
}

std::string ShellQuote(const std::string& text) {
    // Appended in order rather than as "'" + ... + "'": GCC 12 at -O3 takes
    // the insertion at the front for an overlapping copy (-Wrestrict).
    std::string quoted = "'";
    quoted += ReplaceText(text, "'", "'\\''");
    quoted += '\'';
    return quoted;
}

// The tries, a second apart, that the scripts wait for the launcher to go.
constexpr int kEndWaitTries = 10;

} // namespace

std::string UpdateBatchText(const std::string& folder, const std::string& name, bool newBuildExists,
                            long processId) {
    // The system's programs by their paths: cmd looks for a bare name in the
    // current folder, the installation's, first. Inside "for /f" the path
    // stays unquoted, as cmd /c would take the quotes of the line apart. The
    // ending and the wait run in the system folder: Wine's cmd starts the
    // command of a "for /f" through a "cmd.exe" that it looks for in the
    // current folder first.
    const std::string system = "%SystemRoot%\\System32\\";
    const std::string pid = std::to_string(processId);
    std::string text = "@echo off\r\n";
    text += "pushd \"%SystemRoot%\\System32\"\r\n";
    text += "\"" + system + "taskkill.exe\" /PID " + pid + " /F\r\n";
    // Whether the process is still there: tasklist answers on Windows; Wine's
    // tasklist lists nothing, its WMIC does (which newer Windows may lack).
    text += "set tries=0\r\n";
    text += ":wait\r\n";
    text += "set running=\r\n";
    text += "for /f \"tokens=2 delims=,\" %%p in ('" + system + "tasklist.exe /FI \"PID eq " + pid +
            "\" /NH /FO CSV 2^>nul') do if \"%%~p\"==\"" + pid + "\" set running=1\r\n";
    text += "if not defined running for /f %%p in ('" + system +
            "wbem\\WMIC.exe process get ProcessId 2^>nul') do if \"%%p\"==\"" + pid +
            "\" set running=1\r\n";
    text += "if not defined running goto ended\r\n";
    text += "set /a tries+=1\r\n";
    text += "if %tries% geq " + std::to_string(kEndWaitTries) + " goto ended\r\n";
    text += "\"" + system + "PING.EXE\" -n 2 127.0.0.1 >nul\r\n";
    text += "goto wait\r\n";
    text += ":ended\r\n";
    text += "popd\r\n";
    if (newBuildExists) {
        text += "del " + BatchQuote(folder + "\\files.lst") + "\r\n";
        text += "del " + BatchQuote(folder + "\\" + name) + "\r\n";
        text += "rename " + BatchQuote(name + ".New") + " " + BatchQuote(name) + "\r\n";
    }
    text += "start \"\" " + BatchQuote(name) + "\r\n";
    text += "del " + BatchQuote("Update.bat") + "\r\n";
    return text;
}

std::string UpdateShellText(const std::string& folder, const std::string& name, bool newBuildExists,
                            long processId) {
    const std::string launcher = ShellQuote(folder + "/" + name);
    const std::string pid = std::to_string(processId);
    std::string text = "#!/bin/sh\n";
    text += "kill -9 " + pid + " 2>/dev/null\n";
    // A killed process stays until its parent has taken note of its end.
    text += "tries=0\n";
    text += "while kill -0 " + pid + " 2>/dev/null && [ \"$tries\" -lt " +
            std::to_string(kEndWaitTries) + " ]; do sleep 1; tries=$((tries + 1)); done\n";
    if (newBuildExists) {
        text += "rm -f " + ShellQuote(folder + "/files.lst") + "\n";
        text += "mv -f " + ShellQuote(folder + "/" + name + ".New") + " " + launcher + "\n";
        text += "chmod +x " + launcher + "\n";
    }
    text +=
        "cd " + ShellQuote(folder) + " && setsid " + launcher + " </dev/null >/dev/null 2>&1 &\n";
    text += "rm -f " + ShellQuote(folder + "/Update.sh") + "\n";
    return text;
}

std::string WriteUpdateScript(const std::string& name, long processId) {
    std::string folder = platform::CurrentFolder();
    folder.pop_back(); // the trailing separator
    std::error_code error;
    const std::string separator(1, platform::kPathSeparator);
    const bool newBuild =
        std::filesystem::exists(platform::FsPath(folder + separator + name + ".New"), error);
    const std::string path = folder + separator + platform::kUpdateScriptName;
    const std::string text = platform::kUpdateScriptIsBatch
                                 ? UpdateBatchText(folder, name, newBuild, processId)
                                 : UpdateShellText(folder, name, newBuild, processId);
    const std::string encoded = platform::ToScriptEncoding(text);
    platform::AtomicFile file(path);
    file.Write(encoded.data(), encoded.size());
    file.Commit();
    return path;
}

CommandLine SplitCommandLine(const std::string& commandLine) {
    const auto words = [](const std::string& text) {
        std::vector<std::string> list;
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t end = std::min(text.find(' ', start), text.size());
            if (end > start)
                list.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return list;
    };
    CommandLine result;
    std::error_code error;
    for (std::size_t blank = commandLine.find(' ');; blank = commandLine.find(' ', blank + 1)) {
        const std::string prefix = commandLine.substr(0, blank);
        if (std::filesystem::is_regular_file(platform::FsPath(prefix), error)) {
            result.program = prefix;
            if (blank != std::string::npos)
                result.arguments = words(commandLine.substr(blank + 1));
            return result;
        }
        if (blank == std::string::npos)
            break;
    }
    // Nothing names a program: the line is one name, as Windows would try it.
    result.program = commandLine;
    return result;
}

void RunInOwnFolder(const std::string& commandLine) {
    const CommandLine command = SplitCommandLine(commandLine);
    const std::size_t cut = command.program.find_last_of(platform::kFolderEnds);
    const std::string folder =
        cut == std::string::npos ? platform::CurrentFolder() : command.program.substr(0, cut + 1);
    platform::CheckWorkingFolder(folder);
    platform::StartProgram(command.program, command.arguments, folder);
}

// ---------------------------------------------------------------------------
// UTC times.

namespace {

// The number of `width` digits at `at`, or -1.
int Digits(std::string_view text, std::size_t at, std::size_t width) {
    int value = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

} // namespace

std::optional<std::int64_t> ParseUtcTime(std::string_view text) {
    // 2027-01-31T12:00:00Z
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    const int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
    const int hour = Digits(text, 11, 2), minute = Digits(text, 14, 2),
              second = Digits(text, 17, 2);
    // The standard library's calendar, as for the dates of HTTP answers.
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (year < 0 || month < 0 || day < 0 || !date.ok() || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    return std::int64_t{std::chrono::sys_days(date).time_since_epoch().count()} * 86400 +
           hour * 3600 + minute * 60 + second;
}

std::string UtcTimeText(std::int64_t seconds) {
    std::int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // The calendar repeats every 400 years, 146097 days: the date is taken
    // within the cycle, where the standard library's years reach, and the
    // cycles are added to its year, so that any time has its own text.
    std::int64_t cycles = days / 146097, inCycle = days % 146097;
    if (inCycle < 0) {
        inCycle += 146097;
        --cycles;
    }
    const std::chrono::year_month_day date{
        std::chrono::sys_days{std::chrono::days{static_cast<int>(inCycle)}}};
    const long long year = static_cast<int>(date.year()) + 400LL * cycles;
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", year,
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60));
    return text;
}
