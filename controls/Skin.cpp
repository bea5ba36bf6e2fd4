#include "Skin.h"
#include "SkinOutline.h"

#include <QEvent>
#include <QPainter>
#include <QPixmap>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

QRegion SkinRegion(const QImage& skin) {
    if (skin.isNull())
        return {};
    const QImage image = skin.convertToFormat(QImage::Format_RGB32);
    // QImage rows are 4-byte aligned, so an RGB32 row is whole pixels.
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(image.constBits());
    const int stride = static_cast<int>(image.bytesPerLine() / 4);
    const std::vector<TOutlineRect> outline =
        SkinOutline(pixels, image.width(), image.height(), stride);

    // Already in QRegion's own banded form.
    std::vector<QRect> rects;
    rects.reserve(outline.size());
    for (const TOutlineRect& r : outline)
        rects.emplace_back(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
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
    TWindowDrag::MouseDown(x, y);
    CompositorAsked = false;
}

void TSkinDrag::MouseMove(QWidget& window, int x, int y) {
    if (!Dragging)
        return;
    if (ByCompositor && !CompositorAsked) {
        CompositorAsked = true;
        if (StartCompositorMove(window)) {
            TWindowDrag::MouseUp();
            return;
        }
    }
    const int top = window.y();
    const std::optional<TWindowPos> to = TWindowDrag::MouseMove(x, y, window.x(), top);
    if (!to)
        return;
    // Two moves, the left edge first, each from where the window is by then.
    window.move(to->Left, window.y());
    window.move(window.x(), window.y() + to->Top - top);
}
