// Work ahead of the installer. While the installer takes the pending entries
// one by one in their order, later entries' copies are fetched on several
// kept-open connections at once, then unpacked and verified into new content
// beside their targets on every core. Nothing here touches an installed file:
// the installer puts each verified content in place itself, in order.
//
// Entries are fetched in their order, except that a quarter of the
// connections take the largest copies of the window first, so that the line
// stays busy while the other connections wait out the round trips of small
// files.
//
// Bounds: downloads run on at most `connections` transfers, and for at most
// `maxAhead` entries beyond the one being installed; the copies and new
// contents of all of them, the one being installed included, take at most
// `budget` bytes of disk before work beyond that one waits (an unpacking
// ahead that would pass it is set aside until its entry is the one being
// installed, which alone may pass it). A delta's assembly, whose content size
// is known, is charged all of it when it begins, so that it is never set aside
// half done: it waits until that fits, and begins as soon as it does. After a
// download that could not be opened no later download starts.
//
// Each entry's job is in one state at a time (Stage), changed only by Move,
// which checks that the change is one the job may make and sets what the job
// counts against the budget in its new state: a job's charge goes with its
// state, so it is never left behind. The installer's waits end when their
// entry's state or progress changes, when a stop is requested, or when the
// host's batch of notifications is due; nothing here polls.
#pragma once

#include "Delta.h"
#include "Fetch.h"
#include "Files.h"
#include "Http.h"
#include "JobQueue.h"
#include "Limits.h"
#include "Mirrors.h"
#include "StopSignal.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// One pending entry as the installer will take it.
struct TAheadEntry {
    std::string url; // the server copy
    // Where the downloaded copy is kept until it is unpacked; empty: under a
    // temporary name of our own beside the target.
    std::string copy;
    std::string target;    // the local file its content will replace
    std::string digest;    // the MD5 digest the content must have
    std::string sha256;    // and its SHA-256 digest, when the tree is signed
    std::int64_t size = 0; // the size field: what the copy is expected to take
    // What the copy may take, and what it may unpack to: a copy that passes
    // either fails its entry as one that does not match its digest does,
    // stopped where it passed.
    limits::TSizeLimit maxCopy, maxContent;
    // Made of chunks where it can be (see Delta.h): the missing chunks are
    // fetched as its download and assembled as its unpacking. Should that
    // fail, the copy is fetched and unpacked instead.
    std::optional<TDeltaEntry> delta;
    std::string name; // for the notes of its delta: the manifest path, UTF-8
};

class TWorkAhead {
public:
    struct Settings {
        unsigned connections = 16;
        unsigned cores = 2;
        std::int64_t budget = std::int64_t{256} << 20;
        std::size_t maxAhead = 512;
        platform::HttpOptions http; // its `cancelled` is replaced
        // The update address and its mirrors, the first of them the one the
        // entries' addresses begin with; none: every file from that one.
        // Requests are spread over those in use, and one that fails (no
        // answer, an answer that is no success, bytes that do not match
        // their digest) is dropped for the rest of the run and the request
        // made again elsewhere.
        std::shared_ptr<TMirrorSet> mirrors;
        TRetryPolicy retry;
        // The run's requests: a stop cuts the work for the entries after the
        // one being installed; an abort cuts all of it. None: never.
        TStopSignal* stop = nullptr;
        // Given, on the installer's thread while it waits, the notes of the
        // retries made since the last ones it was given.
        std::function<void(const std::vector<std::string>&)> showNotes;
        // Given the same way why an entry's delta gave way to its copy, and
        // which mirrors were dropped.
        std::function<void(const std::vector<std::string>&)> showDeltaNotes;
        // While the installer waits for work that is not done yet, `waiting`
        // is called on its thread by the time `due` gives, and whenever the
        // wait wakes for something else.
        std::function<void()> waiting;
        std::function<std::chrono::steady_clock::time_point()> due;
        // Told of every change of a job's state, under the lock: the entry,
        // and the names of the state it leaves and the one it enters.
        std::function<void(std::size_t entry, const char* from, const char* to)> trace;
    };

    // What became of an entry's download.
    struct Fetched {
        bool opened = false;
        std::int64_t copySize = 0; // the downloaded copy's size, or the bytes of a delta
        // What its unpacking reports progress against: the copy's size, or
        // the content's for a delta.
        std::int64_t unpackSize = 0;
        std::string failure; // what went wrong (see FetchFailure); empty: nothing
    };

    TWorkAhead(std::vector<TAheadEntry> entries, Settings settings);
    // Stops all work, waits for it, and removes every copy and new content of
    // the entries not taken.
    ~TWorkAhead();
    TWorkAhead(const TWorkAhead&) = delete;
    TWorkAhead& operator=(const TWorkAhead&) = delete;

    // The installer's side; one thread, entries in order.
    //
    // Makes entry i the one being installed (no bound holds it back) and
    // waits for its download, reporting the bytes received as they come.
    // Raises what the download raised (a copy that cannot be written, a cut
    // transfer).
    Fetched AwaitDownload(std::size_t i, const std::function<void(std::int64_t)>& progress);
    // Waits for entry i's new content, reporting the compressed bytes read so
    // far, and puts it in place of the target. Raises what unpacking or
    // putting it in place raised; the target is then untouched.
    void AwaitInstall(std::size_t i, const std::function<void(std::int64_t)>& progress);

    // What the entries' deltas came to so far: the files whose chunks came,
    // the chunks found here and fetched, and the bytes fetched for them.
    struct DeltaTotals {
        std::size_t files = 0, chunksFound = 0, chunksFetched = 0;
        std::int64_t bytesFetched = 0;
    };
    DeltaTotals Deltas();

    // The states of an entry's job.
    enum class Stage {
        Waiting,   // nothing of it started (again, after a stop request cut it,
                   // or its delta failed in unpacking)
        Fetching,  // its copy is being downloaded
        Deferred,  // its copy is there; unpacking it waits for room in the budget
        Unpacking, // its copy is being unpacked and verified into new content
        Unpacked,  // its new content is sealed, or it failed (error)
        Failed,    // its download raised, or could not be opened
        Taken,     // the installer took it
    };
    static const char* StageName(Stage stage);

private:
    struct Job {
        TAheadEntry in;
        Stage stage = Stage::Waiting;
        std::atomic<std::int64_t> progress{0};
        std::int64_t written = 0; // bytes of new content so far, under the lock
        Fetched fetched;
        std::int64_t charged = 0; // disk bytes counted against the budget
        bool big = false;         // fetched on a connection kept for large copies
        std::exception_ptr error;
        std::unique_ptr<platform::AtomicFile> content; // sealed, verified
        // Its delta: the chunks fetched into `pack`, and where the content's
        // pieces are; none once it failed (`deltaFailed`), or before.
        std::optional<TDeltaPlan> plan;
        std::string pack;
        bool deltaFailed = false;
        // Its charge is its pack's since its chunks were planned, no longer
        // its copy's: should the delta fail now, the copy waits for room.
        bool packCharged = false;
        // The mirror its copy came from, when there are mirrors.
        std::optional<std::size_t> copyBase;
        // When the installer was last woken for this job's progress.
        std::chrono::steady_clock::time_point progressSent{};
    };

    // Under the lock: starts what the bounds allow.
    void Pump();
    // What a delta's assembly takes of the budget: its pack and its content.
    static std::int64_t DeltaCharge(const Job& job);
    std::size_t NextToFetch(); // the entry whose download starts next, if any may
    void StartDownload(std::size_t i);
    void StartUnpack(std::size_t i);
    // Starts again the work of entry i, now the one being installed, that a
    // bound or a stop request set aside.
    void Restart(std::size_t i);
    // Under the lock: changes the job's state, and its charge with it.
    void Move(std::size_t i, Stage to);
    bool Aborted() const;
    // Wakes the installer when it waits for entry i's progress, at most
    // every few milliseconds.
    void ProgressMade(std::size_t i);
    // Whether entry i's work must stop: on an abort, or on a stop request
    // when it is not the entry being installed.
    bool Cut(std::size_t i) const;
    void Download(std::size_t i, unsigned worker);
    // Entry i's copy, or the chunks of its delta, fetched on the worker's
    // connection; no chunks when the delta failed (a note says why), and the
    // copy must be fetched instead.
    Fetched FetchCopy(std::size_t i, unsigned worker);
    std::optional<TDeltaPlan> FetchChunks(std::size_t i, unsigned worker);
    // Runs entry i's scan of its sources once it is the first in line and
    // fewer than `cores` others scan: the scans are the processor's work,
    // and the entries nearest the installer come first.
    TDeltaPlan Scanned(std::size_t i, const std::function<TDeltaPlan()>& scan);
    TFetch MakeFetch(std::size_t i, unsigned worker);
    struct ChunkFetches;
    void Note(std::deque<std::string>& notes, std::string note);
    // With mirrors: the address of `url` (one under the first base) under
    // the base the n-th request goes to, which is `base`.
    std::string Spread(const std::string& url, std::size_t n, std::size_t& base) const;
    // Calls `fetch` with `url` (one under the first base) under the base of
    // the n-th request, and again under others as long as it raises
    // EDeltaFailed and the mirror that failed can be dropped.
    void OnMirrors(const std::string& url, std::size_t n,
                   const std::function<void(const std::string&)>& fetch);
    // Drops a mirror that failed, with a note saying why the first time;
    // whether it is out of use now (false for the last one in use, and
    // without mirrors), so that the request is made elsewhere.
    bool DropMirror(std::size_t base, const std::string& why);
    void Unpack(std::size_t i);
    // Under the lock: whether `bytes` more for entry i fit the budget (the
    // entry being installed always fits), and the charge of a block of new
    // content, when it fits.
    bool Fits(std::size_t i, std::int64_t bytes) const;
    bool ChargeBlock(std::size_t i, std::int64_t bytes);
    // Waits until entry i's download is done (`install` false) or its new
    // content is (true).
    void Wait(std::size_t i, bool install, const std::function<void(std::int64_t)>& progress);

    Settings settings_;
    std::vector<std::unique_ptr<Job>> jobs_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t current_ = 0;   // the entry being installed
    std::size_t nextFetch_ = 0; // the next entry whose download starts
    std::size_t fetching_ = 0;  // downloads running
    std::int64_t used_ = 0;     // disk bytes charged, the current entry's included
    // The first entry whose download could not be opened: none after it starts.
    std::size_t failedAt_ = static_cast<std::size_t>(-1);
    std::size_t bigFetching_ = 0;          // downloads running for the largest copies
    std::vector<std::size_t> largest_;     // the entries with large copies, largest first
    std::set<std::size_t> deferredDeltas_; // the Deferred entries with a delta's chunks
    std::set<std::size_t> scanQueue_;      // the entries waiting to scan their sources
    unsigned scanning_ = 0;                // scans running
    std::atomic<bool> closing_{false};
    std::atomic<std::size_t> currentAtomic_{0}; // current_, for the transfers' checks
    std::deque<std::string> notes_, deltaNotes_;
    DeltaTotals deltas_;
    std::vector<std::unique_ptr<platform::HttpConnection>> connections_;
    // Wakes the installer's wait on a stop request.
    std::unique_ptr<TStopSignal::Subscription> woken_;
    // Declared last: destroyed first, so no job outlives what it uses.
    std::unique_ptr<TJobQueue> transfers_;
    std::unique_ptr<TJobQueue> unpacking_;
};
