#include "RunLog.h"

#include "Files.h"
#include "Misc.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// A text as one line of the log: controls (line breaks from a server's
// answer among them) become "?".
std::string OneLine(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            c = '?';
    return out;
}

} // namespace

void TRunLog::SetFile(std::string path, std::int64_t maxBytes) {
    const std::lock_guard lock(mutex_);
    path_ = std::move(path);
    maxBytes_ = maxBytes;
    fileProblem_.clear();
}

void TRunLog::SetEcho(std::ostream* stream) {
    const std::lock_guard lock(mutex_);
    echo_ = stream;
}

void TRunLog::RunStarted(std::string_view settings) {
    {
        const std::lock_guard lock(mutex_);
        firstFailure_.clear();
    }
    Write("start", settings);
}

void TRunLog::Retry(std::string_view note) {
    Write("retry", note);
}

void TRunLog::Failure(std::string_view cause) {
    {
        const std::lock_guard lock(mutex_);
        if (firstFailure_.empty())
            firstFailure_ = OneLine(cause);
    }
    Write("failure", cause);
}

void TRunLog::Note(std::string_view note) {
    Write("note", note);
}

void TRunLog::RunEnded(std::string_view status) {
    Write("end", status.empty() ? std::string_view("(no status text)") : status);
}

std::string TRunLog::FirstFailure() const {
    const std::lock_guard lock(mutex_);
    return firstFailure_;
}

std::string TRunLog::FileProblem() const {
    const std::lock_guard lock(mutex_);
    return fileProblem_;
}

void TRunLog::Write(std::string_view event, std::string_view text) {
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    // Appended piece by piece: GCC 12 at -O3 takes a literal put in front of
    // a string for an overlapping copy (-Wrestrict).
    std::string line = UtcTimeText(now);
    line += ' ';
    line += event;
    if (!text.empty()) {
        line += ' ';
        line += OneLine(text);
    }
    line += '\n';
    Append(line);
}

void TRunLog::Append(const std::string& line) {
    const std::lock_guard lock(mutex_);
    if (echo_)
        *echo_ << line << std::flush;
    if (path_.empty())
        return;
    // A log that cannot be written never fails a run: the problem is kept
    // for the host to mention once.
    std::error_code error;
    const fs::path file = platform::FsPath(path_);
    if (file.has_parent_path())
        fs::create_directories(file.parent_path(), error);
    const std::uintmax_t size = fs::file_size(file, error);
    if (!error && static_cast<std::int64_t>(size + line.size()) > maxBytes_) {
        const fs::path older = platform::FsPath(path_ + ".1");
        fs::remove(older, error);
        fs::rename(file, older, error);
    }
    std::FILE* out = platform::OpenFile(path_, "ab");
    const bool written = out && std::fwrite(line.data(), 1, line.size(), out) == line.size();
    const bool closed = out && std::fclose(out) == 0;
    if (!written || !closed) {
        if (fileProblem_.empty())
            fileProblem_ = "cannot write the log " + path_ + ": " + platform::LastErrorText();
    }
}
