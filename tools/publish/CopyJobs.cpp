#include "CopyJobs.h"

#include "ChunkStore.h"
#include "Compressor.h"
#include "PublishErrors.h"
#include "PublishFiles.h"
#include "PublishText.h"
#include "PublishedTree.h"

#include "Files.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace publish {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMaxListedSize = std::numeric_limits<std::int64_t>::max();

void MakeCopy(Job& job, const fs::path& staging, const fs::path& out,
              const std::atomic<bool>* cancel, const std::atomic<bool>& failed, bool digestOnly,
              const std::function<void(std::size_t)>& onBlock) {
    const fs::path target = staging / platform::FsPath(job.relative + kCopySuffix);
    std::optional<std::string> firstDigest;
    if (job.previous || digestOnly) {
        const ContentInfo content = DigestFile(job.source, cancel, failed);
        const fs::path old = out / platform::FsPath(job.relative + kCopySuffix);
        std::error_code error;
        // An older line has no SHA-256; where there is one, it must agree too.
        const bool reusable =
            job.previous && content.digest == job.previous->digest &&
            (job.previous->sha256.empty() || content.sha256 == job.previous->sha256) &&
            fs::is_regular_file(fs::symlink_status(old, error)) &&
            fs::file_size(old, error) == job.previous->size && !error;
        if (digestOnly) {
            job.content = content;
            job.copySize = reusable ? job.previous->size : 0;
            job.reused = reusable;
            return;
        }
        if (reusable) {
            TakeOverFile(old, target);
            job.content = content;
            job.copySize = job.previous->size;
            job.reused = true;
            return;
        }
        firstDigest = content.digest;
    }
    const ContentInfo content = CompressFile(job.source, target, cancel, failed, onBlock);
    if (firstDigest && *firstDigest != content.digest)
        throw EPublishError(Quoted(job.relative) + " changed while it was being published");
    std::error_code error;
    const std::uint64_t size = fs::file_size(target, error);
    if (error)
        throw EPublishError(SystemError("Cannot read", target, error));
    if (size > kMaxListedSize)
        throw EPublishError("The compressed copy of " + Quoted(job.relative) + " has " +
                            std::to_string(size) + " bytes, more than the manifest can list");
    job.content = content;
    job.copySize = size;
}

void ProcessJob(Job& job, const fs::path& staging, const fs::path& out,
                const std::atomic<bool>* cancel, const std::atomic<bool>& failed, bool digestOnly,
                const std::function<void(std::size_t)>& onBlock, ChunkStore* store) {
    MakeCopy(job, staging, out, cancel, failed, digestOnly, onBlock);
    if (store)
        store->Store(job.source, job.content.sha256, cancel, failed);
}

} // namespace

void RunOnThreads(unsigned threads, const std::function<void()>& work) {
    std::vector<std::thread> workers;
    for (unsigned k = 1; k < threads; ++k)
        workers.emplace_back(work);
    work();
    for (std::thread& worker : workers)
        worker.join();
}

void RunJobs(std::vector<Job>& jobs, unsigned threads, const fs::path& staging, const fs::path& out,
             const std::atomic<bool>* cancel,
             const std::function<void(const Progress&)>& onProgress, bool digestOnly,
             ChunkStore* store) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex mutex; // guards what follows, and the calls of onProgress
    std::exception_ptr firstError;
    Progress progress;
    progress.total = jobs.size();
    for (const Job& job : jobs)
        progress.bytesTotal += job.expectedSize;
    const auto work = [&] {
        while (!failed.load()) {
            const std::size_t i = next.fetch_add(1);
            if (i >= jobs.size())
                return;
            try {
                std::uint64_t reported = 0;
                const auto onBlock = [&](std::size_t bytes) {
                    const std::lock_guard lock(mutex);
                    reported += bytes;
                    progress.bytesDone += bytes;
                    progress.path = jobs[i].relative;
                    progress.finished = progress.reused = false;
                    if (onProgress)
                        onProgress(progress);
                };
                ProcessJob(jobs[i], staging, out, cancel, failed, digestOnly, onBlock, store);
                const std::lock_guard lock(mutex);
                ++progress.done;
                // The file counts as it was listed, whatever it read.
                progress.bytesDone +=
                    jobs[i].expectedSize - std::min(reported, jobs[i].expectedSize);
                progress.path = jobs[i].relative;
                progress.finished = true;
                progress.reused = jobs[i].reused;
                if (onProgress)
                    onProgress(progress);
            } catch (...) {
                const std::lock_guard lock(mutex);
                if (!firstError)
                    firstError = std::current_exception();
                failed = true;
                return;
            }
        }
    };
    RunOnThreads(static_cast<unsigned>(std::min<std::size_t>(threads, jobs.size())), work);
    if (firstError)
        std::rethrow_exception(firstError);
}

} // namespace publish
