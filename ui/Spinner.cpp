#include "Spinner.h"

#include "Colors.h"

#include <QPainter>

namespace {
constexpr int spokes = 8;
}

Spinner::Spinner(QWidget *parent) : QWidget(parent) {
    setFixedSize(sizeHint());
    setAccessibleName(u"In progress"_qs);
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % spokes;
        update();
    });
}

void Spinner::showEvent(QShowEvent *) {
    m_timer.start();
}

void Spinner::hideEvent(QHideEvent *) {
    m_timer.stop();
}

void Spinner::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(QRectF(rect()).center());
    const double radius = std::min(width(), height()) / 2.0;
    for (int i = 0; i < spokes; ++i) {
        QColor color = tint(Tint::primary, palette());
        const int age = (m_step - i + spokes) % spokes;
        color.setAlphaF(static_cast<float>(0.75 - 0.08 * age));
        painter.setPen(QPen(color, radius / 4.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.85));
        painter.rotate(360.0 / spokes);
    }
}
