// How the run's notifications reach the host: each is handed to the host's
// dispatcher with the values of the fields it reads as the worker set them
// before sending it. Progress that would change nothing the host shows can be
// left out (CoalesceProgress), and notifications that only show something can
// be handed over in batches (BatchNotifications), so that a host on another
// thread is not woken for every one of them.
#include "GetFilesThr.h"

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

} // namespace

void GFilesThread::Synchronize(Notification notification) {
    if (CoalesceProgress) {
        if (notification == &GFilesThread::SetFileProgress) {
            if (SkipProgress(0))
                return;
        } else if (notification == &GFilesThread::SetTotalProgress) {
            if (SkipProgress(1))
                return;
        } else {
            // Whatever else the host shows, it shows beside the gauges as
            // they really stand.
            FlushProgress(0);
            FlushProgress(1);
        }
    }
    Dispatch(notification);
    if (CoalesceProgress && notification == &GFilesThread::SetGaugeMax &&
        (GaugeSelector == 0 || GaugeSelector == 1))
        gauges_[GaugeSelector].max = ProgressValue;
}

// What the host runs for a notification: the notification with the values
// of the fields it reads taken now, on the worker.
std::function<void()> GFilesThread::Capture(Notification notification) {
    if (notification == &GFilesThread::ShowStatus)
        return [this, text = StatusText] { target_.ShowStatus(text); };
    if (notification == &GFilesThread::SetGaugeMax)
        return [this, gauge = GaugeSelector, max = ProgressValue] { ApplyGaugeMax(gauge, max); };
    if (notification == &GFilesThread::SetFileProgress)
        return [this, value = ProgressValue] { ApplyProgress(0, value); };
    if (notification == &GFilesThread::SetTotalProgress)
        return [this, value = ProgressValue] { ApplyProgress(1, value); };
    if (notification == &GFilesThread::ShowRetry)
        return [this, text = retryText_] { target_.ShowRetry(text); };
    if (notification == &GFilesThread::ShowCause)
        return [this, text = causeText_] { target_.ShowCause(text); };
    if (notification == &GFilesThread::ShowNote)
        return [this, text = noteText_] { target_.ShowNote(text); };
    if (notification == &GFilesThread::ShowPlan)
        return [this, sizes = planSizes_] { target_.ShowPlan(sizes); };
    if (notification == &GFilesThread::StoreRevision)
        return [this, revision = AtRevision] { target_.StoreRevision(std::to_string(revision)); };
    return [this, notification] { (this->*notification)(); };
}

void GFilesThread::Deliver(const std::function<void()>& notifications) {
    try {
        if (dispatcher_)
            dispatcher_(notifications);
        else
            notifications();
    } catch (...) {
        throw HostRefusal{std::current_exception()};
    }
}

void GFilesThread::Dispatch(Notification notification) {
    if (!dispatcher_) {
        Deliver([this, notification] { (this->*notification)(); });
        return;
    }
    // The commands, and the revisions (whose failure ends the run), are never
    // held back.
    const bool batched = BatchNotifications && notification != &GFilesThread::LockCommands &&
                         notification != &GFilesThread::UnlockCommands &&
                         notification != &GFilesThread::StoreRevision &&
                         notification != &GFilesThread::StoreTrustedRevision;
    if (!batched) {
        FlushNotifications();
        Deliver([this, notification] { (this->*notification)(); });
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (batch_.empty())
        batchSince_ = now;
    batch_.push_back(Capture(notification));
    if (now - batchSince_ >= kBatchInterval)
        FlushNotifications();
}

void GFilesThread::FlushNotifications(bool onlyWhenDue) {
    if (batch_.empty() ||
        (onlyWhenDue && std::chrono::steady_clock::now() - batchSince_ < kBatchInterval))
        return;
    std::vector<std::function<void()>> batch;
    batch.swap(batch_);
    // In order; one that raises stops the rest, and the worker gets the error.
    Deliver([&batch] {
        for (const auto& notification : batch)
            notification();
    });
}

bool GFilesThread::SkipProgress(int gauge) {
    GaugeShadow& shadow = gauges_[gauge];
    const std::int64_t value = ProgressValue;
    const auto now = std::chrono::steady_clock::now();
    // Until this run has set the gauge's maximum, what it shows is unknown.
    if (shadow.max >= 0 && shadow.shown >= 0 &&
        (Percent(value, shadow.max) == Percent(shadow.shown, shadow.max) ||
         now - shadow.sentAt < kProgressInterval)) {
        shadow.pending = true;
        shadow.pendingValue = ProgressValue;
        return true;
    }
    shadow.shown = value;
    shadow.sentAt = now;
    shadow.pending = false;
    return false;
}

void GFilesThread::FlushProgress(int gauge) {
    GaugeShadow& shadow = gauges_[gauge];
    if (!shadow.pending)
        return;
    shadow.pending = false;
    shadow.shown = shadow.pendingValue;
    shadow.sentAt = std::chrono::steady_clock::now();
    const std::int64_t current = ProgressValue;
    ProgressValue = shadow.pendingValue;
    try {
        Dispatch(gauge == 0 ? &GFilesThread::SetFileProgress : &GFilesThread::SetTotalProgress);
    } catch (...) {
        ProgressValue = current;
        throw;
    }
    ProgressValue = current;
}

// ---------------------------------------------------------------------------
// The notifications themselves, run by the host.

void GFilesThread::LockCommands() {
    target_.LockCommands();
}
void GFilesThread::ShowStatus() {
    target_.ShowStatus(StatusText);
}
void GFilesThread::SetFileProgress() {
    ApplyProgress(0, ProgressValue);
}
void GFilesThread::SetTotalProgress() {
    ApplyProgress(1, ProgressValue);
}
void GFilesThread::ShowRetry() {
    target_.ShowRetry(retryText_);
}
void GFilesThread::ShowCause() {
    target_.ShowCause(causeText_);
}
void GFilesThread::StoreRevision() {
    target_.StoreRevision(std::to_string(AtRevision));
}
void GFilesThread::StoreTrustedRevision() {
    target_.StoreTrustedRevision(std::to_string(TrustedRevision));
}
void GFilesThread::ShowNote() {
    target_.ShowNote(noteText_);
}
void GFilesThread::ShowPlan() {
    target_.ShowPlan(planSizes_);
}
void GFilesThread::UnlockCommands() {
    target_.UnlockCommands();
}
void GFilesThread::SetGaugeMax() {
    ApplyGaugeMax(GaugeSelector, ProgressValue);
}

// A maximum past 32 bits is scaled down by the smallest power of two that
// makes it fit, and the gauge's values with it until its next maximum.
void GFilesThread::ApplyGaugeMax(std::int32_t gauge, std::int64_t max) {
    if (gauge != 0 && gauge != 1)
        return;
    int shift = 0;
    while ((max >> shift) > std::numeric_limits<std::int32_t>::max())
        ++shift;
    gaugeShift_[gauge] = shift;
    if (gauge == 0)
        target_.SetFileGaugeMax(ClampToInt32(max >> shift));
    else
        target_.SetTotalGaugeMax(ClampToInt32(max >> shift));
}

// A value shown against a gauge's maximum, scaled as that maximum was.
void GFilesThread::ApplyProgress(std::int32_t gauge, std::int64_t value) {
    const std::int32_t shown = ClampToInt32(value >> gaugeShift_[gauge]);
    if (gauge == 0)
        target_.SetFileProgress(shown);
    else
        target_.SetTotalProgress(shown);
}

void GFilesThread::SendGaugeMax(std::int32_t gauge, std::int64_t max) {
    GaugeSelector = gauge;
    ProgressValue = max;
    Synchronize(&GFilesThread::SetGaugeMax);
}

void GFilesThread::Show(const std::string& text) {
    StatusText = text;
    Synchronize(&GFilesThread::ShowStatus);
}

void GFilesThread::Cause(const std::string& cause) {
    causeText_ = cause;
    Synchronize(&GFilesThread::ShowCause);
}

void GFilesThread::Note(const std::string& note) {
    noteText_ = note;
    Synchronize(&GFilesThread::ShowNote);
}

void GFilesThread::Refuse(const std::string& cause) {
    StatusText = status::kFailed;
    Cause(cause);
}

void GFilesThread::ShowRetries(const std::vector<std::string>& notes) {
    for (const std::string& note : notes) {
        retryText_ = note;
        Synchronize(&GFilesThread::ShowRetry);
    }
}
