#include "ManifestWriter.h"

namespace publish {
namespace {

void AppendSection(std::string& text, const char* name, const std::vector<std::string>& entries) {
    text += std::string("[") + name + "]\r\n";
    for (const std::string& entry : entries)
        text += entry + "\r\n";
    text += std::string("[/") + name + "]\r\n";
}

// A file's line: "path|digest|size", the size being that of its copy, with
// "sha256|" in front in a signed tree. Launchers that know nothing of the
// SHA-256 read the last three fields only.
std::string FileLine(const Job& job, bool sha256) {
    return (sha256 ? job.content.sha256 + "|" : std::string()) + job.manifestPath + "|" +
           job.content.digest + "|" + std::to_string(job.copySize);
}

} // namespace

std::string ManifestText(std::int32_t revision, bool modHosts, const std::vector<HostEntry>& hosts,
                         const std::vector<Job>& jobs, const SignedFields& signedFields) {
    std::vector<std::string> hostLines, selfLines, criticalLines, normalLines;
    for (const HostEntry& host : hosts)
        hostLines.push_back(host.address + "|" + host.hostname);
    for (const Job& job : jobs) {
        switch (job.section) {
        case Section::Self:
            selfLines.push_back(FileLine(job, signedFields.sha256));
            break;
        case Section::Critical:
            criticalLines.push_back(FileLine(job, signedFields.sha256));
            break;
        case Section::Normal:
            normalLines.push_back(FileLine(job, signedFields.sha256));
            break;
        }
    }
    std::string manifest;
    std::vector<std::string> settings = {"Rev|" + std::to_string(revision),
                                         std::string("ModHosts|") + (modHosts ? "1" : "0")};
    if (!signedFields.expires.empty())
        settings.push_back("Expires|" + signedFields.expires);
    AppendSection(manifest, "settings", settings);
    AppendSection(manifest, "hosts", hostLines);
    AppendSection(manifest, "self", selfLines);
    AppendSection(manifest, "files_critical", criticalLines);
    AppendSection(manifest, "files_normal", normalLines);
    return manifest;
}

} // namespace publish
