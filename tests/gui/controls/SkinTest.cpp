// The shape of a skinned window and how the skin is painted.
#include "Skin.h"
#include "TestImages.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QRandomGenerator>
#include <QWidget>
#include <QtTest>

#include <vector>

using namespace testimages;

namespace {

constexpr QRgb RgbMask = 0x00FFFFFF;

bool IsKey(const QImage& skin, int x, int y) {
    return (skin.pixel(x, y) & RgbMask) == (skin.pixel(0, 0) & RgbMask);
}

// Compares `region` with a scan of every pixel of `skin`: each of its
// rectangles is laid onto the pixels, and every non-key pixel must be
// covered exactly once, every other pixel (also around the skin) not at all.
// Returns the first difference, or nothing.
QString DiffAgainstScan(const QImage& skin, const QRegion& region) {
    const int w = skin.width(), h = skin.height();
    std::vector<int> cover(std::size_t(w) * std::size_t(h), 0);
    for (const QRect& r : region) {
        if (r.isEmpty() || r.left() < 0 || r.top() < 0 || r.right() >= w || r.bottom() >= h)
            return QStringLiteral("rectangle %1x%2+%3+%4 reaches outside the skin")
                .arg(r.width())
                .arg(r.height())
                .arg(r.x())
                .arg(r.y());
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                ++cover[std::size_t(y) * std::size_t(w) + std::size_t(x)];
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int expected = IsKey(skin, x, y) ? 0 : 1;
            const int got = cover[std::size_t(y) * std::size_t(w) + std::size_t(x)];
            if (got != expected)
                return QStringLiteral("pixel (%1, %2) covered %3 times instead of %4")
                    .arg(x)
                    .arg(y)
                    .arg(got)
                    .arg(expected);
        }
    }
    if (region.isEmpty() != (region.rectCount() == 0))
        return QStringLiteral("an empty region with rectangles");
    // What Qt itself makes of the rectangles, on small skins (QRegion looks
    // a point up rectangle by rectangle).
    if (qint64(w) * h <= 20000) {
        for (int y = -1; y <= h; ++y)
            for (int x = -1; x <= w; ++x) {
                const bool expected = x >= 0 && y >= 0 && x < w && y < h && !IsKey(skin, x, y);
                if (region.contains(QPoint(x, y)) != expected)
                    return QStringLiteral("QRegion::contains(%1, %2) is %3")
                        .arg(x)
                        .arg(y)
                        .arg(!expected);
            }
    }
    return {};
}

// The same region built the slow, obvious way: every row's runs added one by one.
QRegion RegionByUnion(const QImage& skin) {
    QRegion region;
    for (int y = 0; y < skin.height(); ++y) {
        int x = 0;
        while (x < skin.width()) {
            if (IsKey(skin, x, y)) {
                ++x;
                continue;
            }
            const int first = x;
            while (x < skin.width() && !IsKey(skin, x, y))
                ++x;
            region += QRect(first, y, x - first, 1);
        }
    }
    return region;
}

QImage NoiseSkin(int w, int h, quint32 seed, int keyPercent) {
    QRandomGenerator random(seed);
    QImage skin(w, h, QImage::Format_RGB32);
    const QRgb key = MainKey.rgb();
    const QRgb others[] = {qRgb(31, 255, 9), qRgb(30, 255, 8), qRgb(0, 0, 0), qRgb(250, 250, 250)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            skin.setPixel(x, y,
                          int(random.bounded(100)) < keyPercent ? key : others[random.bounded(4)]);
    skin.setPixel(0, 0, key);
    return skin;
}

QImage CornersCut(int w, int h) {
    QImage skin(w, h, QImage::Format_RGB32);
    skin.fill(qRgb(90, 60, 30));
    const QRgb key = DialogKey.rgb();
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6 - i; ++j) {
            skin.setPixel(i, j, key);
            skin.setPixel(w - 1 - i, j, key);
            skin.setPixel(i, h - 1 - j, key);
            skin.setPixel(w - 1 - i, h - 1 - j, key);
        }
    return skin;
}

// Reads the bit count of a BMP file's pixels from its header.
int BmpBitsPerPixel(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray header = file.read(30);
    if (header.size() < 30 || !header.startsWith("BM"))
        return -1;
    return quint8(header[28]) | (quint8(header[29]) << 8);
}

} // namespace

class SkinTest : public QObject {
    Q_OBJECT

private slots:
    void regionMatchesPixelScan_data();
    void regionMatchesPixelScan();
    void oneColourSkinGivesEmptyRegion();
    void keyIsTheTopLeftPixel();
    void nullSkinGivesEmptyRegion();
    void fullSizeSkinIsQuick();
    void applySkinCutsWindowToSkin();
    void applySkinPaintsSkinOnceUnscaled();
    void applySkinOneColourHidesWindow();
    void applySkinAgainReplacesSkin();
    void realSkins_data();
    void realSkins();
};

void SkinTest::regionMatchesPixelScan_data() {
    QTest::addColumn<QImage>("skin");
    QTest::newRow("holes inside") << HoledSkin(60, 40, MainKey);
    QTest::newRow("holes inside, 24-bit")
        << HoledSkin(61, 41, DialogKey).convertToFormat(QImage::Format_RGB888);
    QTest::newRow("four corners cut") << CornersCut(50, 30);
    QTest::newRow("noise") << NoiseSkin(97, 61, 42, 40);
    QTest::newRow("mostly key") << NoiseSkin(80, 50, 7, 95);
    QTest::newRow("one pixel of key") << [] {
        QImage skin(16, 9, QImage::Format_RGB32);
        skin.fill(qRgb(1, 2, 3));
        skin.setPixel(0, 0, MainKey.rgb());
        return skin;
    }();
    QTest::newRow("one pixel tall") << NoiseSkin(70, 1, 3, 50);
    QTest::newRow("one pixel wide") << NoiseSkin(1, 70, 5, 50);
    QTest::newRow("equal rows merge") << [] {
        QImage skin(30, 20, QImage::Format_RGB32);
        skin.fill(MainKey);
        for (int y = 3; y < 17; ++y)
            for (int x : {4, 5, 6, 10, 11, 20})
                skin.setPixel(x, y, qRgb(0, 0, 0));
        for (int x = 0; x < 30; ++x)
            skin.setPixel(x, 9, qRgb(0, 0, 0));
        return skin;
    }();
}

void SkinTest::regionMatchesPixelScan() {
    QFETCH(QImage, skin);
    const QRegion region = SkinRegion(skin);
    const QString diff = DiffAgainstScan(skin, region);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    // Qt's region operations work on it as on one Qt built itself: no pixel
    // of difference to the rows' runs added one by one.
    const QRegion byUnion = RegionByUnion(skin);
    QVERIFY((region ^ byUnion).isEmpty());
    QVERIFY((region - byUnion).isEmpty() && (byUnion - region).isEmpty());
    QCOMPARE((region & byUnion).boundingRect(), byUnion.boundingRect());
    // Rows alike are one band: never more rectangles than Qt's own union.
    QVERIFY(region.rectCount() <= byUnion.rectCount());
}

void SkinTest::oneColourSkinGivesEmptyRegion() {
    for (const QColor& colour : {MainKey, DialogKey, QColor(0, 0, 0)}) {
        QImage skin(40, 30, QImage::Format_RGB32);
        skin.fill(colour);
        QVERIFY(SkinRegion(skin).isEmpty());
    }
}

void SkinTest::keyIsTheTopLeftPixel() {
    // The key colour is whatever the corner has, here the body colour of
    // the other skins: the former "key" pixels are now the shape.
    QImage skin(10, 10, QImage::Format_RGB32);
    skin.fill(MainKey);
    skin.setPixel(0, 0, qRgb(5, 5, 5));
    skin.setPixel(9, 9, qRgb(5, 5, 5));
    const QRegion region = SkinRegion(skin);
    const QRegion expected = QRegion(0, 0, 10, 10) - QRegion(0, 0, 1, 1) - QRegion(9, 9, 1, 1);
    QVERIFY((region ^ expected).isEmpty());
    QCOMPARE(region.rectCount(), 3); // the first row, eight full rows, the last row
}

void SkinTest::nullSkinGivesEmptyRegion() {
    QVERIFY(SkinRegion(QImage()).isEmpty());
}

void SkinTest::fullSizeSkinIsQuick() {
    // The main window's size, with the worst kind of picture for a region:
    // short runs everywhere.
    const QImage skin = NoiseSkin(800, 599, 11, 50);
    QElapsedTimer timer;
    timer.start();
    const QRegion region = SkinRegion(skin);
    const qint64 ms = timer.elapsed();
    QVERIFY2(ms < 2000, qPrintable(QStringLiteral("took %1 ms").arg(ms)));
    const QString diff = DiffAgainstScan(skin, region);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void SkinTest::applySkinCutsWindowToSkin() {
    const QImage skin = HoledSkin(120, 80, MainKey);
    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.resize(300, 200); // larger than the skin
    ApplySkin(window, skin);
    QCOMPARE(window.mask(), SkinRegion(skin));
    QVERIFY((window.mask() - QRegion(0, 0, 120, 80)).isEmpty());
    QVERIFY(!window.mask().contains(HoleCentre(120, 80)));
    QVERIFY(!window.mask().contains(QPoint(200, 100)));
    // Still so once the window exists on the platform.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.mask(), SkinRegion(skin));
}

void SkinTest::applySkinPaintsSkinOnceUnscaled() {
    const QImage skin = HoledSkin(120, 80, MainKey);
    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.resize(300, 200);
    ApplySkin(window, skin);

    // The whole window, shape or not.
    QImage shot(window.size(), QImage::Format_RGB32);
    shot.fill(qRgb(255, 0, 255));
    window.render(&shot, QPoint(), QRegion(),
                  QWidget::DrawWindowBackground | QWidget::DrawChildren | QWidget::IgnoreMask);
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb got = shot.pixel(x, y);
            if (x < skin.width() && y < skin.height()) {
                QVERIFY2(got == skin.pixel(x, y),
                         qPrintable(QStringLiteral("(%1, %2) is %3, not the skin's pixel")
                                        .arg(x)
                                        .arg(y)
                                        .arg(got, 8, 16)));
            } else {
                // Nothing of the skin again beyond its own size.
                const QRgb tiled = skin.pixel(x % skin.width(), y % skin.height());
                QVERIFY2(got != tiled,
                         qPrintable(QStringLiteral("skin repeated at (%1, %2)").arg(x).arg(y)));
            }
        }
    }

    // And as the shape cuts it: Qt renders a shaped widget from the top left
    // corner of its shape.
    const QRegion region = SkinRegion(skin);
    shot.fill(qRgb(255, 0, 255));
    window.render(&shot, region.boundingRect().topLeft());
    for (const QRect& r : region)
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                QVERIFY(shot.pixel(x, y) == skin.pixel(x, y));
}

void SkinTest::applySkinOneColourHidesWindow() {
    QImage skin(80, 60, QImage::Format_RGB32);
    skin.fill(MainKey);
    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.resize(80, 60);
    ApplySkin(window, skin);
    // A mask that leaves nothing of the window (an empty QRegion would mean
    // "no mask" to Qt and show all of it).
    QVERIFY(!window.mask().isEmpty());
    QVERIFY((window.mask() & QRegion(window.rect())).isEmpty());
    window.show();
    QCoreApplication::processEvents();
    QVERIFY((window.mask() & QRegion(window.rect())).isEmpty());
}

void SkinTest::applySkinAgainReplacesSkin() {
    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.resize(60, 40);
    ApplySkin(window, HoledSkin(60, 40, MainKey));
    QImage second(60, 40, QImage::Format_RGB32);
    second.fill(qRgb(10, 200, 10));
    second.setPixel(0, 0, qRgb(0, 0, 0));
    ApplySkin(window, second);
    QCOMPARE(window.mask(), SkinRegion(second));
    QImage shot(window.size(), QImage::Format_RGB32);
    shot.fill(qRgb(255, 0, 255));
    window.render(&shot);
    QCOMPARE(shot.pixel(30, 20), qRgb(10, 200, 10));
    QCOMPARE(shot.pixel(5, 5), qRgb(10, 200, 10));
}

void SkinTest::realSkins_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QColor>("key");
    QTest::newRow("main window") << QStringLiteral(QUENMOR_RESOURCES_DIR "/main_skin.bmp")
                                 << QSize(800, 599) << MainKey;
    QTest::newRow("dialog") << QStringLiteral(QUENMOR_RESOURCES_DIR "/dialog_skin.bmp")
                            << QSize(220, 300) << DialogKey;
}

void SkinTest::realSkins() {
    QFETCH(QString, file);
    QFETCH(QSize, size);
    QFETCH(QColor, key);
    if (!QFile::exists(file))
        QSKIP("the artwork is not there yet");
    QCOMPARE(BmpBitsPerPixel(file), 24);
    const QImage skin(file);
    QVERIFY(!skin.isNull());
    QCOMPARE(skin.size(), size);
    QCOMPARE(QColor(skin.pixel(0, 0)).name(), key.name());
    const QRegion region = SkinRegion(skin);
    QVERIFY(!region.isEmpty());
    const QString diff = DiffAgainstScan(skin, region);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

int RunSkinTests(const QStringList& args) {
    SkinTest test;
    return QTest::qExec(&test, args);
}

#include "SkinTest.moc"
