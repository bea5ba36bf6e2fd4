// quenmor-artwork: draws the launcher's pictures (the window skins, the
// picture buttons, the top strip and the application icon) and writes them
// into a folder. Every run gives the same files: the textures come from a
// fixed hash, never from a clock.
//
//   quenmor-artwork OUTDIR [--preview FILE]
//
// --preview also writes one picture of everything put together: the main
// window with its buttons (key colour shown as a checkerboard), the dialog,
// every button state and the icon.
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>

namespace {

constexpr QRgb MainKey = qRgb(31, 255, 8);
constexpr QRgb DialogKey = qRgb(0, 255, 24);
constexpr int MainW = 800, MainH = 599;
constexpr int DialogW = 220, DialogH = 300;
constexpr double Pi = 3.14159265358979323846;

// The three pictures of a button.
enum State { Normal, Hover, Pressed };

// ---- colour and noise ------------------------------------------------------

int Clamp255(double v) {
    return std::clamp(static_cast<int>(std::lround(v)), 0, 255);
}

QColor Rgb(double r, double g, double b, double a = 255) {
    return QColor(Clamp255(r), Clamp255(g), Clamp255(b), Clamp255(a));
}

QColor Shade(const QColor& c, double k, int alpha = -1) {
    return Rgb(c.red() * k, c.green() * k, c.blue() * k, alpha < 0 ? c.alpha() : alpha);
}

QColor Mix(const QColor& a, const QColor& b, double t) {
    return Rgb(a.red() + (b.red() - a.red()) * t, a.green() + (b.green() - a.green()) * t,
               a.blue() + (b.blue() - a.blue()) * t, a.alpha() + (b.alpha() - a.alpha()) * t);
}

double Hash(int x, int y, std::uint32_t seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u +
                      static_cast<std::uint32_t>(y) * 668265263u + seed * 2654435761u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return static_cast<double>(h & 0xffffffu) / 16777216.0;
}

double ValueNoise(double x, double y, std::uint32_t seed) {
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    double tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    const double a = Hash(ix, iy, seed), b = Hash(ix + 1, iy, seed);
    const double c = Hash(ix, iy + 1, seed), d = Hash(ix + 1, iy + 1, seed);
    return a + (b - a) * tx + (c - a) * ty + (a - b - c + d) * tx * ty;
}

double Fbm(double x, double y, std::uint32_t seed, int octaves = 4) {
    double sum = 0, amp = 0.5, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * ValueNoise(x, y, seed + static_cast<std::uint32_t>(i) * 101u);
        norm += amp;
        x *= 2.03;
        y *= 2.03;
        amp *= 0.5;
    }
    return sum / norm;
}

// A mottled surface between `dark` and `light` with a fine grain on top.
QImage Stone(QSize size, const QColor& dark, const QColor& light, double scale, double grain,
             std::uint32_t seed) {
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const double t =
                std::clamp((Fbm(x / scale, y / scale, seed) - 0.5) * 1.8 + 0.5, 0.0, 1.0);
            const double g = (Hash(x, y, seed + 7) - 0.5) * grain;
            const QColor c = Mix(dark, light, t);
            line[x] = qRgb(Clamp255(c.red() + g), Clamp255(c.green() + g), Clamp255(c.blue() + g));
        }
    }
    return img;
}

// Three box passes each way over a premultiplied picture: close to a Gaussian.
void Blur(QImage& img, int radius) {
    const int w = img.width(), h = img.height();
    std::vector<int> sum(4);
    std::vector<QRgb> line;
    for (int pass = 0; pass < 6; ++pass) {
        const bool across = pass % 2 == 0;
        const int len = across ? w : h, count = across ? h : w;
        line.resize(static_cast<std::size_t>(len));
        for (int n = 0; n < count; ++n) {
            auto at = [&](int i) -> QRgb& {
                return reinterpret_cast<QRgb*>(img.scanLine(across ? n : i))[across ? i : n];
            };
            for (int i = 0; i < len; ++i)
                line[static_cast<std::size_t>(i)] = at(i);
            std::fill(sum.begin(), sum.end(), 0);
            auto add = [&](int i, int sign) {
                if (i < 0 || i >= len)
                    return;
                const QRgb c = line[static_cast<std::size_t>(i)];
                sum[0] += sign * qAlpha(c), sum[1] += sign * qRed(c);
                sum[2] += sign * qGreen(c), sum[3] += sign * qBlue(c);
            };
            for (int i = -radius; i < radius; ++i)
                add(i, 1);
            const int span = 2 * radius + 1;
            for (int i = 0; i < len; ++i) {
                add(i + radius, 1);
                at(i) = qRgba(sum[1] / span, sum[2] / span, sum[3] / span, sum[0] / span);
                add(i - radius, -1);
            }
        }
    }
}

// ---- drawing helpers -------------------------------------------------------

// A soft blurred copy of `path` (filled, or stroked with `stroke` > 0) under
// whatever is drawn next.
void Glow(QPainter& p, const QPainterPath& path, const QColor& colour, int radius,
          qreal stroke = 0) {
    QImage layer(p.device()->width(), p.device()->height(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter g(&layer);
        g.setRenderHint(QPainter::Antialiasing);
        g.setTransform(p.worldTransform());
        if (stroke > 0)
            g.strokePath(path, QPen(colour, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        else
            g.fillPath(path, colour);
    }
    Blur(layer, radius);
    p.save();
    p.resetTransform();
    p.drawImage(0, 0, layer);
    p.restore();
}

QFont Serif(int px, bool bold = true, qreal spacing = 0) {
    QFont f;
    f.setFamilies({QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")});
    f.setPixelSize(px);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return f;
}

// The outline of `text` centred on `centre`: across by its ink, up and down by
// the height of its capitals (or of its small letters).
QPainterPath TextPath(const QString& text, const QFont& font, QPointF centre, bool small = false) {
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QFontMetricsF fm(font);
    const qreal h = small ? fm.xHeight() : fm.capHeight();
    path.translate(centre.x() - path.boundingRect().center().x(), centre.y() + h / 2);
    return path;
}

// Polished gold from top to bottom: a bright upper half, a dark horizon line
// and a warm reflection below. `k` brightens or darkens the whole.
QLinearGradient Gold(qreal y0, qreal y1, double k = 1.0) {
    QLinearGradient g(0, y0, 0, y1);
    g.setColorAt(0.0, Shade(QColor(255, 240, 186), k));
    g.setColorAt(0.4, Shade(QColor(226, 178, 88), k));
    g.setColorAt(0.52, Shade(QColor(146, 96, 36), k));
    g.setColorAt(0.72, Shade(QColor(210, 156, 70), k));
    g.setColorAt(1.0, Shade(QColor(118, 72, 26), k));
    return g;
}

// Gold lettering: a soft shadow, a dark rim, the metal, and a thin light edge
// along the upper side of every stroke.
void GoldText(QPainter& p, const QPainterPath& text, double k, qreal rim, int shadow) {
    const QRectF r = text.boundingRect();
    if (shadow > 0)
        Glow(p, text.translated(0, rim + 1), QColor(0, 0, 0, 230), shadow, rim * 3);
    p.strokePath(text,
                 QPen(QColor(24, 14, 4), rim * 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.fillPath(text, Gold(r.top(), r.bottom(), k));
    p.fillPath(text.subtracted(text.translated(0, std::max(0.8, r.height() / 40))),
               QColor(255, 250, 225, 150));
}

// A bronze rail along `path`: a dark bed, the metal with moving reflections,
// a light upper-left edge and a shadowed lower-right one.
void Rail(QPainter& p, const QPainterPath& path, qreal width, double k = 1.0) {
    const QRectF b = path.boundingRect().adjusted(-width, -width, width, width);
    QLinearGradient metal(b.topLeft(), b.bottomRight());
    const QColor stops[] = {{150, 100, 40}, {232, 192, 108}, {128, 84, 32}, {220, 172, 92},
                            {140, 92, 36},  {236, 200, 120}, {116, 74, 28}};
    for (int i = 0; i < 7; ++i)
        metal.setColorAt(i / 6.0, Shade(stops[i], k));
    auto pen = [](const QBrush& brush, qreal w) {
        return QPen(brush, w, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    };
    p.strokePath(path, pen(QColor(8, 6, 4, 230), width + 2));
    p.strokePath(path, pen(metal, width));
    if (width >= 2) {
        p.strokePath(path.translated(-width / 5, -width / 5),
                     pen(Rgb(255, 240, 190, 120 * std::min(k, 1.2)), width / 3));
        p.strokePath(path.translated(width / 5, width / 5), pen(QColor(50, 28, 8, 120), width / 3));
    }
}

QPainterPath Rounded(const QRectF& r, qreal radius) {
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

QPainterPath Circle(QPointF c, qreal r) {
    QPainterPath path;
    path.addEllipse(c, r, r);
    return path;
}

QPainterPath Diamond(QPointF c, qreal rx, qreal ry) {
    QPainterPath path;
    path.addPolygon(QPolygonF({c + QPointF(0, -ry), c + QPointF(rx, 0), c + QPointF(0, ry),
                               c + QPointF(-rx, 0), c + QPointF(0, -ry)}));
    return path;
}

// A cut gem in a gold setting.
void Gem(QPainter& p, QPointF c, qreal r, const QColor& colour) {
    p.setPen(Qt::NoPen);
    p.fillPath(Circle(c + QPointF(0, 1), r + 2.5), QColor(0, 0, 0, 150));
    p.fillPath(Circle(c, r + 2), QBrush(Gold(c.y() - r - 2, c.y() + r + 2)));
    QRadialGradient g(c + QPointF(-r / 3, -r / 3), r * 1.4);
    g.setColorAt(0, Mix(colour, Qt::white, 0.55));
    g.setColorAt(0.45, colour);
    g.setColorAt(1, Shade(colour, 0.25));
    p.fillPath(Circle(c, r), g);
    p.fillPath(Circle(c + QPointF(-r / 3, -r / 3), std::max(0.8, r / 4)),
               QColor(255, 255, 255, 200));
}

// A flourish arm of length `len` along +x from the origin: a gentle wave
// ending in a spiral of radius `curl` (mirror it with a negative scale).
QPainterPath ScrollArm(qreal len, qreal curl) {
    QPainterPath path(QPointF(0, 0));
    const qreal end = len - curl;
    path.cubicTo(end * 0.35, curl * 0.7, end * 0.65, -curl * 0.5, end, 0);
    for (int i = 1; i <= 48; ++i) {
        const double t = i / 48.0 * 2 * Pi;
        const double r = curl * (1 - t / (2.3 * Pi));
        path.lineTo(end + r * std::cos(Pi / 2 - t), -curl + r * std::sin(Pi / 2 - t));
    }
    return path;
}

// Draws `path` as thin gold wire with a shadow, in a frame placed at `at`,
// turned by `angle` degrees and scaled by (sx, sy).
void Wire(QPainter& p, const QPainterPath& path, QPointF at, qreal angle, qreal sx, qreal sy,
          qreal width = 1.6, double k = 1.0) {
    QTransform t;
    t.translate(at.x(), at.y());
    t.rotate(angle);
    t.scale(sx, sy);
    const QPainterPath placed = t.map(path);
    const QPen shadow(QColor(0, 0, 0, 170), width + 1.6, Qt::SolidLine, Qt::RoundCap,
                      Qt::RoundJoin);
    p.strokePath(placed.translated(0.8, 1.2), shadow);
    p.strokePath(placed, QPen(Shade(QColor(214, 166, 82), k), width, Qt::SolidLine, Qt::RoundCap,
                              Qt::RoundJoin));
    p.strokePath(placed.translated(-0.3, -0.4),
                 QPen(Rgb(255, 236, 170, 110 * k), width / 2.5, Qt::SolidLine, Qt::RoundCap));
}

// Scrollwork for the inside of a frame corner at `c`; (dx, dy) point into the
// frame.
void CornerOrnament(QPainter& p, QPointF c, qreal dx, qreal dy, qreal size, double k = 1.0) {
    const QPainterPath arm = ScrollArm(size, size * 0.16);
    Wire(p, arm, c + QPointF(dx * 6, dy * 6), 0, dx, -dy, 1.6, k);
    Wire(p, arm, c + QPointF(dx * 6, dy * 6), 90, dy, dx, 1.6, k);
    const QPainterPath leaf = Diamond(c + QPointF(dx * 6, dy * 6), 4, 4);
    p.fillPath(leaf.translated(0.8, 1.2), QColor(0, 0, 0, 170));
    p.fillPath(leaf, Gold(c.y() + dy * 6 - 4, c.y() + dy * 6 + 4, k));
}

// A horizontal divider centred on `c`: a tapering gold line, scrolls on both
// sides and a gem in the middle.
void Divider(QPainter& p, QPointF c, qreal half, const QColor& gem, qreal gemR = 4) {
    QPainterPath line;
    line.moveTo(c.x() - half, c.y());
    line.quadTo(c.x(), c.y() - 2.2, c.x() + half, c.y());
    line.quadTo(c.x(), c.y() + 2.2, c.x() - half, c.y());
    p.fillPath(line.translated(0.8, 1.2), QColor(0, 0, 0, 170));
    p.fillPath(line, Gold(c.y() - 2, c.y() + 2));
    const qreal arm = std::min(half * 0.45, 60.0);
    for (int side = -1; side <= 1; side += 2) {
        const QPointF from = c + QPointF(side * (gemR + 4), 0);
        Wire(p, ScrollArm(arm, arm * 0.14), from, 0, side, 1, 1.4);
        Wire(p, ScrollArm(arm * 0.8, arm * 0.12), from, 0, side, -1, 1.4);
    }
    Gem(p, c, gemR, gem);
}

// Paints the key colour exactly on every pixel outside `outline` (rasterised
// without anti-aliasing), and nudges any pixel inside that happens to equal it.
void CutOut(QImage& img, const QPainterPath& outline, QRgb key) {
    QImage mask(img.size(), QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    {
        QPainter m(&mask);
        m.setRenderHint(QPainter::Antialiasing, false);
        m.fillPath(outline, Qt::white);
    }
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        const auto* in = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = line[x] | 0xff000000u;
            if (qAlpha(in[x]) == 0)
                line[x] = key;
            else
                line[x] = c == key ? qRgb(qRed(c), qGreen(c) - 1, qBlue(c)) : c;
        }
    }
}

// ---- the main window -------------------------------------------------------

QPainterPath MainOutline() {
    QPainterPath shape;
    shape.addRect(0, 9, MainW, MainH - 9);
    // The crest: shoulders rising to a round medallion in the middle of the top edge.
    QPainterPath crest;
    crest.moveTo(296, 10);
    crest.cubicTo(326, 10, 334, 3, 358, 3);
    crest.lineTo(442, 3);
    crest.cubicTo(466, 3, 474, 10, 504, 10);
    crest.closeSubpath();
    shape = shape.united(crest).united(Circle({400, 19}, 19));
    // Round bites out of the four corners.
    for (const QPointF c :
         {QPointF(0, 9), QPointF(MainW, 9), QPointF(0, MainH), QPointF(MainW, MainH)})
        shape = shape.subtracted(Circle(c, 11));
    // Two notches along the bottom edge, either side of the notice plate.
    for (const qreal x : {248.0, 498.0})
        shape = shape.subtracted(Rounded({x, 590, 54, 20}, 4));
    // Two lancet windows through the header, flanking the crest.
    for (const qreal x : {282.0, 518.0}) {
        QPainterPath lancet;
        lancet.moveTo(x - 4, 30);
        lancet.lineTo(x - 4, 22);
        lancet.quadTo(x - 4, 17, x, 14);
        lancet.quadTo(x + 4, 17, x + 4, 22);
        lancet.lineTo(x + 4, 30);
        lancet.closeSubpath();
        shape = shape.subtracted(lancet);
    }
    return shape.simplified();
}

// The height of a mountain ridge at `x`.
qreal RidgeAt(qreal x, qreal base, qreal amp, double freq, std::uint32_t seed) {
    const double n = Fbm(x * freq, 3.7, seed, 5);
    return base - amp * std::pow(std::clamp(n * 1.6 - 0.3, 0.0, 1.0), 1.4);
}

void Ridge(QPainter& p, const QRectF& area, qreal base, qreal amp, double freq, std::uint32_t seed,
           const QColor& colour, const QColor& mist) {
    QPainterPath path(area.bottomLeft());
    for (qreal x = area.left(); x <= area.right() + 2; x += 2)
        path.lineTo(x, RidgeAt(x, base, amp, freq, seed));
    path.lineTo(area.bottomRight() + QPointF(2, 0));
    path.closeSubpath();
    QLinearGradient g(0, base - amp, 0, area.bottom());
    g.setColorAt(0, Shade(colour, 1.35));
    g.setColorAt(0.5, colour);
    g.setColorAt(1, Shade(colour, 0.6));
    p.fillPath(path, g);
    QLinearGradient haze(0, base - amp * 0.35, 0, base + 30);
    haze.setColorAt(0, Shade(mist, 1, 0));
    haze.setColorAt(0.6, mist);
    haze.setColorAt(1, Shade(mist, 1, 0));
    p.fillRect(QRectF(area.left(), base - amp * 0.35, area.width(), amp * 0.35 + 30), haze);
}

// A castle silhouette standing on `base`, with a few lit windows.
void Castle(QPainter& p, QPointF base, const QColor& colour) {
    struct Tower {
        qreal x, w, h, roof;
    };
    const Tower towers[] = {{-44, 10, 34, 14}, {-26, 14, 56, 22}, {-6, 11, 42, 16},
                            {10, 16, 74, 28},  {32, 11, 46, 17},  {48, 9, 30, 12}};
    QPainterPath body;
    body.addRect(QRectF(base.x() - 40, base.y() - 24, 88, 44));
    for (int i = 0; i < 11; ++i)
        body.addRect(QRectF(base.x() - 40 + i * 8.4, base.y() - 28, 4.5, 5));
    for (const Tower& t : towers) {
        const qreal x = base.x() + t.x, top = base.y() - t.h;
        body.addRect(QRectF(x, top, t.w, t.h + 20));
        body.addPolygon(
            QPolygonF({{x - 2, top + 0.5}, {x + t.w / 2, top - t.roof}, {x + t.w + 2, top + 0.5}}));
        body.addRect(QRectF(x + t.w / 2 - 0.4, top - t.roof - 7, 0.8, 7)); // spire
    }
    body.setFillRule(Qt::WindingFill);
    p.fillPath(body, colour);
    const QPointF lit[] = {{-21, -44}, {14, -60}, {20, -52}, {-2, -30}, {36, -34}, {-38, -24}};
    for (int i = 0; i < 6; ++i) {
        const QRectF w(base + lit[i], QSizeF(2, 3));
        Glow(p, Rounded(w, 1), QColor(255, 170, 70, 150), 2);
        p.fillRect(w, QColor(255, 206, 120));
    }
}

void NightScene(QPainter& p, const QRectF& r) {
    QLinearGradient sky(0, r.top(), 0, r.bottom());
    sky.setColorAt(0, QColor(3, 6, 14));
    sky.setColorAt(0.45, QColor(10, 20, 42));
    sky.setColorAt(0.78, QColor(30, 50, 82));
    sky.setColorAt(1, QColor(14, 22, 40));
    p.fillRect(r, sky);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 260; ++i) { // stars, fewer and fainter toward the horizon
        const qreal y = r.top() + std::pow(Hash(i, 2, 77), 1.5) * r.height() * 0.7;
        const QPointF s(r.left() + Hash(i, 1, 77) * r.width(), y);
        const double b = Hash(i, 3, 77), fade = 1 - (y - r.top()) / (r.height() * 0.72);
        p.setBrush(Rgb(215, 225, 255, (30 + 210 * b * b) * fade));
        p.drawEllipse(s, 0.5 + 0.9 * b * b, 0.5 + 0.9 * b * b);
        if (b > 0.94) {
            p.fillRect(QRectF(s.x() - 3, s.y() - 0.25, 6, 0.5), Rgb(215, 225, 255, 120 * fade));
            p.fillRect(QRectF(s.x() - 0.25, s.y() - 3, 0.5, 6), Rgb(215, 225, 255, 120 * fade));
        }
    }
    const QPointF moon(688, 128); // a crescent with its halo
    QRadialGradient halo(moon, 110);
    halo.setColorAt(0, QColor(150, 175, 220, 70));
    halo.setColorAt(1, QColor(150, 175, 220, 0));
    p.fillRect(r, halo);
    const QPainterPath crescent = Circle(moon, 21).subtracted(Circle(moon + QPointF(9, -5), 19));
    Glow(p, crescent, QColor(220, 230, 255, 160), 4);
    QLinearGradient lit(moon + QPointF(-20, -20), moon + QPointF(10, 20));
    lit.setColorAt(0, QColor(250, 248, 232));
    lit.setColorAt(1, QColor(170, 180, 200));
    p.fillPath(crescent, lit);

    const QRectF land = r;
    Ridge(p, land, r.bottom() - 120, 120, 0.006, 11, QColor(24, 38, 64), QColor(90, 120, 170, 40));
    // The castle stands behind the middle ridge, its foot hidden by the slope.
    qreal foot = 0;
    for (qreal x = 105; x <= 205; x += 2)
        foot = std::max(foot, RidgeAt(x, r.bottom() - 70, 90, 0.009, 23));
    Castle(p, QPointF(150, foot - 8), QColor(12, 19, 35));
    Ridge(p, land, r.bottom() - 70, 90, 0.009, 23, QColor(14, 23, 42), QColor(80, 110, 160, 36));
    Ridge(p, land, r.bottom() - 14, 60, 0.013, 37, QColor(6, 10, 20), QColor(60, 90, 140, 30));
    QRadialGradient vignette(r.center(), r.width() * 0.62);
    vignette.setColorAt(0.55, QColor(0, 0, 0, 0));
    vignette.setColorAt(1, QColor(0, 0, 0, 150));
    p.fillRect(r, vignette);
}

// A sunken dark plate framed with a thin bronze rail.
void Well(QPainter& p, const QRectF& r, qreal radius, int alpha = 235, double k = 0.8) {
    const QPainterPath shape = Rounded(r, radius);
    p.fillPath(shape, QColor(4, 7, 14, alpha));
    QLinearGradient inner(0, r.top(), 0, r.top() + 8);
    inner.setColorAt(0, QColor(0, 0, 0, 140));
    inner.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillPath(shape, inner);
    Rail(p, shape, 1.2, k);
}

QImage MainSkin() {
    QImage img = Stone({MainW, MainH}, QColor(8, 11, 19), QColor(30, 38, 56), 46, 9, 1);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient shadeDown(0, 0, 0, MainH);
    shadeDown.setColorAt(0, QColor(40, 60, 100, 40));
    shadeDown.setColorAt(0.8, QColor(0, 0, 0, 0));
    shadeDown.setColorAt(1, QColor(0, 0, 0, 90));
    p.fillRect(img.rect(), shadeDown);

    // The picture panel under the news and the top strip.
    const QRectF panel(7, 37, 786, 440);
    NightScene(p, panel);
    const QPainterPath title = TextPath(QStringLiteral("QUENMOR"), Serif(86, true, 7), {400, 196});
    Glow(p, title, QColor(255, 180, 80, 120), 12);
    GoldText(p, title, 1.0, 1.4, 3);
    Divider(p, {400, 248}, 230, QColor(60, 120, 220), 5);
    const QPainterPath motto =
        TextPath(QStringLiteral("·  ДОБРО  ПОЖАЛОВАТЬ  ·"), Serif(15, true, 3), {400, 278});
    GoldText(p, motto, 0.85, 0.8, 2);
    Rail(p, Rounded(panel.adjusted(-1, -1, 1, 1), 2), 2.2);
    for (const QPointF d : {QPointF(1, 1), QPointF(-1, 1), QPointF(1, -1), QPointF(-1, -1)}) {
        const QPointF c(d.x() > 0 ? panel.left() : panel.right(),
                        d.y() > 0 ? panel.top() : panel.bottom());
        CornerOrnament(p, c, d.x(), d.y(), 70);
    }

    // The header: wire lines from the crest toward both sides, the medallion.
    for (const int side : {-1, 1}) {
        Wire(p, ScrollArm(160, 7), {400 + side * 28.0, 24}, 0, side, 1, 1.3, 0.9);
        Wire(p, ScrollArm(70, 5), {400 + side * 28.0, 24}, 0, side, -1, 1.2, 0.9);
    }
    Gem(p, {400, 20}, 9, QColor(40, 110, 230));
    QPainterPath ring = Circle({400, 20}, 14);
    Rail(p, ring, 2.4);

    // The control deck: status and gauges on the left, buttons, the play socket.
    Well(p, {18, 501, 550, 65}, 6);
    Well(p, {124, 508, 437, 20}, 3, 200, 0.6);
    for (const qreal y : {531.0, 546.0})
        Well(p, {125, y - 2, 434, 9}, 2, 255, 0.7);
    Well(p, {571, 501, 109, 65}, 6, 170);
    const QPointF socket(734, 534.5);
    p.fillPath(Circle(socket, 47.5), QColor(2, 4, 9));
    Rail(p, Circle(socket, 47), 1.6, 0.8);
    Well(p, {322, 570, 156, 21}, 4);

    Rail(p, MainOutline(), 10);
    Rail(p, ring, 2.4);
    p.end();
    CutOut(img, MainOutline(), MainKey);
    return img;
}

// ---- the dialog ------------------------------------------------------------

QPainterPath DialogOutline() {
    QPainterPath shape;
    shape.addRect(0, 6, DialogW, DialogH - 6);
    QPainterPath crest;
    crest.moveTo(62, 7);
    crest.cubicTo(80, 7, 84, 0, 98, 0);
    crest.lineTo(122, 0);
    crest.cubicTo(136, 0, 140, 7, 158, 7);
    crest.closeSubpath();
    shape = shape.united(crest);
    for (const QPointF c :
         {QPointF(0, 6), QPointF(DialogW, 6), QPointF(0, DialogH), QPointF(DialogW, DialogH)})
        shape = shape.subtracted(Circle(c, 9));
    shape = shape.subtracted(Rounded({92, 293, 36, 14}, 3));
    return shape.simplified();
}

QImage DialogSkin() {
    QImage img = Stone({DialogW, DialogH}, QColor(30, 47, 75), QColor(40, 60, 92), 30, 5, 2);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    for (const QRectF band : {QRectF(0, 0, DialogW, 36), QRectF(0, 249, DialogW, 51)}) {
        QLinearGradient g(0, band.top(), 0, band.bottom());
        g.setColorAt(0, QColor(8, 12, 24, 150));
        g.setColorAt(1, QColor(8, 12, 24, 90));
        p.fillRect(band, g);
    }
    GoldText(p, TextPath(QStringLiteral("Настройки"), Serif(16, true, 1), {110, 21}), 1.0, 0.8, 2);
    Divider(p, {110, 37}, 96, QColor(60, 120, 220), 3);
    QPainterPath low(QPointF(12, 249));
    low.lineTo(208, 249);
    Rail(p, low, 1.2, 0.8);
    for (const int side : {-1, 1})
        CornerOrnament(p, {110 + side * 103.0, 293}, -side, -1, 34, 0.9);
    Rail(p, DialogOutline(), 8);
    p.end();
    CutOut(img, DialogOutline(), DialogKey);
    return img;
}

// ---- buttons ---------------------------------------------------------------

QImage Canvas(QSize size) {
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

// The round play button on its own piece of the main skin.
QImage PlayButton(const QImage& skin, State state) {
    QImage img = skin.copy(686, 485, 96, 99).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(48, 49.5);
    const qreal s = state == Pressed ? 1 : 0;
    const double k = state == Hover ? 1.18 : state == Pressed ? 0.8 : 1.0;
    QRadialGradient halo(c, 48);
    halo.setColorAt(0.84, state == Hover ? QColor(255, 190, 90, 170) : QColor(0, 0, 0, 200));
    halo.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillPath(Circle(c, 48), halo);
    QConicalGradient rim(c, 45);
    for (int i = 0; i <= 8; ++i)
        rim.setColorAt(i / 8.0, Shade(i % 2 ? QColor(120, 76, 28) : QColor(240, 200, 120), k));
    p.fillPath(Circle(c, 44), rim);
    p.strokePath(Circle(c, 44), QPen(QColor(20, 12, 4), 1.2));
    for (int i = 0; i < 12; ++i) { // studs around the rim
        const double a = i * Pi / 6;
        const QPointF at = c + QPointF(41 * std::cos(a), 41 * std::sin(a));
        p.fillPath(Circle(at + QPointF(0.4, 0.6), 1.8), QColor(30, 16, 4, 200));
        p.fillPath(Circle(at, 1.5), Shade(QColor(255, 232, 160), k));
    }
    p.fillPath(Circle(c, 38), QColor(16, 10, 4));
    QRadialGradient disc(c + QPointF(s, -12 + s), 44, c + QPointF(s, -22 + s));
    const QColor hi = state == Hover ? QColor(96, 150, 232) : QColor(58, 100, 170);
    disc.setColorAt(0, state == Pressed ? QColor(26, 46, 84) : hi);
    disc.setColorAt(0.55, state == Pressed ? QColor(10, 20, 40) : QColor(18, 36, 74));
    disc.setColorAt(1, QColor(4, 8, 18));
    p.fillPath(Circle(c + QPointF(s, s), 36.5), disc);
    if (state != Pressed) { // the glassy highlight
        QLinearGradient gloss(0, c.y() - 36, 0, c.y());
        gloss.setColorAt(0, QColor(255, 255, 255, state == Hover ? 90 : 65));
        gloss.setColorAt(1, QColor(255, 255, 255, 0));
        QPainterPath top;
        top.addEllipse(QRectF(c.x() - 28, c.y() - 35, 56, 36));
        p.fillPath(top, gloss);
    } else {
        QRadialGradient inner(c, 37);
        inner.setColorAt(0.75, QColor(0, 0, 0, 0));
        inner.setColorAt(1, QColor(0, 0, 0, 170));
        p.fillPath(Circle(c, 37), inner);
    }
    const QPainterPath word =
        TextPath(QStringLiteral("ИГРА"), Serif(21, true, 1.5), c + QPointF(s, s + 1));
    if (state == Hover)
        Glow(p, word, QColor(255, 200, 100, 200), 4);
    GoldText(p, word, k, 1.0, 2);
    return img;
}

// A bevelled plate button with a word, on its own piece of the main skin.
QImage PlateButton(const QImage& skin, QPoint at, const QString& text, State state) {
    QImage img =
        skin.copy(QRect(at, QSize(101, 27))).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(1.5, 1.5, 98, 24);
    const qreal s = state == Pressed ? 1 : 0;
    const double k = state == Hover ? 1.2 : state == Pressed ? 0.78 : 1.0;
    QLinearGradient fill(0, r.top(), 0, r.bottom());
    if (state == Pressed) {
        fill.setColorAt(0, QColor(6, 10, 20));
        fill.setColorAt(1, QColor(24, 36, 60));
    } else {
        fill.setColorAt(0, state == Hover ? QColor(74, 104, 156) : QColor(46, 66, 104));
        fill.setColorAt(0.5, state == Hover ? QColor(34, 52, 88) : QColor(22, 34, 60));
        fill.setColorAt(1, state == Hover ? QColor(20, 32, 58) : QColor(10, 16, 32));
    }
    p.fillPath(Rounded(r, 4), fill);
    if (state == Hover) {
        QRadialGradient shine(r.center() + QPointF(0, 8), 50);
        shine.setColorAt(0, QColor(255, 200, 110, 60));
        shine.setColorAt(1, QColor(255, 200, 110, 0));
        p.fillPath(Rounded(r, 4), shine);
    }
    Rail(p, Rounded(r, 4), 2, k);
    const QPainterPath word = TextPath(text, Serif(14, true, 0.6), r.center() + QPointF(s, s));
    if (state == Hover)
        Glow(p, word, QColor(255, 200, 100, 160), 3);
    GoldText(p, word, k, 0.8, 0);
    return img;
}

// A small transparent button: a dark glassy chip with a gold glyph or word.
QImage Chip(QSize size, const QPainterPath& glyph, State state, qreal rim = 1.6) {
    QImage img = Canvas(size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(img.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal s = state == Pressed ? 1 : 0;
    const double k = state == Hover ? 1.25 : state == Pressed ? 0.75 : 1.0;
    QLinearGradient fill(0, 0, 0, size.height());
    fill.setColorAt(0, state == Hover ? QColor(60, 86, 130, 200) : QColor(26, 36, 58, 170));
    fill.setColorAt(1, state == Pressed ? QColor(0, 0, 0, 220) : QColor(4, 8, 16, 190));
    p.fillPath(Rounded(r, 3), fill);
    p.strokePath(Rounded(r, 3),
                 QPen(Shade(QColor(176, 130, 62), k, state == Hover ? 255 : 200), 1));
    const QPainterPath g = glyph.translated(s, s);
    if (state == Hover)
        Glow(p, g, QColor(255, 210, 120, 210), 1);
    p.strokePath(g, QPen(QColor(10, 6, 2, 220), rim, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QRectF b = g.boundingRect();
    p.fillPath(g, Gold(b.top() - 1, b.bottom() + 1, k * 1.1));
    return img;
}

// A word for a chip of `size`, in the largest size up to `px` that leaves a
// margin on both sides.
QPainterPath ChipWord(const QString& text, QSize size, int px, bool small = false) {
    const QPointF centre(size.width() / 2.0, size.height() / 2.0);
    QPainterPath path = TextPath(text, Serif(px, true), centre, small);
    while (px > 8 && path.boundingRect().width() > size.width() - 8)
        path = TextPath(text, Serif(--px, true), centre, small);
    return path;
}

// A line drawn as a filled outline, so the chip can fill it with gold.
QPainterPath Bar(QPointF a, QPointF b, qreal width) {
    QPainterPath line(a);
    line.lineTo(b);
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    return stroker.createStroke(line);
}

// ---- the top strip and the icon --------------------------------------------

QImage Strip() {
    QImage img = Stone({786, 440}, QColor(6, 9, 17), QColor(20, 28, 44), 36, 7, 3);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient band(0, 0, 0, 60);
    band.setColorAt(0, QColor(36, 54, 90, 150));
    band.setColorAt(0.5, QColor(14, 22, 40, 90));
    band.setColorAt(1, QColor(0, 0, 0, 140));
    p.fillRect(QRectF(0, 0, 786, 60), band);
    for (int i = 0; i < 40; ++i) { // a faint frieze of lozenges
        const QPointF c(9.5 + i * 20, 30);
        p.fillPath(Diamond(c, 5, 9), QColor(200, 160, 90, 18));
        p.strokePath(Diamond(c, 5, 9), QPen(QColor(200, 160, 90, 34), 1));
    }
    for (const qreal y : {2.5, 57.5}) {
        QPainterPath rail(QPointF(-2, y));
        rail.lineTo(788, y);
        Rail(p, rail, 2.2, 0.9);
    }
    QLinearGradient below(0, 60, 0, 90);
    below.setColorAt(0, QColor(0, 0, 0, 160));
    below.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillRect(QRectF(0, 59, 786, 31), below);
    return img;
}

QImage StripPlate() {
    QImage img = Canvas({760, 50});
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0.5, 0.5, 759, 49);
    QLinearGradient fill(0, 0, 0, 50);
    fill.setColorAt(0, QColor(14, 22, 40, 190));
    fill.setColorAt(1, QColor(0, 2, 8, 170));
    p.fillPath(Rounded(r, 6), fill);
    p.strokePath(Rounded(r, 6), QPen(QColor(232, 214, 170, 150), 1));
    p.strokePath(Rounded(r.adjusted(3, 3, -3, -3), 4), QPen(QColor(255, 255, 255, 28), 1));
    return img;
}

QImage Icon() {
    QImage img = Canvas({256, 256});
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(128, 126);
    QRadialGradient shadow(c + QPointF(0, 4), 126);
    shadow.setColorAt(0.85, QColor(0, 0, 0, 160));
    shadow.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillPath(Circle(c + QPointF(0, 4), 126), shadow);
    QConicalGradient rim(c, 45);
    for (int i = 0; i <= 8; ++i)
        rim.setColorAt(i / 8.0, i % 2 ? QColor(120, 76, 28) : QColor(244, 206, 128));
    p.fillPath(Circle(c, 118), rim);
    p.strokePath(Circle(c, 118), QPen(QColor(20, 12, 4), 2));
    p.fillPath(Circle(c, 102), QColor(16, 10, 4));
    QRadialGradient disc(c + QPointF(0, -30), 130, c + QPointF(0, -50));
    disc.setColorAt(0, QColor(64, 108, 180));
    disc.setColorAt(0.5, QColor(18, 36, 74));
    disc.setColorAt(1, QColor(4, 8, 18));
    p.fillPath(Circle(c, 99), disc);
    for (int i = 0; i < 16; ++i) {
        const double a = i * Pi / 8;
        const QPointF at = c + QPointF(110 * std::cos(a), 110 * std::sin(a));
        p.fillPath(Circle(at + QPointF(0.8, 1.2), 4.2), QColor(30, 16, 4, 200));
        p.fillPath(Circle(at, 3.6), QColor(255, 234, 170));
    }
    Divider(p, c + QPointF(0, 80), 56, QColor(40, 110, 230), 5);
    const QPainterPath q = TextPath(QStringLiteral("Q"), Serif(150, true), c + QPointF(0, -10));
    Glow(p, q, QColor(255, 180, 80, 140), 8);
    GoldText(p, q, 1.05, 2.4, 4);
    Gem(p, c + QPointF(0, -108), 9, QColor(40, 110, 230));
    return img;
}

// ---- output ----------------------------------------------------------------

bool Save(const QImage& img, const QDir& dir, const QString& name) {
    const QString path = dir.filePath(name);
    const bool bmp = path.endsWith(QStringLiteral(".bmp"));
    const QImage out = img.convertToFormat(bmp ? QImage::Format_RGB888 : QImage::Format_ARGB32);
    if (out.save(path, bmp ? "BMP" : "PNG"))
        return true;
    std::fprintf(stderr, "quenmor-artwork: cannot write %s\n", qPrintable(path));
    return false;
}

// The main window put together twice (at rest, and with the top strip and
// hover pictures), the dialog, the icon and every button in its three states.
QImage Preview(const std::map<QString, QImage>& pics) {
    const auto pic = [&](const QString& name) { return pics.at(name); };
    const auto keyed = [](const QImage& img) {
        QImage copy = img.convertToFormat(QImage::Format_ARGB32);
        const QRgb key = copy.pixel(0, 0);
        for (int y = 0; y < copy.height(); ++y)
            for (int x = 0; x < copy.width(); ++x)
                if (copy.pixel(x, y) == key)
                    copy.setPixel(x, y, 0);
        return copy;
    };
    QImage out = Canvas({1340, 1240});
    QPainter p(&out);
    for (int y = 0; y < out.height(); y += 8)
        for (int x = 0; x < out.width(); x += 8)
            p.fillRect(x, y, 8, 8, (x + y) / 8 % 2 ? QColor(200, 200, 200) : QColor(150, 150, 150));
    for (const int row : {0, 1}) {
        const QPoint o(0, row * 620);
        const QString up = row ? QStringLiteral("_up") : QString();
        p.drawImage(o, keyed(pic(QStringLiteral("main_skin.bmp"))));
        if (row) {
            p.drawImage(o + QPoint(7, 37), pic(QStringLiteral("strip.bmp")).copy(0, 0, 786, 60));
            p.drawImage(o + QPoint(20, 42), pic(QStringLiteral("strip_plate.png")));
        }
        p.drawImage(o + QPoint(686, 485), pic(QStringLiteral("play%1.bmp").arg(up)));
        p.drawImage(o + QPoint(575, 506), pic(QStringLiteral("check%1.bmp").arg(up)));
        p.drawImage(o + QPoint(575, 535), pic(QStringLiteral("cancel.bmp")));
        p.drawImage(o + QPoint(685, 19), pic(QStringLiteral("options%1.png").arg(up)));
        p.drawImage(o + QPoint(752, 17), pic(QStringLiteral("minimize.png")));
        p.drawImage(o + QPoint(768, 17), pic(QStringLiteral("close%1.png").arg(up)));
        p.setPen(QColor(202, 202, 202));
        p.setFont(QFont(QStringLiteral("DejaVu Sans"), 7));
        p.drawText(o + QPoint(35, 537), QStringLiteral("Загрузка  файла"));
        p.drawText(o + QPoint(35, 552), QStringLiteral("Общий прогресс"));
        p.drawText(QRect(o + QPoint(128, 512), QSize(429, 13)), Qt::AlignCenter,
                   QStringLiteral("Проверка файлов: data/world.pak"));
        p.drawText(QRect(o + QPoint(329, 574), QSize(142, 15)), Qt::AlignCenter,
                   QStringLiteral("версия 1.0.42"));
        p.fillRect(QRect(o + QPoint(127, 531), QSize(280, 5)), QColor(220, 170, 80));
        p.fillRect(QRect(o + QPoint(127, 546), QSize(130, 5)), QColor(90, 150, 230));
    }
    p.drawImage(820, 0, keyed(pic(QStringLiteral("dialog_skin.bmp"))));
    p.drawImage(1070, 0, pic(QStringLiteral("icon.png")));
    int y = 320;
    for (const char* name : {"play%1.bmp", "check%1.bmp", "cancel%1.bmp", "close%1.png",
                             "minimize%1.png", "options%1.png", "site%1.png"}) {
        int x = 820;
        for (const char* tail : {"", "_up", "_down"}) {
            const QImage img = pic(QString::fromLatin1(name).arg(QLatin1String(tail)));
            p.fillRect(QRect(QPoint(x, y), img.size()), QColor(20, 28, 44));
            p.drawImage(x, y, img);
            x += img.width() + 10;
        }
        y += pic(QString::fromLatin1(name).arg(QString())).height() + 10;
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    const bool withPreview = args.size() == 4 && args[2] == QStringLiteral("--preview");
    if (args.size() != 2 && !withPreview) {
        std::fprintf(stderr, "usage: quenmor-artwork OUTDIR [--preview FILE]\n");
        return 2;
    }
    const QDir dir(args[1]);
    if (!QDir().mkpath(args[1])) {
        std::fprintf(stderr, "quenmor-artwork: cannot make %s\n", qPrintable(args[1]));
        return 1;
    }

    std::map<QString, QImage> pics; // by file name
    const QImage skin = MainSkin();
    pics[QStringLiteral("main_skin.bmp")] = skin;
    pics[QStringLiteral("dialog_skin.bmp")] = DialogSkin();
    pics[QStringLiteral("strip.bmp")] = Strip();
    pics[QStringLiteral("strip_plate.png")] = StripPlate();
    pics[QStringLiteral("icon.png")] = Icon();
    const QPainterPath cross =
        Bar({4.5, 4.5}, {11.5, 11.5}, 2.2).united(Bar({11.5, 4.5}, {4.5, 11.5}, 2.2));
    const QPainterPath bar = Bar({4.5, 11}, {11.5, 11}, 2.2);
    const QPainterPath options = ChipWord(QStringLiteral("Настройки"), {63, 16}, 12);
    const QPainterPath site = ChipWord(QStringLiteral("сайт игры"), {91, 18}, 13, true);
    for (const State s : {Normal, Hover, Pressed}) {
        const QString t = s == Normal ? QString() : s == Hover ? "_up" : "_down";
        pics["play" + t + ".bmp"] = PlayButton(skin, s);
        pics["check" + t + ".bmp"] = PlateButton(skin, {575, 506}, QStringLiteral("Проверка"), s);
        pics["cancel" + t + ".bmp"] = PlateButton(skin, {575, 535}, QStringLiteral("Отмена"), s);
        pics["close" + t + ".png"] = Chip({16, 16}, cross, s);
        pics["minimize" + t + ".png"] = Chip({16, 16}, bar, s);
        pics["options" + t + ".png"] = Chip({63, 16}, options, s, 1.1);
        pics["site" + t + ".png"] = Chip({91, 18}, site, s, 1.1);
    }
    bool ok = true;
    for (const auto& [name, img] : pics)
        ok = Save(img, dir, name) && ok;
    if (withPreview && !Preview(pics).save(args[3], "PNG")) {
        std::fprintf(stderr, "quenmor-artwork: cannot write %s\n", qPrintable(args[3]));
        ok = false;
    }
    return ok ? 0 : 1;
}
