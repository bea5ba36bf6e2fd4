#include "JobQueue.h"

#include "Process.h"

#include <algorithm>

TJobQueue::TJobQueue(unsigned threads, bool background) {
    threads = std::max(threads, 1u);
    workers_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i)
        workers_.emplace_back([this, i, background] {
            if (background)
                platform::LowerCurrentThreadPriority();
            Work(i);
        });
}

TJobQueue::~TJobQueue() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        queued_.clear();
    }
    wake_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

void TJobQueue::Submit(std::uint64_t key, Job job) {
    {
        std::lock_guard lock(mutex_);
        if (closing_)
            return;
        queued_.emplace(key, std::move(job));
    }
    wake_.notify_one();
}

void TJobQueue::Clear() {
    std::lock_guard lock(mutex_);
    queued_.clear();
}

void TJobQueue::Work(unsigned worker) {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return closing_ || !queued_.empty(); });
            if (closing_)
                return;
            job = std::move(queued_.begin()->second);
            queued_.erase(queued_.begin());
        }
        try {
            job(worker);
        } catch (...) {
            // Jobs report their own outcome.
        }
    }
}
