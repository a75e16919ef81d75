#include "ProminentButton.h"

#include "Colors.h"

#include <QPainter>
#include <QPainterPath>

namespace {

struct Metrics {
    int height;
    int padding;
    double radius;
};

Metrics metrics(ProminentButton::Size size, const QFontMetrics &font) {
    if (size == ProminentButton::Size::large)
        return {font.height() + 18, 22, 8};
    return {font.height() + 10, 14, 6};
}

} // namespace

ProminentButton::ProminentButton(const QString &text, Size size, QWidget *parent)
    : QPushButton(text, parent), m_size(size) {
    setAttribute(Qt::WA_Hover);
    if (size == Size::large) {
        QFont larger = font();
        larger.setPointSizeF(larger.pointSizeF() * 1.1);
        setFont(larger);
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ProminentButton::sizeHint() const {
    const QFontMetrics fm(font());
    const Metrics m = metrics(m_size, fm);
    return {std::max(fm.horizontalAdvance(text()) + 2 * m.padding, m.height * 2), m.height};
}

void ProminentButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette &pal = palette();
    const Metrics m = metrics(m_size, fontMetrics());
    const QRectF body = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);

    QColor fill = prominentFill(pal);
    QColor text = prominentText(pal);
    if (!isEnabled()) {
        fill = tint(Tint::primary, pal);
        fill.setAlphaF(0.16f);
        text = tint(Tint::primary, pal);
        text.setAlphaF(0.5f);
    } else if (isDown()) {
        fill = fill.darker(115);
    } else if (underMouse()) {
        fill = fill.lighter(107);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(body, m.radius, m.radius);

    if (hasFocus()) {
        QColor ring = prominentFill(pal);
        ring.setAlphaF(0.5f);
        painter.setPen(QPen(ring, 2.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m.radius + 1,
                                m.radius + 1);
    }
    painter.setPen(text);
    painter.drawText(rect(), Qt::AlignCenter, this->text());
}
