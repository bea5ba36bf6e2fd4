// Fuzzes what quenmor-publish reads from its operator: the patterns of
// --critical (publish::GlobPattern), with the input's first line as a pattern
// and its second as a path, and the hosts list of --hosts
// (publish::ReadHostsFile), with the whole input as the file.
//
// Properties: a pattern is made or refused with EUsageError, nothing else,
// and keeps its text; a path that is not valid UTF-8 matches nothing; a
// pattern made of a path, with "*", "?" and "[" written as one-character
// sets, matches that path, and so does the path itself when it holds none of
// them. A hosts list gives entries, each an address literal and a plain host
// name that stand on one line of the file, or raises EUsageError naming the
// file and a line of it.
#include "FuzzSupport.h"

#include "GlobPattern.h"
#include "HostsList.h"
#include "PublishErrors.h"
#include "Text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using fuzz::Check;

namespace {

std::optional<publish::GlobPattern> MakePattern(std::string_view text) {
    try {
        publish::GlobPattern pattern(text);
        Check(pattern.Text() == text, "a pattern keeps its text", text);
        return pattern;
    } catch (const publish::EUsageError&) {
        return std::nullopt;
    } catch (...) {
        Check(false, "a pattern is made or refused with EUsageError", text);
        return std::nullopt;
    }
}

// Whether a path below SOURCE could be written this way: relative, "/"
// between non-empty names, no "\", valid UTF-8.
bool IsPath(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.back() == '/' ||
        path.find("//") != std::string_view::npos || path.find('\\') != std::string_view::npos)
        return false;
    return platform::IsValidUtf8(path);
}

void CheckLiteral(std::string_view path) {
    if (!IsPath(path))
        return;
    std::string escaped;
    for (const char c : path) {
        if (c == '*' || c == '?' || c == '[')
            escaped += std::string("[") + c + "]";
        else
            escaped += c;
    }
    const std::optional<publish::GlobPattern> pattern = MakePattern(escaped);
    Check(pattern.has_value() && pattern->Matches(path),
          "a pattern made of a path matches that path", path);
    if (path.find_first_of("*?[") == std::string_view::npos) {
        const std::optional<publish::GlobPattern> itself = MakePattern(path);
        Check(itself.has_value() && itself->Matches(path),
              "a path without wildcards matches itself as a pattern", path);
    }
}

void CheckHostsList(std::string_view text) {
    static const std::string file = fuzz::ScratchPath("hosts.txt");
    fuzz::WriteWhole(file, text);
    std::vector<std::string_view> lines = fuzz::Split(text, "\n");
    if (lines.back().empty())
        lines.pop_back();
    try {
        for (const publish::HostEntry& entry : publish::ReadHostsFile(file)) {
            const std::string detail = entry.address + " " + entry.hostname;
            Check(publish::IsAddressLiteral(entry.address) &&
                      publish::IsPlainHostName(entry.hostname),
                  "an entry is an address literal and a plain host name", detail);
            Check(entry.address.find_first_not_of("0123456789abcdefABCDEF.:") == std::string::npos,
                  "an address is written in digits, \".\" and \":\"", detail);
            Check(std::any_of(lines.begin(), lines.end(),
                              [&](std::string_view line) {
                                  const std::size_t at = line.find(entry.address);
                                  return at != std::string_view::npos &&
                                         line.find(entry.hostname, at + entry.address.size()) !=
                                             std::string_view::npos;
                              }),
                  "an entry stands on a line of the file", detail);
        }
    } catch (const publish::EUsageError& e) {
        const std::string message = e.what();
        bool named = false;
        for (std::size_t n = 1; n <= lines.size() && !named; ++n)
            named = message.starts_with(file + ":" + std::to_string(n) + ": ");
        Check(named, "a bad hosts list is refused naming its file and line", message);
    } catch (...) {
        Check(false, "a hosts list gives entries or EUsageError", text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::AsText(data, size);
    const std::vector<std::string_view> lines = fuzz::Split(text, "\n");
    const std::string_view patternText = lines[0];
    const std::string_view path =
        lines.size() > 1 ? lines[1] : std::string_view("system/option.ini");

    if (const std::optional<publish::GlobPattern> pattern = MakePattern(patternText)) {
        const bool matches = pattern->Matches(path);
        if (!platform::IsValidUtf8(path))
            Check(!matches, "a path that is not valid UTF-8 matches nothing", path);
    }
    CheckLiteral(patternText);
    CheckLiteral(path);
    CheckHostsList(text);
    return 0;
}
