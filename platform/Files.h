// File services that differ between systems: the base folder, read-only
// mappings, and new file content that replaces a file in one step.
#pragma once

#include "SystemNames.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// A local path (UTF-8 text, as every path of this program is held) as the
// standard library's file system path, and back. Paths go through these
// wherever the standard library touches the disk: on Windows its own
// conversion of 8-bit text is not UTF-8.
std::filesystem::path FsPath(std::string_view localPath);
std::string PathText(const std::filesystem::path& path);

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

// AtomicFile's temporary files are named this prefix followed by six letters
// or digits.
inline constexpr std::string_view kTempFilePrefix = ".quenmor-tmp-";
inline constexpr std::size_t kTempFileUniqueLength = 6;

// Whether a file name is one of the temporary files that AtomicFile makes.
inline bool IsOwnTempFileName(std::string_view fileName) {
    return fileName.size() == kTempFilePrefix.size() + kTempFileUniqueLength &&
           fileName.substr(0, kTempFilePrefix.size()) == kTempFilePrefix;
}

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
    std::intptr_t handle_ = -1; // the open temporary file, -1 when none
    // Bytes written, and how many of them the disk was asked to take so far.
    std::int64_t written_ = 0, writtenBehind_ = 0;
};

// A file opened as std::fopen opens it, the path in UTF-8; with 64-bit
// positions for files past 2 GiB.
std::FILE* OpenFile(const std::string& path, const char* mode);
int SeekFile(std::FILE* file, std::int64_t offset, int whence);
std::int64_t TellFile(std::FILE* file);

// A new file for writing in binary mode, which must not exist yet, not even
// as a link (nothing is ever written through one); null (with errno set)
// when it cannot be created. `ownerOnly`: no one but its
// owner may read or write it (for secrets such as signing keys).
std::FILE* CreateNewFile(const std::string& path, bool ownerOnly = false);

// Writes what the stream holds and has the system put the file's content on
// the disk. Returns false (errno set) when that fails.
bool FlushToDisk(std::FILE* file);

// Makes the names created in a folder, and renames in it, durable where the
// system needs to be asked for that.
void SyncFolder(const std::string& folder);

// Swaps two folders' names in one step. Returns 0 when done, and otherwise
// the errno value; ENOTSUP when the system or its file system cannot swap
// names, so that the caller takes another way.
int ExchangeFolders(const std::string& first, const std::string& second);

// Whether `path` stays inside the folder `base` (which ends with the
// separator) when every link on its way is followed: a folder of the path
// that is a symbolic link (or a junction) leading outside `base` takes the
// path outside. Only the folders that exist are looked at; the last part of
// the path is not (a link there is replaced, never written through).
bool StaysInside(const std::string& base, const std::string& path);

// Whether the stream is a terminal (for live progress displays).
bool IsTerminal(std::FILE* stream);

// Text of the last system error, for messages.
std::string LastErrorText();

} // namespace platform
