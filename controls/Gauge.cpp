#include "Gauge.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cstdint>

TGauge::TGauge(QWidget* owner) : QWidget(owner) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    resize(100, 5);
}

void TGauge::SetMaxValue(int value) {
    if (value < 0)
        throw EGaugeError("Gauge maximum must not be negative");
    if (value == maxValue_)
        return;
    maxValue_ = value;
    progress_ = std::min(progress_, maxValue_);
    Invalidate();
}

void TGauge::SetProgress(int value) {
    const int before = PercentDone();
    progress_ = std::clamp(value, 0, maxValue_);
    if (PercentDone() != before)
        Invalidate();
}

int TGauge::PercentDone() const {
    if (maxValue_ == 0)
        return 0;
    return static_cast<int>(std::int64_t{progress_} * 100 / maxValue_);
}

int TGauge::FillWidth() const {
    return static_cast<int>(std::int64_t{width()} * PercentDone() / 100);
}

void TGauge::SetBackColor(const QColor& colour) {
    if (colour == backColor_)
        return;
    backColor_ = colour;
    Invalidate();
}

void TGauge::SetForeColor(const QColor& colour) {
    if (colour == foreColor_)
        return;
    foreColor_ = colour;
    Invalidate();
}

void TGauge::Invalidate() {
    ++repaintRequests_;
    update();
}

void TGauge::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const int fill = FillWidth();
    painter.fillRect(QRect(fill, 0, width() - fill, height()), backColor_);
    if (fill > 0)
        painter.fillRect(QRect(0, 0, fill, height()), foreColor_);
}
