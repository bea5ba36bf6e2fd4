#include "WorkAhead.h"

#include "BZip2.h"
#include "Errors.h"
#include "FileTransfer.h"
#include "ScopeGuard.h"
#include "Streams.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {

constexpr std::size_t kMaxNotes = 64;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// Copies from this size on are worth a connection of their own.
constexpr std::int64_t kLargeCopy = 512 * 1024;
// The installer is woken for the progress of its entry at most this often;
// the gauges it feeds redraw less often still.
constexpr auto kProgressWake = std::chrono::milliseconds(10);

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
    // A delta fetches what its file lacks, not its copy: it keeps its order.
    for (std::size_t i = 0; i < jobs_.size(); ++i)
        if (jobs_[i]->in.size >= kLargeCopy && !jobs_[i]->in.delta)
            largest_.push_back(i);
    std::stable_sort(largest_.begin(), largest_.end(), [this](std::size_t a, std::size_t b) {
        return jobs_[a]->in.size > jobs_[b]->in.size;
    });
    for (unsigned i = 0; i < settings_.connections; ++i)
        connections_.push_back(std::make_unique<platform::HttpConnection>());
    if (settings_.stop)
        woken_ = settings_.stop->Subscribe([this] {
            std::lock_guard lock(mutex_);
            changed_.notify_all();
        });
    transfers_ = std::make_unique<TJobQueue>(settings_.connections);
    unpacking_ = std::make_unique<TJobQueue>(std::max(settings_.cores, 1u), true);
    std::lock_guard lock(mutex_);
    Pump();
}

TWorkAhead::~TWorkAhead() {
    woken_.reset();
    closing_ = true;
    changed_.notify_all();
    transfers_.reset();
    unpacking_.reset();
    for (const auto& job : jobs_) {
        if (job->stage == Stage::Taken || job->stage == Stage::Waiting)
            continue;
        job->content.reset(); // removes the new content
        RemoveFile(job->in.copy);
        RemoveFile(job->pack);
    }
}

const char* TWorkAhead::StageName(Stage stage) {
    switch (stage) {
    case Stage::Waiting:
        return "waiting";
    case Stage::Fetching:
        return "fetching";
    case Stage::Deferred:
        return "deferred";
    case Stage::Unpacking:
        return "unpacking";
    case Stage::Unpacked:
        return "unpacked";
    case Stage::Failed:
        return "failed";
    case Stage::Taken:
        return "taken";
    }
    return "?";
}

namespace {

bool MayMove(TWorkAhead::Stage from, TWorkAhead::Stage to) {
    using Stage = TWorkAhead::Stage;
    switch (from) {
    case Stage::Waiting:
        return to == Stage::Fetching;
    case Stage::Fetching:
        // Cut by a stop request, set aside, unpacked, given up (a copy past
        // its bound), or failed.
        return to == Stage::Waiting || to == Stage::Deferred || to == Stage::Unpacking ||
               to == Stage::Unpacked || to == Stage::Failed;
    case Stage::Deferred:
        return to == Stage::Unpacking;
    case Stage::Unpacking:
        // Set aside, done, or a delta that failed: its copy is fetched.
        return to == Stage::Deferred || to == Stage::Unpacked || to == Stage::Waiting;
    case Stage::Unpacked:
    case Stage::Failed:
        return to == Stage::Taken;
    case Stage::Taken:
        return false;
    }
    return false;
}

} // namespace

// What a job takes on the disk in each state: the copy it is fetching (its
// size field until it is there), the copy and what it unpacked of it so far,
// the new content, or nothing.
void TWorkAhead::Move(std::size_t i, Stage to) {
    Job& job = *jobs_[i];
    if (!MayMove(job.stage, to)) {
        // A job that could do this would lose track of its files: no run
        // goes on from here.
        std::fprintf(stderr, "work ahead: entry %zu cannot go from %s to %s\n", i,
                     StageName(job.stage), StageName(to));
        std::abort();
    }
    if (settings_.trace)
        settings_.trace(i, StageName(job.stage), StageName(to));
    if (job.stage == Stage::Deferred)
        deferredDeltas_.erase(i);
    job.stage = to;
    job.packCharged = false; // the new state sets the charge
    std::int64_t charge = 0;
    switch (to) {
    case Stage::Fetching:
        charge = std::max<std::int64_t>(job.in.size, 0);
        break;
    case Stage::Deferred:
        job.written = 0;
        charge = job.plan ? job.plan->packed : job.fetched.copySize;
        if (job.plan)
            deferredDeltas_.insert(i);
        break;
    case Stage::Unpacking:
        job.written = 0;
        charge = job.plan ? DeltaCharge(job) : job.fetched.copySize;
        break;
    case Stage::Unpacked:
        charge = job.written;
        break;
    case Stage::Waiting:
        // Fetched again in its order, as room allows.
        nextFetch_ = std::min(nextFetch_, i);
        break;
    case Stage::Failed:
    case Stage::Taken:
        break;
    }
    used_ += charge - job.charged;
    job.charged = charge;
}

bool TWorkAhead::Aborted() const {
    return closing_ || (settings_.stop && settings_.stop->AbortRequested());
}

bool TWorkAhead::Cut(std::size_t i) const {
    return Aborted() || (i != currentAtomic_ && settings_.stop && settings_.stop->StopRequested());
}

// The entry being installed is never held back, but what it takes counts
// against the others: a copy that unpacks to more than it should (or a
// large file) leaves room on the disk for nothing else ahead of it.
bool TWorkAhead::Fits(std::size_t i, std::int64_t bytes) const {
    return i == current_ || used_ + bytes <= settings_.budget;
}

bool TWorkAhead::ChargeBlock(std::size_t i, std::int64_t bytes) {
    Job& job = *jobs_[i];
    if (job.plan) {
        // Its whole content was charged when its assembly began.
        job.written += bytes;
        return true;
    }
    if (!Fits(i, bytes))
        return false;
    job.written += bytes;
    job.charged += bytes;
    used_ += bytes;
    return true;
}

void TWorkAhead::ProgressMade(std::size_t i) {
    if (i != currentAtomic_)
        return;
    // Only the thread that works on the job gets here, one at a time.
    Job& job = *jobs_[i];
    const auto now = std::chrono::steady_clock::now();
    if (now - job.progressSent < kProgressWake)
        return;
    job.progressSent = now;
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
}

std::int64_t TWorkAhead::DeltaCharge(const Job& job) {
    return job.plan->packed + std::max<std::int64_t>(job.in.delta->size, 0);
}

void TWorkAhead::Pump() {
    while (fetching_ < settings_.connections) {
        const std::size_t i = NextToFetch();
        if (i == kNone)
            break;
        StartDownload(i);
    }
    // Deltas set aside are assembled, in their order, as soon as their whole
    // content fits: the budget freed by an entry put in place goes to the
    // next one, not to the installer's own thread when its turn comes.
    while (!deferredDeltas_.empty()) {
        const std::size_t i = *deferredDeltas_.begin();
        const Job& job = *jobs_[i];
        if (Cut(i) || !Fits(i, DeltaCharge(job) - job.charged))
            break;
        StartUnpack(i);
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
               Fits(i, std::max<std::int64_t>(jobs_[i]->in.size, 0));
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
    Move(i, Stage::Fetching);
    ++fetching_;
    transfers_->Submit(i, [this, i](unsigned worker) { Download(i, worker); });
}

void TWorkAhead::StartUnpack(std::size_t i) {
    if (closing_)
        return;
    Move(i, Stage::Unpacking);
    unpacking_->Submit(i, [this, i](unsigned) { Unpack(i); });
}

TFetch TWorkAhead::MakeFetch(std::size_t i, unsigned worker) {
    platform::HttpOptions http = settings_.http;
    http.cancelled = [this, i] { return Cut(i); };
    return TFetch(
        *connections_[worker], http, settings_.retry,
        [this](const std::string& note) { Note(notes_, note); }, settings_.stop);
}

void TWorkAhead::Note(std::deque<std::string>& notes, std::string note) {
    {
        std::lock_guard lock(mutex_);
        if (notes.size() < kMaxNotes)
            notes.push_back(std::move(note));
    }
    changed_.notify_all();
}

std::string TWorkAhead::Spread(const std::string& url, std::size_t n, std::size_t& base) const {
    base = 0;
    const TMirrorSet& mirrors = *settings_.mirrors;
    if (url.rfind(mirrors.Base(0), 0) != 0)
        return url;
    base = mirrors.Pick(n);
    return mirrors.Base(base) + url.substr(mirrors.Base(0).size());
}

bool TWorkAhead::DropMirror(std::size_t base, const std::string& why) {
    if (!settings_.mirrors)
        return false;
    if (settings_.mirrors->Drop(base))
        Note(deltaNotes_, "the mirror " + settings_.mirrors->Base(base) +
                              " is not used for the rest of the run: " + why);
    // Dropped now or by another request meanwhile: the request goes elsewhere.
    return settings_.mirrors->Dropped(base);
}

void TWorkAhead::OnMirrors(const std::string& url, std::size_t n,
                           const std::function<void(const std::string&)>& fetch) {
    const std::size_t tries = settings_.mirrors ? settings_.mirrors->Size() : 1;
    for (std::size_t attempt = 0;; ++attempt) {
        std::size_t base = 0;
        const std::string at = settings_.mirrors ? Spread(url, n + attempt, base) : url;
        try {
            fetch(at);
            return;
        } catch (const EDeltaFailed& e) {
            if (attempt + 1 >= tries || !DropMirror(base, e.what()))
                throw;
        }
    }
}

TWorkAhead::Fetched TWorkAhead::FetchCopy(std::size_t i, unsigned worker) {
    Job& job = *jobs_[i];
    if (job.in.copy.empty())
        job.in.copy = platform::NewTempFileBeside(job.in.target);
    std::unique_ptr<TFileStream> file;
    TFetch fetch = MakeFetch(i, worker);
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
        ProgressMade(i);
    };
    // Each try on another mirror, as long as one that failed can be dropped.
    const std::size_t tries = settings_.mirrors ? settings_.mirrors->Size() : 1;
    for (std::size_t attempt = 0;; ++attempt) {
        std::size_t base = 0;
        const std::string url =
            settings_.mirrors ? Spread(job.in.url, i + attempt, base) : job.in.url;
        const TFetchResult result = fetch.Get(url, sink);
        if (file)
            file->Close();
        const std::string failure = FetchFailure(url, result);
        if (settings_.mirrors)
            job.copyBase = base;
        if (failure.empty() || attempt + 1 >= tries || !DropMirror(base, failure))
            return {result.opened, result.bytes, result.bytes, failure};
        file.reset();
    }
}

namespace {

// The body of an address, at most `most` bytes of it, or EDeltaFailed.
std::string StoreBody(TFetch& fetch, const std::string& url, std::int64_t most) {
    std::string body;
    TFetchSink sink;
    sink.restart = [&] { body.clear(); };
    sink.data = [&](const char* data, std::size_t size) {
        if (static_cast<std::int64_t>(body.size() + size) > most)
            throw EDeltaFailed(url + " holds more than the " + std::to_string(most) +
                               " bytes its index allows");
        body.append(data, size);
    };
    const TFetchResult result = fetch.Get(url, sink);
    const std::string failure = FetchFailure(url, result);
    if (!failure.empty())
        throw EDeltaFailed(failure);
    return body;
}

} // namespace

// The chunks of one delta, shared by the job that fetches them and the
// helpers it asked for: each takes the next address until none is left or
// one failed. The job waits for the helpers that took one; a helper that
// starts later finds nothing left and touches nothing.
struct TWorkAhead::ChunkFetches {
    TWorkAhead* ahead = nullptr;
    std::mutex mutex;
    std::condition_variable idle;
    const std::vector<std::pair<std::string, std::int64_t>>* addresses = nullptr;
    const std::function<void(std::size_t, const std::string&)>* take = nullptr;
    std::size_t next = 0;
    std::size_t running = 0;
    bool over = false;
    std::exception_ptr error;

    // Fetches addresses on `fetch` until none is left for it.
    void Run(TFetch& fetch) {
        for (;;) {
            std::size_t k = 0;
            {
                std::lock_guard lock(mutex);
                if (over || next >= addresses->size())
                    return;
                k = next++;
                ++running;
            }
            std::exception_ptr failed;
            try {
                const std::string& url = (*addresses)[k].first;
                const std::int64_t most = (*addresses)[k].second;
                // A mirror that cannot give the chunk, or gives other bytes,
                // is dropped, and the chunk asked of another.
                ahead->OnMirrors(
                    url, k, [&](const std::string& at) { (*take)(k, StoreBody(fetch, at, most)); });
            } catch (...) {
                failed = std::current_exception();
            }
            std::lock_guard lock(mutex);
            --running;
            if (failed && !error) {
                error = std::move(failed);
                over = true;
            }
            // Let go of it here: the owner may handle the error as soon as
            // the lock is free, and the last reference must not be a helper's.
            failed = nullptr;
            idle.notify_all();
        }
    }
};

std::optional<TDeltaPlan> TWorkAhead::FetchChunks(std::size_t i, unsigned worker) {
    Job& job = *jobs_[i];
    const TDeltaEntry& delta = *job.in.delta;
    if (job.pack.empty())
        job.pack = platform::NewTempFileBeside(job.in.target);
    TFetch fetch = MakeFetch(i, worker);
    const TChunkFetcher fetchChunks =
        [&](const std::vector<std::pair<std::string, std::int64_t>>& addresses,
            const std::function<void(std::size_t, const std::string&)>& take) {
            const auto shared = std::make_shared<ChunkFetches>();
            shared->ahead = this;
            shared->addresses = &addresses;
            shared->take = &take;
            // Round trips, not the line, bound the chunks of one file on one
            // connection: idle connections help.
            const std::size_t helpers = std::min<std::size_t>(
                addresses.size() - 1, std::max(settings_.connections / 4, 1u) - 1);
            for (std::size_t h = 0; h < helpers; ++h)
                transfers_->Submit(i, [this, i, shared](unsigned other) {
                    TFetch helper = MakeFetch(i, other);
                    shared->Run(helper);
                });
            shared->Run(fetch);
            std::exception_ptr error;
            {
                std::unique_lock lock(shared->mutex);
                shared->idle.wait(lock, [&] { return shared->running == 0; });
                shared->over = true; // helpers yet to start leave at once
                // Taken out, so that a helper that lets go of the shared state
                // last never destroys the exception this thread is handling.
                error = std::exchange(shared->error, nullptr);
            }
            if (error)
                std::rethrow_exception(error);
        };
    try {
        std::int64_t indexBytes = 0;
        const TChunkIndex index = TakeDeltaIndex(
            delta,
            [&](const std::string& url, std::int64_t most) {
                std::string body;
                OnMirrors(url, i,
                          [&](const std::string& at) { body = StoreBody(fetch, at, most); });
                return body;
            },
            indexBytes);
        TDeltaPlan plan = Scanned(i, [&] {
            return PlanDelta(delta, index, [&] {
                if (Cut(i))
                    throw Exception("The transfer was cancelled");
            });
        });
        plan.fetched = indexBytes;
        {
            // From now on the job takes its pack, not its copy: the rest of
            // what it was admitted with goes to the entries after it.
            std::lock_guard lock(mutex_);
            if (plan.packed > job.charged && !Fits(i, plan.packed - job.charged))
                throw EDeltaFailed("the chunks it lacks take more room than its copy");
            used_ += plan.packed - job.charged;
            job.charged = plan.packed;
            job.packCharged = true;
            Pump();
        }
        FetchMissing(delta, plan, job.pack, fetchChunks, [&](std::int64_t bytes) {
            job.progress = bytes;
            ProgressMade(i);
        });
        {
            std::lock_guard lock(mutex_);
            ++deltas_.files;
            deltas_.chunksFound += plan.chunksFound;
            deltas_.chunksFetched += plan.chunksFetched;
            deltas_.bytesFetched += plan.fetched;
        }
        return plan;
    } catch (const std::exception& e) {
        RemoveFile(job.pack);
        job.progress = 0;
        if (Cut(i))
            throw;
        // Whatever kept the chunks from coming, the copy may still come.
        job.deltaFailed = true;
        Note(deltaNotes_, job.in.name + ": " + DescribedError(e) + "; its copy is fetched whole");
        return std::nullopt;
    }
}

TDeltaPlan TWorkAhead::Scanned(std::size_t i, const std::function<TDeltaPlan()>& scan) {
    if (jobs_[i]->in.delta->sources.empty())
        return scan(); // nothing to read: a new file is all chunks to fetch
    const unsigned slots = std::max(settings_.cores, 1u);
    {
        std::unique_lock lock(mutex_);
        scanQueue_.insert(i);
        changed_.wait(lock,
                      [&] { return Cut(i) || (scanning_ < slots && *scanQueue_.begin() == i); });
        scanQueue_.erase(i);
        if (Cut(i)) {
            changed_.notify_all(); // the next in line may be the first now
            throw Exception("The transfer was cancelled");
        }
        ++scanning_;
    }
    const ScopeGuard done([this] {
        {
            std::lock_guard lock(mutex_);
            --scanning_;
        }
        changed_.notify_all();
    });
    return scan();
}

void TWorkAhead::Download(std::size_t i, unsigned worker) {
    Job& job = *jobs_[i];
    Fetched fetched;
    std::exception_ptr error;
    bool stopped = false;           // cut by a stop request before it was the entry being installed
    std::exception_ptr passed;      // the copy passed its bound
    std::optional<TDeltaPlan> plan; // the delta's chunks are fetched
    try {
        if (Cut(i))
            throw Exception("The transfer was cancelled");
        std::error_code ignored;
        std::filesystem::create_directories(platform::FsPath(job.in.target).parent_path(), ignored);
        if (job.in.delta && !job.deltaFailed)
            plan = FetchChunks(i, worker);
        if (plan)
            fetched = {true, plan->fetched, job.in.delta->size, {}};
        else if (!job.packCharged)
            fetched = FetchCopy(i, worker);
    } catch (const limits::ELimitPassed& e) {
        // No failure of the run: the entry fails when it is installed,
        // and what the transfer went through is the cause.
        passed = std::make_exception_ptr(
            limits::ELimitPassed("the copy is given up, and nothing of it is installed"));
        fetched = {true, 0, 0, e.what()};
    } catch (...) {
        error = std::current_exception();
        stopped = !Aborted() && Cut(i);
    }
    if (!plan && (error || passed || !fetched.opened))
        RemoveFile(job.in.copy);
    std::lock_guard lock(mutex_);
    --fetching_;
    if (job.big) {
        job.big = false;
        --bigFetching_;
    }
    if (stopped || (!error && !plan && job.packCharged)) {
        // Fetched again should it still become the entry being installed; a
        // delta that failed once it gave up its copy's room waits for it
        // again.
        job.fetched = {};
        Move(i, Stage::Waiting);
        if (i == current_)
            Restart(i);
    } else if (error || !fetched.opened) {
        job.fetched = fetched;
        if (!error)
            failedAt_ = std::min(failedAt_, i);
        job.error = std::move(error);
        Move(i, Stage::Failed);
    } else if (passed) {
        job.fetched = fetched;
        job.error = std::move(passed);
        Move(i, Stage::Unpacked);
    } else {
        job.fetched = fetched;
        job.plan = std::move(plan);
        // The copy takes what it really is from now on.
        // A delta's assembly takes its whole content at once (it is known),
        // so that no bound sets it aside half done.
        const std::int64_t copy = job.plan ? DeltaCharge(job) : fetched.copySize;
        if (i == current_ || used_ - job.charged + copy <= settings_.budget)
            StartUnpack(i);
        else
            Move(i, Stage::Deferred);
    }
    Pump();
    changed_.notify_all();
}

void TWorkAhead::Unpack(std::size_t i) {
    Job& job = *jobs_[i];
    std::unique_ptr<platform::AtomicFile> content;
    std::exception_ptr error;
    bool setAside = false;    // to be done again should it become the entry being installed
    std::string deltaFailure; // the delta's content did not come whole: its copy is fetched
    std::string wrongCopy;    // the copy unpacked to other content, or not at all
    const auto proceed = [&](std::size_t size) {
        if (Aborted())
            throw Exception("The update was stopped");
        if (Cut(i))
            return false;
        // A block that would pass the disk budget sets it aside.
        std::lock_guard lock(mutex_);
        return ChargeBlock(i, static_cast<std::int64_t>(size));
    };
    try {
        if (Cut(i))
            throw Exception("The update was stopped");
        content = std::make_unique<platform::AtomicFile>(job.in.target);
        bool whole = false;
        if (job.plan) {
            std::int64_t assembled = 0;
            try {
                whole = AssembleDelta(
                    *job.in.delta, *job.plan, job.pack,
                    [&](const char* data, std::size_t size) {
                        content->Write(data, size);
                        assembled += static_cast<std::int64_t>(size);
                        job.progress = assembled;
                        ProgressMade(i);
                    },
                    proceed);
            } catch (const EDeltaFailed& e) {
                deltaFailure = e.what();
            }
        } else {
            TFileStream source(job.in.copy, TFileStream::Mode::fmOpenRead);
            whole = UnpackCopy(
                source, [&](const char* data, std::size_t size) { content->Write(data, size); },
                job.in.digest, job.in.sha256, job.in.target, job.in.maxContent,
                [&] {
                    job.progress = source.Position();
                    ProgressMade(i);
                },
                proceed);
        }
        if (whole)
            content->Seal();
        setAside = !whole && deltaFailure.empty();
    } catch (const EContentMismatch& e) {
        error = std::current_exception();
        wrongCopy = e.what();
    } catch (const EBZip2Error& e) {
        error = std::current_exception();
        wrongCopy = e.what();
    } catch (...) {
        error = std::current_exception();
    }
    // A copy a mirror got wrong is fetched again from another.
    const bool refetch = !wrongCopy.empty() && job.copyBase &&
                         DropMirror(*job.copyBase, job.in.name + ": " + wrongCopy);
    if (refetch)
        error = nullptr;
    if (setAside || error || !deltaFailure.empty() || refetch)
        content.reset();
    if (!setAside) // unpacked, or found unusable
        RemoveFile(job.plan ? job.pack : job.in.copy);
    if (!deltaFailure.empty()) {
        job.plan.reset();
        job.deltaFailed = true;
        Note(deltaNotes_, job.in.name + ": " + deltaFailure + "; its copy is fetched whole");
    }
    std::lock_guard lock(mutex_);
    if (!deltaFailure.empty() || refetch) {
        job.progress = 0;
        job.fetched = {};
        job.copyBase.reset();
        Move(i, Stage::Waiting);
        if (i == current_)
            Restart(i);
    } else if (setAside) {
        // What it wrote is gone; the copy waits for its turn.
        job.progress = 0;
        Move(i, Stage::Deferred);
        if (i == current_)
            Restart(i);
    } else {
        job.error = std::move(error);
        job.content = std::move(content);
        Move(i, Stage::Unpacked);
    }
    Pump();
    changed_.notify_all();
}

void TWorkAhead::Restart(std::size_t i) {
    Job& job = *jobs_[i];
    if (job.stage == Stage::Deferred)
        StartUnpack(i);
    else if (job.stage == Stage::Waiting && i < failedAt_)
        StartDownload(i);
}

void TWorkAhead::Wait(std::size_t i, bool install,
                      const std::function<void(std::int64_t)>& progress) {
    Job& job = *jobs_[i];
    const auto done = [&] {
        switch (job.stage) {
        case Stage::Unpacked:
        case Stage::Failed:
        case Stage::Taken:
            return true;
        case Stage::Deferred:
        case Stage::Unpacking:
            return !install; // the download is done
        case Stage::Waiting:
        case Stage::Fetching:
            break;
        }
        return false;
    };
    const bool reports = static_cast<bool>(progress);
    std::int64_t reported = -1;
    for (;;) {
        bool finished = false;
        std::vector<std::string> notes, deltaNotes;
        {
            std::unique_lock lock(mutex_);
            const auto woken = [&] {
                return done() || (reports && job.progress != reported) || !notes_.empty() ||
                       !deltaNotes_.empty() || (Aborted() && job.stage == Stage::Waiting);
            };
            const auto due =
                settings_.due ? settings_.due() : std::chrono::steady_clock::time_point::max();
            if (due == std::chrono::steady_clock::time_point::max())
                changed_.wait(lock, woken);
            else
                changed_.wait_until(lock, due, woken);
            finished = done();
            // An abort before the entry's work began: it never will.
            if (!finished && Aborted() && job.stage == Stage::Waiting)
                throw Exception("The transfer was cancelled");
            notes.assign(notes_.begin(), notes_.end());
            notes_.clear();
            deltaNotes.assign(deltaNotes_.begin(), deltaNotes_.end());
            deltaNotes_.clear();
        }
        if (!notes.empty() && settings_.showNotes)
            settings_.showNotes(notes);
        if (!deltaNotes.empty() && settings_.showDeltaNotes)
            settings_.showDeltaNotes(deltaNotes);
        const std::int64_t value = job.progress;
        if (reports && value != reported) {
            reported = value;
            progress(value);
        }
        if (finished)
            return;
        if (settings_.waiting)
            settings_.waiting();
    }
}

TWorkAhead::DeltaTotals TWorkAhead::Deltas() {
    std::lock_guard lock(mutex_);
    return deltas_;
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
    Wait(i, false, progress);
    std::lock_guard lock(mutex_);
    Job& job = *jobs_[i];
    if (job.stage == Stage::Failed) {
        Move(i, Stage::Taken);
        if (job.error)
            std::rethrow_exception(job.error);
    }
    return job.fetched;
}

void TWorkAhead::AwaitInstall(std::size_t i, const std::function<void(std::int64_t)>& progress) {
    Wait(i, true, progress);
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
        if (job.stage != Stage::Taken)
            Move(i, Stage::Taken);
        Pump(); // what it took of the budget is free for the others
    }
    if (error)
        std::rethrow_exception(error);
    content->Commit();
}
