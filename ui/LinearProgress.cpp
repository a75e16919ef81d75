#include "LinearProgress.h"

#include "Colors.h"

#include <QPainter>
#include <algorithm>

LinearProgress::LinearProgress(QWidget *parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(u"Progress"_qs);
}

void LinearProgress::setValue(double value) {
    value = std::clamp(value, 0.0, 1.0);
    if (value == m_value)
        return;
    m_value = value;
    setAccessibleDescription(u"%1 %"_qs.arg(qRound(value * 100)));
    update();
}

void LinearProgress::paint(QPainter &painter, const QRectF &rect, double fraction,
                           const QPalette &palette) {
    const QRectF track(rect.left(), rect.center().y() - thickness / 2, rect.width(), thickness);
    const double radius = thickness / 2;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor trackColor = tint(Tint::primary, palette);
    trackColor.setAlphaF(isDark(palette) ? 0.16f : 0.10f);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, radius, radius);
    const double filled = track.width() * std::clamp(fraction, 0.0, 1.0);
    if (filled > 0) {
        painter.setBrush(tint(Tint::accent, palette));
        painter.drawRoundedRect(
            QRectF(track.topLeft(), QSizeF(std::max(filled, thickness), track.height())), radius,
            radius);
    }
    painter.restore();
}

void LinearProgress::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    paint(painter, rect(), m_value, palette());
}
