#include "LinearProgress.h"

#include "Colors.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QPainter>
#include <algorithm>

namespace {

// A read-only progress bar from 0 to 100.
class AccessibleProgress : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit AccessibleProgress(LinearProgress *bar)
        : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void *interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value)
            return u"%1 %"_qs.arg(percent());
        return QAccessibleWidget::text(kind);
    }
    QVariant currentValue() const override { return percent(); }
    void setCurrentValue(const QVariant &) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 0; }

private:
    int percent() const { return qRound(static_cast<LinearProgress *>(widget())->value() * 100); }
};

QAccessibleInterface *accessibleProgress(const QString &className, QObject *object) {
    if (className == u"LinearProgress"_qs && object && object->isWidgetType())
        return new AccessibleProgress(static_cast<LinearProgress *>(object));
    return nullptr;
}

} // namespace

LinearProgress::LinearProgress(QWidget *parent) : QWidget(parent) {
    static const bool registered = [] {
        QAccessible::installFactory(accessibleProgress);
        return true;
    }();
    Q_UNUSED(registered)
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void LinearProgress::setValue(double value) {
    value = std::clamp(value, 0.0, 1.0);
    if (value == m_value)
        return;
    m_value = value;
    QAccessibleValueChangeEvent event(this, qRound(value * 100));
    QAccessible::updateAccessibility(&event);
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
