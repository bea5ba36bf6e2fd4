#include "Notifier.h"

#include <algorithm>
#include <limits>

namespace {

std::int32_t ClampToInt32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// The whole percentage a gauge with this maximum shows for the value.
std::int64_t Percent(std::int64_t value, std::int64_t max) {
    if (max <= 0)
        return 0;
    return std::clamp<std::int64_t>(value, 0, max) * 100 / max;
}

int Index(TRunGauge gauge) {
    return gauge == TRunGauge::File ? 0 : 1;
}

} // namespace

TNotifier::TNotifier(TUpdateTarget& target, TDispatcher dispatcher)
    : TNotifier(target, std::move(dispatcher), Settings{}) {}

TNotifier::TNotifier(TUpdateTarget& target, TDispatcher dispatcher, Settings settings)
    : target_(target), dispatcher_(std::move(dispatcher)), settings_(settings) {}

void TNotifier::LockCommands() {
    Send(Kind::Command, [this] { target_.LockCommands(); });
}

void TNotifier::UnlockCommands() {
    Send(Kind::Command, [this] { target_.UnlockCommands(); });
}

void TNotifier::StoreRevision(std::int32_t revision) {
    Send(Kind::Command, [this, revision] { target_.StoreRevision(std::to_string(revision)); });
}

void TNotifier::StoreTrustedRevision(std::int32_t revision) {
    Send(Kind::Command,
         [this, revision] { target_.StoreTrustedRevision(std::to_string(revision)); });
}

void TNotifier::ShowStatus(const std::string& text) {
    Send(Kind::Shown, [this, text] { target_.ShowStatus(text); });
}

void TNotifier::ShowRetry(const std::string& note) {
    Send(Kind::Shown, [this, note] { target_.ShowRetry(note); });
}

void TNotifier::ShowCause(const std::string& cause) {
    Send(Kind::Shown, [this, cause] { target_.ShowCause(cause); });
}

void TNotifier::ShowNote(const std::string& note) {
    Send(Kind::Shown, [this, note] { target_.ShowNote(note); });
}

void TNotifier::ShowPlan(const std::vector<std::int64_t>& copySizes) {
    Send(Kind::Shown, [this, copySizes] { target_.ShowPlan(copySizes); });
}

void TNotifier::SetGaugeMax(TRunGauge gauge, std::int64_t max) {
    Gauge& state = gauges_[Index(gauge)];
    int shift = 0;
    while ((max >> shift) > std::numeric_limits<std::int32_t>::max())
        ++shift;
    const std::int32_t shown = ClampToInt32(max >> shift);
    Send(Kind::Shown, gauge == TRunGauge::File
                          ? Call([this, shown] { target_.SetFileGaugeMax(shown); })
                          : Call([this, shown] { target_.SetTotalGaugeMax(shown); }));
    // The values after it are scaled as it is; a value left out before it
    // went out with the earlier scale.
    state.shift = shift;
    if (settings_.coalesceProgress)
        state.max = max;
}

void TNotifier::SetFileProgress(std::int64_t value) {
    Progress(TRunGauge::File, value);
}

void TNotifier::SetTotalProgress(std::int64_t value) {
    Progress(TRunGauge::Total, value);
}

void TNotifier::Progress(TRunGauge gauge, std::int64_t value) {
    if (settings_.coalesceProgress && Skip(gauge, value))
        return;
    Hand(ProgressCall(gauge, value));
}

TNotifier::Call TNotifier::ProgressCall(TRunGauge gauge, std::int64_t value) const {
    const std::int32_t shown = ClampToInt32(value >> gauges_[Index(gauge)].shift);
    if (gauge == TRunGauge::File)
        return [this, shown] { target_.SetFileProgress(shown); };
    return [this, shown] { target_.SetTotalProgress(shown); };
}

void TNotifier::Send(Kind kind, Call call) {
    // Whatever else the host shows, it shows beside the gauges as they
    // really stand.
    if (settings_.coalesceProgress) {
        FlushProgress(TRunGauge::File);
        FlushProgress(TRunGauge::Total);
    }
    if (kind == Kind::Command) {
        // The commands, and the revisions (whose failure ends the run), are
        // never held back.
        if (!batch_.empty())
            Flush();
        Deliver(call);
        return;
    }
    Hand(std::move(call));
}

void TNotifier::Hand(Call call) {
    if (!settings_.batch || !dispatcher_) {
        Deliver(call);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (batch_.empty())
        batchSince_ = now;
    batch_.push_back(std::move(call));
    if (now - batchSince_ >= kBatchInterval)
        Flush();
}

void TNotifier::Deliver(const Call& call) {
    try {
        if (dispatcher_)
            dispatcher_(call);
        else
            call();
    } catch (...) {
        throw HostRefusal{std::current_exception()};
    }
}

void TNotifier::Flush() {
    if (settings_.coalesceProgress) {
        FlushProgress(TRunGauge::File);
        FlushProgress(TRunGauge::Total);
    }
    if (batch_.empty())
        return;
    std::vector<Call> batch;
    batch.swap(batch_);
    // In order; one that raises stops the rest, and the worker gets the error.
    Deliver([&batch] {
        for (const Call& call : batch)
            call();
    });
}

void TNotifier::FlushIfDue() {
    if (!batch_.empty() && std::chrono::steady_clock::now() >= Due()) {
        std::vector<Call> batch;
        batch.swap(batch_);
        Deliver([&batch] {
            for (const Call& call : batch)
                call();
        });
    }
}

std::chrono::steady_clock::time_point TNotifier::Due() const {
    return batch_.empty() ? std::chrono::steady_clock::time_point::max()
                          : batchSince_ + kBatchInterval;
}

void TNotifier::Drop() {
    batch_.clear();
    for (Gauge& gauge : gauges_)
        gauge.pending = false;
}

bool TNotifier::Skip(TRunGauge gauge, std::int64_t value) {
    Gauge& state = gauges_[Index(gauge)];
    const auto now = std::chrono::steady_clock::now();
    // Until this run has set the gauge's maximum, what it shows is unknown.
    if (state.max >= 0 && state.shown >= 0 &&
        (Percent(value, state.max) == Percent(state.shown, state.max) ||
         now - state.sentAt < kProgressInterval)) {
        state.pending = true;
        state.pendingValue = value;
        return true;
    }
    state.shown = value;
    state.sentAt = now;
    state.pending = false;
    return false;
}

void TNotifier::FlushProgress(TRunGauge gauge) {
    Gauge& state = gauges_[Index(gauge)];
    if (!state.pending)
        return;
    state.pending = false;
    state.shown = state.pendingValue;
    state.sentAt = std::chrono::steady_clock::now();
    Hand(ProgressCall(gauge, state.pendingValue));
}
