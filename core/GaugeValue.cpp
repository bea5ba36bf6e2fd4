#include "GaugeValue.h"

#include <algorithm>
#include <cstdint>

bool TGaugeValue::SetMaxValue(int value) {
    if (value < 0)
        throw EGaugeError("Gauge maximum must not be negative");
    if (value == maxValue_)
        return false;
    maxValue_ = value;
    progress_ = std::min(progress_, maxValue_);
    return true;
}

bool TGaugeValue::SetProgress(int value) {
    const int before = PercentDone();
    progress_ = std::clamp(value, 0, maxValue_);
    return PercentDone() != before;
}

int TGaugeValue::PercentDone() const {
    if (maxValue_ == 0)
        return 0;
    return static_cast<int>(std::int64_t{progress_} * 100 / maxValue_);
}

int TGaugeValue::FillWidth(int width) const {
    return static_cast<int>(std::int64_t{width} * PercentDone() / 100);
}
