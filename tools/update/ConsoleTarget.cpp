#include "ConsoleTarget.h"

#include "Misc.h"
#include "Profile.h"
#include "RevisionFloor.h"

#include <algorithm>
#include <numeric>

namespace {

std::string Bar(std::int64_t value, std::int64_t max, int width) {
    const int filled =
        max > 0 ? static_cast<int>(width * std::clamp<std::int64_t>(value, 0, max) / max) : 0;
    return std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '-');
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

} // namespace

std::string ConsoleTarget::Printable(const std::string& text) {
    std::string out;
    for (char c : text)
        out += (static_cast<unsigned char>(c) < 32 || c == 127) ? '?' : c;
    return out;
}

ConsoleTarget::ConsoleTarget(std::ostream& out, std::ostream& err, std::string settingsFile,
                             bool live, TRunLog& log, bool verbose)
    : out_(out), err_(err), settingsFile_(std::move(settingsFile)), live_(live), log_(log),
      verbose_(verbose) {}

void ConsoleTarget::LockCommands() {}

void ConsoleTarget::UnlockCommands() {
    const std::lock_guard lock(mutex_);
    completed_ = true;
    ClearLive();
    log_.RunEnded(lastStatus_);
}

void ConsoleTarget::ShowStatus(const std::string& text) {
    const std::lock_guard lock(mutex_);
    lastStatus_ = text;
    if (StartsWith(text, status::kDownloading)) {
        phase_ = Phase::Download;
    } else if (StartsWith(text, status::kExtracting)) {
        phase_ = Phase::Extract;
        ++installed_;
    }
    if (text.empty() || text == printed_)
        return;
    ClearLive();
    printed_ = text;
    out_ << Printable(text) << std::endl;
}

void ConsoleTarget::SetFileGaugeMax(std::int32_t value) {
    const std::lock_guard lock(mutex_);
    fileMax_ = value;
    fileValue_ = 0;
    Draw(true);
}

void ConsoleTarget::SetTotalGaugeMax(std::int32_t value) {
    const std::lock_guard lock(mutex_);
    totalMax_ = value;
    Draw(true);
}

void ConsoleTarget::SetFileProgress(std::int32_t value) {
    const std::lock_guard lock(mutex_);
    fileValue_ = value;
    Draw(false);
}

void ConsoleTarget::SetTotalProgress(std::int32_t value) {
    const std::lock_guard lock(mutex_);
    // The gauge goes back to 0 once the last entry is in; the bytes stay.
    totalValue_ = plan_.empty() ? value : std::max<std::int64_t>(totalValue_, value);
    Draw(false);
}

// On a terminal the live line says what is tried again; elsewhere a line of
// its own on stderr does, beside the status texts on stdout.
void ConsoleTarget::ShowRetry(const std::string& note) {
    const std::lock_guard lock(mutex_);
    log_.Retry(note);
    if (verbose_)
        return; // the log's line is on stderr already
    if (!live_) {
        err_ << "retry: " << Printable(note) << std::endl;
        return;
    }
    retry_ = Printable(note);
    retryUntil_ = Clock::now() + std::chrono::seconds(5);
    Draw(true);
}

void ConsoleTarget::ShowCause(const std::string& cause) {
    const std::lock_guard lock(mutex_);
    ClearLive();
    log_.Failure(cause);
}

void ConsoleTarget::ShowNote(const std::string& note) {
    const std::lock_guard lock(mutex_);
    log_.Note(note);
}

void ConsoleTarget::StoreRevision(const std::string& revision) {
    platform::WriteProfileString(settingsFile_, "main", "AtRevision", revision);
}

void ConsoleTarget::StoreTrustedRevision(const std::string& revision) {
    RaiseTrustedRevision(settingsFile_, StrToInt(revision));
}

void ConsoleTarget::ShowPlan(const std::vector<std::int64_t>& copySizes) {
    const std::lock_guard lock(mutex_);
    plan_.clear();
    planBytes_ = 0;
    // As running sums: the bytes of the entries before each one, and all.
    for (const std::int64_t size : copySizes) {
        plan_.push_back(planBytes_);
        planBytes_ += std::max<std::int64_t>(size, 0);
    }
    totalValue_ = 0;
    installed_ = 0;
    rate_.Reset();
}

void ConsoleTarget::Interrupted() {
    const std::lock_guard lock(mutex_);
    if (shown_)
        err_ << "\n";
    shown_ = false;
    err_ << "quenmor-update: stopping once the file being installed is in place (Ctrl-C again "
            "ends at once)"
         << std::endl;
}

bool ConsoleTarget::Completed() const {
    const std::lock_guard lock(mutex_);
    return completed_;
}

std::string ConsoleTarget::FinalLine(std::int32_t revision) const {
    const std::lock_guard lock(mutex_);
    if (!completed_ || lastStatus_ == status::kFailed)
        return {};
    if (plan_.empty())
        return "up to date, revision " + std::to_string(revision);
    return "updated to revision " + std::to_string(revision) + ", " + std::to_string(installed_) +
           (installed_ == 1 ? " file, " : " files, ") +
           progress::Megabytes(static_cast<double>(planBytes_));
}

std::int64_t ConsoleTarget::BytesDone() const {
    const auto entry = static_cast<std::size_t>(std::max<std::int64_t>(totalValue_, 0));
    if (entry >= plan_.size())
        return planBytes_;
    const std::int64_t before = plan_[entry];
    const std::int64_t size = (entry + 1 < plan_.size() ? plan_[entry + 1] : planBytes_) - before;
    if (phase_ == Phase::Extract)
        return before + size;
    if (phase_ == Phase::Download && fileMax_ > 0)
        return before + static_cast<std::int64_t>(
                            static_cast<double>(size) *
                            static_cast<double>(std::clamp<std::int64_t>(fileValue_, 0, fileMax_)) /
                            static_cast<double>(fileMax_));
    return before;
}

std::string ConsoleTarget::LiveLine(Clock::time_point now) const {
    std::string line = "file [" + Bar(fileValue_, fileMax_, 20) + "] " +
                       progress::Megabytes(static_cast<double>(fileValue_)) + " / " +
                       progress::Megabytes(static_cast<double>(fileMax_));
    if (plan_.empty()) {
        // Before the entries to fetch are known the run counts files.
        line += "  total [" + Bar(totalValue_, totalMax_, 20) + "] " + std::to_string(totalValue_) +
                "/" + std::to_string(totalMax_ + 1);
    } else {
        const std::int64_t done = BytesDone();
        line += "  total [" + Bar(done, planBytes_, 20) + "] " +
                progress::Megabytes(static_cast<double>(done)) + " / " +
                progress::Megabytes(static_cast<double>(planBytes_));
        if (const double rate = rate_.Rate(); rate > 0) {
            line += "  " + progress::Megabytes(rate) + "/s";
            const double left = rate_.SecondsFor(static_cast<std::uint64_t>(planBytes_ - done));
            if (left >= 0)
                line += "  " + progress::Duration(left) + " left";
        }
    }
    if (!retry_.empty() && now < retryUntil_)
        line += "  retry: " + retry_;
    return line;
}

void ConsoleTarget::Draw(bool force) {
    if (!live_)
        return;
    const auto now = Clock::now();
    if (!force && now - drawn_ < std::chrono::milliseconds(100))
        return;
    drawn_ = now;
    if (!plan_.empty())
        rate_.Add(now, static_cast<std::uint64_t>(BytesDone()));
    err_ << "\r\033[K" << LiveLine(now) << std::flush;
    shown_ = true;
}

void ConsoleTarget::ClearLive() {
    if (shown_)
        err_ << "\r\033[K" << std::flush;
    shown_ = false;
}
