// A bounded set of worker threads that run queued jobs lowest key first, so
// that the work needed next is never queued behind work for later.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

class TJobQueue {
public:
    // A job is given the number of the worker that runs it (0 to threads - 1),
    // for state that each worker keeps for itself. What a job raises is lost:
    // jobs report their own outcome.
    using Job = std::function<void(unsigned worker)>;

    // Background workers run below the other threads of the program, so that
    // the ones the player waits on get the processor first.
    explicit TJobQueue(unsigned threads, bool background = false);
    ~TJobQueue(); // drops the jobs not yet started and waits for the running ones
    TJobQueue(const TJobQueue&) = delete;
    TJobQueue& operator=(const TJobQueue&) = delete;

    // Jobs with equal keys run in the order they were submitted.
    void Submit(std::uint64_t key, Job job);
    // Drops the jobs not yet started.
    void Clear();

    unsigned Threads() const { return static_cast<unsigned>(workers_.size()); }

private:
    void Work(unsigned worker);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<std::uint64_t, Job> queued_;
    bool closing_ = false;
    std::vector<std::thread> workers_;
};

// Values computed ahead on a job queue and taken in order: value k is
// computed by `compute(k)` for k from 0 to count - 1, at most `window` values
// beyond the one taken last. Taking waits for the value. The queue must not
// be cleared while this object lives.
template <typename T> class TOrderedAhead {
public:
    TOrderedAhead(TJobQueue& queue, std::size_t count, std::size_t window,
                  std::function<T(std::size_t)> compute)
        : queue_(queue), compute_(std::move(compute)), slots_(count), window_(window) {
        Fill(0);
    }
    // Waits for the jobs already started: they use this object.
    ~TOrderedAhead() {
        std::unique_lock lock(mutex_);
        closing_ = true;
        done_.wait(lock, [this] { return running_ == 0; });
    }
    TOrderedAhead(const TOrderedAhead&) = delete;
    TOrderedAhead& operator=(const TOrderedAhead&) = delete;

    // While the value is not there yet, `waiting` is called by the time
    // `due` gives (none: the wait is for the value alone).
    using Clock = std::chrono::steady_clock;
    T Take(std::size_t k, const std::function<Clock::time_point()>& due = {},
           const std::function<void()>& waiting = {}) {
        Fill(k + 1);
        std::unique_lock lock(mutex_);
        if (!slots_[k].claimed) {
            // Not started yet: computing it here costs less than waking a
            // worker and waiting to be woken in turn, which for cheap values
            // (a file that is not there) is most of their cost.
            slots_[k].claimed = true;
            lock.unlock();
            return Compute(k);
        }
        const auto ready = [&] { return slots_[k].ready; };
        while (!ready()) {
            const Clock::time_point until = due ? due() : Clock::time_point::max();
            if (until == Clock::time_point::max()) {
                done_.wait(lock, ready);
            } else if (!done_.wait_until(lock, until, ready) && waiting) {
                lock.unlock();
                waiting();
                lock.lock();
            }
        }
        return std::move(slots_[k].value);
    }

private:
    struct Slot {
        bool claimed = false; // by a worker or by Take
        bool ready = false;
        T value{};
    };

    void Fill(std::size_t taken) {
        std::lock_guard lock(mutex_);
        for (; next_ < slots_.size() && next_ < taken + window_; ++next_) {
            ++running_;
            queue_.Submit(next_, [this, k = next_](unsigned) {
                bool skip = false;
                {
                    std::lock_guard state(mutex_);
                    skip = closing_ || slots_[k].claimed;
                    slots_[k].claimed = true;
                }
                T value = skip ? T{} : Compute(k);
                std::lock_guard state(mutex_);
                if (!skip) {
                    slots_[k].value = std::move(value);
                    slots_[k].ready = true;
                }
                --running_;
                done_.notify_all();
            });
        }
    }

    T Compute(std::size_t k) {
        try {
            return compute_(k);
        } catch (...) {
            return T{}; // `compute` tells its failures in its value
        }
    }

    TJobQueue& queue_;
    std::function<T(std::size_t)> compute_;
    std::vector<Slot> slots_;
    std::size_t window_;
    std::size_t next_ = 0;
    std::size_t running_ = 0;
    bool closing_ = false;
    std::mutex mutex_;
    std::condition_variable done_;
};
