#include "ManifestWriter.h"

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
                         const std::vector<Job>& jobs, const std::string& expires) {
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
    AppendSection(manifest, "settings", settings);
    AppendSection(manifest, "hosts", hostLines);
    AppendSection(manifest, "self", selfLines);
    AppendSection(manifest, "files_critical", criticalLines);
    AppendSection(manifest, "files_normal", normalLines);
    return manifest;
}

} // namespace publish
