#include "ClockTexts.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

// A date or time format split into its fields (runs of one unquoted letter)
// and the text between them (quoted text and other characters), so that
// fields can be replaced without touching literal text.
struct FormatPiece {
    std::string text;
    bool field = false;
};

bool IsFieldLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::vector<FormatPiece> SplitFormat(const std::string& format) {
    std::vector<FormatPiece> pieces;
    const auto addLiteral = [&pieces](std::string_view text) {
        if (!pieces.empty() && !pieces.back().field)
            pieces.back().text += text;
        else
            pieces.push_back({std::string(text), false});
    };
    std::size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        if (c == '\'') {
            // Quoted text, '' standing for one quote, up to the closing quote.
            std::size_t end = i + 1;
            while (end < format.size()) {
                if (format[end] == '\'') {
                    if (end + 1 < format.size() && format[end + 1] == '\'')
                        end += 2;
                    else
                        break;
                } else {
                    ++end;
                }
            }
            const std::size_t stop = std::min(end + 1, format.size());
            addLiteral(std::string_view(format).substr(i, stop - i));
            i = stop;
        } else if (IsFieldLetter(c)) {
            std::size_t end = i + 1;
            while (end < format.size() && format[end] == c)
                ++end;
            pieces.push_back({format.substr(i, end - i), true});
            i = end;
        } else {
            addLiteral(std::string_view(format).substr(i, 1));
            ++i;
        }
    }
    return pieces;
}

std::string JoinFormat(const std::vector<FormatPiece>& pieces) {
    std::string format;
    for (const FormatPiece& piece : pieces)
        format += piece.text;
    return format;
}

// The length of the space that ends `text` (or begins it, with `front`), if
// it has one there: ASCII white space, or in UTF-8 the no-break, narrow
// no-break and thin spaces of the locales' pictures.
std::size_t SpaceAt(std::string_view text, bool front) {
    if (text.empty())
        return 0;
    const char end = front ? text.front() : text.back();
    if (end == ' ' || (end >= '\t' && end <= '\r'))
        return 1;
    for (std::string_view space : {"\xC2\xA0", "\xE2\x80\xAF", "\xE2\x80\x89", "\xE2\x80\x87"}) {
        if (text.size() >= space.size() &&
            text.substr(front ? 0 : text.size() - space.size(), space.size()) == space)
            return space.size();
    }
    return 0;
}

std::size_t TrailingSpace(std::string_view text) {
    return SpaceAt(text, false);
}

std::string Trimmed(std::string text) {
    while (const std::size_t n = TrailingSpace(text))
        text.resize(text.size() - n);
    std::size_t start = 0;
    while (const std::size_t n = SpaceAt(std::string_view(text).substr(start), true))
        start += n;
    return text.substr(start);
}

} // namespace

std::string FourDigitYear(const std::string& format) {
    std::vector<FormatPiece> pieces = SplitFormat(format);
    for (FormatPiece& piece : pieces) {
        if (piece.field && piece.text == "yy")
            piece.text = "yyyy";
    }
    return JoinFormat(pieces);
}

std::string WithoutField(const std::string& format, char letter) {
    std::vector<FormatPiece> kept;
    for (FormatPiece& piece : SplitFormat(format)) {
        if (piece.field && piece.text.front() == letter) {
            if (!kept.empty() && !kept.back().field) {
                std::string& before = kept.back().text;
                while (const std::size_t n = TrailingSpace(before))
                    before.resize(before.size() - n);
            }
            continue;
        }
        kept.push_back(std::move(piece));
    }
    return Trimmed(JoinFormat(kept));
}

std::string DateLine(const std::string& date) {
    return "Дата: " + date + " г.";
}

std::string TimeLine(const std::string& time) {
    return "Время: " + time;
}

std::string ProjectSiteName() {
    std::string_view site = kProjectSite;
    if (const std::size_t scheme = site.find("://"); scheme != std::string_view::npos)
        site.remove_prefix(scheme + 3);
    site = site.substr(0, site.find_first_of("/?#"));
    if (const std::size_t at = site.rfind('@'); at != std::string_view::npos)
        site.remove_prefix(at + 1);
    site = site.substr(0, site.find(':'));
    return std::string(site);
}

std::string NoticeText(int year) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d", year);
    return std::to_string(kNoticeFirstYear) + "-" + digits + " © " + ProjectSiteName();
}
