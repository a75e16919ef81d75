#pragma once

#include "Colors.h"

#include <QLabel>

// A label whose text takes a colour role (secondary, red…) from the surrounding palette,
// and follows it when the palette changes.
class TintedLabel : public QLabel {
    Q_OBJECT

public:
    TintedLabel(const QString &text, Tint role, QWidget *parent = nullptr);

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyTint();

    Tint m_role;
    bool m_applying = false;
};
