// The bar gauge: its range rules, the columns it fills and when it asks to be
// repainted.
#include "Gauge.h"

#include <QImage>
#include <QtTest>

namespace {

const QColor Back(0, 0, 0), Fore(62, 91, 150);

// Columns of the gauge's picture, from the left edge, whose every pixel is
// the fore colour; -1 when a fore-coloured pixel lies beyond them or a
// filled column is not the fore colour all the way down.
int ForeColumns(TGauge& gauge) {
    const QImage image = gauge.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb fore = Fore.rgb(), back = Back.rgb();
    int filled = 0;
    while (filled < image.width() && image.pixel(filled, 0) == fore)
        ++filled;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if (image.pixel(x, y) != (x < filled ? fore : back))
                return -1;
        }
    }
    return filled;
}

void Prepare(TGauge& gauge) {
    gauge.resize(430, 5);
    gauge.SetBackColor(Back);
    gauge.SetForeColor(Fore);
}

} // namespace

class GaugeTest : public QObject {
    Q_OBJECT

private slots:
    void startsEmptyOutOfHundred();
    void zeroMaximumDrawsNoFill();
    void lowerMaximumLowersProgress();
    void negativeMaximumIsRefused();
    void progressIsClamped();
    void fillsWholePercentColumns_data();
    void fillsWholePercentColumns();
    void largeValuesDoNotOverflow();
    void repaintsOnlyOnPercentChange();
    void maximumChangeAlwaysRepaints();
};

void GaugeTest::startsEmptyOutOfHundred() {
    TGauge gauge;
    QCOMPARE(gauge.MaxValue(), 100);
    QCOMPARE(gauge.Progress(), 0);
    QCOMPARE(gauge.PercentDone(), 0);
}

void GaugeTest::zeroMaximumDrawsNoFill() {
    TGauge gauge;
    Prepare(gauge);
    gauge.SetProgress(100);
    gauge.SetMaxValue(0);
    QCOMPARE(gauge.Progress(), 0);
    gauge.SetProgress(50);
    QCOMPARE(gauge.Progress(), 0);
    QCOMPARE(gauge.PercentDone(), 0);
    QCOMPARE(ForeColumns(gauge), 0);
}

void GaugeTest::lowerMaximumLowersProgress() {
    TGauge gauge;
    gauge.SetProgress(70);
    gauge.SetMaxValue(40);
    QCOMPARE(gauge.MaxValue(), 40);
    QCOMPARE(gauge.Progress(), 40);
    QCOMPARE(gauge.PercentDone(), 100);
    // A higher maximum leaves the progress where it is.
    gauge.SetMaxValue(80);
    QCOMPARE(gauge.Progress(), 40);
    QCOMPARE(gauge.PercentDone(), 50);
}

void GaugeTest::negativeMaximumIsRefused() {
    TGauge gauge;
    gauge.SetMaxValue(200);
    gauge.SetProgress(30);
    const int requests = gauge.RepaintRequests();
    QVERIFY_THROWS_EXCEPTION(EGaugeError, gauge.SetMaxValue(-1));
    try {
        gauge.SetMaxValue(-5);
        QFAIL("no error");
    } catch (const Exception& e) {
        QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Gauge maximum must not be negative"));
    }
    QCOMPARE(gauge.MaxValue(), 200);
    QCOMPARE(gauge.Progress(), 30);
    QCOMPARE(gauge.RepaintRequests(), requests);
}

void GaugeTest::progressIsClamped() {
    TGauge gauge;
    gauge.SetMaxValue(250);
    gauge.SetProgress(300);
    QCOMPARE(gauge.Progress(), 250);
    gauge.SetProgress(-7);
    QCOMPARE(gauge.Progress(), 0);
    gauge.SetProgress(125);
    QCOMPARE(gauge.Progress(), 125);
}

void GaugeTest::fillsWholePercentColumns_data() {
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("columns");
    // 430 × percent / 100, rounded down.
    QTest::newRow("nothing") << 100 << 0 << 0 << 0;
    QTest::newRow("one third") << 3 << 1 << 33 << 141;
    QTest::newRow("half") << 1000 << 500 << 50 << 215;
    QTest::newRow("99.9%") << 1000 << 999 << 99 << 425;
    QTest::newRow("one percent") << 100 << 1 << 1 << 4;
    QTest::newRow("just below 1%") << 1000 << 9 << 0 << 0;
    QTest::newRow("full") << 7 << 7 << 100 << 430;
}

void GaugeTest::fillsWholePercentColumns() {
    QFETCH(int, max);
    QFETCH(int, progress);
    QFETCH(int, percent);
    QFETCH(int, columns);
    TGauge gauge;
    Prepare(gauge);
    gauge.SetMaxValue(max);
    gauge.SetProgress(progress);
    QCOMPARE(gauge.PercentDone(), percent);
    QCOMPARE(gauge.FillWidth(), columns);
    QCOMPARE(ForeColumns(gauge), columns);
}

void GaugeTest::largeValuesDoNotOverflow() {
    TGauge gauge;
    gauge.SetMaxValue(2'000'000'000);
    gauge.SetProgress(1'999'999'999);
    QCOMPARE(gauge.PercentDone(), 99);
    gauge.SetProgress(2'000'000'000);
    QCOMPARE(gauge.PercentDone(), 100);
}

void GaugeTest::repaintsOnlyOnPercentChange() {
    TGauge gauge;
    gauge.SetMaxValue(10'000);
    int requests = gauge.RepaintRequests();
    gauge.SetProgress(50); // 0%
    gauge.SetProgress(99);
    QCOMPARE(gauge.RepaintRequests(), requests);
    gauge.SetProgress(100); // 1%
    QCOMPARE(gauge.RepaintRequests(), ++requests);
    gauge.SetProgress(150);
    gauge.SetProgress(199);
    gauge.SetProgress(199);
    QCOMPARE(gauge.RepaintRequests(), requests);
    gauge.SetProgress(5'000); // 50%
    QCOMPARE(gauge.RepaintRequests(), ++requests);
    gauge.SetProgress(20'000); // clamped to 100%
    QCOMPARE(gauge.RepaintRequests(), ++requests);
    gauge.SetProgress(30'000);
    QCOMPARE(gauge.RepaintRequests(), requests);
    gauge.SetProgress(0);
    QCOMPARE(gauge.RepaintRequests(), ++requests);
}

void GaugeTest::maximumChangeAlwaysRepaints() {
    TGauge gauge;
    gauge.SetMaxValue(0);
    int requests = gauge.RepaintRequests();
    gauge.SetMaxValue(50); // still 0% done
    QCOMPARE(gauge.RepaintRequests(), ++requests);
    gauge.SetMaxValue(60);
    QCOMPARE(gauge.RepaintRequests(), ++requests);
    gauge.SetMaxValue(60); // the same maximum is no change
    QCOMPARE(gauge.RepaintRequests(), requests);
    gauge.SetBackColor(Qt::red);
    QCOMPARE(gauge.RepaintRequests(), ++requests);
}

QTEST_MAIN(GaugeTest)
#include "GaugeTest.moc"
