#include "PublishChanges.h"

#include "CopyJobs.h"
#include "PublishText.h"

#include "Text.h"

#include <map>
#include <set>

namespace publish {
namespace {

const char* SectionName(Section section) {
    switch (section) {
    case Section::Self:
        return "self";
    case Section::Critical:
        return "files_critical";
    case Section::Normal:
        break;
    }
    return "files_normal";
}

bool SameContent(const Job& job, const std::string& digest, const std::string& sha256) {
    return job.content.digest == digest && (sha256.empty() || job.content.sha256 == sha256);
}

} // namespace

TreeChanges CompareWithPublished(const PreviousManifest& previous, const std::vector<Job>& jobs) {
    TreeChanges changes;
    std::set<std::string> now;
    for (const Job& job : jobs)
        now.insert(job.manifestPath);
    // The files that leave, by content, so that an added file with the same
    // content reads as moved (each one only once).
    std::multimap<std::string, const ListedFile*> leaving;
    std::vector<const ListedFile*> removed;
    for (const ListedFile& file : previous.files) {
        if (!now.count(file.manifestPath)) {
            leaving.emplace(file.digest, &file);
            removed.push_back(&file);
        }
    }
    std::set<const ListedFile*> movedAway;
    for (const Job& job : jobs) {
        const auto found = previous.entries.find(job.manifestPath);
        if (found == previous.entries.end()) {
            bool moved = false;
            for (auto [it, end] = leaving.equal_range(job.content.digest); it != end; ++it) {
                if (SameContent(job, it->second->digest, it->second->sha256)) {
                    changes.moved.emplace_back(Printable(it->second->relative),
                                               Printable(job.relative));
                    movedAway.insert(it->second);
                    leaving.erase(it);
                    moved = true;
                    break;
                }
            }
            if (!moved)
                changes.added.push_back(Printable(job.relative));
            continue;
        }
        if (!SameContent(job, found->second.digest, found->second.sha256))
            changes.changed.push_back(Printable(job.relative));
        if (found->second.section != SectionName(job.section))
            changes.sections.push_back(
                {Printable(job.relative), found->second.section, SectionName(job.section)});
    }
    for (const ListedFile* file : removed)
        if (!movedAway.count(file))
            changes.removed.push_back(Printable(file->relative));
    return changes;
}

std::vector<std::string> ChangeLines(const TreeChanges& changes) {
    std::vector<std::string> lines;
    for (const std::string& path : changes.added)
        lines.push_back("added    " + path);
    for (const std::string& path : changes.changed)
        lines.push_back("changed  " + path);
    for (const std::string& path : changes.removed)
        lines.push_back("removed  " + path);
    for (const auto& [from, to] : changes.moved)
        lines.push_back("moved    " + from + " -> " + to);
    for (const TreeChanges::SectionChange& change : changes.sections)
        lines.push_back("section  " + change.path + ": " + change.from + " -> " + change.to);
    return lines;
}

std::vector<std::string> NormalDifferences(const PreviousManifest& previous,
                                           const std::vector<Job>& jobs, bool digestsKnown) {
    std::map<std::string, const Job*> now;
    for (const Job& job : jobs)
        if (job.section == Section::Normal)
            now[job.manifestPath] = &job;
    std::vector<std::string> differences;
    for (const auto& [path, job] : now) {
        const auto found = previous.normal.find(path);
        if (found == previous.normal.end())
            differences.push_back(Printable(job->relative) + " (added)");
        else if (digestsKnown && found->second != job->content.digest)
            differences.push_back(Printable(job->relative) + " (changed)");
    }
    for (const auto& [path, digest] : previous.normal)
        if (!now.count(path))
            differences.push_back(Printable(platform::ManifestPathToRelative(path)) + " (removed)");
    return differences;
}

} // namespace publish
