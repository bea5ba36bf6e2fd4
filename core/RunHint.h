// What the status line tells of a failed update run when the pointer rests
// on it: the line keeps the run's own failure text, and its hover text gives
// the cause (the first failure the run reported, as one line) and where the
// launcher's log is. A new run starts without one.
#pragma once

#include <cstddef>
#include <string>

class TRunHint {
public:
    // A cause longer than this is cut short (at a character's boundary) and
    // ends with "…": the log has it whole.
    static constexpr std::size_t kMaxCauseBytes = 300;

    // `logFile` is the log's path, as the player's system writes it.
    explicit TRunHint(std::string logFile);

    // A run starts: the previous run's cause goes.
    void RunStarted();
    // A cause the run reported; only the run's first one is kept.
    void Failure(const std::string& cause);
    // The run ended with `status`; only the failure text makes a hover text.
    void RunEnded(const std::string& status);

    // The first cause of the current or last run, as one line; empty when none.
    const std::string& Cause() const { return cause_; }
    // The status line's hover text: empty unless the last run failed.
    const std::string& Text() const { return text_; }

private:
    std::string logFile_;
    std::string cause_;
    std::string text_;
};
