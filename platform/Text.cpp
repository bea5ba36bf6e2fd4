#include "Text.h"

#include "SystemNames.h"

#include <array>
#include <cstdint>

namespace platform {
namespace {

// Unicode code points of the bytes 0x80..0xFF of Windows-1251.
constexpr std::array<char32_t, 128> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one UTF-8 sequence at text[i]; advances i. Returns false on a
// malformed, overlong or surrogate sequence.
bool DecodeUtf8(std::string_view text, std::size_t& i, char32_t& cp) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    char32_t min;
    if (lead < 0x80) {
        cp = lead;
        ++i;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, cp = lead & 0x1Fu, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, cp = lead & 0x0Fu, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, cp = lead & 0x07u, min = 0x10000;
    } else {
        return false;
    }
    if (i + extra >= text.size())
        return false;
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto c = static_cast<unsigned char>(text[i + k]);
        if ((c & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (c & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    i += extra + 1;
    return true;
}

} // namespace

std::string AnsiToUtf8(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size() * 2);
    for (char ch : ansi) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80)
            out += ch;
        else
            AppendUtf8(out, kCp1251High[b - 0x80u]);
    }
    return out;
}

std::optional<std::string> Utf8ToAnsi(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp;
        if (!DecodeUtf8(utf8, i, cp))
            return std::nullopt;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
            continue;
        }
        bool found = false;
        for (std::size_t k = 0; k < kCp1251High.size(); ++k) {
            if (kCp1251High[k] == cp && cp != 0xFFFD) {
                out += static_cast<char>(0x80 + k);
                found = true;
                break;
            }
        }
        if (!found)
            return std::nullopt;
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    char32_t cp;
    while (i < text.size())
        if (!DecodeUtf8(text, i, cp))
            return false;
    return true;
}

std::string SettingsTextToUtf8(std::string_view text) {
    return IsValidUtf8(text) ? std::string(text) : AnsiToUtf8(text);
}

std::string FoldCase(std::string_view utf8) {
    if (!IsValidUtf8(utf8))
        return std::string(utf8);
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    char32_t cp;
    while (i < utf8.size()) {
        DecodeUtf8(utf8, i, cp);
        if (cp >= 'A' && cp <= 'Z')
            cp += 'a' - 'A';
        else if (cp >= 0x0410 && cp <= 0x042F) // А..Я
            cp += 0x20;
        else if (cp >= 0x0400 && cp <= 0x040F) // Ѐ..Џ, Ё among them
            cp += 0x50;
        else if (cp == 0x0490) // Ґ
            cp = 0x0491;
        AppendUtf8(out, cp);
    }
    return out;
}

std::string ManifestPathToRelative(std::string_view manifestPath) {
    std::string relative = AnsiToUtf8(manifestPath);
    for (char& c : relative)
        if (c == '\\')
            c = '/';
    return relative;
}

std::string ManifestPathToLocal(std::string_view manifestPath) {
    std::string local = AnsiToUtf8(manifestPath);
    for (char& c : local)
        if (c == '\\')
            c = kPathSeparator;
    return local;
}

std::optional<std::string> LocalPathToManifest(std::string_view localPath) {
    auto ansi = Utf8ToAnsi(localPath);
    if (ansi)
        for (char& c : *ansi)
            if (c == '/' || c == kPathSeparator)
                c = '\\';
    return ansi;
}

std::string EncodeUrlPath(std::string_view utf8Path) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(utf8Path.size());
    for (char ch : utf8Path) {
        const auto b = static_cast<unsigned char>(ch);
        const bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                           (b >= '0' && b <= '9') || b == '-' || b == '.' || b == '_' || b == '~' ||
                           b == '/';
        if (plain) {
            out += ch;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        }
    }
    return out;
}

std::string WindowsCommandLineArgument(std::string_view text) {
    if (!text.empty() && text.find_first_of(" \t\"") == std::string_view::npos)
        return std::string(text);
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : text) {
        if (c == '\\') {
            ++backslashes;
        } else {
            if (c == '"')
                quoted.append(backslashes + 1, '\\');
            backslashes = 0;
        }
        quoted += c;
    }
    quoted.append(backslashes, '\\');
    return quoted + "\"";
}

} // namespace platform
