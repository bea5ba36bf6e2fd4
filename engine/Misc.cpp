#include "Misc.h"

#include "Errors.h"

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
    const auto status = std::filesystem::symlink_status(path, error);
    if (error || !std::filesystem::exists(status))
        return true;
    std::filesystem::remove_all(path, error);
    return !error;
}

std::int32_t StrToInt(std::string_view text) {
    const auto fail = [&]() -> std::int32_t {
        throw EConvertError(
            FormatMessage("'%s' is not a valid integer value", std::string(text)));
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
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return fail();
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
        value = value * base + digit;
        if (value > 0xFFFFFFFFull)
            return fail();
    }
    if (base == 10) {
        const std::uint64_t limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
        if (value > limit)
            return fail();
        return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(value))
                        : static_cast<std::int32_t>(value);
    }
    // Hexadecimal text gives the 32-bit pattern, as "$FFFFFFFF" = -1.
    auto bits = static_cast<std::uint32_t>(value);
    if (negative)
        bits = ~bits + 1u;
    return static_cast<std::int32_t>(bits);
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
        if (part.empty() || part == "." || part == "..")
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
