// The bar gauge: a horizontal progress bar without text or border, filled
// from the left edge in the fore colour over the back colour.
#pragma once

#include "GaugeValue.h"

#include <QColor>
#include <QWidget>

class TGauge : public QWidget {
    Q_OBJECT

public:
    explicit TGauge(QWidget* owner = nullptr);

    // The range is 0..MaxValue (100 until set). A maximum below the current
    // progress lowers the progress to it; a negative one raises EGaugeError
    // and changes nothing.
    int MaxValue() const { return value_.MaxValue(); }
    void SetMaxValue(int value);

    // Clamped into 0..MaxValue.
    int Progress() const { return value_.Progress(); }
    void SetProgress(int value);

    // Whole percent done, rounded down; 0 while the maximum is 0.
    int PercentDone() const { return value_.PercentDone(); }
    // Columns filled from the left edge: width × PercentDone / 100, rounded down.
    int FillWidth() const { return value_.FillWidth(width()); }

    QColor BackColor() const { return backColor_; }
    void SetBackColor(const QColor& colour);
    QColor ForeColor() const { return foreColor_; }
    void SetForeColor(const QColor& colour);

    // How many times the gauge asked to be repainted. A new progress asks only
    // when the percentage changes, so per-block progress is cheap.
    int RepaintRequests() const { return repaintRequests_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Invalidate();

    TGaugeValue value_;
    QColor backColor_ = Qt::white;
    QColor foreColor_ = Qt::black;
    int repaintRequests_ = 0;
};
