// The launcher's two windows on a real X server: shaped by their skins, with
// no key-coloured pixel visible and what lies behind showing through the
// cut-outs.
#include "Application.h"
#include "Frm2.h"
#include "Skin.h"
#include "UnitMain.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
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
};

int main(int argc, char** argv) {
    TApplication application(argc, argv);
    LauncherScreenTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LauncherScreenTest.moc"
