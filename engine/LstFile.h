// Reader of the update manifest "files.lst".
#pragma once

#include <string>
#include <vector>

// The entries of a section that is missing or empty.
inline constexpr const char* kEmptySection = "FAIL";

// Reads sections and settings of the manifest. Every lookup reads the file
// anew from its first line; the file is bound by path only, so making a reader
// neither opens nor checks it.
class TListFile {
public:
    explicit TListFile(std::string path);

    // The entries of the first section called `name`, in file order, without
    // its opening and closing lines; or the single entry "FAIL". Raises
    // EInOutError when the manifest cannot be read.
    std::vector<std::string> GetSection(const std::string& name) const;

    // The last field of the first entry of `section` whose first field equals
    // `key` (case-sensitive); empty text when there is none.
    std::string GetValue(const std::string& section, const std::string& key) const;

private:
    std::vector<std::string> ReadLines() const;

    std::string path_;
};
