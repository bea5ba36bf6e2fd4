// Values computed ahead on a job queue and taken in order: a value whose job
// no worker has started is computed by the one who takes it, once.
#include "JobQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

TEST(OrderedAheadTest, ValuesNoWorkerStartedAreComputedOnceByTheTaker) {
    TJobQueue queue(1);
    // The queue's only worker is kept busy until the end, so no value can be
    // computed there while the values are taken.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> busy;
    queue.Submit(0, [&](unsigned) {
        busy.set_value();
        released.wait();
    });
    busy.get_future().wait();

    std::atomic<int> computed{0};
    std::mutex mutex;
    std::vector<std::thread::id> threads;
    {
        TOrderedAhead<int> ahead(queue, 10, 4, [&](std::size_t k) {
            ++computed;
            std::lock_guard lock(mutex);
            threads.push_back(std::this_thread::get_id());
            if (k == 3)
                throw std::runtime_error("unreadable"); // its value is the default
            return static_cast<int>(k) * 10;
        });
        auto taken = std::async(std::launch::async, [&] {
            std::vector<int> values;
            for (std::size_t k = 0; k < 10; ++k)
                values.push_back(ahead.Take(k));
            return std::make_pair(values, std::this_thread::get_id());
        });
        const bool done = taken.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        release.set_value(); // the jobs queued behind the busy one now run, and skip
        ASSERT_TRUE(done) << "taking waited for a worker that never came";
        const auto [values, taker] = taken.get();
        EXPECT_EQ(values, (std::vector<int>{0, 10, 20, 0, 40, 50, 60, 70, 80, 90}));
        for (const std::thread::id thread : threads)
            EXPECT_EQ(thread, taker);
    } // waits for the queued jobs, which find their values taken
    EXPECT_EQ(computed.load(), 10);
}

TEST(OrderedAheadTest, ValuesComputedByWorkersAreTakenInOrderWithinTheWindow) {
    TJobQueue queue(2);
    std::atomic<std::size_t> taken{0}, furthest{0};
    TOrderedAhead<std::size_t> ahead(queue, 200, 8, [&](std::size_t k) {
        std::size_t seen = furthest.load();
        while (k > seen && !furthest.compare_exchange_weak(seen, k)) {
        }
        // Never more than the window beyond the value taken last.
        EXPECT_LE(k, taken.load() + 8);
        return k;
    });
    for (std::size_t k = 0; k < 200; ++k) {
        taken = k;
        EXPECT_EQ(ahead.Take(k), k);
    }
    EXPECT_EQ(furthest.load(), 199u);
}

} // namespace
