#pragma once

#include "Colors.h"

#include <QWidget>

// One line of text that is shortened in the middle when it does not fit.
class ElidedLabel : public QWidget {
    Q_OBJECT

public:
    ElidedLabel(Tint role, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    Tint m_role;
};
