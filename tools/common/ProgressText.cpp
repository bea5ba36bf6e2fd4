#include "ProgressText.h"

#include <cmath>
#include <cstdio>
#include <iterator>

namespace progress {

std::string BinaryBytes(std::uint64_t bytes) {
    static const char* const kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    auto value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string Megabytes(double bytes) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    return text;
}

std::string Duration(double seconds) {
    const auto total = static_cast<long long>(std::ceil(std::max(seconds, 0.0)));
    const long long hours = total / 3600, minutes = total / 60 % 60, rest = total % 60;
    char text[48];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", hours, minutes, rest);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", minutes, rest);
    return text;
}

RateWindow::RateWindow(std::chrono::milliseconds window) : window_(window) {}

void RateWindow::Add(Clock::time_point at, std::uint64_t count) {
    if (!samples_.empty() && (count < samples_.back().second || at < samples_.back().first))
        samples_.clear();
    samples_.emplace_back(at, count);
    // One sample older than the window stays, so that the span covers it.
    while (samples_.size() > 2 && at - samples_[1].first >= window_)
        samples_.pop_front();
}

double RateWindow::Rate() const {
    if (samples_.size() < 2)
        return 0;
    const double seconds =
        std::chrono::duration<double>(samples_.back().first - samples_.front().first).count();
    if (seconds < 1)
        return 0;
    return static_cast<double>(samples_.back().second - samples_.front().second) / seconds;
}

double RateWindow::SecondsFor(std::uint64_t remaining) const {
    const double rate = Rate();
    if (rate <= 0)
        return remaining == 0 ? 0 : -1;
    return static_cast<double>(remaining) / rate;
}

} // namespace progress
