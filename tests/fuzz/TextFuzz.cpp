// Fuzzes the Windows-1251 conversions of platform/Text.h with the input taken
// both as Windows-1251 bytes and as UTF-8 text.
//
// Properties: AnsiToUtf8, SettingsTextToUtf8 and FoldCase give valid UTF-8
// (by a check of their own here, after RFC 3629); IsValidUtf8 agrees with that
// check; ANSI -> UTF-8 -> ANSI gives the bytes back when every byte is one
// that Windows-1251 maps (all but 0x98), and fails otherwise; UTF-8 that
// Utf8ToAnsi takes comes back from AnsiToUtf8 unchanged; FoldCase keeps the
// number of characters and folding twice is folding once; a manifest path
// comes back from LocalPathToManifest(ManifestPathToRelative(...)) with "\"
// separators; EncodeUrlPath leaves only plain characters and "%XX", and
// decodes back to its text.
#include "FuzzSupport.h"

#include "Text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using fuzz::Check;

namespace {

// Well-formed UTF-8 as RFC 3629 tabulates it: the ranges that each byte of a
// sequence may take, which rule out overlong forms, surrogates and code
// points beyond U+10FFFF. Gives the number of characters, or nothing.
std::optional<std::size_t> Utf8Length(std::string_view text) {
    std::size_t count = 0;
    std::size_t i = 0;
    const auto in = [&](std::size_t at, unsigned low, unsigned high) {
        if (at >= text.size())
            return false;
        const auto b = static_cast<unsigned char>(text[at]);
        return b >= low && b <= high;
    };
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        if (b <= 0x7F)
            length = 1;
        else if (b >= 0xC2 && b <= 0xDF)
            length = in(i + 1, 0x80, 0xBF) ? 2 : 0;
        else if (b == 0xE0)
            length = in(i + 1, 0xA0, 0xBF) && in(i + 2, 0x80, 0xBF) ? 3 : 0;
        else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF)
            length = in(i + 1, 0x80, 0xBF) && in(i + 2, 0x80, 0xBF) ? 3 : 0;
        else if (b == 0xED)
            length = in(i + 1, 0x80, 0x9F) && in(i + 2, 0x80, 0xBF) ? 3 : 0;
        else if (b == 0xF0)
            length =
                in(i + 1, 0x90, 0xBF) && in(i + 2, 0x80, 0xBF) && in(i + 3, 0x80, 0xBF) ? 4 : 0;
        else if (b >= 0xF1 && b <= 0xF3)
            length =
                in(i + 1, 0x80, 0xBF) && in(i + 2, 0x80, 0xBF) && in(i + 3, 0x80, 0xBF) ? 4 : 0;
        else if (b == 0xF4)
            length =
                in(i + 1, 0x80, 0x8F) && in(i + 2, 0x80, 0xBF) && in(i + 3, 0x80, 0xBF) ? 4 : 0;
        if (length == 0)
            return std::nullopt;
        i += length;
        ++count;
    }
    return count;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void CheckUrlPath(std::string_view text) {
    const std::string encoded = platform::EncodeUrlPath(text);
    std::string decoded;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '%') {
            Check(i + 2 < encoded.size() && HexValue(encoded[i + 1]) >= 0 &&
                      HexValue(encoded[i + 2]) >= 0,
                  "EncodeUrlPath writes \"%\" only before two hexadecimal digits", text);
            decoded += static_cast<char>(HexValue(encoded[i + 1]) * 16 + HexValue(encoded[i + 2]));
            i += 2;
            continue;
        }
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') ||
                           std::string_view("-._~/").find(c) != std::string_view::npos;
        Check(plain, "EncodeUrlPath leaves only plain characters", text);
        decoded += c;
    }
    Check(decoded == text, "EncodeUrlPath decodes back to its text", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::AsText(data, size);

    // The input as Windows-1251.
    const std::string utf8 = platform::AnsiToUtf8(text);
    Check(Utf8Length(utf8) == text.size(), "AnsiToUtf8 gives one valid character per byte", text);
    const std::optional<std::string> back = platform::Utf8ToAnsi(utf8);
    const bool mapped = text.find('\x98') == std::string_view::npos;
    Check(back.has_value() == mapped && (!back || *back == text),
          "ANSI -> UTF-8 -> ANSI is the identity for the bytes Windows-1251 maps", text);
    Check(Utf8Length(platform::SettingsTextToUtf8(text)).has_value(),
          "SettingsTextToUtf8 gives valid UTF-8", text);
    if (mapped) {
        std::string manifestPath(text);
        std::replace(manifestPath.begin(), manifestPath.end(), '/', '\\');
        Check(platform::LocalPathToManifest(platform::ManifestPathToRelative(text)) == manifestPath,
              "a manifest path comes back with \"\\\" separators", text);
    }

    // The input as UTF-8.
    const std::optional<std::size_t> characters = Utf8Length(text);
    Check(platform::IsValidUtf8(text) == characters.has_value(),
          "IsValidUtf8 tells valid UTF-8 from the rest", text);
    if (const std::optional<std::string> ansi = platform::Utf8ToAnsi(text))
        Check(platform::AnsiToUtf8(*ansi) == text, "UTF-8 that Utf8ToAnsi takes comes back", text);
    const std::string folded = platform::FoldCase(text);
    if (characters) {
        Check(Utf8Length(folded) == characters, "FoldCase keeps valid UTF-8 and its length", text);
        Check(platform::FoldCase(folded) == folded, "folding twice is folding once", text);
    } else {
        Check(folded == text, "FoldCase leaves invalid UTF-8 as it is", text);
    }
    CheckUrlPath(text);
    return 0;
}
