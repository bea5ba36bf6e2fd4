// How quenmor-update shows a run: the status texts on stdout, a line each (an
// empty text, which clears a window's status line, prints nothing, and a text
// is not printed twice in a row); on a terminal a live line on stderr with the
// file's gauge, the bytes of the whole run, a speed averaged over the last
// seconds and the time left; and the line that ends a run that went through.
#pragma once

#include "GetFilesThr.h"
#include "ProgressText.h"
#include "RunLog.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

class ConsoleTarget : public TUpdateTarget {
public:
    using Clock = std::chrono::steady_clock;

    // Status texts go to `out`, the live line and retries to `err`; `live`:
    // `err` is a terminal.
    ConsoleTarget(std::ostream& out, std::ostream& err, std::string settingsFile, bool live,
                  TRunLog& log, bool verbose);

    void LockCommands() override;
    void UnlockCommands() override;
    void ShowStatus(const std::string& text) override;
    void SetFileGaugeMax(std::int32_t value) override;
    void SetTotalGaugeMax(std::int32_t value) override;
    void SetFileProgress(std::int32_t value) override;
    void SetTotalProgress(std::int32_t value) override;
    void ShowRetry(const std::string& note) override;
    void ShowCause(const std::string& cause) override;
    void ShowNote(const std::string& note) override;
    void StoreRevision(const std::string& revision) override;
    void StoreTrustedRevision(const std::string& revision) override;
    void ShowPlan(const std::vector<std::int64_t>& copySizes) override;

    // From another thread: the run was asked to stop. The live line keeps
    // what it showed and gets its line end, and a line says what follows.
    void Interrupted();

    // A text from the server without its control characters, which must not
    // reach the terminal.
    static std::string Printable(const std::string& text);

    bool Completed() const;
    const std::string& LastStatus() const { return lastStatus_; }
    // The line that ends a run that went through, at `revision`: "up to date,
    // revision N" when it installed nothing, else "updated to revision N, K
    // files, M MB" (the copies fetched). Empty for a failed run, whose
    // failure text ends it.
    std::string FinalLine(std::int32_t revision) const;
    // The live line as it stands (what the terminal shows, without its
    // control characters).
    std::string LiveLine(Clock::time_point now) const;

private:
    enum class Phase { Other, Download, Extract };

    void Draw(bool force);
    void ClearLive();
    std::int64_t BytesDone() const;

    std::ostream& out_;
    std::ostream& err_;
    std::string settingsFile_;
    bool live_;
    TRunLog& log_;
    bool verbose_;

    mutable std::mutex mutex_; // the run's notifications against Interrupted
    bool completed_ = false;
    bool shown_ = false; // the live line stands
    std::string lastStatus_;
    std::string printed_; // the last status text printed
    std::string retry_;   // what the live line says is tried again, for a while
    Clock::time_point retryUntil_{};
    std::int64_t fileMax_ = 100, fileValue_ = 0, totalMax_ = 100, totalValue_ = 0;
    Phase phase_ = Phase::Other;
    std::vector<std::int64_t> plan_; // the copies of the entries to install
    std::int64_t planBytes_ = 0;
    std::size_t installed_ = 0; // entries that reached their extraction
    progress::RateWindow rate_;
    Clock::time_point drawn_{};
};
