// The launcher's two windows on a real X server: shaped by their skins, with
// no key-coloured pixel visible and what lies behind showing through the
// cut-outs; and, after a run that failed without news to show, the news
// panel's placeholder and the status line's tool tip as the screen shows
// them.
#include "Application.h"
#include "Frm2.h"
#include "Skin.h"
#include "UnitMain.h"

#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QPair>
#include <QScreen>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

#include <fstream>

namespace {

constexpr QRgb kRgb = 0x00FFFFFF;
const QColor kBehind(0, 0, 200);

// A plain window in one colour behind the launcher's windows.
struct Behind : QWidget {
    Behind() {
        setWindowFlags(Qt::FramelessWindowHint);
        QPalette p = palette();
        p.setColor(QPalette::Window, kBehind);
        setPalette(p);
        setAutoFillBackground(true);
        setGeometry(0, 0, 1280, 1024);
    }
};

// What is wrong with the screen where `window` lies, or nothing.
QString Check(const QWidget& window, const QImage& skin) {
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const QRegion shape = SkinRegion(skin);
    const QRgb key = skin.pixel(0, 0) & kRgb;
    const QPoint origin = window.mapToGlobal(QPoint(0, 0));
    int holes = 0;
    for (int y = 0; y < window.height(); ++y) {
        for (int x = 0; x < window.width(); ++x) {
            const QRgb got = shot.pixel(origin + QPoint(x, y)) & kRgb;
            if (got == key)
                return QStringLiteral("key colour visible at (%1, %2)").arg(x).arg(y);
            if (!shape.contains(QPoint(x, y))) {
                ++holes;
                if (got != (kBehind.rgb() & kRgb))
                    return QStringLiteral("(%1, %2) is cut out but does not show what is behind")
                        .arg(x)
                        .arg(y);
            }
        }
    }
    return holes > 0 ? QString() : QStringLiteral("the window has no cut-outs");
}

bool Settle(QWidget& window) {
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    QTest::qWait(300);
    return true;
}

} // namespace

class LauncherScreenTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir folder_;
    QString previous_;

private slots:
    void initTestCase() {
        QVERIFY(folder_.isValid());
        std::ofstream(QDir(folder_.path()).filePath("Quenmor.ini").toStdString())
            << "[main]\r\nInstalled=1\r\n";
        previous_ = QDir::currentPath();
        QDir::setCurrent(folder_.path());
    }
    void cleanupTestCase() { QDir::setCurrent(previous_); }

    void mainWindowAndDialogAreShapedOnScreen() {
        Behind behind;
        behind.show();
        QVERIFY(Settle(behind));

        TFMain main;
        main.FormCreate();
        QVERIFY(!main.Image1.isNull());
        main.move(60, 40);
        main.show();
        QVERIFY(Settle(main));
        const QString mainProblem = Check(main, main.Image1);
        QVERIFY2(mainProblem.isEmpty(), qPrintable(mainProblem));

        TForm1 dialog(&main, main.LauncherSettings);
        dialog.FormCreate();
        dialog.Open();
        dialog.move(900, 200); // beside the main window, over the plain one
        QVERIFY(Settle(dialog));
        const QString dialogProblem = Check(dialog, dialog.Image1);
        QVERIFY2(dialogProblem.isEmpty(), qPrintable(dialogProblem));
    }

    // The settings have neither news nor an update address: the automatic
    // run fails at once. On the screen the panel is the placeholder's one
    // dark colour but for its line, without white; the pointer resting on
    // the status line brings up the tool tip with the cause.
    void placeholderAndCauseOnScreen() {
        TFMain main;
        main.FormCreate();
        main.move(60, 40);
        main.show();
        QVERIFY(Settle(main));
        QTRY_VERIFY_WITH_TIMEOUT(main.Label7->isVisible() && !main.Label3->toolTip().isEmpty(),
                                 10000);
        QTest::qWait(200);
        const QDir shots(QString::fromLatin1(QUENMOR_SHOTS_DIR));
        // How many pixels of `area` on the screen are `colour`, and white.
        const auto count = [&](const QRect& area, QRgb colour, const QString& name) {
            const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
            shot.save(shots.filePath(name));
            QPair<int, int> found{0, 0};
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x) {
                    found.first += (shot.pixel(x, y) & kRgb) == (colour & kRgb);
                    found.second += (shot.pixel(x, y) & kRgb) == kRgb;
                }
            return found;
        };
        const QRect panel(main.mapToGlobal(QPoint(7, 97)), QSize(786, 380));
        const QColor back = main.Label7->palette().color(QPalette::Window);
        const auto [filled, white] = count(panel, back.rgb(), QStringLiteral("placeholder.png"));
        QCOMPARE(white, 0);
        QVERIFY2(filled >= 786 * 380 * 97 / 100 && filled < 786 * 380,
                 qPrintable(QString::number(filled)));
        QVERIFY(back.lightness() < 80);

        QCursor::setPos(main.mapToGlobal(main.Label3->geometry().center()));
        QTest::qWait(50);
        QCursor::setPos(main.mapToGlobal(main.Label3->geometry().center() + QPoint(2, 0)));
        QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 5000);
        QVERIFY2(QToolTip::text().contains(QStringLiteral("UpdatesUrl is empty")),
                 qPrintable(QToolTip::text()));
        QWidget* tip = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            tip = widget->inherits("QTipLabel") && widget->isVisible() ? widget : tip;
        QVERIFY(tip != nullptr);
        QTest::qWait(300); // drawn
        const QRect area = tip->geometry();
        const QRgb tipBack = tip->palette().color(QPalette::ToolTipBase).rgb();
        QVERIFY(count(area, tipBack, QStringLiteral("cause.png")).first >
                area.width() * area.height() / 2);
        QVERIFY(area.intersects(main.frameGeometry()));
        QCursor::setPos(0, 0);
    }
};

int main(int argc, char** argv) {
    TApplication application(argc, argv);
    LauncherScreenTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LauncherScreenTest.moc"
