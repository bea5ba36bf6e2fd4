#include "WorkAhead.h"

#include "BZip2.h"
#include "Errors.h"
#include "Streams.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {

constexpr std::size_t kMaxNotes = 64;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// Copies from this size on are worth a connection of their own.
constexpr std::int64_t kLargeCopy = 512 * 1024;
constexpr auto kPollInterval = std::chrono::milliseconds(20);

// An unpacking ahead that would pass the disk budget: set aside, not failed.
struct Deferral {};

void RemoveFile(const std::string& path) {
    std::error_code error;
    std::filesystem::remove(platform::FsPath(path), error);
}

} // namespace

TWorkAhead::TWorkAhead(std::vector<TAheadEntry> entries, Settings settings)
    : settings_(std::move(settings)) {
    settings_.connections = std::max(settings_.connections, 1u);
    jobs_.reserve(entries.size());
    for (TAheadEntry& entry : entries) {
        jobs_.push_back(std::make_unique<Job>());
        jobs_.back()->in = std::move(entry);
    }
    for (std::size_t i = 0; i < jobs_.size(); ++i)
        if (jobs_[i]->in.size >= kLargeCopy)
            largest_.push_back(i);
    std::stable_sort(largest_.begin(), largest_.end(), [this](std::size_t a, std::size_t b) {
        return jobs_[a]->in.size > jobs_[b]->in.size;
    });
    for (unsigned i = 0; i < settings_.connections; ++i)
        connections_.push_back(std::make_unique<platform::HttpConnection>());
    transfers_ = std::make_unique<TJobQueue>(settings_.connections);
    unpacking_ = std::make_unique<TJobQueue>(std::max(settings_.cores, 1u), true);
    std::lock_guard lock(mutex_);
    Pump();
}

TWorkAhead::~TWorkAhead() {
    closing_ = true;
    changed_.notify_all();
    transfers_.reset();
    unpacking_.reset();
    for (const auto& job : jobs_) {
        if (job->stage == Stage::Taken || job->stage == Stage::Waiting)
            continue;
        job->content.reset(); // removes the new content
        RemoveFile(job->in.copy);
    }
}

bool TWorkAhead::Aborted() const {
    return closing_ || (settings_.abortRequested && settings_.abortRequested());
}

bool TWorkAhead::Cut(std::size_t i) const {
    return Aborted() ||
           (i != currentAtomic_ && settings_.stopRequested && settings_.stopRequested());
}

// The entry being installed is never held back, but what it takes counts
// against the others: a copy that unpacks to more than it should (or a
// large file) leaves room on the disk for nothing else ahead of it.
bool TWorkAhead::Charge(std::size_t i, std::int64_t bytes) {
    if (i != current_ && used_ + bytes > settings_.budget)
        return false;
    used_ += bytes;
    jobs_[i]->charged += bytes;
    return true;
}

void TWorkAhead::Release(Job& job) {
    used_ -= job.charged;
    job.charged = 0;
}

void TWorkAhead::Pump() {
    while (fetching_ < settings_.connections) {
        const std::size_t i = NextToFetch();
        if (i == kNone)
            break;
        StartDownload(i);
    }
}

// Entries are fetched in their order, but a few connections take the largest
// copies of the window instead: while most connections wait a round trip for
// each small file, those keep the line busy, and the small files' round trips
// no longer add up to more than the line time.
std::size_t TWorkAhead::NextToFetch() {
    while (nextFetch_ < jobs_.size() && jobs_[nextFetch_]->stage != Stage::Waiting)
        ++nextFetch_;
    const std::size_t end = std::min({jobs_.size(), failedAt_, current_ + settings_.maxAhead + 1});
    const auto admit = [&](std::size_t i) {
        return i < end && jobs_[i]->stage == Stage::Waiting && !Cut(i) &&
               Charge(i, std::max<std::int64_t>(jobs_[i]->in.size, 0));
    };
    if (bigFetching_ < settings_.connections / 4) {
        for (const std::size_t i : largest_) {
            if (i >= current_ && admit(i)) {
                jobs_[i]->big = true;
                ++bigFetching_;
                return i;
            }
        }
    }
    return admit(nextFetch_) ? nextFetch_ : kNone;
}

void TWorkAhead::StartDownload(std::size_t i) {
    if (closing_)
        return; // the queues are going
    jobs_[i]->stage = Stage::Fetching;
    ++fetching_;
    transfers_->Submit(i, [this, i](unsigned worker) { Download(i, worker); });
}

void TWorkAhead::StartUnpack(std::size_t i) {
    if (closing_)
        return;
    jobs_[i]->stage = Stage::Unpacking;
    unpacking_->Submit(i, [this, i](unsigned) { Unpack(i); });
}

void TWorkAhead::Download(std::size_t i, unsigned worker) {
    Job& job = *jobs_[i];
    Fetched fetched;
    std::exception_ptr error;
    bool stopped = false;      // cut by a stop request before it was the entry being installed
    std::exception_ptr passed; // the copy passed its bound
    {
        std::unique_ptr<TFileStream> file;
        try {
            if (Cut(i))
                throw Exception("The transfer was cancelled");
            std::error_code ignored;
            std::filesystem::create_directories(platform::FsPath(job.in.target).parent_path(),
                                                ignored);
            if (job.in.copy.empty())
                job.in.copy = platform::NewTempFileBeside(job.in.target);
            platform::HttpOptions http = settings_.http;
            http.cancelled = [this, i] { return Cut(i); };
            TFetch fetch(*connections_[worker], http, settings_.retry,
                         [this](const std::string& note) {
                             std::lock_guard lock(mutex_);
                             if (notes_.size() < kMaxNotes)
                                 notes_.push_back(note);
                         });
            TFetchSink sink;
            sink.restart = [&] {
                file.reset();
                file = std::make_unique<TFileStream>(job.in.copy, TFileStream::Mode::fmCreate);
                job.progress = 0;
            };
            sink.data = [&](const char* data, std::size_t size) {
                if (job.in.maxCopy.Passed(job.progress + static_cast<std::int64_t>(size)))
                    throw LimitPassed(job.in.url, fetch.AnswerStatus(), job.in.maxCopy);
                file->Write(data, size);
                job.progress += static_cast<std::int64_t>(size);
            };
            const TFetchResult result = fetch.Get(job.in.url, sink);
            if (file)
                file->Close();
            fetched = {result.opened, result.bytes, FetchFailure(job.in.url, result)};
        } catch (const limits::ELimitPassed& e) {
            // No failure of the run: the entry fails when it is installed,
            // and what the transfer went through is the cause.
            passed = std::make_exception_ptr(
                limits::ELimitPassed("the copy is given up, and nothing of it is installed"));
            fetched = {true, 0, e.what()};
        } catch (...) {
            error = std::current_exception();
            stopped = !Aborted() && Cut(i);
        }
        file.reset();
        if (error || passed || !fetched.opened)
            RemoveFile(job.in.copy);
    }
    std::lock_guard lock(mutex_);
    --fetching_;
    if (job.big) {
        job.big = false;
        --bigFetching_;
    }
    job.fetched = fetched;
    job.error = error;
    // The copy takes what it really is from now on.
    const std::int64_t expected = std::max<std::int64_t>(job.in.size, 0);
    used_ += fetched.copySize - expected;
    job.charged += fetched.copySize - expected;
    if (stopped) {
        // Fetched again should it still become the entry being installed.
        used_ -= fetched.copySize;
        job.charged -= fetched.copySize;
        job.fetched = {};
        job.error = nullptr;
        job.stage = Stage::Waiting;
        if (i == current_)
            Restart(i);
    } else if (error || !fetched.opened) {
        job.stage = Stage::Failed;
        if (!error)
            failedAt_ = std::min(failedAt_, i);
    } else if (passed) {
        job.error = passed;
        job.stage = Stage::Unpacked;
    } else if (i == current_ || used_ <= settings_.budget) {
        StartUnpack(i);
    } else {
        job.stage = Stage::Deferred;
    }
    Pump();
    changed_.notify_all();
}

void TWorkAhead::Unpack(std::size_t i) {
    Job& job = *jobs_[i];
    std::unique_ptr<platform::AtomicFile> content;
    std::exception_ptr error;
    bool deferred = false;
    try {
        if (Cut(i))
            throw Exception("The update was stopped");
        TFileStream source(job.in.copy, TFileStream::Mode::fmOpenRead);
        content = std::make_unique<platform::AtomicFile>(job.in.target);
        job.written = 0;
        const auto write = [&](const char* data, std::size_t size) {
            {
                std::lock_guard lock(mutex_);
                if (!Charge(i, static_cast<std::int64_t>(size)))
                    throw Deferral{};
            }
            job.written += static_cast<std::int64_t>(size);
            content->Write(data, size);
        };
        UnpackCopy(
            source, write, job.in.digest, job.in.sha256, job.in.target, job.in.maxContent,
            [&] { job.progress = source.Position(); },
            [&] {
                if (Aborted())
                    throw Exception("The update was stopped");
                if (Cut(i))
                    throw Deferral{}; // done again should it become the entry being installed
            });
        content->Seal();
    } catch (const Deferral&) {
        deferred = true;
    } catch (...) {
        error = std::current_exception();
    }
    if (deferred || error)
        content.reset();
    if (!deferred)
        RemoveFile(job.in.copy); // unpacked, or found unusable
    std::lock_guard lock(mutex_);
    if (deferred) {
        // What it wrote is gone; the copy waits for its turn.
        used_ -= job.written;
        job.charged -= job.written;
        job.written = 0;
        job.progress = 0;
        job.stage = Stage::Deferred;
        if (i == current_)
            Restart(i);
    } else {
        // The copy is gone: only the new content still takes space.
        used_ -= job.fetched.copySize;
        job.charged -= job.fetched.copySize;
        job.error = error;
        job.content = std::move(content);
        job.stage = Stage::Unpacked;
    }
    Pump();
    changed_.notify_all();
}

void TWorkAhead::Restart(std::size_t i) {
    Job& job = *jobs_[i];
    if (job.stage == Stage::Deferred) {
        StartUnpack(i);
    } else if (job.stage == Stage::Waiting && i < failedAt_) {
        Charge(i, std::max<std::int64_t>(job.in.size, 0));
        StartDownload(i);
    }
}

void TWorkAhead::Wait(std::size_t i, Stage until,
                      const std::function<void(std::int64_t)>& progress) {
    Job& job = *jobs_[i];
    const auto reached = [&] {
        return job.stage == until || job.stage == Stage::Failed || job.stage == Stage::Taken ||
               (until == Stage::Fetched && job.stage > Stage::Fetched);
    };
    std::int64_t reported = -1;
    for (;;) {
        bool done = false;
        {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, kPollInterval, reached);
            done = reached();
            // An abort before the entry's work began: it never will.
            if (!done && job.stage == Stage::Waiting && Aborted())
                throw Exception("The transfer was cancelled");
        }
        std::vector<std::string> notes;
        {
            std::lock_guard lock(mutex_);
            notes.assign(notes_.begin(), notes_.end());
            notes_.clear();
        }
        if (!notes.empty() && settings_.showNotes)
            settings_.showNotes(notes);
        const std::int64_t value = job.progress;
        if (value != reported && progress) {
            reported = value;
            progress(value);
        }
        if (done)
            return;
        if (settings_.waiting)
            settings_.waiting();
    }
}

TWorkAhead::Fetched TWorkAhead::AwaitDownload(std::size_t i,
                                              const std::function<void(std::int64_t)>& progress) {
    {
        std::lock_guard lock(mutex_);
        current_ = i;
        currentAtomic_ = i;
        Restart(i);
        Pump();
    }
    Wait(i, Stage::Fetched, progress);
    std::lock_guard lock(mutex_);
    Job& job = *jobs_[i];
    if (job.stage == Stage::Failed) {
        Release(job);
        job.stage = Stage::Taken;
        if (job.error)
            std::rethrow_exception(job.error);
    }
    return job.fetched;
}

void TWorkAhead::AwaitInstall(std::size_t i, const std::function<void(std::int64_t)>& progress) {
    Wait(i, Stage::Unpacked, progress);
    std::unique_ptr<platform::AtomicFile> content;
    std::exception_ptr error;
    {
        std::lock_guard lock(mutex_);
        Job& job = *jobs_[i];
        content = std::move(job.content);
        error = job.error;
        if (!content && !error)
            error =
                std::make_exception_ptr(Exception("\"" + job.in.target + "\" was not unpacked"));
        job.stage = Stage::Taken;
    }
    try {
        if (error)
            std::rethrow_exception(error);
        content->Commit();
    } catch (...) {
        content.reset();
        std::lock_guard lock(mutex_);
        Release(*jobs_[i]);
        throw;
    }
    std::lock_guard lock(mutex_);
    Release(*jobs_[i]);
}
