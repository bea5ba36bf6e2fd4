// The run's step that maps the manifest's host names in the system's hosts
// file: a marked block of new mappings, and earlier lines for those names
// with other addresses commented out.
#include "GetFilesThr.h"

#include "Files.h"
#include "Misc.h"
#include "Process.h"
#include "Streams.h"
#include "Text.h"

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

void GFilesThread::UpdateHosts(const std::vector<std::string>& entries) {
    if (HostsFolder.empty())
        return;
    std::string folder = HostsFolder;
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
        runFailed_ = true;
        Cause("hosts file: " + std::string(e.what()));
        return;
    }
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < content.size();) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        lines.emplace_back(TrimControl(std::string_view(content).substr(start, end - start)));
        start = end + 1;
    }

    std::vector<std::string> block = {"#-------- Added by Quenmor --------"};
    for (const std::string& entry : entries) {
        const std::vector<std::string> fields = SplitFromEnd(entry, "|");
        // Only a plain address and host name ever reach the file.
        if (fields.size() < 2 || !platform::IsIpAddressLiteral(fields[1]) ||
            !IsPlainHostName(fields[0])) {
            runFailed_ = true;
            Cause("hosts entry '" + platform::AnsiToUtf8(entry) +
                  "' is not an address and a host name; left out");
            continue;
        }
        const std::string& host = fields[0];
        const std::string& address = fields[1];
        bool present = false; // the state after the last line that mentions the host
        for (std::string& line : lines) {
            if (FindFrom(1, line, host) == 0 || (!line.empty() && line[0] == '#'))
                continue;
            if (FindFrom(1, line, address + "\t") > 0 || FindFrom(1, line, address + " ") > 0) {
                present = true;
            } else {
                line = "#" + line;
                present = false;
            }
        }
        if (!present)
            block.push_back(address + "\t" + host);
    }
    block.push_back("#-----------------");
    if (block.size() <= 2)
        return;

    try {
        platform::AtomicFile out(file);
        Show(status::kHostsApplying);
        std::string text;
        for (const auto* part : {&lines, &block})
            for (const std::string& line : *part)
                text += line + platform::kLineEnding;
        out.Write(text.data(), text.size());
        out.Commit();
        Show(status::kHostsChanged);
    } catch (const std::exception& e) {
        // Without the right to change it (the usual case for a player), the
        // game files are still brought up to date.
        runFailed_ = true;
        Cause("hosts file: " + std::string(e.what()));
    }
}
