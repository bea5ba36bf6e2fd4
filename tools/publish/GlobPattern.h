// The patterns of --critical: shell-like wildcards matched against a file's
// whole path below SOURCE.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace publish {

// A pattern of --critical, matched against a path relative to SOURCE with "/"
// between folders (UTF-8, case-sensitive, always against the whole path):
//   *      any run of characters within one folder or file name (not "/")
//   ?      one character, not "/"
//   [...]  one character of the set: ranges "a-z", "!" or "^" first negates,
//          "]" first is taken literally; never "/"
//   **     as a whole component: "**/" matches any number of folders (none
//          too), a final "/**" matches everything below the folder
// A leading "." is no special case. There is no escape character ("\" is
// refused): write "[*]" for a literal "*".
class GlobPattern {
public:
    // Raises EUsageError naming the pattern when it is malformed.
    explicit GlobPattern(std::string_view pattern);

    bool Matches(std::string_view relativePath) const;
    const std::string& Text() const { return text_; }

private:
    struct Element {
        enum class Kind { Literal, Any, Star, Set } kind;
        char32_t ch = 0;
        bool negated = false;
        std::vector<std::pair<char32_t, char32_t>> ranges;
    };
    struct Component {
        bool globstar = false;
        std::vector<Element> elements;
    };

    // Whether the components from `patternIndex` on match the parts from
    // `partIndex` on. `known` holds the answer for each pair of indexes once
    // found (-1: not yet), so that no pair is worked out twice: the ways to
    // share the parts out among several "**" grow exponentially with their
    // number, the pairs only with the product of the two lengths.
    bool MatchFrom(std::size_t patternIndex, const std::vector<std::u32string>& parts,
                   std::size_t partIndex, std::vector<signed char>& known) const;
    static bool MatchComponent(const std::vector<Element>& elements, const std::u32string& name);

    std::string text_;
    std::vector<Component> components_;
};

} // namespace publish
