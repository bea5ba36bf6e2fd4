// The publisher's files and folders: the files it reads and writes, the
// folders it compares and syncs, the staging folder beside OUT, and swapping
// the staged tree in place of OUT.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace publish {

// Files are read, compressed and written in blocks of this size.
inline constexpr std::size_t kBlockSize = std::size_t{1} << 20;

// A regular file open for reading. Raises EPublishError.
class InputFile {
public:
    explicit InputFile(std::filesystem::path path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Fills `buffer` as far as the file allows; 0 at the end.
    std::size_t Read(char* buffer, std::size_t size);

private:
    std::filesystem::path path_;
    std::FILE* file_ = nullptr;
};

// A new file; the caller removes it when Finish is not reached (the staging
// folder goes as a whole). `ownerOnly`: readable by its owner alone. Raises
// EPublishError.
class OutputFile {
public:
    explicit OutputFile(std::filesystem::path path, bool ownerOnly = false);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const char* data, std::size_t size);

    // Flushes the content to disk: the tree is swapped in by renames, which
    // must not make empty files visible after a crash.
    void Finish();

    std::uint64_t Written() const { return written_; }

private:
    std::filesystem::path path_;
    std::FILE* file_ = nullptr;
    std::uint64_t written_ = 0;
};

// Flushes a folder's entries to disk.
void SyncFolder(const std::filesystem::path& folder);

// `inner` is `outer` or lies below it (both absolute and normalised).
bool IsWithin(const std::filesystem::path& inner, const std::filesystem::path& outer);

// The absolute, lexically normal form of a path given on the command line,
// without a final separator.
std::filesystem::path Normalised(const std::filesystem::path& path);

// The whole of a small file. Raises EPublishError when it cannot be read or
// holds more than `limit` bytes.
std::string ReadWholeFile(const std::filesystem::path& path, std::size_t limit);

// OUT as the command line gives it (`given`), absolute; through a link to the
// published folder, the folder it points to, where the tree is replaced.
// `exists` tells whether there is anything at OUT. Raises EUsageError.
std::filesystem::path ResolveOut(const std::filesystem::path& given, bool& exists);

// A warning for each folder beside OUT that a run left when it was killed.
void WarnOfLeftovers(const std::filesystem::path& out, std::vector<std::string>& warnings);

// Puts a file of the published tree into the staged one: a hard link, or a
// copy where links cannot be made. Raises EPublishError.
void TakeOverFile(const std::filesystem::path& old, const std::filesystem::path& target);

// A new folder `base` + `infix` + random letters, with the permissions a
// plain mkdir gives.
std::filesystem::path MakeUniqueFolder(const std::filesystem::path& base, const char* infix);

// Puts the staging folder in place of OUT. Returns the folder that holds the
// old tree (to be removed), or an empty path.
std::filesystem::path SwapIn(const std::filesystem::path& staging,
                             const std::filesystem::path& out);

class StagingGuard;

// Ends a run on its staged tree: flushes the staged `folders` and the staging
// folder to disk, raises EPublishError "Interrupted" when `cancel` (may be
// null) is set, swaps the staging folder in place of OUT, releases the
// guard, and removes the old tree (a warning when it cannot be removed).
void FinishStaged(const std::filesystem::path& staging, const std::filesystem::path& out,
                  const std::vector<std::filesystem::path>& folders,
                  const std::atomic<bool>* cancel, StagingGuard& guard,
                  std::vector<std::string>& warnings);

// Removes the staging folder unless released.
class StagingGuard {
public:
    explicit StagingGuard(std::filesystem::path path) : path_(std::move(path)) {}
    ~StagingGuard();
    StagingGuard(const StagingGuard&) = delete;
    StagingGuard& operator=(const StagingGuard&) = delete;
    void Release() { path_.clear(); }

private:
    std::filesystem::path path_;
};

} // namespace publish
