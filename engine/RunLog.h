// The log of update runs: one line per event that matters, so that a run
// that fails says why, where the status line keeps its fixed texts. A run's
// start with the settings it uses, each failure with its cause, each retry,
// and the end status. Lines go to a file that is kept below a size by one
// rotation (the full file becomes FILE.1), and to a stream when asked.
//
// A line reads "2026-12-08T18:00:00Z event text", the time in UTC; texts are
// UTF-8 with control characters replaced.
#pragma once

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

class TRunLog {
public:
    static constexpr std::int64_t kDefaultMaxBytes = std::int64_t{1} << 20;

    // Appends lines to `path` (its folder is made when missing); once the file
    // would pass `maxBytes`, it becomes `path` + ".1", replacing an older
    // one, and a new file begins. An empty path: no file.
    void SetFile(std::string path, std::int64_t maxBytes = kDefaultMaxBytes);
    // Also writes every line to `stream` (may be null).
    void SetEcho(std::ostream* stream);

    // The events of a run.
    void RunStarted(std::string_view settings);
    void Retry(std::string_view note);
    void Failure(std::string_view cause);
    void Note(std::string_view note); // something left out on purpose
    void RunEnded(std::string_view status);

    // The first failure of the current run; empty when none.
    std::string FirstFailure() const;
    // Why the log file could not be written, once it could not; empty while
    // it could.
    std::string FileProblem() const;

    // One line, stamped.
    void Write(std::string_view event, std::string_view text);

private:
    void Append(const std::string& line);

    mutable std::mutex mutex_;
    std::string path_;
    std::int64_t maxBytes_ = kDefaultMaxBytes;
    std::ostream* echo_ = nullptr;
    std::string firstFailure_;
    std::string fileProblem_;
};
