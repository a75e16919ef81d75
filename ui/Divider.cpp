#include "Divider.h"

#include "Colors.h"

#include <QPainter>

Divider::Divider(QWidget *parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    QColor line = tint(Tint::primary, palette());
    line.setAlphaF(isDark(palette()) ? 0.18f : 0.12f);
    painter.fillRect(rect(), line);
}
