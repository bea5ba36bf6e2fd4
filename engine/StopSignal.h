// A run's stop requests, and the waits they end at once. A request is a flag
// that the run's threads read wherever they decide what to do next; every
// wait that a request must cut short either sleeps here (SleepFor) or
// subscribes a way to wake it, and a request wakes all of them together.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class TStopSignal {
public:
    TStopSignal() = default;
    ~TStopSignal();
    TStopSignal(const TStopSignal&) = delete;
    TStopSignal& operator=(const TStopSignal&) = delete;

    // A stop request: the entry being installed is finished, the rest are
    // left out. An abort cuts that one too, and implies a stop.
    void RequestStop();
    void RequestAbort();
    bool StopRequested() const { return stop_; }
    bool AbortRequested() const { return abort_; }

    // Sleeps for `pause`, or less when `cut` turns true on a request
    // (checked at once and on each request). Whether it slept the whole pause.
    bool SleepFor(std::chrono::milliseconds pause, const std::function<bool()>& cut);

    // Calls `wake` on each request while the subscription lives. A waker
    // runs on the thread that requests and may take the lock of the wait it
    // wakes; a subscription is therefore never made or ended under that lock.
    class Subscription {
    public:
        Subscription(TStopSignal* signal, std::uint64_t id) : signal_(signal), id_(id) {}
        ~Subscription();
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;

    private:
        TStopSignal* signal_;
        std::uint64_t id_;
    };
    [[nodiscard]] std::unique_ptr<Subscription> Subscribe(std::function<void()> wake);

private:
    void WakeAll(); // under the lock

    std::atomic<bool> stop_{false};
    std::atomic<bool> abort_{false};
    std::mutex mutex_;
    std::condition_variable sleepers_;
    std::map<std::uint64_t, std::function<void()>> wakers_;
    std::uint64_t nextId_ = 0;
};
