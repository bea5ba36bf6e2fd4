#include "GlobPattern.h"

#include "PublishErrors.h"
#include "PublishText.h"

#include "Text.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace publish {
namespace {

// The code points of a UTF-8 text; nothing when it is not valid UTF-8.
std::optional<std::u32string> DecodeUtf8(std::string_view text) {
    if (!platform::IsValidUtf8(text))
        return std::nullopt;
    std::u32string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        char32_t cp = lead;
        if (lead >= 0xF0) {
            length = 4;
            cp = lead & 0x07u;
        } else if (lead >= 0xE0) {
            length = 3;
            cp = lead & 0x0Fu;
        } else if (lead >= 0xC0) {
            length = 2;
            cp = lead & 0x1Fu;
        }
        for (std::size_t k = 1; k < length; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        out.push_back(cp);
        i += length;
    }
    return out;
}

} // namespace

GlobPattern::GlobPattern(std::string_view pattern) : text_(pattern) {
    const auto fail = [this](const std::string& why) {
        throw EUsageError("Bad pattern " + Quoted(text_) + ": " + why);
    };
    if (pattern.empty())
        fail("it is empty");
    const std::optional<std::u32string> decoded = DecodeUtf8(pattern);
    if (!decoded)
        fail("it is not valid UTF-8");
    if (pattern.find('\\') != std::string_view::npos)
        fail("\"\\\" is not allowed (folders are separated by \"/\"; \"[*]\" matches a literal "
             "\"*\")");
    if (pattern.front() == '/')
        fail("patterns are relative to SOURCE and do not begin with \"/\"");
    std::u32string::size_type start = 0;
    while (start <= decoded->size()) {
        std::u32string::size_type stop = decoded->find(U'/', start);
        if (stop == std::u32string::npos)
            stop = decoded->size();
        const std::u32string part = decoded->substr(start, stop - start);
        start = stop + 1;
        if (part.empty())
            fail("it has an empty folder name (\"//\" or a final \"/\")");
        Component component;
        if (part == U"**") {
            component.globstar = true;
            components_.push_back(std::move(component));
            continue;
        }
        for (std::size_t i = 0; i < part.size();) {
            const char32_t c = part[i];
            Element element{Element::Kind::Literal, c, false, {}};
            if (c == U'*') {
                if (i + 1 < part.size() && part[i + 1] == U'*')
                    fail("\"**\" stands only as a whole folder name, as in \"**/x\" or \"x/**\"");
                element.kind = Element::Kind::Star;
                ++i;
            } else if (c == U'?') {
                element.kind = Element::Kind::Any;
                ++i;
            } else if (c == U'[') {
                element.kind = Element::Kind::Set;
                ++i;
                if (i < part.size() && (part[i] == U'!' || part[i] == U'^')) {
                    element.negated = true;
                    ++i;
                }
                bool first = true;
                while (true) {
                    if (i >= part.size())
                        fail("\"[\" without \"]\"");
                    const char32_t low = part[i];
                    if (low == U']' && !first)
                        break;
                    first = false;
                    if (i + 2 < part.size() && part[i + 1] == U'-' && part[i + 2] != U']') {
                        const char32_t high = part[i + 2];
                        if (high < low)
                            fail("a reversed range in \"[...]\"");
                        element.ranges.emplace_back(low, high);
                        i += 3;
                    } else {
                        element.ranges.emplace_back(low, low);
                        ++i;
                    }
                }
                ++i; // the closing "]"
            } else {
                ++i;
            }
            component.elements.push_back(std::move(element));
        }
        components_.push_back(std::move(component));
    }
}

bool GlobPattern::Matches(std::string_view relativePath) const {
    const std::optional<std::u32string> decoded = DecodeUtf8(relativePath);
    if (!decoded)
        return false;
    std::vector<std::u32string> parts;
    std::u32string::size_type start = 0;
    while (start <= decoded->size()) {
        std::u32string::size_type stop = decoded->find(U'/', start);
        if (stop == std::u32string::npos)
            stop = decoded->size();
        parts.push_back(decoded->substr(start, stop - start));
        start = stop + 1;
    }
    std::vector<signed char> known((components_.size() + 1) * (parts.size() + 1), -1);
    return MatchFrom(0, parts, 0, known);
}

bool GlobPattern::MatchFrom(std::size_t patternIndex, const std::vector<std::u32string>& parts,
                            std::size_t partIndex, std::vector<signed char>& known) const {
    if (patternIndex == components_.size())
        return partIndex == parts.size();
    signed char& answer = known[patternIndex * (parts.size() + 1) + partIndex];
    if (answer >= 0)
        return answer == 1;
    const Component& component = components_[patternIndex];
    bool matches = false;
    if (component.globstar) {
        // A final "**" needs something below the folder; an inner one may match nothing.
        const bool last = patternIndex + 1 == components_.size();
        // Either it matches no more folders, or one more and maybe others.
        if (last)
            matches = partIndex < parts.size();
        else
            matches =
                MatchFrom(patternIndex + 1, parts, partIndex, known) ||
                (partIndex < parts.size() && MatchFrom(patternIndex, parts, partIndex + 1, known));
    } else {
        matches = partIndex < parts.size() &&
                  MatchComponent(component.elements, parts[partIndex]) &&
                  MatchFrom(patternIndex + 1, parts, partIndex + 1, known);
    }
    answer = matches ? 1 : 0;
    return matches;
}

bool GlobPattern::MatchComponent(const std::vector<Element>& elements, const std::u32string& name) {
    const auto one = [](const Element& element, char32_t c) {
        switch (element.kind) {
        case Element::Kind::Literal:
            return element.ch == c;
        case Element::Kind::Any:
            return true;
        case Element::Kind::Set: {
            const bool inSet =
                std::any_of(element.ranges.begin(), element.ranges.end(),
                            [c](const auto& r) { return r.first <= c && c <= r.second; });
            return inSet != element.negated;
        }
        case Element::Kind::Star:
            break;
        }
        return false;
    };
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::size_t p = 0, s = 0, starAt = kNone, starFrom = 0;
    while (s < name.size()) {
        if (p < elements.size() && elements[p].kind == Element::Kind::Star) {
            starAt = p++;
            starFrom = s;
        } else if (p < elements.size() && one(elements[p], name[s])) {
            ++p;
            ++s;
        } else if (starAt != kNone) {
            p = starAt + 1;
            s = ++starFrom;
        } else {
            return false;
        }
    }
    while (p < elements.size() && elements[p].kind == Element::Kind::Star)
        ++p;
    return p == elements.size();
}

} // namespace publish
