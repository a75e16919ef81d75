#pragma once

#include "Colors.h"

#include <QWidget>

// One line of text that is shortened with "…" when it does not fit; the full text is then
// its tooltip.
class ElidedLabel : public QWidget {
    Q_OBJECT

public:
    ElidedLabel(Tint role, Qt::TextElideMode mode = Qt::ElideMiddle, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }
    // The text as it fits the label's current width.
    QString shownText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void updateToolTip();

    QString m_text;
    Tint m_role;
    Qt::TextElideMode m_mode;
};
