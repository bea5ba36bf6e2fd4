#include "HostsFile.h"

#include "Files.h"
#include "Misc.h"
#include "Process.h"
#include "Streams.h"
#include "Text.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// What a line of the hosts file maps: its first word, and the host names
// after it. Words are separated by blanks; a "#" starts a comment, so a
// comment line maps nothing.
struct Mapping {
    std::string_view address;
    std::vector<std::string_view> names;
};

Mapping MappingOf(std::string_view line) {
    line = line.substr(0, line.find('#'));
    Mapping mapping;
    for (std::size_t start = line.find_first_not_of(" \t"); start != std::string_view::npos;) {
        const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
        if (mapping.address.empty())
            mapping.address = line.substr(start, end - start);
        else
            mapping.names.push_back(line.substr(start, end - start));
        start = line.find_first_not_of(" \t", end);
    }
    return mapping;
}

// Host names compare without regard to the case of their letters, as the
// system's resolver compares them.
bool SameHostName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace

bool UpdateHosts(TNotifier& notifier, const std::string& hostsFolder,
                 const std::vector<std::string>& entries) {
    if (hostsFolder.empty())
        return true;
    bool ok = true;
    std::string folder = hostsFolder;
    if (folder.back() != platform::kPathSeparator)
        folder += platform::kPathSeparator;
    std::string file = folder + "hosts.msn";
    std::error_code error;
    if (!fs::exists(platform::FsPath(file), error))
        file = folder + "hosts";
    // Through a link, the file it names is the one rewritten.
    if (fs::is_symlink(platform::FsPath(file), error))
        file = platform::PathText(fs::canonical(platform::FsPath(file), error));

    // Every line is kept, also after a Ctrl-Z: the file is rewritten whole.
    std::string content;
    try {
        TFileStream in(file, TFileStream::Mode::fmOpenRead);
        char buffer[65536];
        while (const std::size_t n = in.Read(buffer, sizeof buffer))
            content.append(buffer, n);
    } catch (const std::exception& e) {
        notifier.ShowCause("hosts file: " + std::string(e.what()));
        return false;
    }
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < content.size();) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        lines.emplace_back(TrimControl(std::string_view(content).substr(start, end - start)));
        start = end + 1;
    }

    // One mapping per host name: a later entry for a name is left out.
    struct Wanted {
        std::string address, host;
        bool present = false;
    };
    std::vector<Wanted> wanted;
    for (const std::string& entry : entries) {
        const std::vector<std::string> fields = SplitFromEnd(entry, "|");
        // Only a plain address and host name ever reach the file.
        if (fields.size() < 2 || !platform::IsIpAddressLiteral(fields[1]) ||
            !IsPlainHostName(fields[0])) {
            ok = false;
            notifier.ShowCause("hosts entry '" + platform::AnsiToUtf8(entry) +
                               "' is not an address and a host name; left out");
            continue;
        }
        const auto earlier = std::find_if(wanted.begin(), wanted.end(), [&](const Wanted& w) {
            return SameHostName(w.host, fields[0]);
        });
        if (earlier == wanted.end()) {
            wanted.push_back({fields[1], fields[0]});
        } else if (earlier->address != fields[1]) {
            ok = false;
            notifier.ShowCause("hosts entry '" + platform::AnsiToUtf8(entry) +
                               "' maps a host name that '" + earlier->address + "|" +
                               earlier->host + "' maps already; left out");
        }
    }

    // A line that maps one of the names to another address is commented out
    // whole; the lines left map each name they hold to its address.
    bool commented = false;
    for (std::string& line : lines) {
        const Mapping mapping = MappingOf(line);
        bool stale = false;
        for (const Wanted& w : wanted)
            for (const std::string_view name : mapping.names)
                stale = stale || (SameHostName(name, w.host) && mapping.address != w.address);
        if (stale) {
            line = "#" + line;
            commented = true;
            continue;
        }
        for (Wanted& w : wanted)
            for (const std::string_view name : mapping.names)
                w.present = w.present || SameHostName(name, w.host);
    }
    std::vector<std::string> block;
    for (const Wanted& w : wanted)
        if (!w.present)
            block.push_back(w.address + "\t" + w.host);
    if (block.empty() && !commented)
        return ok;
    if (!block.empty()) {
        block.insert(block.begin(), "#-------- Added by Quenmor --------");
        block.push_back("#-----------------");
    }

    try {
        platform::AtomicFile out(file);
        notifier.ShowStatus(status::kHostsApplying);
        std::string text;
        for (const auto* part : {&lines, &block})
            for (const std::string& line : *part)
                text += line + platform::kLineEnding;
        out.Write(text.data(), text.size());
        out.Commit();
        notifier.ShowStatus(status::kHostsChanged);
    } catch (const std::exception& e) {
        // Without the right to change it (the usual case for a player), the
        // game files are still brought up to date.
        notifier.ShowCause("hosts file: " + std::string(e.what()));
        return false;
    }
    return ok;
}
