// Skinned windows on a real X server: what the screen shows through the
// window's shape, where the server sends clicks, dragging with the real
// pointer, and the picture button under it.
#include "DragWindow.h"
#include "FakeInput.h"
#include "ImgBtn.h"
#include "Skin.h"
#include "TestImages.h"
#include "WindowSystem.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyleHints>
#include <QtTest>

#include <memory>

using namespace testimages;

namespace {

constexpr QRgb RgbMask = 0x00FFFFFF;
const QColor Background(0, 0, 200);
const QSize SkinSize(200, 150);

// A plain window in one colour that counts the presses it gets.
struct BackgroundWindow : QWidget {
    BackgroundWindow() {
        setWindowFlags(Qt::FramelessWindowHint);
        QPalette p = palette();
        p.setColor(QPalette::Window, Background);
        setPalette(p);
        setAutoFillBackground(true);
    }
    int presses = 0;
    QPoint lastPress; // screen coordinates

protected:
    void mousePressEvent(QMouseEvent* event) override {
        ++presses;
        lastPress = event->globalPosition().toPoint();
    }
};

// The first pixel of the screen shot that is not what the skinned window and
// the background under it should show, or nothing.
QString ScreenDiff(const QWidget& window, const QImage& skin) {
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const QRegion region = SkinRegion(skin);
    const QRgb key = skin.pixel(0, 0) & RgbMask;
    const QPoint origin = window.mapToGlobal(QPoint(0, 0));
    for (int y = 0; y < window.height(); ++y) {
        for (int x = 0; x < window.width(); ++x) {
            const QRgb got = shot.pixel(origin + QPoint(x, y)) & RgbMask;
            if (got == key)
                return QStringLiteral("key colour visible at (%1, %2)").arg(x).arg(y);
            const QRgb expected = region.contains(QPoint(x, y)) ? skin.pixel(x, y) & RgbMask
                                                                : Background.rgb() & RgbMask;
            if (got != expected)
                return QStringLiteral("at (%1, %2): %3 instead of %4")
                    .arg(x)
                    .arg(y)
                    .arg(got, 6, 16, QLatin1Char('0'))
                    .arg(expected, 6, 16, QLatin1Char('0'));
        }
    }
    return {};
}

} // namespace

class SkinScreenTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void screenShowsSkinAndWhatIsBehindHoles();
    void clicksGoThroughHoles();
    void dragWithRealPointer();
    void pictureButtonUnderRealPointer();
    void disabledPictureButtonUnderRealPointer();

private:
    void Click(QPoint global);
    void MovePointer(QPoint global);

    std::unique_ptr<BackgroundWindow> background_;
    std::unique_ptr<DragWindow> window_;
    QImage skin_;
    std::unique_ptr<FakeInput> input_;
};

void SkinScreenTest::initTestCase() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server (run with --screen under xvfb-run)");
    if (QGuiApplication::primaryScreen()->depth() < 24)
        QSKIP("needs a 24-bit screen to compare colours exactly");
    QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), 1.0);
    input_ = std::make_unique<FakeInput>();
}

void SkinScreenTest::init() {
    skin_ = HoledSkin(SkinSize.width(), SkinSize.height(), MainKey);
    background_ = std::make_unique<BackgroundWindow>();
    background_->setGeometry(100, 100, 500, 400);
    background_->show();
    QVERIFY(QTest::qWaitForWindowExposed(background_.get()));

    window_ = std::make_unique<DragWindow>();
    window_->setGeometry(200, 150, SkinSize.width() + 60, SkinSize.height() + 40);
    ApplySkin(*window_, skin_);
    window_->show();
    window_->raise();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    if (input_->Available()) {
        MovePointer(QPoint(1200, 1000));
    }
}

void SkinScreenTest::cleanup() {
    if (input_)
        input_->ReleaseAll();
    window_.reset();
    background_.reset();
    QTest::qWait(50);
}

void SkinScreenTest::MovePointer(QPoint global) {
    input_->MoveTo(global);
    input_->Sync();
    QTest::qWait(20);
}

void SkinScreenTest::Click(QPoint global) {
    MovePointer(global);
    input_->Press(1);
    input_->Release(1);
    input_->Sync();
    // Far apart in time from the next click, so no two make a double click.
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
}

void SkinScreenTest::screenShowsSkinAndWhatIsBehindHoles() {
    QString diff;
    QDeadlineTimer deadline(5000);
    do {
        QTest::qWait(50);
        diff = ScreenDiff(*window_, skin_);
    } while (!diff.isEmpty() && !deadline.hasExpired());
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void SkinScreenTest::clicksGoThroughHoles() {
    if (!input_->Available())
        QSKIP("the X server has no XTEST extension");
    const QPoint hole = HoleCentre(SkinSize.width(), SkinSize.height());
    QVERIFY(!SkinRegion(skin_).contains(hole));

    Click(window_->mapToGlobal(hole));
    QTRY_COMPARE(background_->presses, 1);
    QCOMPARE(background_->lastPress, window_->mapToGlobal(hole));
    QCOMPARE(window_->presses, 0);

    Click(window_->mapToGlobal(QPoint(3, 3))); // a cut corner
    QTRY_COMPARE(background_->presses, 2);
    Click(window_->mapToGlobal(QPoint(SkinSize.width() + 30, 20))); // beyond the skin
    QTRY_COMPARE(background_->presses, 3);
    QCOMPARE(window_->presses, 0);

    Click(window_->mapToGlobal(QPoint(30, 100))); // the skin itself
    QTRY_COMPARE(window_->presses, 1);
    QCOMPARE(window_->lastPress, QPoint(30, 100));
    QCOMPARE(background_->presses, 3);
}

void SkinScreenTest::dragWithRealPointer() {
    if (!input_->Available())
        QSKIP("the X server has no XTEST extension");
    // X11 lets the program move its own window: no compositor's move.
    QVERIFY(!window_->drag.ByCompositor);
    const int asked = CompositorMoves().Asked;
    const QPoint start = window_->pos();
    QPoint pointer = window_->mapToGlobal(QPoint(30, 100));
    MovePointer(pointer);
    input_->Press(1);
    input_->Sync();
    QTRY_VERIFY(window_->drag.Dragging);
    for (int step = 1; step <= 5; ++step) {
        pointer += QPoint(8, -6);
        MovePointer(pointer);
        QTRY_COMPARE(window_->pos(), start + step * QPoint(8, -6));
    }
    input_->Release(1);
    input_->Sync();
    QTRY_VERIFY(!window_->drag.Dragging);
    MovePointer(pointer + QPoint(50, 50));
    QTest::qWait(50);
    QCOMPARE(window_->pos(), start + QPoint(40, -30));
    QCOMPARE(CompositorMoves().Asked, asked);
    // The server has the window there too: the skin is on the screen at
    // the new place.
    QString diff;
    QDeadlineTimer deadline(5000);
    do {
        QTest::qWait(50);
        diff = ScreenDiff(*window_, skin_);
    } while (!diff.isEmpty() && !deadline.hasExpired());
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void SkinScreenTest::pictureButtonUnderRealPointer() {
    if (!input_->Available())
        QSKIP("the X server has no XTEST extension");
    TImgBtn button(window_.get());
    button.setGeometry(20, 20, 50, 40);
    button.SetPic(Solid(Qt::red, 50, 40));
    button.SetPicUp(Solid(Qt::green, 50, 40));
    button.SetPicDown(Solid(Qt::darkBlue, 50, 40));
    int clicks = 0;
    connect(&button, &TImgBtn::clicked, this, [&clicks] { ++clicks; });
    button.show();
    auto shown = [&button] { return button.Picture().cacheKey(); };
    auto on = [&button](QPoint p) { return button.mapToGlobal(p); };

    MovePointer(on(QPoint(-10, 20)));
    MovePointer(on(QPoint(10, 10)));
    QTRY_COMPARE(shown(), button.PicUp().cacheKey());
    input_->Press(1);
    input_->Sync();
    QTRY_COMPARE(shown(), button.PicDown().cacheKey());
    MovePointer(on(QPoint(10, 60))); // off the button, on the skin
    QTRY_COMPARE(shown(), button.Pic().cacheKey());
    MovePointer(on(QPoint(12, 12)));
    QTRY_COMPARE(shown(), button.PicDown().cacheKey());
    input_->Release(1);
    input_->Sync();
    QTRY_COMPARE(clicks, 1);
    QTRY_COMPARE(shown(), button.PicUp().cacheKey());
    QCOMPARE(window_->presses, 0);

    // Released off the button: no click, the normal picture.
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
    input_->Press(1);
    input_->Sync();
    QTRY_COMPARE(shown(), button.PicDown().cacheKey());
    MovePointer(on(QPoint(10, 60)));
    QTRY_COMPARE(shown(), button.Pic().cacheKey());
    input_->Release(1);
    input_->Sync();
    QTest::qWait(100);
    QCOMPARE(clicks, 1);
    QCOMPARE(shown(), button.Pic().cacheKey());
    MovePointer(on(QPoint(10, 10)));
    QTRY_COMPARE(shown(), button.PicUp().cacheKey()); // not pressed any more
    QCOMPARE(window_->pos(), QPoint(200, 150));       // and the window never moved
}

void SkinScreenTest::disabledPictureButtonUnderRealPointer() {
    if (!input_->Available())
        QSKIP("the X server has no XTEST extension");
    TImgBtn button(window_.get());
    button.setGeometry(20, 20, 50, 40);
    button.SetPic(Solid(Qt::red, 50, 40));
    button.SetPicUp(Solid(Qt::green, 50, 40));
    button.SetPicDown(Solid(Qt::darkBlue, 50, 40));
    button.setEnabled(false);
    int clicks = 0;
    connect(&button, &TImgBtn::clicked, this, [&clicks] { ++clicks; });
    button.show();
    auto shown = [&button] { return button.Picture().cacheKey(); };

    MovePointer(button.mapToGlobal(QPoint(-10, 20)));
    MovePointer(button.mapToGlobal(QPoint(10, 10)));
    QTRY_COMPARE(shown(), button.PicUp().cacheKey());
    // A press on it drags the window.
    const QPoint start = window_->pos();
    input_->Press(1);
    input_->Sync();
    QTRY_COMPARE(window_->presses, 1);
    MovePointer(button.mapToGlobal(QPoint(10, 10)) + QPoint(15, 5));
    QTRY_COMPARE(window_->pos(), start + QPoint(15, 5));
    input_->Release(1);
    input_->Sync();
    QTest::qWait(100);
    QCOMPARE(clicks, 0);
    MovePointer(button.mapToGlobal(QPoint(-10, 20)));
    QTRY_COMPARE(shown(), button.Pic().cacheKey());
}

int RunSkinScreenTests(const QStringList& args) {
    SkinScreenTest test;
    return QTest::qExec(&test, args);
}

#include "SkinScreenTest.moc"
