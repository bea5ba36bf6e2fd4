// Fuzzes the update run's hosts file step (UpdateHosts) over a
// hosts file and the manifest's hosts entries ("address|host name"). The
// input is the hosts file's text, then optionally a line "[hosts]" and the
// entries, one per line; without it, two fixed entries are applied.
//
// Properties: every line of the file keeps its place, stripped of blanks and
// controls at its ends, and one that mentions no entry's host name (in any
// letter case) is otherwise unchanged, where one that does is kept or
// commented out with "#"; the lines added after them, if any, are the marked
// block of "address<TAB>host name" lines of the entries; every line ends with
// the system's line ending and no NUL is added; afterwards every line that
// names an entry's host name (the first entry of a name counts) maps it to
// the entry's address, and some line does; a second run with the same
// entries changes nothing.
#include "FuzzSupport.h"

#include "Files.h"
#include "HostsFile.h"
#include "Misc.h"
#include "Process.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using fuzz::Check;

namespace {

constexpr std::string_view kEntriesMark = "[hosts]\n";
constexpr std::string_view kBlockOpening = "#-------- Added by Quenmor --------";
constexpr std::string_view kBlockClosing = "#-----------------";

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// The file's lines as the step reads them: split at line feeds, a final
// line feed ending the last line.
std::vector<std::string_view> LinesOf(std::string_view text) {
    std::vector<std::string_view> lines = fuzz::Split(text, "\n");
    if (lines.back().empty())
        lines.pop_back();
    return lines;
}

// After a run, each host name of an entry (the first entry of a name) is
// mapped to the entry's address: some line that is not a comment names it,
// and every such line has that address as its first word.
void CheckMapped(std::string_view written, const std::vector<std::string>& entries,
                 const std::string& detail) {
    std::vector<std::pair<std::string, std::string>> wanted; // lower-case name, address
    for (const std::string& entry : entries) {
        const std::vector<std::string> fields = SplitFromEnd(entry, "|");
        if (fields.size() < 2 || !platform::IsIpAddressLiteral(fields[1]) ||
            !IsPlainHostName(fields[0]))
            continue;
        const std::string name = Lower(fields[0]);
        if (std::none_of(wanted.begin(), wanted.end(), [&](auto& w) { return w.first == name; }))
            wanted.emplace_back(name, fields[1]);
    }
    std::vector<bool> mapped(wanted.size(), false);
    for (std::string_view line : fuzz::Split(written, "\n")) {
        line = TrimControl(line);
        line = line.substr(0, line.find('#'));
        std::vector<std::string_view> words;
        for (const std::string_view word : fuzz::Split(line, " "))
            for (const std::string_view piece : fuzz::Split(word, "\t"))
                if (!piece.empty())
                    words.push_back(piece);
        for (std::size_t i = 1; i < words.size(); ++i)
            for (std::size_t k = 0; k < wanted.size(); ++k)
                if (Lower(words[i]) == wanted[k].first) {
                    Check(words[0] == wanted[k].second,
                          "every line that names an entry's host maps it to the entry's address",
                          detail + "\nline: " + std::string(line));
                    mapped[k] = true;
                }
    }
    Check(std::all_of(mapped.begin(), mapped.end(), [](bool m) { return m; }),
          "every entry's host is mapped", detail);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::SilentTarget target;
    static TNotifier notifier(target);
    static const std::string folder = fuzz::ScratchFolder();
    static const std::string file = fuzz::ScratchPath("hosts");

    const std::string_view input = fuzz::AsText(data, size);
    std::string_view hosts = input;
    std::vector<std::string> entries = {"10.1.2.3|login.quenmor.example",
                                        "::1|files.quenmor.example"};
    if (const std::size_t mark = input.starts_with(kEntriesMark) ? 0 : input.find("\n[hosts]\n");
        mark != std::string_view::npos) {
        const std::size_t after =
            mark + (mark == 0 ? kEntriesMark.size() : kEntriesMark.size() + 1);
        hosts = input.substr(0, mark == 0 ? 0 : mark + 1);
        entries.clear();
        for (const std::string_view entry : fuzz::Split(input.substr(after), "\n"))
            if (!entry.empty())
                entries.emplace_back(entry);
    }
    fuzz::WriteWhole(file, hosts);
    UpdateHosts(notifier, folder, entries);
    const std::string written = fuzz::ReadWhole(file);
    const std::string detail = std::string(input) + "\n=> " + written;
    if (written != hosts) {
        const std::string_view ending = platform::kLineEnding;
        Check(written.ends_with(ending), "the file ends with a line ending", detail);
        for (std::size_t at = written.find('\n'); at != std::string::npos;
             at = written.find('\n', at + 1))
            Check(at + 1 >= ending.size() && std::string_view(written).substr(
                                                 at + 1 - ending.size(), ending.size()) == ending,
                  "every line ends with the system's line ending", detail);
        Check(std::count(written.begin(), written.end(), '\0') <=
                  std::count(hosts.begin(), hosts.end(), '\0'),
              "no NUL is added", detail);

        std::vector<std::string_view> out = fuzz::Split(written, ending);
        out.pop_back(); // after the last line ending
        const std::vector<std::string_view> in = LinesOf(hosts);
        Check(out.size() == in.size() || out.size() >= in.size() + 3,
              "the file keeps its lines, and gains a block or nothing", detail);
        for (std::size_t i = 0; i < in.size(); ++i) {
            const std::string_view stripped = TrimControl(in[i]);
            const bool mentioned = std::any_of(entries.begin(), entries.end(), [&](auto& entry) {
                const std::vector<std::string> fields = SplitFromEnd(entry, "|");
                return !fields.empty() &&
                       Lower(stripped).find(Lower(fields[0])) != std::string::npos;
            });
            Check(out[i] == stripped || (mentioned && out[i].size() == stripped.size() + 1 &&
                                         out[i][0] == '#' && out[i].substr(1) == stripped),
                  "a line that mentions no entry's host stays, stripped; one that does may be "
                  "commented out",
                  detail + "\nline: " + std::string(in[i]));
        }
        Check(out.size() == in.size() ||
                  (out[in.size()] == kBlockOpening && out.back() == kBlockClosing),
              "the added lines are the marked block", detail);
        for (std::size_t i = in.size() + 1; i + 1 < out.size(); ++i) {
            const bool listed = std::any_of(entries.begin(), entries.end(), [&](auto& entry) {
                const std::vector<std::string> fields = SplitFromEnd(entry, "|");
                return fields.size() >= 2 && out[i] == fields[1] + "\t" + fields[0];
            });
            Check(listed, "each line of the block maps an entry's host to its address",
                  detail + "\nline: " + std::string(out[i]));
        }
    }
    CheckMapped(written, entries, detail);
    UpdateHosts(notifier, folder, entries);
    Check(fuzz::ReadWhole(file) == written, "a second run with the same entries changes nothing",
          detail);
    return 0;
}
