// What a run does to the published tree: the files it adds, changes, removes
// and moves (the same content under another path), and those it lists in
// another section, found by comparing the published manifest with the files
// about to be published. A dry run and a real run show the same list.
#pragma once

#include "PreviousManifest.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace publish {

struct Job;

// Paths are relative, UTF-8, with "/" separators, in manifest order.
struct TreeChanges {
    struct SectionChange {
        std::string path;
        std::string from, to; // section names
    };
    std::vector<std::string> added, changed, removed;
    std::vector<std::pair<std::string, std::string>> moved; // from, to
    std::vector<SectionChange> sections;

    std::size_t Count() const {
        return added.size() + changed.size() + removed.size() + moved.size() + sections.size();
    }
};

// The jobs' digests must be known. A file counts as changed when its MD5
// differs, or its SHA-256 where both lines have one.
TreeChanges CompareWithPublished(const PreviousManifest& previous, const std::vector<Job>& jobs);

// One line per change: "added    PATH", "changed  PATH", "removed  PATH",
// "moved    FROM -> TO", "section  PATH: FROM -> TO".
std::vector<std::string> ChangeLines(const TreeChanges& changes);

// The files by which files_normal differs from the published one, as
// "PATH (added)", "PATH (removed)" and, when `digestsKnown`, "PATH
// (changed)": what forbids publishing them under the same revision.
std::vector<std::string> NormalDifferences(const PreviousManifest& previous,
                                           const std::vector<Job>& jobs, bool digestsKnown);

} // namespace publish
