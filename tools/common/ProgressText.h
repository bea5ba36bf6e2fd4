// How the command-line tools show work under way: sizes, durations, and a
// rate averaged over the last few seconds, from which the time left follows.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>

namespace progress {

// Bytes below 1 KiB, else one decimal of the largest binary unit that fits:
// "512 bytes", "1.5 KiB", "67.0 MiB".
std::string BinaryBytes(std::uint64_t bytes);

// Decimal megabytes with one decimal: "67.0 MB".
std::string Megabytes(double bytes);

// A duration as a clock shows it, rounded up to the second: "0:07",
// "12:34", "1:02:03".
std::string Duration(double seconds);

// The rate of a count that grows (bytes done), over the samples of the last
// `window`. A count that falls (another file starts) restarts it.
class RateWindow {
public:
    using Clock = std::chrono::steady_clock;

    explicit RateWindow(std::chrono::milliseconds window = std::chrono::seconds(5));

    void Add(Clock::time_point at, std::uint64_t count);
    void Reset() { samples_.clear(); }
    // Per second; 0 until the samples span at least a second.
    double Rate() const;
    // The seconds until `remaining` more are done at the current rate; a
    // negative value while the rate is not known.
    double SecondsFor(std::uint64_t remaining) const;

private:
    std::chrono::milliseconds window_;
    std::deque<std::pair<Clock::time_point, std::uint64_t>> samples_;
};

} // namespace progress
