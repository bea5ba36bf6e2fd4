// File services that differ between systems: the base folder, read-only
// mappings, and new file content that replaces a file in one step.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

// The folder separator of local paths.
inline constexpr char kPathSeparator = '/';

// The process's current folder followed by the separator.
std::string CurrentFolder();

// The local path of `relative` ("/"-separated) under `base` (which ends with
// the separator). When it does not exist as given, each folder and file name
// is matched against what is on disk without regard to letter case, as on
// Windows; the part that matches nothing is kept as given.
std::string ResolveCaseInsensitive(const std::string& base, const std::string& relative);

// Creates an empty file of the kind AtomicFile uses (removed by a later run's
// clean-up when left behind) in the folder of `path` and returns its path.
// Raises EInOutError when it cannot be created.
std::string NewTempFileBeside(const std::string& path);

// Whether a file name is one of the temporary files that AtomicFile makes.
bool IsOwnTempFileName(std::string_view fileName);

// A whole file mapped read-only into memory. A file that cannot be opened or
// mapped (an empty file cannot be mapped) gives an empty view.
class MappedFile {
public:
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

// New content for a file. It is written into a temporary file in the same
// folder and put in place of the target by Commit (flushed to disk, then
// renamed over the target, keeping the target's permission bits). Until then
// the target is untouched; a file that is never committed is removed.
class AtomicFile {
public:
    explicit AtomicFile(std::string target); // raises EInOutError
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void Write(const void* data, std::size_t size); // raises EInOutError
    // Flushes the content to disk and lets go of the open file, so that many
    // new contents can wait for their Commit without holding descriptors.
    // Nothing more can be written afterwards.
    void Seal();   // raises EInOutError
    void Commit(); // seals when not yet sealed; raises EInOutError
    void Discard();

    const std::string& Target() const { return target_; }
    const std::string& TempPath() const { return tempPath_; }

private:
    std::string target_;
    std::string tempPath_;
    int fd_ = -1;
};

// Whether the stream is a terminal (for live progress displays).
bool IsTerminal(std::FILE* stream);

// Text of the last system error, for messages.
std::string LastErrorText();

} // namespace platform
