#include "TintedLabel.h"

#include <QApplication>
#include <QEvent>

TintedLabel::TintedLabel(const QString &text, Tint role, QWidget *parent)
    : QLabel(text, parent), m_role(role) {
    applyTint();
}

void TintedLabel::changeEvent(QEvent *event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)
        applyTint();
}

void TintedLabel::applyTint() {
    if (m_applying)
        return;
    m_applying = true;
    // Only the text role is set, so every other role keeps following the parent.
    const QPalette surrounding =
        parentWidget() ? parentWidget()->palette() : QApplication::palette(this);
    // Text is the role used on a Base background, such as the job list's.
    QPalette own;
    own.setColor(QPalette::WindowText, tint(m_role, surrounding));
    own.setColor(QPalette::Text, tint(m_role, surrounding));
    setPalette(own);
    m_applying = false;
}
