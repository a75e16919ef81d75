#include "LinkButton.h"

#include "Colors.h"

#include <QPainter>

LinkButton::LinkButton(const QString &text, QWidget *parent) : QPushButton(text, parent) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setFlat(true);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize LinkButton::sizeHint() const {
    const QFontMetrics fm(font());
    return {fm.horizontalAdvance(text()) + 6, fm.height() + 4};
}

void LinkButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QPalette &pal = palette();
    QColor color = tint(Tint::accent, pal);
    if (!isEnabled())
        color = tint(Tint::tertiary, pal);
    else if (isDown())
        color = isDark(pal) ? color.lighter(130) : color.darker(130);
    QFont font = this->font();
    font.setUnderline(underMouse() && isEnabled());
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(rect(), Qt::AlignCenter, text());
    if (hasFocus()) {
        QColor ring = tint(Tint::accent, pal);
        ring.setAlphaF(0.5f);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(ring, 1.5));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 3, 3);
    }
}
