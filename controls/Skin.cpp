#include "Skin.h"

#include <QEvent>
#include <QPainter>
#include <QPixmap>
#include <QRect>
#include <QWidget>

#include <cstddef>
#include <utility>
#include <vector>

QRegion SkinRegion(const QImage& skin) {
    if (skin.isNull())
        return {};
    const QImage image = skin.convertToFormat(QImage::Format_RGB32);
    const int width = image.width();
    const int height = image.height();
    constexpr QRgb rgbMask = 0x00FFFFFF;
    const QRgb key = image.pixel(0, 0) & rgbMask;

    // The region in QRegion's own form: rows cut into bands of equal height,
    // each band a run of non-touching rectangles from left to right, and
    // neighbouring rows with the same runs merged into one band.
    std::vector<QRect> rects;
    std::vector<std::pair<int, int>> runs, bandRuns; // [first, last] columns
    std::size_t bandStart = 0;
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        runs.clear();
        int x = 0;
        while (x < width) {
            while (x < width && (line[x] & rgbMask) == key)
                ++x;
            if (x == width)
                break;
            const int first = x;
            while (x < width && (line[x] & rgbMask) != key)
                ++x;
            runs.emplace_back(first, x - 1);
        }
        if (!runs.empty() && runs == bandRuns && y > 0 && bandStart < rects.size() &&
            rects[bandStart].bottom() == y - 1) {
            for (std::size_t i = bandStart; i < rects.size(); ++i)
                rects[i].setBottom(y);
            continue;
        }
        bandStart = rects.size();
        bandRuns = runs;
        for (const auto& [first, last] : runs)
            rects.emplace_back(QPoint(first, y), QPoint(last, y));
    }

    QRegion region;
    if (!rects.empty())
        region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
}

namespace {

// Paints the skin under everything else the window draws.
class SkinPainter : public QObject {
public:
    SkinPainter(QWidget& window, QPixmap skin) : QObject(&window), skin_(std::move(skin)) {}

    void SetSkin(QPixmap skin) { skin_ = std::move(skin); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched == parent() && !skin_.isNull()) {
            QPainter painter(static_cast<QWidget*>(watched));
            painter.drawPixmap(0, 0, skin_);
        }
        return false;
    }

private:
    QPixmap skin_;
};

// The skin with its key-coloured pixels transparent.
QImage SeeThroughKey(const QImage& skin) {
    QImage image = skin.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull())
        return image;
    constexpr QRgb rgbMask = 0x00FFFFFF;
    const QRgb key = image.pixel(0, 0) & rgbMask;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((line[x] & rgbMask) == key)
                line[x] = 0;
        }
    }
    return image;
}

} // namespace

void ApplySkin(QWidget& window, const QImage& skin) {
    const bool seeThrough = CompositorPlacesWindows();
    if (seeThrough)
        window.setAttribute(Qt::WA_TranslucentBackground);
    QPixmap picture = QPixmap::fromImage(seeThrough ? SeeThroughKey(skin) : skin);
    SkinPainter* painter = nullptr;
    for (QObject* child : window.children()) {
        painter = dynamic_cast<SkinPainter*>(child);
        if (painter)
            break;
    }
    if (painter) {
        painter->SetSkin(std::move(picture));
    } else {
        painter = new SkinPainter(window, std::move(picture));
        window.installEventFilter(painter);
    }

    // QWidget takes an empty mask for "no mask at all", which would show the
    // whole window; a one-pixel mask off the window's area shows nothing.
    QRegion region = SkinRegion(skin);
    if (region.isEmpty())
        region = QRegion(-1, -1, 1, 1);
    window.setMask(region);
    window.update();
}

void TSkinDrag::MouseDown(int x, int y) {
    Dragging = true;
    DragX = x;
    DragY = y;
    CompositorAsked = false;
}

void TSkinDrag::MouseMove(QWidget& window, int x, int y) {
    if (!Dragging)
        return;
    if (ByCompositor && !CompositorAsked) {
        CompositorAsked = true;
        if (StartCompositorMove(window)) {
            Dragging = false;
            return;
        }
    }
    window.move(window.x() + x - DragX, window.y());
    window.move(window.x(), window.y() + y - DragY);
}

void TSkinDrag::MouseUp() {
    Dragging = false;
}
