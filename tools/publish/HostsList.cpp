#include "HostsList.h"

#include "PublishErrors.h"
#include "PublishText.h"

#include "Files.h"
#include "Process.h"

#include <algorithm>
#include <cerrno>
#include <fstream>

namespace publish {

namespace fs = std::filesystem;

bool IsAddressLiteral(std::string_view text) {
    if (text.empty() || text.size() > 64)
        return false;
    return platform::IsIpAddressLiteral(std::string(text));
}

bool IsPlainHostName(std::string_view text) {
    if (text.empty() || text.size() > 253 || IsAddressLiteral(text))
        return false;
    const std::vector<std::string_view> labels = SplitParts(text, '.');
    for (const std::string_view label : labels) {
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (const char c : label)
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '-'))
                return false;
    }
    // The last label of a name is never all digits ("10.1.2" is no host name).
    const std::string_view last = labels.back();
    return !std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<HostEntry> ReadHostsFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw EUsageError(SystemError("Cannot read the hosts list", file, errno));
    std::vector<HostEntry> hosts;
    std::string line;
    for (std::size_t number = 1; std::getline(in, line); ++number) {
        const std::string where =
            Printable(platform::PathText(file)) + ":" + std::to_string(number) + ": ";
        std::string_view content(line);
        if (const std::size_t hash = content.find('#'); hash != std::string_view::npos)
            content = content.substr(0, hash);
        std::vector<std::string_view> fields;
        std::size_t i = 0;
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
        while (i < content.size()) {
            while (i < content.size() && blank(content[i]))
                ++i;
            const std::size_t from = i;
            while (i < content.size() && !blank(content[i]))
                ++i;
            if (i > from)
                fields.push_back(content.substr(from, i - from));
        }
        if (fields.empty())
            continue;
        if (fields.size() != 2)
            throw EUsageError(where + "expected \"address hostname\", found " + Quoted(line));
        if (!IsAddressLiteral(fields[0]))
            throw EUsageError(where + Quoted(fields[0]) + " is not an IPv4 or IPv6 address");
        if (!IsPlainHostName(fields[1]))
            throw EUsageError(where + Quoted(fields[1]) + " is not a plain DNS host name");
        hosts.push_back({std::string(fields[0]), std::string(fields[1])});
    }
    if (in.bad())
        throw EUsageError(SystemError("Cannot read the hosts list", file, errno));
    return hosts;
}

} // namespace publish
