// Fuzzes the profile (INI) files of platform/Profile.h: GetProfileString and
// WriteProfileString on a file that holds the input's text. The input is the
// file's text, then optionally a NUL and the section, key and value to write,
// separated by NULs; without them, a section and key of the file and a value
// from one of its lines are written.
//
// Properties: a write is refused exactly when the names or the value cannot
// be carried (a line break, an empty key, "=" in the key, a key starting with
// "["), and a refused write leaves the file as it was; after a write that is
// not refused, the key reads back as written (blanks around it dropped,
// matching quotes removed, cut to kMaxProfileValueLength), every other
// section and key named in the file reads as before, and writing the same
// again changes nothing.
#include "FuzzSupport.h"

#include "Errors.h"
#include "Profile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using fuzz::Check;

namespace {

// What a read gives for a key that is not there: no value holds a line feed.
constexpr std::string_view kMissing = "\n(missing)\n";
// Bounds on the names tried per input, each read of which reads the file.
constexpr std::size_t kMaxSections = 8;
constexpr std::size_t kMaxKeys = 16;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\x1A';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    a = Trim(a);
    b = Trim(b);
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// What the module documents that a read of a written value gives.
std::string ReadBack(std::string_view value) {
    value = Trim(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value.substr(0, std::min(value.size(), platform::kMaxProfileValueLength)));
}

bool CanCarry(std::string_view section, std::string_view key, std::string_view value) {
    for (const std::string_view text : {section, key, value})
        if (text.find_first_of("\r\n") != std::string_view::npos)
            return false;
    key = Trim(key);
    return !key.empty() && key.find('=') == std::string_view::npos && key.front() != '[';
}

// The names in the file that a reader might look up: what stands between a
// line's first "[" and its last "]", and before a line's first "=".
struct Names {
    std::vector<std::string> sections, keys;
    std::vector<std::string> values;
};

Names NamesOf(std::string_view text) {
    Names names;
    std::set<std::string> seenSections, seenKeys;
    for (const std::string_view line : fuzz::Split(text, "\n")) {
        if (const std::size_t open = line.find('['), close = line.rfind(']');
            open != std::string_view::npos && close != std::string_view::npos && open < close &&
            seenSections.size() < kMaxSections &&
            seenSections.emplace(line.substr(open + 1, close - open - 1)).second)
            names.sections.emplace_back(line.substr(open + 1, close - open - 1));
        if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
            if (seenKeys.size() < kMaxKeys && seenKeys.emplace(line.substr(0, equals)).second)
                names.keys.emplace_back(line.substr(0, equals));
            names.values.emplace_back(line.substr(equals + 1));
        }
    }
    return names;
}

std::vector<std::pair<std::string, std::string>> ReadAll(const std::string& file,
                                                         const Names& names) {
    std::vector<std::pair<std::string, std::string>> values;
    for (const std::string& section : names.sections)
        for (const std::string& key : names.keys)
            values.emplace_back(section + "] [" + key,
                                platform::GetProfileString(file, section, key, kMissing));
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string file = fuzz::ScratchPath("option.ini");
    const std::vector<std::string_view> parts = fuzz::Split(fuzz::AsText(data, size), {"\0", 1});
    const std::string_view text = parts[0];
    fuzz::WriteWhole(file, text);

    Names names = NamesOf(text);
    std::string section, key, value;
    if (parts.size() >= 4) {
        section = parts[1];
        key = parts[2];
        value = parts[3];
    } else if (!names.sections.empty() && !names.keys.empty()) {
        section = names.sections[size % names.sections.size()];
        key = names.keys[size / 3 % names.keys.size()];
        value = names.values[size / 5 % names.values.size()];
    } else {
        section = "main";
        key = "AtRevision";
        value = "42";
    }
    if (names.sections.size() < kMaxSections + 1)
        names.sections.push_back(section);
    if (names.keys.size() < kMaxKeys + 1)
        names.keys.push_back(key);

    const auto before = ReadAll(file, names);
    bool refused = false;
    try {
        platform::WriteProfileString(file, section, key, value);
    } catch (const EInOutError&) {
        refused = true;
    }
    const std::string written = fuzz::ReadWhole(file);
    const std::string detail = std::string(text) + " <- [" + section + "] " + key + "=" + value;
    Check(refused == !CanCarry(section, key, value),
          "a write is refused exactly when the format cannot carry it", detail);
    if (refused) {
        Check(written == text, "a refused write leaves the file as it was", detail);
        return 0;
    }
    Check(platform::GetProfileString(file, section, key, kMissing) == ReadBack(value),
          "the key written reads back as written", detail);
    const auto after = ReadAll(file, names);
    std::size_t k = 0;
    for (const std::string& otherSection : names.sections)
        for (const std::string& otherKey : names.keys) {
            if (!(SameName(otherSection, section) && SameName(otherKey, key)))
                Check(after[k].second == before[k].second,
                      "every other key reads as before the write",
                      detail + " / [" + before[k].first + "]: " + before[k].second + " -> " +
                          after[k].second);
            ++k;
        }
    platform::WriteProfileString(file, section, key, value);
    Check(fuzz::ReadWhole(file) == written, "writing the same again changes nothing", detail);
    return 0;
}
