#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QRectF>

class QPainter;

// The window's symbols, drawn as vectors in one colour.
enum class Symbol {
    arrowDownCircle,
    folder,
    clock,
    circle,
    checkmarkCircleFill,
    exclamationmarkCircleFill,
    xmarkCircle,
    xmarkCircleFill,
    exclamationmarkTriangleFill,
    magnifyingglassCircleFill,
    arrowClockwiseCircleFill,
    gearshape2,
};

// Symbols are rendered at the target's pixel size, so they stay crisp at any scale, and are
// cached per symbol, colour and size.
namespace Icons {
QPixmap pixmap(Symbol symbol, const QColor &color, int size, qreal devicePixelRatio);
// Draws the symbol centred in the square that fits the rectangle.
void paint(QPainter &painter, const QRectF &rect, Symbol symbol, const QColor &color);
QIcon icon(Symbol symbol, const QColor &color);
// The application's own icon, a tile with a download arrow; same drawing as tovik.svg.
QImage appImage(int size);
QIcon appIcon();
} // namespace Icons
