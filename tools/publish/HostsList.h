// The hosts list of --hosts: the address and host name pairs that the
// launcher maps in the hosts file, and the checks of those two values.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace publish {

struct HostEntry {
    std::string address;  // an IPv4 or IPv6 literal
    std::string hostname; // a plain DNS name
};

// Reads a hosts list: lines "address hostname"; blank lines and "#" comments
// (to the end of a line) are skipped. Raises EUsageError naming the file and
// line of the first bad line.
std::vector<HostEntry> ReadHostsFile(const std::filesystem::path& file);

// Checks of the two values of a hosts line.
bool IsAddressLiteral(std::string_view text);
bool IsPlainHostName(std::string_view text);

} // namespace publish
