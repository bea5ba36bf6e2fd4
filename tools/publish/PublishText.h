// Texts shared by the publisher's units: names as messages show them, the
// messages of failed system calls, and the splitting and reading of values.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace publish {

// A name from the disk as it can be shown in a message: control characters
// and bytes that are not UTF-8 become \xNN.
std::string Printable(std::string_view text);

// A name in quotes, made printable.
std::string Quoted(std::string_view text);
std::string QuotedPath(const std::filesystem::path& path);

// "WHAT "PATH": reason", the reason from an errno value or an error code.
std::string SystemError(const std::string& what, const std::filesystem::path& path, int error);
std::string SystemError(const std::string& what, const std::filesystem::path& path,
                        const std::error_code& error);

// The parts of `text` between the separators; always at least one (maybe empty).
std::vector<std::string_view> SplitParts(std::string_view text, char separator);

bool EndsWith(std::string_view text, std::string_view tail);

// The items of a list in a message, each on a line of its own after "\n  ",
// and no more than the first 20 of them.
std::string ListLines(const std::vector<std::string>& items);

// A decimal number of digits only; nothing when the text is anything else.
std::optional<std::uint64_t> ParseUnsigned(std::string_view text);

} // namespace publish
