#include "Gauge.h"

#include <QPaintEvent>
#include <QPainter>

TGauge::TGauge(QWidget* owner) : QWidget(owner) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    resize(100, 5);
}

void TGauge::SetMaxValue(int value) {
    if (value_.SetMaxValue(value))
        Invalidate();
}

void TGauge::SetProgress(int value) {
    if (value_.SetProgress(value))
        Invalidate();
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
