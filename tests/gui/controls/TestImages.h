// Small synthetic skins and pictures shared by the controls' tests.
#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QRegion>
#include <QString>

namespace testimages {

// The key colours of the launcher's two skins.
inline const QColor MainKey(31, 255, 8);
inline const QColor DialogKey(0, 255, 24);

inline QPixmap Solid(QColor colour, int w = 105, int h = 105) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return QPixmap::fromImage(image);
}

// A 24-bit skin: a body with cut corners, a rectangular hole, a one-pixel
// hole, and body pixels that are off the key colour by one step only.
inline QImage HoledSkin(int w, int h, QColor key) {
    QImage skin(w, h, QImage::Format_RGB32);
    skin.fill(key);
    const QRgb body = qRgb(200, 40, 40);
    const QRgb stripe = qRgb(20, 40, 200);
    for (int y = 2; y < h - 2; ++y)
        for (int x = 2; x < w - 2; ++x)
            skin.setPixel(x, y, y % 7 == 3 ? stripe : body);
    // cut corners
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8 - i; ++j) {
            skin.setPixel(2 + i, 2 + j, key.rgb());
            skin.setPixel(w - 3 - i, 2 + j, key.rgb());
            skin.setPixel(2 + i, h - 3 - j, key.rgb());
            skin.setPixel(w - 3 - i, h - 3 - j, key.rgb());
        }
    // a hole in the middle and a one-pixel hole
    const int hx = w * 2 / 5, hy = h * 2 / 5;
    for (int y = hy; y < hy + h / 5; ++y)
        for (int x = hx; x < hx + w / 5; ++x)
            skin.setPixel(x, y, key.rgb());
    skin.setPixel(w - 12, h / 2, key.rgb());
    // almost the key colour: part of the body
    const int r = key.red(), g = key.green(), b = key.blue();
    skin.setPixel(12, h / 2, qRgb(r, g, b ^ 1));
    skin.setPixel(13, h / 2, qRgb(r ^ 1, g, b));
    skin.setPixel(14, h / 2, qRgb(r, g ^ 1, b));
    return skin;
}

// The centre of the rectangular hole HoledSkin cuts.
inline QPoint HoleCentre(int w, int h) {
    return {w * 2 / 5 + w / 10, h * 2 / 5 + h / 10};
}

} // namespace testimages
