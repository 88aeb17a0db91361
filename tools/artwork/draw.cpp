// Draws Zandrel's own pictures: the window icon, the logo, the Connect button plate, the
// backup window's small logo and the About window's community banner. Everything is drawn
// from code so the pictures can be changed and redrawn; draw.sh builds and runs this.
//
// usage: draw <output folder>

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------------------
// Helpers

QImage transparentLayer(QSize size) {
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

// Three passes of a box blur come close enough to a gaussian for glows and shadows.
QImage blurred(const QImage& source, int radius) {
    QImage img = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (radius < 1) return img;
    const int w = img.width();
    const int h = img.height();
    const int n = 2 * radius + 1;
    for (int pass = 0; pass < 3; ++pass) {
        for (int horizontal = 1; horizontal >= 0; --horizontal) {
            QImage out(img.size(), img.format());
            const int lines = horizontal ? h : w;
            const int len = horizontal ? w : h;
            for (int line = 0; line < lines; ++line) {
                auto at = [&](int i) -> QRgb& {
                    const int x = horizontal ? i : line;
                    const int y = horizontal ? line : i;
                    return reinterpret_cast<QRgb*>(img.scanLine(y))[x];
                };
                auto put = [&](int i, QRgb v) {
                    const int x = horizontal ? i : line;
                    const int y = horizontal ? line : i;
                    reinterpret_cast<QRgb*>(out.scanLine(y))[x] = v;
                };
                int sum[4] = {0, 0, 0, 0};
                auto add = [&](int i, int sign) {
                    if (i < 0 || i >= len) return;
                    const QRgb p = at(i);
                    sum[0] += sign * qRed(p);
                    sum[1] += sign * qGreen(p);
                    sum[2] += sign * qBlue(p);
                    sum[3] += sign * qAlpha(p);
                };
                for (int i = -radius; i <= radius; ++i) add(i, 1);
                for (int i = 0; i < len; ++i) {
                    put(i, qRgba(sum[0] / n, sum[1] / n, sum[2] / n, sum[3] / n));
                    add(i + radius + 1, 1);
                    add(i - radius, -1);
                }
            }
            img = out;
        }
    }
    return img;
}

// Adds a blurred copy of whatever `draw` paints, lightening what lies below.
void addGlow(QImage& canvas, int radius, double strength,
             const std::function<void(QPainter&)>& draw) {
    QImage layer = transparentLayer(canvas.size());
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        draw(p);
    }
    layer = blurred(layer, radius);
    QPainter p(&canvas);
    p.setCompositionMode(QPainter::CompositionMode_Plus);
    p.setOpacity(std::min(1.0, strength));
    p.drawImage(0, 0, layer);
    if (strength > 1.0) {
        p.setOpacity(strength - 1.0);
        p.drawImage(0, 0, layer);
    }
}

QColor scaled(const QColor& c, double f) {
    return QColor::fromRgbF(float(std::clamp(c.redF() * f, 0.0, 1.0)),
                            float(std::clamp(c.greenF() * f, 0.0, 1.0)),
                            float(std::clamp(c.blueF() * f, 0.0, 1.0)));
}

QPainterPath textPath(const QString& text, const QFont& font) {
    QPainterPath path;
    path.addText(0, 0, font, text);
    return path;
}

// Moves every point of `path` through `warp`; curves stay curves because their control
// points move with them.
QPainterPath warped(QPainterPath path, const std::function<QPointF(QPointF)>& warp) {
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPointF moved = warp(path.elementAt(i));
        path.setElementPositionAt(i, moved.x(), moved.y());
    }
    return path;
}

QImage opaqueCanvas(int w, int h, const QColor& fill = Qt::black) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(fill);
    return img;
}

bool save24(const QImage& img, const QString& path) {
    return img.convertToFormat(QImage::Format_RGB888).save(path, "PNG");
}

// ---------------------------------------------------------------------------------------
// The flag: a banner that waves more the further it is from the pole. The logo and the
// backup window's picture share it, drawn through different transforms.

struct Flag {
    double left = 24;    // where the cloth meets the pole
    double right = 290;  // the free end before waving
    double top = 26;
    double height = 70;
    double amplitude = 8.5;

    double u(double x) const { return (x - left) / (right - left); }

    // Vertical displacement of the cloth at fraction u of its length.
    double wave(double t) const {
        return amplitude * std::pow(t, 0.85) * std::sin(2 * kPi * 1.15 * t - 0.5);
    }

    double topAt(double t) const { return top + wave(t); }
    // The lower edge sways a little further than the upper one, as cloth hanging from it does.
    double bottomAt(double t) const { return top + height + 1.15 * wave(t); }

    // Tilt of the cloth, for light and shade.
    double slope(double t) const {
        const double e = 0.002;
        return (wave(t + e) - wave(t - e)) / (2 * e * (right - left));
    }

    // The free end is not straight either: it curls back a little in the middle.
    double endAt(double v) const { return right - 5 * std::sin(kPi * v); }

    QPainterPath outline() const {
        QPainterPath path;
        const int steps = 80;
        path.moveTo(left, topAt(0));
        for (int i = 1; i <= steps; ++i) {
            const double t = double(i) / steps;
            path.lineTo(left + t * (right - left), topAt(t));
        }
        for (int i = 1; i < 10; ++i) {
            const double v = i / 10.0;
            path.lineTo(endAt(v), topAt(1) + v * (bottomAt(1) - topAt(1)));
        }
        for (int i = steps; i >= 0; --i) {
            const double t = double(i) / steps;
            path.lineTo(left + t * (right - left), bottomAt(t));
        }
        path.closeSubpath();
        return path;
    }

    // Maps a point laid out on the flat cloth (x along the flag, y between top and
    // top + height) onto the waving cloth.
    QPointF onCloth(QPointF flat) const {
        const double t = std::clamp(u(flat.x()), 0.0, 1.0);
        const double v = (flat.y() - top) / height;
        return {flat.x(), topAt(t) + v * (bottomAt(t) - topAt(t))};
    }
};

void drawStars(QPainter& p, const QSizeF& area, unsigned seed, int count) {
    unsigned state = seed;
    auto next = [&]() {
        state = state * 1664525u + 1013904223u;
        return double(state >> 8) / double(1u << 24);
    };
    p.setPen(Qt::NoPen);
    for (int i = 0; i < count; ++i) {
        const QPointF at(next() * area.width(), next() * area.height());
        const double size = 0.5 + next() * 0.9;
        const int alpha = int(50 + next() * 120);
        p.setBrush(QColor(170, 200, 255, alpha));
        p.drawEllipse(at, size * 0.5, size * 0.5);
    }
}

// Paints the whole logo composition in 316 x 157 logical units through `toCanvas`.
void drawLogoScene(QImage& canvas, const QTransform& toCanvas, bool withStars) {
    const double scale = toCanvas.m11();
    auto glowRadius = [&](double r) { return std::max(1, int(std::lround(r * scale))); };
    const Flag flag;
    const QPainterPath cloth = flag.outline();

    // A cold blue haze behind the flag, the glow lighting up the dark.
    {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::Antialiasing);
        p.setTransform(toCanvas);
        // Elliptical, and black by the picture's edges so that it sits seamlessly on the
        // black windows around it.
        QRadialGradient haze(QPointF(0, 0), 1);
        haze.setColorAt(0.0, QColor(10, 40, 110));
        haze.setColorAt(0.45, QColor(4, 16, 50));
        haze.setColorAt(1.0, QColor(0, 0, 0));
        QBrush hazeBrush(haze);
        hazeBrush.setTransform(QTransform().translate(158, 62).scale(158, 95));
        p.setPen(Qt::NoPen);
        p.setBrush(hazeBrush);
        p.drawRect(QRectF(0, 0, 316, 157));
        if (withStars) drawStars(p, QSizeF(316, 157), 7u, 70);
    }

    // Outer glow of the cloth.
    addGlow(canvas, glowRadius(9), 1.6, [&](QPainter& p) {
        p.setTransform(toCanvas);
        p.fillPath(cloth, QColor(30, 110, 255));
    });
    addGlow(canvas, glowRadius(3), 0.8, [&](QPainter& p) {
        p.setTransform(toCanvas);
        p.fillPath(cloth, QColor(60, 150, 255));
    });

    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    p.setTransform(toCanvas);

    // Pole, lit from the left, with a round finial.
    {
        const QRectF pole(15.5, 12, 5, 160);
        QLinearGradient metal(pole.left(), 0, pole.right(), 0);
        metal.setColorAt(0.0, QColor(70, 85, 120));
        metal.setColorAt(0.35, QColor(225, 235, 255));
        metal.setColorAt(0.7, QColor(120, 135, 170));
        metal.setColorAt(1.0, QColor(30, 35, 60));
        p.setPen(Qt::NoPen);
        p.setBrush(metal);
        p.drawRect(pole);
        QRadialGradient ball(QPointF(16.5, 7.5), 6);
        ball.setColorAt(0.0, QColor(255, 255, 255));
        ball.setColorAt(0.4, QColor(170, 200, 245));
        ball.setColorAt(1.0, QColor(40, 60, 110));
        p.setBrush(ball);
        p.drawEllipse(QPointF(18, 9), 4.6, 4.6);
    }

    // Cloth: blue, brighter where it faces up towards the light.
    {
        QLinearGradient shade(flag.left, 0, flag.right, 0);
        const QColor base(25, 95, 235);
        for (int i = 0; i <= 60; ++i) {
            const double t = i / 60.0;
            const double light = 1.0 - 2.6 * flag.slope(t);
            shade.setColorAt(t, scaled(base, 0.55 + 0.5 * std::clamp(light, 0.3, 1.5)));
        }
        p.fillPath(cloth, shade);

        // Hotter light near the middle of the cloth: the glow comes from within.
        QRadialGradient core(QPointF(160, 58), 130);
        core.setColorAt(0.0, QColor(120, 200, 255, 120));
        core.setColorAt(1.0, QColor(120, 200, 255, 0));
        p.fillPath(cloth, core);

        // Dark where it meets the pole and along the lower hem.
        QLinearGradient hem(0, flag.top, 0, flag.top + flag.height + 12);
        hem.setColorAt(0.0, QColor(255, 255, 255, 70));
        hem.setColorAt(0.18, QColor(255, 255, 255, 0));
        hem.setColorAt(0.75, QColor(0, 0, 40, 0));
        hem.setColorAt(1.0, QColor(0, 0, 40, 110));
        p.fillPath(cloth, hem);

        p.setPen(QPen(QColor(150, 210, 255), 1.1));
        p.setBrush(Qt::NoBrush);
        p.drawPath(cloth);

        // Two faint stripes along the cloth follow its folds.
        p.save();
        p.setClipPath(cloth);
        for (double v : {0.12, 0.88}) {
            QPainterPath stripe;
            for (int i = 0; i <= 80; ++i) {
                const double x = flag.left + (flag.right - flag.left) * i / 80.0;
                const QPointF at = flag.onCloth({x, flag.top + v * flag.height});
                if (i == 0)
                    stripe.moveTo(at);
                else
                    stripe.lineTo(at);
            }
            p.setPen(QPen(QColor(170, 220, 255, 110), 1.4));
            p.drawPath(stripe);
        }
        p.restore();
    }
    p.end();

    // The name, laid out flat and then bent onto the cloth.
    QFont font("Liberation Sans");
    font.setBold(true);
    font.setPixelSize(52);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    QPainterPath name = textPath("ZANDREL", font);
    const QRectF box = name.boundingRect();
    const double textWidth = 218;
    const double textHeight = 44;
    const QPointF textTopLeft(flag.left + (flag.right - flag.left - textWidth) / 2 + 2,
                              flag.top + (flag.height - textHeight) / 2);
    name = QTransform()
               .translate(textTopLeft.x(), textTopLeft.y())
               .scale(textWidth / box.width(), textHeight / box.height())
               .translate(-box.left(), -box.top())
               .map(name);
    name = warped(name, [&](QPointF pt) { return flag.onCloth(pt); });

    // Drop shadow pressed into the cloth.
    {
        QImage shadow = transparentLayer(canvas.size());
        QPainter sp(&shadow);
        sp.setRenderHint(QPainter::Antialiasing);
        sp.setTransform(toCanvas);
        sp.translate(2.0, 2.5);
        sp.fillPath(name, QColor(0, 8, 45, 230));
        sp.end();
        shadow = blurred(shadow, glowRadius(2));
        QPainter cp(&canvas);
        cp.drawImage(0, 0, shadow);
    }

    p.begin(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    p.setTransform(toCanvas);
    // White capitals whose lower half turns to ice blue, like light on polished metal.
    const QRectF nameBox = name.boundingRect();
    QLinearGradient letters(0, nameBox.top(), 0, nameBox.bottom());
    letters.setColorAt(0.0, QColor(255, 255, 255));
    letters.setColorAt(0.50, QColor(235, 245, 255));
    letters.setColorAt(0.53, QColor(120, 185, 255));
    letters.setColorAt(1.0, QColor(60, 130, 255));
    p.setPen(QPen(QColor(0, 25, 95), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(name);
    p.setPen(Qt::NoPen);
    p.setBrush(letters);
    p.drawPath(name);
    p.end();

    addGlow(canvas, glowRadius(4), 0.45, [&](QPainter& gp) {
        gp.setTransform(toCanvas);
        gp.fillPath(name, QColor(140, 200, 255));
    });
}

QImage drawLogo() {
    QImage canvas = opaqueCanvas(316, 157);
    drawLogoScene(canvas, QTransform(), true);
    return canvas;
}

// The backup window lays its title and list headings over the lower part of this picture,
// so the small logo keeps to the top left and fades out beneath.
QImage drawBackupPicture() {
    QImage canvas = opaqueCanvas(158, 79);
    drawLogoScene(canvas, QTransform().translate(3, 1).scale(0.4, 0.4), false);
    QPainter p(&canvas);
    QLinearGradient fade(0, 40, 0, 52);
    fade.setColorAt(0.0, QColor(0, 0, 0, 0));
    fade.setColorAt(1.0, QColor(0, 0, 0, 255));
    p.fillRect(canvas.rect(), fade);
    return canvas;
}

// ---------------------------------------------------------------------------------------
// The Connect button plate: a bevelled panel with a light blue rim around a dark blue mesh.

QPolygonF chamfered(const QRectF& r, double cut) {
    return QPolygonF({QPointF(r.left() + cut, r.top()), QPointF(r.right() - cut, r.top()),
                      QPointF(r.right(), r.top() + cut), QPointF(r.right(), r.bottom() - cut),
                      QPointF(r.right() - cut, r.bottom()), QPointF(r.left() + cut, r.bottom()),
                      QPointF(r.left(), r.bottom() - cut), QPointF(r.left(), r.top() + cut)});
}

QImage drawPlate() {
    QImage canvas = opaqueCanvas(183, 60);
    const QRectF outerRect(3.5, 3.5, 176, 53);
    const QPolygonF outer = chamfered(outerRect, 9);
    const QPolygonF inner = chamfered(outerRect.adjusted(5, 5, -5, -5), 6);

    addGlow(canvas, 3, 1.0, [&](QPainter& p) {
        p.setPen(QPen(QColor(40, 120, 255), 2.5));
        p.drawPolygon(outer);
    });

    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);

    // Bevel: each face of the frame gets its own light, brightest on the top and left.
    const QColor faces[4] = {QColor(120, 185, 250), QColor(40, 90, 175), QColor(20, 55, 120),
                             QColor(85, 150, 230)};  // top, right, bottom, left
    p.setPen(Qt::NoPen);
    for (int side = 0; side < 4; ++side) {
        // outer/inner corner indices of the polygon, two per side plus the chamfers
        const int a = (side * 2 + 7) % 8;
        QPolygonF face;
        for (int k = 0; k < 4; ++k) face << outer[(a + k) % 8];
        for (int k = 3; k >= 0; --k) face << inner[(a + k) % 8];
        QLinearGradient g(outer[(a + 1) % 8], outer[(a + 2) % 8]);
        g.setColorAt(0.0, faces[side]);
        g.setColorAt(0.5, scaled(faces[side], 1.12));
        g.setColorAt(1.0, faces[side]);
        p.setBrush(g);
        p.drawPolygon(face);
    }

    // The recessed field: dark blue, darkest in the middle where the caption sits.
    QPainterPath field;
    field.addPolygon(inner);
    field.closeSubpath();
    QLinearGradient deep(0, inner.boundingRect().top(), 0, inner.boundingRect().bottom());
    deep.setColorAt(0.0, QColor(0, 30, 95));
    deep.setColorAt(0.5, QColor(0, 14, 55));
    deep.setColorAt(1.0, QColor(0, 24, 80));
    p.fillPath(field, deep);

    p.save();
    p.setClipPath(field);
    // Mesh: two sets of fine diagonals.
    const QRectF fb = inner.boundingRect();
    p.setPen(QPen(QColor(40, 100, 200, 120), 0.8));
    for (double x = fb.left() - fb.height(); x < fb.right() + fb.height(); x += 5) {
        p.drawLine(QPointF(x, fb.top()), QPointF(x + fb.height(), fb.bottom()));
        p.drawLine(QPointF(x + fb.height(), fb.top()), QPointF(x, fb.bottom()));
    }
    // Knots of the mesh catch a little light.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(90, 160, 255, 90));
    for (double y = fb.top() + 2.5; y < fb.bottom(); y += 5)
        for (double x = fb.left() + (int((y - fb.top()) / 5) % 2 ? 2.5 : 0); x < fb.right(); x += 5)
            p.drawEllipse(QPointF(x, y), 0.7, 0.7);
    // Vignette: keep the centre dark for the white caption.
    QRadialGradient vignette(fb.center(), fb.width() * 0.55);
    vignette.setColorAt(0.0, QColor(0, 6, 30, 150));
    vignette.setColorAt(0.6, QColor(0, 6, 30, 60));
    vignette.setColorAt(1.0, QColor(0, 6, 30, 0));
    p.fillRect(fb, vignette);
    // Inner shadow under the upper bevel.
    QLinearGradient lip(0, fb.top(), 0, fb.top() + 6);
    lip.setColorAt(0.0, QColor(0, 0, 20, 170));
    lip.setColorAt(1.0, QColor(0, 0, 20, 0));
    p.fillRect(fb, lip);
    p.restore();

    // Rims: a bright outer edge and a thin dark line where the bevel drops into the field.
    QLinearGradient rim(outerRect.topLeft(), outerRect.bottomRight());
    rim.setColorAt(0.0, QColor(200, 235, 255));
    rim.setColorAt(0.5, QColor(130, 195, 255));
    rim.setColorAt(1.0, QColor(70, 140, 230));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QBrush(rim), 1.3));
    p.drawPolygon(outer);
    p.setPen(QPen(QColor(0, 10, 40), 1.0));
    p.drawPolygon(inner);
    return canvas;
}

// ---------------------------------------------------------------------------------------
// The About window's banner for the map makers' community site. It is shown squeezed to
// about 224 x 42, so it keeps to big shapes and two lines of bold type.

QPainterPath contour(QPointF centre, double radius, double phase) {
    QPainterPath path;
    const int steps = 120;
    for (int i = 0; i <= steps; ++i) {
        const double a = 2 * kPi * i / steps;
        const double r =
            radius * (1 + 0.13 * std::sin(3 * a + phase) + 0.07 * std::sin(5 * a - 1.7 * phase) +
                      0.04 * std::cos(7 * a + 0.5 * phase));
        const QPointF pt(centre.x() + r * std::cos(a) * 1.5, centre.y() + r * std::sin(a));
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    path.closeSubpath();
    return path;
}

QImage drawBanner() {
    QImage canvas = opaqueCanvas(287, 81);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient ground(0, 0, 287, 81);
    ground.setColorAt(0.0, QColor(34, 30, 26));
    ground.setColorAt(1.0, QColor(18, 20, 24));
    p.fillRect(canvas.rect(), ground);

    // Contour lines of an imaginary map.
    p.setBrush(Qt::NoBrush);
    for (int k = 1; k <= 9; ++k) {
        p.setPen(QPen(QColor(255, 150, 40, k % 3 == 0 ? 70 : 38), k % 3 == 0 ? 1.1 : 0.8));
        p.drawPath(contour(QPointF(46, 44), k * 7.5, k * 0.35));
        p.drawPath(contour(QPointF(262, 8), k * 6.0, 1.0 + k * 0.3));
    }

    // Map pin.
    {
        const QPointF tip(38, 66);
        QPainterPath pin;
        pin.moveTo(tip);
        pin.cubicTo(QPointF(30, 52), QPointF(22, 44), QPointF(22, 32));
        pin.arcTo(QRectF(22, 16, 32, 32), 180, -180);
        pin.cubicTo(QPointF(54, 44), QPointF(46, 52), tip);
        pin.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 110));
        p.drawPath(pin.translated(2, 2));
        QLinearGradient body(22, 16, 54, 60);
        body.setColorAt(0.0, QColor(255, 200, 90));
        body.setColorAt(0.55, QColor(240, 130, 20));
        body.setColorAt(1.0, QColor(170, 70, 10));
        p.setBrush(body);
        p.drawPath(pin);
        p.setBrush(QColor(30, 24, 20));
        p.drawEllipse(QPointF(38, 32), 7, 7);
        p.setBrush(QColor(255, 235, 190, 170));
        p.drawEllipse(QPointF(31, 24), 3.2, 2.2);
        // Its shadow on the ground.
        p.setBrush(QColor(255, 150, 40, 60));
        p.drawEllipse(QPointF(38, 68), 9, 2.5);
    }

    QFont big("Liberation Sans");
    big.setBold(true);
    big.setPixelSize(31);
    QPainterPath top = textPath("MAP MAKERS'", big);
    QFont small("Liberation Sans");
    small.setBold(true);
    small.setPixelSize(19);
    small.setLetterSpacing(QFont::AbsoluteSpacing, 6.2);
    QPainterPath bottom = textPath("COMMUNITY", small);

    const double left = 66;
    const double width = 212;
    auto fit = [&](QPainterPath path, double y, double h) {
        const QRectF b = path.boundingRect();
        return QTransform()
            .translate(left, y)
            .scale(width / b.width(), h / b.height())
            .translate(-b.left(), -b.top())
            .map(path);
    };
    top = fit(top, 12, 25);
    bottom = fit(bottom, 48, 16);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 150));
    p.drawPath(top.translated(1.5, 1.5));
    p.drawPath(bottom.translated(1.5, 1.5));
    QLinearGradient cream(0, 12, 0, 37);
    cream.setColorAt(0.0, QColor(255, 250, 238));
    cream.setColorAt(1.0, QColor(235, 215, 180));
    p.setBrush(cream);
    p.drawPath(top);
    p.setBrush(QColor(255, 155, 35));
    p.drawPath(bottom);

    // Rule between the two lines, with a gap for nothing but rhythm.
    p.setPen(QPen(QColor(255, 155, 35, 200), 1.2));
    p.drawLine(QPointF(left, 42.5), QPointF(left + width, 42.5));

    p.setPen(QPen(QColor(255, 155, 35, 150), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, 286, 80));
    return canvas;
}

// ---------------------------------------------------------------------------------------
// The program icon: a helmeted figure's head and shoulders in profile, in the classic
// 16-colour palette with no transparency.

const QList<QRgb>& standardPalette() {
    static const QList<QRgb> palette = {
        qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
        qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
        qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
        qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
    return palette;
}

enum Ink {
    Black = 0,
    Navy = 4,
    Purple = 5,
    Silver = 7,
    Grey = 8,
    Blue = 12,
    Fuchsia = 13,
    White = 15
};

QColor ink(Ink i) {
    return QColor::fromRgb(standardPalette()[i]);
}

// Nearest colour among the inks the icon uses, so antialiased edges fall to one side or
// the other instead of to unrelated palette colours.
QImage quantised(const QImage& rgb, const std::vector<Ink>& inks) {
    QImage out(rgb.size(), QImage::Format_Indexed8);
    out.setColorTable(standardPalette());
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb c = rgb.pixel(x, y);
            int best = 0;
            int bestDistance = 1 << 30;
            for (Ink i : inks) {
                const QRgb q = standardPalette()[i];
                const int dr = qRed(c) - qRed(q);
                const int dg = qGreen(c) - qGreen(q);
                const int db = qBlue(c) - qBlue(q);
                const int d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
                if (d < bestDistance) {
                    bestDistance = d;
                    best = i;
                }
            }
            out.setPixel(x, y, uint(best));
        }
    }
    return out;
}

QImage drawIcon() {
    QImage canvas = opaqueCanvas(32, 32);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);

    // Chest and the far shoulder, facing right, in shadow.
    QPainterPath body;
    body.moveTo(0, 32);
    body.cubicTo(QPointF(0, 27), QPointF(4, 23), QPointF(10, 22.5));
    body.lineTo(22, 22.5);
    body.cubicTo(QPointF(27, 23), QPointF(30.5, 26.5), QPointF(31.5, 32));
    body.closeSubpath();
    p.setBrush(ink(Navy));
    p.drawPath(body);
    // Light catching the front of the chest plate.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ink(Blue), 1.0));
    QPainterPath chestEdge;
    chestEdge.moveTo(22.5, 23.6);
    chestEdge.cubicTo(QPointF(26.5, 24.4), QPointF(29, 27), QPointF(30.3, 31.5));
    p.drawPath(chestEdge);
    p.setPen(Qt::NoPen);

    // Neck seal with a collar ring.
    p.setBrush(ink(Navy));
    p.drawRect(QRectF(11, 18, 10, 5));
    p.setBrush(ink(Blue));
    p.drawRect(QRectF(12, 21, 9, 1));

    // Shoulder pad nearest the viewer.
    QPainterPath pad;
    pad.moveTo(2, 32);
    pad.cubicTo(QPointF(1.5, 27), QPointF(5, 23.5), QPointF(10.5, 23.5));
    pad.cubicTo(QPointF(16, 23.5), QPointF(20, 27), QPointF(19.5, 32));
    pad.closeSubpath();
    p.setBrush(ink(Purple));
    p.drawPath(pad);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ink(Fuchsia), 1.0));
    QPainterPath padEdge;
    padEdge.moveTo(3.4, 28);
    padEdge.cubicTo(QPointF(4.6, 25.6), QPointF(7.2, 24.4), QPointF(10.5, 24.4));
    padEdge.cubicTo(QPointF(13.5, 24.4), QPointF(15.8, 25.2), QPointF(17, 26.5));
    p.drawPath(padEdge);
    // The pad's lower plate.
    p.setPen(QPen(ink(Navy), 1.0));
    p.drawLine(QPointF(3, 29.5), QPointF(19, 29.5));
    p.setPen(Qt::NoPen);

    // Helmet in profile: round at the back, a jutting chin guard at the front.
    QPainterPath helmet;
    helmet.moveTo(8.5, 20.5);
    helmet.cubicTo(QPointF(5, 18), QPointF(4, 12), QPointF(5.8, 8));
    helmet.cubicTo(QPointF(7.8, 4), QPointF(12, 2), QPointF(16.5, 2));
    helmet.cubicTo(QPointF(21.5, 2), QPointF(25, 4.5), QPointF(26.2, 8.5));
    helmet.lineTo(28.5, 14.5);
    helmet.lineTo(27.5, 18.5);
    helmet.lineTo(22, 21);
    helmet.lineTo(12, 21);
    helmet.closeSubpath();
    p.setBrush(ink(Purple));
    p.drawPath(helmet);

    p.save();
    p.setClipPath(helmet);
    // The back of the helmet turns away from the light.
    p.setBrush(ink(Navy));
    p.drawEllipse(QRectF(-1, 5, 9.5, 19));
    // Seam running from the back of the helmet to the visor.
    p.setBrush(ink(Navy));
    p.drawRect(QRectF(5, 15, 13, 1));
    p.restore();

    // Rim light over the crown.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ink(Fuchsia), 1.0));
    QPainterPath crest;
    crest.moveTo(7.5, 6.8);
    crest.cubicTo(QPointF(10, 3.6), QPointF(14, 2.7), QPointF(20.5, 3.2));
    p.drawPath(crest);
    p.setPen(Qt::NoPen);

    // Visor: wraps round the front of the face, its lower half in the helmet's shadow.
    QPainterPath visor;
    visor.moveTo(15.5, 8.5);
    visor.cubicTo(QPointF(19, 7.2), QPointF(23.5, 7.2), QPointF(26.6, 8.8));
    visor.lineTo(28.3, 13.6);
    visor.cubicTo(QPointF(25, 14.6), QPointF(20.5, 14.6), QPointF(17.5, 13.8));
    visor.cubicTo(QPointF(16, 12.5), QPointF(15.2, 10.5), QPointF(15.5, 8.5));
    visor.closeSubpath();
    p.setBrush(ink(Fuchsia));
    p.drawPath(visor);
    p.save();
    p.setClipPath(visor);
    p.setBrush(ink(Purple));
    p.drawRect(QRectF(14, 12.6, 16, 3));
    p.restore();
    // Glint on the visor.
    p.setBrush(ink(White));
    p.drawRect(QRectF(21, 9, 3, 1));
    p.drawRect(QRectF(24, 10, 1, 1));

    // Ear piece.
    p.setBrush(ink(Blue));
    p.drawRect(QRectF(10, 10, 3, 4));
    p.setBrush(ink(Navy));
    p.drawRect(QRectF(11, 11, 1, 2));

    // Breathing vents on the chin guard.
    p.setBrush(ink(Navy));
    p.drawRect(QRectF(22, 16, 4, 1));
    p.drawRect(QRectF(22, 18, 3, 1));
    p.end();

    return quantised(canvas, {Black, Navy, Purple, Blue, Fuchsia, White});
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]) + '/';

    const QImage icon = drawIcon();
    bool ok = icon.save(dir + "icon.png", "PNG");
    // The desktop icon: the same pixels, enlarged without smoothing.
    ok = icon.scaled(256, 256, Qt::IgnoreAspectRatio, Qt::FastTransformation)
             .save(dir + "zandrel.png", "PNG") &&
         ok;
    ok = save24(drawLogo(), dir + "logo.png") && ok;
    ok = save24(drawPlate(), dir + "plate.png") && ok;
    ok = save24(drawBackupPicture(), dir + "backup.png") && ok;
    ok = save24(drawBanner(), dir + "banner.png") && ok;
    if (!ok) {
        std::fprintf(stderr, "could not write the pictures into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
