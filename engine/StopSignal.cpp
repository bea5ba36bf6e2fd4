#include "StopSignal.h"

// A request is made whole under the lock, and the destructor takes the lock:
// a run that ends because of a request, and is then destroyed, is destroyed
// only once the request is through, even when it came from another thread.
TStopSignal::~TStopSignal() {
    std::lock_guard lock(mutex_);
}

void TStopSignal::RequestStop() {
    std::lock_guard lock(mutex_);
    stop_ = true;
    WakeAll();
}

void TStopSignal::RequestAbort() {
    std::lock_guard lock(mutex_);
    abort_ = true;
    stop_ = true;
    WakeAll();
}

void TStopSignal::WakeAll() {
    sleepers_.notify_all();
    for (const auto& [id, wake] : wakers_)
        wake();
}

bool TStopSignal::SleepFor(std::chrono::milliseconds pause, const std::function<bool()>& cut) {
    std::unique_lock lock(mutex_);
    return !sleepers_.wait_for(lock, pause, [&] { return cut && cut(); });
}

std::unique_ptr<TStopSignal::Subscription> TStopSignal::Subscribe(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    const std::uint64_t id = nextId_++;
    wakers_.emplace(id, std::move(wake));
    return std::make_unique<Subscription>(this, id);
}

TStopSignal::Subscription::~Subscription() {
    std::lock_guard lock(signal_->mutex_);
    signal_->wakers_.erase(id_);
}
