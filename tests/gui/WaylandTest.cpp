// The launcher's two windows as Wayland clients of a weston of their own
// (started around this program by tests/gui/weston-run). On weston's screen
// both show their skins' outlines, with what lies behind showing through
// the cut-outs, and a press-and-move on their surface asks the compositor
// for the move, once per press. With a seat (weston on Xvfb, whose pointer
// the test moves through XTEST) the compositor really moves them, clicks
// on the cut-outs pass through, and the picture buttons and the options
// dialog work under the pointer. Screens are read with weston-screenshooter.
#include "Application.h"
#include "FakeInput.h"
#include "Frm2.h"
#include "ImgBtn.h"
#include "Skin.h"
#include "UnitMain.h"
#include "WindowSystem.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr QRgb kRgb = 0x00FFFFFF;
// The output's size (weston-run) and the spot the pointer is parked at:
// weston draws the cursor into its screenshots, and a window placed by it
// never reaches the output's last pixel, so the corner there is left unread.
const QSize kOutput(1280, 1024);
const QPoint kPark(1279, 1023);
constexpr int kCursorBox = 48;

bool Seat() {
    return qEnvironmentVariable("WESTON_RUN_SEAT") == QLatin1String("1");
}

QRgb Background() {
    return QColor(qEnvironmentVariable("WESTON_RUN_BACKGROUND")).rgb() & kRgb;
}

bool UnderCursor(QPoint screen) {
    return Seat() && screen.x() > kPark.x() - kCursorBox && screen.y() > kPark.y() - kCursorBox;
}

// What weston's output shows now, or a null image (and why in `error`).
QImage Screenshot(QString& error) {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("weston-screenshooter"));
    if (tool.isEmpty()) {
        error = QStringLiteral("weston-screenshooter is not installed");
        return {};
    }
    QTemporaryDir dir;
    QProcess shooter;
    shooter.setWorkingDirectory(dir.path());
    shooter.start(tool, {});
    if (!shooter.waitForFinished(10000) || shooter.exitCode() != 0) {
        shooter.kill();
        shooter.waitForFinished(1000);
        error = QStringLiteral("weston-screenshooter failed: ") +
                QString::fromLocal8Bit(shooter.readAllStandardError());
        return {};
    }
    const QStringList shots = QDir(dir.path()).entryList({QStringLiteral("*.png")}, QDir::Files);
    if (shots.size() != 1) {
        error = QStringLiteral("weston-screenshooter left %1 pictures").arg(shots.size());
        return {};
    }
    return QImage(QDir(dir.path()).filePath(shots.first())).convertToFormat(QImage::Format_RGB32);
}

// The part of the window that its skin shows in: inside the skin's outline,
// with none of the window's controls over it (those that let the pointer
// through draw over the skin too).
QRegion BareSkin(const QWidget& window, const QImage& skin) {
    QRegion bare = SkinRegion(skin);
    for (const QWidget* child : window.findChildren<QWidget*>()) {
        if (child->isWindow() || !child->isVisibleTo(&window))
            continue;
        bare -= QRect(child->mapTo(&window, QPoint(0, 0)), child->size());
    }
    return bare;
}

// A few hundred points of the bare skin, spread over all of it.
std::vector<QPoint> SkinSamples(const QWidget& window, const QImage& skin) {
    const QRegion bare = BareSkin(window, skin);
    std::vector<QPoint> free;
    for (int y = 0; y < skin.height(); y += 3)
        for (int x = 0; x < skin.width(); x += 3)
            if (bare.contains(QPoint(x, y)))
                free.emplace_back(x, y);
    std::vector<QPoint> samples;
    const std::size_t step = free.size() / 300 + 1;
    for (std::size_t i = 0; i < free.size(); i += step)
        samples.push_back(free[i]);
    return samples;
}

// Where the window's top-left corner is on the screen shot: the one place
// where every sample shows the skin's own colour.
std::optional<QPoint> Locate(const QImage& shot, const QWidget& window, const QImage& skin,
                             QString& error) {
    const std::vector<QPoint> samples = SkinSamples(window, skin);
    if (samples.size() < 50) {
        error = QStringLiteral("too little of the skin is free of controls");
        return std::nullopt;
    }
    std::vector<QRgb> colours;
    for (const QPoint& p : samples)
        colours.push_back(skin.pixel(p) & kRgb);
    std::vector<QPoint> found;
    for (int oy = 0; oy + window.height() <= shot.height(); ++oy) {
        for (int ox = 0; ox + window.width() <= shot.width(); ++ox) {
            bool all = true;
            for (std::size_t i = 0; i < samples.size() && all; ++i) {
                const QPoint at = QPoint(ox, oy) + samples[i];
                all = UnderCursor(at) || (shot.pixel(at) & kRgb) == colours[i];
            }
            if (all)
                found.emplace_back(ox, oy);
        }
    }
    if (found.size() != 1) {
        error = QStringLiteral("the skin is in %1 places on the screen").arg(found.size());
        return std::nullopt;
    }
    return found.front();
}

// What is wrong with the screen where the window lies at `origin`, or
// nothing: no key-coloured pixel shows, and (with `overBackground`, when
// nothing else lies behind the window) every cut-out shows the output's
// plain background.
QString ShapeProblem(const QImage& shot, QPoint origin, const QWidget& window, const QImage& skin,
                     bool overBackground) {
    const QRegion region = SkinRegion(skin);
    const QRgb key = skin.pixel(0, 0) & kRgb;
    int holes = 0;
    for (int y = 0; y < window.height(); ++y) {
        for (int x = 0; x < window.width(); ++x) {
            const QPoint at = origin + QPoint(x, y);
            if (!shot.rect().contains(at) || UnderCursor(at))
                continue;
            const QRgb got = shot.pixel(at) & kRgb;
            if (got == key)
                return QStringLiteral("key colour visible at (%1, %2)").arg(x).arg(y);
            if (!region.contains(QPoint(x, y))) {
                ++holes;
                if (overBackground && got != Background())
                    return QStringLiteral("(%1, %2) is cut out but shows %3, not the background")
                        .arg(x)
                        .arg(y)
                        .arg(got, 6, 16, QLatin1Char('0'));
            }
        }
    }
    return holes > 0 ? QString() : QStringLiteral("the window has no cut-outs");
}

// Waits until the window is on the screen, shaped (see ShapeProblem), and,
// when `expected` is given, there. Returns its place, or nothing with the
// last problem seen.
std::optional<QPoint> WaitShaped(const QWidget& window, const QImage& skin, QString& problem,
                                 std::optional<QPoint> expected = std::nullopt,
                                 bool overBackground = true) {
    QDeadlineTimer deadline(8000);
    do {
        QTest::qWait(100);
        const QImage shot = Screenshot(problem);
        if (shot.isNull())
            return std::nullopt;
        const std::optional<QPoint> origin = Locate(shot, window, skin, problem);
        if (!origin)
            continue;
        if (expected && *origin != *expected) {
            problem = QStringLiteral("the window is at (%1, %2), not at (%3, %4)")
                          .arg(origin->x())
                          .arg(origin->y())
                          .arg(expected->x())
                          .arg(expected->y());
            continue;
        }
        problem = ShapeProblem(shot, *origin, window, skin, overBackground);
        if (problem.isEmpty())
            return origin;
    } while (!deadline.hasExpired());
    return std::nullopt;
}

// A point of the bare skin with room around it, in window coordinates: a
// press there reaches the window itself.
QPoint FreeSkinPoint(const QWidget& window, const QImage& skin) {
    const QRegion bare = BareSkin(window, skin);
    for (int y = 8; y < skin.height() - 8; y += 2)
        for (int x = 8; x < skin.width() - 8; x += 2)
            if ((QRegion(x - 6, y - 6, 13, 13) - bare).isEmpty())
                return {x, y};
    return {-1, -1};
}

// A cut-out of the skin with room around it, in window coordinates.
QPoint CutOutPoint(const QImage& skin) {
    const QRegion region = SkinRegion(skin);
    for (int y = 4; y < skin.height() - 4; ++y)
        for (int x = 4; x < skin.width() - 4; ++x)
            if ((QRegion(x - 3, y - 3, 7, 7) & region).isEmpty())
                return {x, y};
    return {-1, -1};
}

// Counts the pointer presses a window gets from the window system,
// whichever of its controls they go to.
class PressCounter : public QObject {
public:
    explicit PressCounter(QWindow* window) : QObject(window) { window->installEventFilter(this); }
    int presses = 0;
    QPoint last;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress) {
            ++presses;
            last = static_cast<QMouseEvent*>(event)->position().toPoint();
        }
        return false;
    }
};

} // namespace

class WaylandTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir folder_;
    QString previous_;
    std::unique_ptr<FakeInput> input_;

    void MovePointer(QPoint screen) {
        input_->MoveTo(screen);
        input_->Sync();
        QTest::qWait(30);
    }
    void Click(QPoint screen) {
        MovePointer(screen);
        input_->Press(1);
        input_->Sync();
        QTest::qWait(30);
        input_->Release(1);
        input_->Sync();
        QTest::qWait(600); // no double clicks
    }
    // By way of the opposite corner: weston's X11 backend moves its own
    // pointer by how far the X pointer moved, not to where it is, and the two
    // start apart (weston's at the top-left corner, the X server's in the
    // middle). Driven into a corner, weston's stops at the edge and both
    // stand on the same spot, so that every move afterwards lands where the
    // test means it to.
    void Park() {
        if (!input_)
            return;
        MovePointer({0, 0});
        MovePointer(kPark);
    }

    // Drags the window by its skin at `grip` (window coordinates) from its
    // place `origin` by `by` with the real pointer, in steps.
    void Drag(QWidget& window, QPoint origin, QPoint grip, QPoint by) {
        auto* counter = new PressCounter(window.windowHandle());
        const TCompositorMoves before = CompositorMoves();
        QPoint pointer = origin + grip;
        MovePointer(pointer);
        input_->Press(1);
        input_->Sync();
        QTRY_COMPARE_WITH_TIMEOUT(counter->presses, 1, 5000);
        QCOMPARE(counter->last, grip);
        QCOMPARE(CompositorMoves().Asked, before.Asked); // not on the press
        constexpr int steps = 6;
        for (int step = 1; step <= steps; ++step) {
            pointer = origin + grip + by * step / steps;
            MovePointer(pointer);
            if (step == 1)
                QTRY_COMPARE_WITH_TIMEOUT(CompositorMoves().Asked, before.Asked + 1, 5000);
        }
        input_->Release(1);
        input_->Sync();
        QTest::qWait(100);
        QCOMPARE(CompositorMoves().Asked, before.Asked + 1);
        QCOMPARE(CompositorMoves().Accepted, before.Accepted + 1);
        delete counter;
    }

    // Two presses through Qt on the window's bare skin, each moved twice.
    static void PressTwice(QWidget& window, const QImage& skin) {
        const QPoint grip = FreeSkinPoint(window, skin);
        QVERIFY(grip.x() >= 0);
        QWindow* handle = window.windowHandle();
        for (int press = 0; press < 2; ++press) {
            const TCompositorMoves before = CompositorMoves();
            const QPoint start = window.pos();
            QTest::mousePress(handle, Qt::LeftButton, {}, grip);
            QCOMPARE(CompositorMoves().Asked, before.Asked);
            QTest::mouseMove(handle, grip + QPoint(4, 3));
            QCOMPARE(CompositorMoves().Asked, before.Asked + 1);
            QCOMPARE(CompositorMoves().Accepted, before.Accepted);
            QCOMPARE(window.pos(), start + QPoint(4, 3));
            QTest::mouseMove(handle, grip + QPoint(9, 7)); // in the moved window
            QCOMPARE(CompositorMoves().Asked, before.Asked + 1);
            QCOMPARE(window.pos(), start + QPoint(13, 10));
            QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(9, 7));
        }
    }

    // Which way a window at `origin` may go and stay on the output.
    static QPoint Inward(QPoint origin, const QWidget& window, QPoint by) {
        const QPoint centre = origin + window.rect().center();
        return {centre.x() < kOutput.width() / 2 ? by.x() : -by.x(),
                centre.y() < kOutput.height() / 2 ? by.y() : -by.y()};
    }

private slots:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName().startsWith(QLatin1String("wayland")),
                 "run under tests/gui/weston-run");
        QVERIFY(CompositorPlacesWindows());
        QVERIFY(folder_.isValid());
        std::ofstream(QDir(folder_.path()).filePath("Quenmor.ini").toStdString())
            << "[main]\r\nInstalled=1\r\n";
        previous_ = QDir::currentPath();
        QDir::setCurrent(folder_.path());
        if (Seat()) {
            input_ = std::make_unique<FakeInput>();
            QVERIFY2(input_->Available(), "no X server with XTEST for weston's seat");
        }
        // weston's shell draws the background shortly after it starts.
        QString error;
        QImage shot;
        QDeadlineTimer deadline(10000);
        do {
            Park(); // also once weston takes the pointer's moves
            shot = Screenshot(error);
            QVERIFY2(!shot.isNull(), qPrintable(error));
        } while ((shot.pixel(0, 0) & kRgb) != Background() && !deadline.hasExpired() &&
                 (QTest::qWait(100), true));
        QCOMPARE(shot.size(), kOutput);
        QCOMPARE(shot.pixel(0, 0) & kRgb, Background());
    }
    void cleanupTestCase() { QDir::setCurrent(previous_); }

    void launcherWindowStartsShaped() {
        TFMain main;
        main.FormCreate();
        QVERIFY(!main.Image1.isNull());
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QVERIFY(main.windowHandle()->flags().testFlag(Qt::FramelessWindowHint));
        // The outline is the input region handed to the compositor...
        QCOMPARE(main.windowHandle()->mask(), SkinRegion(main.Image1));
        // ...and what the compositor shows.
        QString problem;
        QVERIFY2(WaitShaped(main, main.Image1, problem), qPrintable(problem));
    }

    void optionsDialogShaped() {
        TFMain main;
        main.FormCreate();
        TForm1 dialog(&main, main.LauncherSettings);
        dialog.FormCreate();
        QVERIFY(!dialog.Image1.isNull());
        dialog.Open();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowHandle()->mask(), SkinRegion(dialog.Image1));
        QString problem;
        QVERIFY2(WaitShaped(dialog, dialog.Image1, problem), qPrintable(problem));
    }

    // Presses handed to the windows through Qt: without a seat the
    // compositor has no pointer to move a window with, so Qt refuses the
    // move and the press goes on with the window's own move (which weston
    // ignores).
    void dragAsksCompositorOncePerPress() {
        if (Seat())
            QSKIP("with a seat the real pointer drags (pointerDragMovesWindows)");
        TFMain main;
        main.FormCreate();
        TForm1 dialog(&main, main.LauncherSettings);
        dialog.FormCreate();
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        PressTwice(main, main.Image1);
        if (QTest::currentTestFailed())
            return;
        dialog.Open(); // the main window takes no input until it closes
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        PressTwice(dialog, dialog.Image1);
    }

    void clicksGoThroughCutOuts() {
        if (!Seat())
            QSKIP("needs a seat (weston-run --seat)");
        TFMain main;
        main.FormCreate();
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QString problem;
        const std::optional<QPoint> origin = WaitShaped(main, main.Image1, problem);
        QVERIFY2(origin, qPrintable(problem));
        auto* counter = new PressCounter(main.windowHandle());
        const int asked = CompositorMoves().Asked;

        const QPoint hole = CutOutPoint(main.Image1);
        QVERIFY(hole.x() >= 0);
        Click(*origin + hole);
        QCOMPARE(counter->presses, 0);

        const QPoint skin = FreeSkinPoint(main, main.Image1);
        QVERIFY(skin.x() >= 0);
        Click(*origin + skin);
        QTRY_COMPARE_WITH_TIMEOUT(counter->presses, 1, 5000);
        QCOMPARE(counter->last, skin);
        // A click without a move is no drag.
        QCOMPARE(CompositorMoves().Asked, asked);
        Park();
    }

    void pointerDragMovesWindows() {
        if (!Seat())
            QSKIP("needs a seat (weston-run --seat)");
        TFMain main;
        main.FormCreate();
        TForm1 dialog(&main, main.LauncherSettings);
        dialog.FormCreate();
        main.Form1 = &dialog;
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QString problem;
        std::optional<QPoint> origin = WaitShaped(main, main.Image1, problem);
        QVERIFY2(origin, qPrintable(problem));
        const QPoint unmoved = main.pos();

        // Twice, there and back: the compositor kept the pointer's release
        // the first time, and the next press drags again all the same.
        const QPoint grip = FreeSkinPoint(main, main.Image1);
        QVERIFY(grip.x() >= 0);
        const QPoint by = Inward(*origin, main, QPoint(60, 48));
        for (const QPoint step : {by, -by}) {
            Drag(main, *origin, grip, step);
            if (QTest::currentTestFailed())
                return;
            Park();
            origin = WaitShaped(main, main.Image1, problem, *origin + step);
            QVERIFY2(origin, qPrintable(problem));
        }
        QCOMPARE(main.pos(), unmoved); // the window's own move never ran

        // The options picture button lights up under the pointer and opens
        // the dialog, which is dragged the same way and closed with Cancel.
        TImgBtn* options = main.ImgBtn5;
        MovePointer(*origin + options->geometry().center());
        QTRY_VERIFY_WITH_TIMEOUT(options->Picture().cacheKey() == options->PicUp().cacheKey(),
                                 5000);
        Click(*origin + options->geometry().center());
        QTRY_VERIFY_WITH_TIMEOUT(dialog.isVisible(), 5000);
        QVERIFY(!main.isEnabled());
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        Park();
        // Wherever weston puts it, over the main window or not, its skin
        // shows with no key colour.
        std::optional<QPoint> place =
            WaitShaped(dialog, dialog.Image1, problem, std::nullopt, false);
        QVERIFY2(place, qPrintable(problem));

        const QPoint dialogGrip = FreeSkinPoint(dialog, dialog.Image1);
        QVERIFY(dialogGrip.x() >= 0);
        const QPoint dialogBy = Inward(*place, dialog, QPoint(40, 30));
        Drag(dialog, *place, dialogGrip, dialogBy);
        if (QTest::currentTestFailed())
            return;
        Park();
        place = WaitShaped(dialog, dialog.Image1, problem, *place + dialogBy, false);
        QVERIFY2(place, qPrintable(problem));

        Click(*place + dialog.SpeedButton2->geometry().center());
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), 5000);
        QVERIFY(main.isEnabled());
        Park();
    }
};

int main(int argc, char** argv) {
    TApplication application(argc, argv);
    WaylandTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "WaylandTest.moc"
