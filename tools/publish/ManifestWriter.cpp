#include "ManifestWriter.h"

#include "PublishErrors.h"

#include "Misc.h"

#include <algorithm>

namespace publish {
namespace {

void AppendSection(std::string& text, const char* name, const std::vector<std::string>& entries) {
    text += std::string("[") + name + "]\r\n";
    for (const std::string& entry : entries)
        text += entry + "\r\n";
    text += std::string("[/") + name + "]\r\n";
}

std::string FileLine(const Job& job) {
    return std::to_string(job.content.size) + "|" + job.content.sha256 + "|" + job.manifestPath +
           "|" + job.content.digest + "|" + std::to_string(job.copySize);
}

} // namespace

std::string ManifestText(std::int32_t revision, bool modHosts, const std::vector<HostEntry>& hosts,
                         const std::vector<Job>& jobs, const std::string& expires,
                         const std::vector<std::string>& moreSettings) {
    std::vector<std::string> hostLines, selfLines, criticalLines, normalLines;
    for (const HostEntry& host : hosts)
        hostLines.push_back(host.address + "|" + host.hostname);
    for (const Job& job : jobs) {
        switch (job.section) {
        case Section::Self:
            selfLines.push_back(FileLine(job));
            break;
        case Section::Critical:
            criticalLines.push_back(FileLine(job));
            break;
        case Section::Normal:
            normalLines.push_back(FileLine(job));
            break;
        }
    }
    std::string manifest;
    std::vector<std::string> settings = {"Rev|" + std::to_string(revision),
                                         std::string("ModHosts|") + (modHosts ? "1" : "0")};
    if (!expires.empty())
        settings.push_back("Expires|" + expires);
    settings.insert(settings.end(), moreSettings.begin(), moreSettings.end());
    AppendSection(manifest, "settings", settings);
    AppendSection(manifest, "hosts", hostLines);
    AppendSection(manifest, "self", selfLines);
    AppendSection(manifest, "files_critical", criticalLines);
    AppendSection(manifest, "files_normal", normalLines);
    return manifest;
}

std::string WithExpiry(const std::string& text, const std::string& expires) {
    const std::string entry = "Expires|" + expires;
    // Lines as the launcher's reader takes them: up to LF, without CRs and
    // the blanks at either end, and nothing after a Ctrl-Z.
    const std::size_t end = std::min(text.find('\x1A'), text.size());
    bool inSettings = false;
    for (std::size_t start = 0; start < end;) {
        const std::size_t lineEnd = std::min(text.find('\n', start), end);
        std::string line;
        for (std::size_t k = start; k < lineEnd; ++k)
            if (text[k] != '\r')
                line += text[k];
        line = std::string(TrimControl(line));
        if (!inSettings) {
            inSettings = line == "[settings]";
        } else if (line == "[/settings]") {
            const bool crlf = lineEnd > start && text[lineEnd - 1] == '\r';
            return text.substr(0, start) + entry + (crlf ? "\r\n" : "\n") + text.substr(start);
        } else if (const std::vector<std::string> fields = SplitFromEnd(line, "|");
                   !fields.empty() && fields.back() == "Expires") {
            // The line's own end stays.
            std::size_t keep = lineEnd;
            while (keep > start && text[keep - 1] == '\r')
                --keep;
            return text.substr(0, start) + entry + text.substr(keep);
        }
        start = lineEnd + 1;
    }
    throw EPublishError("the manifest has no section settings that ends with [/settings]");
}

} // namespace publish
