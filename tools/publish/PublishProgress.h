// The publisher's progress on stderr while it reads and compresses: on a
// terminal one line redrawn in place (bytes, share, speed, time left, the
// file), elsewhere a plain line every few seconds, so that a long publish in
// a script or a log is never silent.
#pragma once

#include "Publisher.h"

#include "ProgressText.h"

#include <chrono>
#include <ostream>
#include <string>

namespace publish {

class ProgressPrinter {
public:
    enum class Style { Terminal, Lines };

    // `what` names the work in the plain lines ("published", "checked").
    ProgressPrinter(std::ostream& err, Style style, std::string what,
                    std::chrono::milliseconds interval = std::chrono::seconds(5));

    // Called with the progress as it comes (one call at a time).
    void Show(const Progress& progress);
    // Takes the terminal's line away again.
    void End();
    // Whether the terminal's line is standing.
    bool Standing() const { return standing_; }

private:
    using Clock = std::chrono::steady_clock;

    std::string Figures(const Progress& progress) const;

    std::ostream& err_;
    Style style_;
    std::string what_;
    std::chrono::milliseconds interval_;
    progress::RateWindow rate_{std::chrono::seconds(10)};
    Clock::time_point started_ = Clock::now();
    Clock::time_point shown_{};
    bool standing_ = false;
};

} // namespace publish
