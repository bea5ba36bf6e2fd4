#include "PublishText.h"

#include "Files.h"
#include "Text.h"

#include <charconv>
#include <cstring>

namespace publish {

std::string Printable(std::string_view text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
        if (i + length > text.size() || !platform::IsValidUtf8(text.substr(i, length)) ||
            (length == 1 && (b < 0x20 || b == 0x7F))) {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

std::string Quoted(std::string_view text) {
    std::string quoted = "\""; // appended in order: see ShellQuote in engine/Misc.cpp
    quoted += Printable(text);
    quoted += '"';
    return quoted;
}
std::string QuotedPath(const std::filesystem::path& path) {
    return Quoted(platform::PathText(path));
}

std::string SystemError(const std::string& what, const std::filesystem::path& path, int error) {
    return what + " " + QuotedPath(path) + ": " + std::strerror(error);
}

std::string SystemError(const std::string& what, const std::filesystem::path& path,
                        const std::error_code& error) {
    return what + " " + QuotedPath(path) + ": " + error.message();
}

std::vector<std::string_view> SplitParts(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::optional<std::uint64_t> ParseUnsigned(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::string ListLines(const std::vector<std::string>& items) {
    constexpr std::size_t kShown = 20;
    std::string text;
    for (std::size_t k = 0; k < items.size() && k < kShown; ++k)
        text += "\n  " + items[k];
    if (items.size() > kShown)
        text += "\n  ... and " + std::to_string(items.size() - kShown) + " more";
    return text;
}

} // namespace publish
