#include "Icons.h"

#include <QIconEngine>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QtMath>
#include <cmath>
#include <numbers>

namespace {

// Symbols are designed on a 24 × 24 grid.
constexpr double grid = 24;
constexpr QPointF centre{12, 12};
constexpr double ringRadius = 9.4;
constexpr double lineWidth = 1.75;
constexpr double discRadius = ringRadius + lineWidth / 2;

QPen roundPen(const QColor &color, double width) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void ring(QPainter &p, const QColor &color) {
    p.setPen(roundPen(color, lineWidth));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, ringRadius, ringRadius);
}

void disc(QPainter &p, const QColor &color) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(centre, discRadius, discRadius);
}

// Further drawing punches holes into what is already there.
void startCutting(QPainter &p) {
    p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
}

void polyline(QPainter &p, std::initializer_list<QPointF> points, const QColor &color,
              double width) {
    p.setPen(roundPen(color, width));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(points.begin(), static_cast<int>(points.size()));
}

void dot(QPainter &p, QPointF at, double radius, const QColor &color) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(at, radius, radius);
}

void downArrow(QPainter &p, const QColor &color) {
    polyline(p, {{12, 6.8}, {12, 16.6}}, color, lineWidth);
    polyline(p, {{8, 12.8}, {12, 16.8}, {16, 12.8}}, color, lineWidth);
}

void cross(QPainter &p, const QColor &color, double width) {
    polyline(p, {{8.6, 8.6}, {15.4, 15.4}}, color, width);
    polyline(p, {{15.4, 8.6}, {8.6, 15.4}}, color, width);
}

void folder(QPainter &p, const QColor &color) {
    QPainterPath outline;
    outline.moveTo(3.2, 18.8);
    outline.lineTo(3.2, 6.2);
    outline.lineTo(9.2, 6.2);
    outline.lineTo(11.2, 8.4);
    outline.lineTo(20.8, 8.4);
    outline.lineTo(20.8, 18.8);
    outline.closeSubpath();
    p.setPen(roundPen(color, lineWidth));
    p.setBrush(Qt::NoBrush);
    p.drawPath(outline);
    polyline(p, {{3.2, 11}, {20.8, 11}}, color, lineWidth);
}

void clock(QPainter &p, const QColor &color) {
    ring(p, color);
    polyline(p, {{12, 6.8}, {12, 12}, {15.6, 14.2}}, color, lineWidth);
}

void triangle(QPainter &p, const QColor &color) {
    const QPointF corners[] = {{12, 3}, {21.4, 20}, {2.6, 20}};
    // A wide round-joined outline rounds the corners of the filled triangle.
    p.setPen(roundPen(color, 3));
    p.setBrush(color);
    p.drawPolygon(corners, 3);
    startCutting(p);
    polyline(p, {{12, 9.2}, {12, 13.8}}, Qt::black, 2.1);
    dot(p, {12, 16.9}, 1.25, Qt::black);
}

void magnifier(QPainter &p, const QColor &color) {
    disc(p, color);
    startCutting(p);
    p.setPen(roundPen(Qt::black, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF{10.9, 10.9}, 3.5, 3.5);
    polyline(p, {{13.6, 13.6}, {16.6, 16.6}}, Qt::black, 2.4);
}

void clockwiseArrow(QPainter &p, const QColor &color) {
    disc(p, color);
    startCutting(p);
    const double radius = 4.6;
    const QPointF middle{11.6, 12.4};
    const QRectF bounds(middle.x() - radius, middle.y() - radius, 2 * radius, 2 * radius);
    // Clockwise from half past one round to just before twelve, leaving a gap for the head.
    constexpr double start = 45;
    constexpr double sweep = -265;
    QPainterPath arc;
    arc.arcMoveTo(bounds, start);
    arc.arcTo(bounds, start, sweep);
    p.setPen(roundPen(Qt::black, 2.1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);
    const double end = qDegreesToRadians(start + sweep);
    const QPointF outward(std::cos(end), -std::sin(end));
    const QPointF ahead(std::sin(end), std::cos(end));
    const QPointF tip = middle + outward * radius;
    const QPointF head[] = {tip + ahead * 4, tip + outward * 3.3 - ahead * 0.6,
                            tip - outward * 3.3 - ahead * 0.6};
    p.setPen(roundPen(Qt::black, 0.9));
    p.setBrush(Qt::black);
    p.drawPolygon(head, 3);
}

QPainterPath gear(QPointF middle, double outer, double inner, int teeth, double turn) {
    QPainterPath path;
    const int steps = teeth * 4;
    for (int i = 0; i < steps; ++i) {
        const double angle = 2 * std::numbers::pi * (i + turn) / steps;
        const double radius = (i % 4 < 2) ? outer : inner;
        const QPointF point = middle + QPointF(std::cos(angle), std::sin(angle)) * radius;
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    path.closeSubpath();
    return path;
}

void gears(QPainter &p, const QColor &color) {
    p.setPen(roundPen(color, 1));
    p.setBrush(color);
    p.drawPath(gear({9.8, 13.9}, 8.1, 5.9, 8, 0.5));
    p.drawPath(gear({18.1, 5.9}, 4.9, 3.4, 6, 0));
    startCutting(p);
    dot(p, {9.8, 13.9}, 2.6, Qt::black);
    dot(p, {18.1, 5.9}, 1.5, Qt::black);
}

void draw(QPainter &p, Symbol symbol, const QColor &color) {
    switch (symbol) {
    case Symbol::arrowDownCircle:
        ring(p, color);
        downArrow(p, color);
        return;
    case Symbol::folder:
        folder(p, color);
        return;
    case Symbol::clock:
        clock(p, color);
        return;
    case Symbol::circle:
        ring(p, color);
        return;
    case Symbol::checkmarkCircleFill:
        disc(p, color);
        startCutting(p);
        polyline(p, {{7.6, 12.4}, {10.6, 15.4}, {16.4, 8.8}}, Qt::black, 2.2);
        return;
    case Symbol::exclamationmarkCircleFill:
        disc(p, color);
        startCutting(p);
        polyline(p, {{12, 6.9}, {12, 12.8}}, Qt::black, 2.2);
        dot(p, {12, 16.5}, 1.35, Qt::black);
        return;
    case Symbol::xmarkCircle:
        ring(p, color);
        cross(p, color, lineWidth);
        return;
    case Symbol::xmarkCircleFill:
        disc(p, color);
        startCutting(p);
        cross(p, Qt::black, 2.1);
        return;
    case Symbol::exclamationmarkTriangleFill:
        triangle(p, color);
        return;
    case Symbol::magnifyingglassCircleFill:
        magnifier(p, color);
        return;
    case Symbol::arrowClockwiseCircleFill:
        clockwiseArrow(p, color);
        return;
    case Symbol::gearshape2:
        gears(p, color);
        return;
    }
}

QImage render(int pixels, qreal devicePixelRatio, double designSize,
              const std::function<void(QPainter &)> &drawing) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(pixels / designSize, pixels / designSize);
    drawing(p);
    p.end();
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

QPixmap cachedSymbol(Symbol symbol, const QColor &color, int pixels, qreal devicePixelRatio) {
    pixels = std::max(1, pixels);
    const QString key = u"tovik-symbol-%1-%2-%3"_qs.arg(static_cast<int>(symbol))
                            .arg(color.rgba(), 8, 16, QLatin1Char('0'))
                            .arg(pixels);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) {
        cached.setDevicePixelRatio(devicePixelRatio);
        return cached;
    }
    // Drawn opaque and made translucent as a whole, so that overlapping strokes of a
    // translucent colour do not add up to a darker shade.
    QColor opaque = color;
    opaque.setAlpha(255);
    QPixmap result = QPixmap::fromImage(render(pixels, devicePixelRatio, grid, [&](QPainter &p) {
        draw(p, symbol, opaque);
        p.resetTransform();
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        p.fillRect(QRect(0, 0, pixels, pixels), QColor(0, 0, 0, color.alpha()));
    }));
    QPixmapCache::insert(key, result);
    return result;
}

class SymbolEngine final : public QIconEngine {
public:
    SymbolEngine(Symbol symbol, QColor color) : m_symbol(symbol), m_color(color) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override {
        Icons::paint(*painter, rect, m_symbol, colorFor(mode));
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1);
    }
    // Qt hands over the size in device pixels.
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        return cachedSymbol(m_symbol, colorFor(mode), std::min(size.width(), size.height()), scale);
    }
    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        return {side, side};
    }
    QIconEngine *clone() const override { return new SymbolEngine(m_symbol, m_color); }
    bool isNull() override { return false; }
    QString key() const override { return u"TovikSymbol"_qs; }

private:
    QColor colorFor(QIcon::Mode mode) const {
        if (mode != QIcon::Disabled)
            return m_color;
        QColor faded = m_color;
        faded.setAlphaF(faded.alphaF() * 0.4f);
        return faded;
    }

    Symbol m_symbol;
    QColor m_color;
};

class AppIconEngine final : public QIconEngine {
public:
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override {
        const int side = std::min(rect.width(), rect.height());
        const qreal ratio = painter->device()->devicePixelRatioF();
        const QImage image = Icons::appImage(qRound(side * ratio));
        painter->drawImage(QRect(rect.topLeft(), QSize(side, side)), image);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1);
    }
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode, QIcon::State, qreal scale) override {
        const int side = std::min(size.width(), size.height());
        QPixmap pixmap = QPixmap::fromImage(Icons::appImage(side));
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {{16, 16}, {32, 32}, {64, 64}, {128, 128}, {256, 256}};
    }
    QIconEngine *clone() const override { return new AppIconEngine; }
    bool isNull() override { return false; }
    QString key() const override { return u"TovikAppIcon"_qs; }
};

} // namespace

QPixmap Icons::pixmap(Symbol symbol, const QColor &color, int size, qreal devicePixelRatio) {
    return cachedSymbol(symbol, color, qRound(size * devicePixelRatio), devicePixelRatio);
}

void Icons::paint(QPainter &painter, const QRectF &rect, Symbol symbol, const QColor &color) {
    const double side = std::min(rect.width(), rect.height());
    const QRectF square(rect.center() - QPointF(side, side) / 2, QSizeF(side, side));
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1;
    const double scale = painter.transform().m11();
    const QPixmap image = pixmap(symbol, color, qRound(side * scale), ratio);
    painter.drawPixmap(square, image, QRectF(QPointF(), QSizeF(image.size())));
}

QIcon Icons::icon(Symbol symbol, const QColor &color) {
    return QIcon(new SymbolEngine(symbol, color));
}

QImage Icons::appImage(int size) {
    // Designed on a 128 grid; packaging/tovik.svg holds the same shapes.
    return render(size, 1, 128, [](QPainter &p) {
        QLinearGradient fill(0, 8, 0, 120);
        fill.setColorAt(0, QColor(0x5b, 0x8c, 0xff));
        fill.setColorAt(1, QColor(0x33, 0x46, 0xd3));
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(QRectF(8, 8, 112, 112), 26, 26);
        p.setPen(roundPen(Qt::white, 11));
        p.drawLine(QPointF(64, 28), QPointF(64, 76));
        const QPointF head[] = {{42, 56}, {64, 78}, {86, 56}};
        p.drawPolyline(head, 3);
        p.setPen(roundPen(Qt::white, 9));
        const QPointF tray[] = {{34, 86}, {34, 97}, {94, 97}, {94, 86}};
        p.drawPolyline(tray, 4);
    });
}

QIcon Icons::appIcon() {
    return QIcon(new AppIconEngine);
}
