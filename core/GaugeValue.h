// The value of a bar gauge: its range, its progress, and how much of the bar
// that fills, for the gauges of both windows.
#pragma once

#include "Errors.h"

// A gauge was given a value it cannot show.
class EGaugeError : public Exception {
public:
    using Exception::Exception;
};

class TGaugeValue {
public:
    // The range is 0..MaxValue (100 until set). A maximum below the current
    // progress lowers the progress to it; a negative one raises EGaugeError
    // and changes nothing. Returns whether the maximum changed.
    int MaxValue() const { return maxValue_; }
    bool SetMaxValue(int value);

    // Clamped into 0..MaxValue. Returns whether the percentage changed, the
    // only change the bar shows, so that per-block progress is cheap.
    int Progress() const { return progress_; }
    bool SetProgress(int value);

    // Whole percent done, rounded down; 0 while the maximum is 0.
    int PercentDone() const;
    // Columns filled from the left edge of a bar `width` wide:
    // width × PercentDone / 100, rounded down.
    int FillWidth(int width) const;

private:
    int maxValue_ = 100;
    int progress_ = 0;
};
