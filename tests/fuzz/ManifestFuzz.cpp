// Fuzzes the manifest reader (TListFile over a "files.lst" holding the input)
// and the splitting of its entries (SplitFromEnd).
//
// Properties: every section that a "[name]" in the input could open reads as
// whole stripped lines (never empty, no line break, no CR or Ctrl-Z, no
// control character or blank at either end), or as the single entry "FAIL";
// GetValue of a section and the first field of one of its entries gives the
// last field of the first entry with that first field, as GetSection lists
// them. SplitFromEnd's pieces, joined from the last to the first, give the
// text without its delimiters, and no piece is empty or holds a delimiter.
#include "FuzzSupport.h"

#include "LstFile.h"
#include "Misc.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

using fuzz::Check;

namespace {

// Bounds on the lookups per input, each of which reads the whole file again.
constexpr std::size_t kMaxSections = 4;
constexpr std::size_t kMaxKeys = 4;

void CheckSplit(std::string_view text, std::string_view delimiters) {
    const std::vector<std::string> pieces = SplitFromEnd(text, delimiters);
    std::string joined;
    for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) {
        Check(!piece->empty(), "SplitFromEnd gives no empty piece", text);
        Check(piece->find_first_of(delimiters) == std::string::npos,
              "SplitFromEnd gives no piece with a delimiter", text);
        joined += *piece;
    }
    std::string bare;
    for (const char c : text)
        if (delimiters.find(c) == std::string_view::npos)
            bare += c;
    Check(joined == bare, "SplitFromEnd's pieces make up the text without its delimiters", text);
}

// The names that a "[" and the next "]" on one line of the input enclose,
// without a "/" in front, and the sections the update run reads.
std::set<std::string> SectionNames(std::string_view text) {
    std::set<std::string> names = {"settings", "hosts", "self", "files_critical", "files_normal"};
    std::size_t found = 0;
    for (std::size_t open = text.find('['); open != std::string_view::npos && found < kMaxSections;
         open = text.find('[', open + 1)) {
        const std::size_t close = text.find_first_of("]\n", open + 1);
        if (close == std::string_view::npos || text[close] != ']')
            continue;
        std::string_view name = text.substr(open + 1, close - open - 1);
        if (!name.empty() && name.front() == '/')
            name.remove_prefix(1);
        found += names.emplace(name).second ? 1 : 0;
    }
    return names;
}

bool IsStrippedLine(const std::string& entry) {
    const auto front = static_cast<unsigned char>(entry.front());
    const auto back = static_cast<unsigned char>(entry.back());
    return front > 32 && back > 32 && entry.find_first_of("\r\n\x1A") == std::string::npos;
}

void CheckSection(const TListFile& list, const std::string& name) {
    const std::vector<std::string> entries = list.GetSection(name);
    Check(!entries.empty(), "GetSection never gives an empty list", name);
    if (entries.size() == 1 && entries.front() == kEmptySection)
        return;
    std::size_t keys = 0;
    for (const std::string& entry : entries) {
        Check(!entry.empty() && IsStrippedLine(entry), "GetSection gives whole stripped lines",
              entry);
        CheckSplit(entry, "|");
        const std::vector<std::string> fields = SplitFromEnd(entry, "|");
        if (fields.empty() || ++keys > kMaxKeys)
            continue;
        // The first entry of the section with this first field.
        std::string expected;
        for (const std::string& other : entries) {
            const std::vector<std::string> otherFields = SplitFromEnd(other, "|");
            if (!otherFields.empty() && otherFields.back() == fields.back()) {
                expected = otherFields.front();
                break;
            }
        }
        Check(list.GetValue(name, fields.back()) == expected,
              "GetValue gives the last field of the first entry with that first field",
              name + " / " + fields.back());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::ScratchPath("files.lst");
    const std::string_view text = fuzz::AsText(data, size);
    fuzz::WriteWhole(path, text);

    CheckSplit(text, "|");
    CheckSplit(text, "\\/");
    CheckSplit(text, " \t\r\n");
    CheckSplit(text, "");

    const TListFile list(path);
    for (const std::string& name : SectionNames(text))
        CheckSection(list, name);
    return 0;
}
