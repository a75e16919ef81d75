#include "IconButton.h"

#include "Colors.h"

#include <QPainter>

IconButton::IconButton(QWidget *parent) : QAbstractButton(parent) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::TabFocus);
}

void IconButton::setSymbol(Symbol symbol, const QString &toolTip) {
    if (symbol == m_symbol && toolTip == this->toolTip())
        return;
    m_symbol = symbol;
    setToolTip(toolTip);
    setAccessibleName(toolTip);
    update();
}

QSize IconButton::sizeHint() const {
    return {26, 26};
}

void IconButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette &pal = palette();
    QColor color = tint(Tint::secondary, pal);
    if (isDown())
        color = tint(Tint::primary, pal);
    else if (underMouse())
        color.setAlphaF(0.8f);
    if (!isEnabled())
        color = tint(Tint::tertiary, pal);
    const QRectF square = QRectF(rect()).adjusted(3, 3, -3, -3);
    Icons::paint(painter, square, m_symbol, color);
    if (hasFocus()) {
        painter.setPen(QPen(tint(Tint::accent, pal), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
    }
}
