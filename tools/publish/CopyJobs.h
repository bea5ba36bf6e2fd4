// The copies of a run: each file's bzip2 copy is made in the staging folder,
// or taken over from the published tree when the content has not changed,
// on several threads.
#pragma once

#include "ContentDigest.h"
#include "PreviousManifest.h"
#include "Publisher.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace publish {

class ChunkStore;

// The manifest section that lists a file.
enum class Section { Self, Critical, Normal };

// One file to publish, and what became of it.
struct Job {
    std::string relative;     // UTF-8, "/" separators
    std::string manifestPath; // Windows-1251, "\" separators
    std::filesystem::path source;
    Section section = Section::Normal;
    const PreviousEntry* previous = nullptr; // as the published manifest lists it, if it does
    std::uint64_t expectedSize = 0;          // as the file stood when SOURCE was read
    // Results.
    ContentInfo content;
    std::uint64_t copySize = 0;
    bool reused = false;
};

// Runs `work` on `threads` threads at once, this one among them (at least
// one), and returns when every one has returned.
void RunOnThreads(unsigned threads, const std::function<void()>& work);

// Makes the copies of all `jobs` below `staging` on up to `threads` threads,
// reusing the copies under `out` that the jobs' previous entries describe;
// with `digestOnly` only reads the contents' digests and tells which copies
// would be reused (nothing is written; `staging` is not used). Calls
// `onProgress` after each block compressed and each file done. The first
// failure stops the others and is raised again; a request to stop through
// `cancel` ends the reading with EPublishError "Interrupted". With a chunk
// store, each file's content is stored there too, once its copy is made.
void RunJobs(std::vector<Job>& jobs, unsigned threads, const std::filesystem::path& staging,
             const std::filesystem::path& out, const std::atomic<bool>* cancel,
             const std::function<void(const Progress&)>& onProgress, bool digestOnly = false,
             ChunkStore* store = nullptr);

} // namespace publish
