// The files of SOURCE: the walk through its folders (following symbolic links
// that stay inside it), and the names that the manifest can carry.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace publish {

struct FoundFile {
    std::string relative;       // UTF-8 with "/" separators, as on the disk
    std::filesystem::path path; // where to read it (through any links)
};

// Collects the regular files below a folder, and a problem text for each
// entry that cannot be published (a broken link, a link outside the folder or
// into a loop, a special file).
class TreeScanner {
public:
    explicit TreeScanner(std::filesystem::path root);

    // Raises EPublishError when a folder cannot be read.
    void Scan();

    // Whether an entry (its relative path; a folder with everything in it)
    // is left out; empty: none is.
    std::function<bool(const std::string& relative, bool folder)> leaveOut;

    std::vector<FoundFile> files;
    std::vector<std::string> problems;
    // The entries left out: relative, a folder with a final "/".
    std::vector<std::string> leftOut;

private:
    void ScanFolder(const std::filesystem::path& folder, const std::string& relative,
                    std::vector<std::filesystem::path>& chain);

    std::filesystem::path root_;
};

// Why a single file or folder name cannot go into the manifest; empty when it can.
std::string NameProblem(std::string_view name);

} // namespace publish
