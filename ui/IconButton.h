#pragma once

#include "Icons.h"

#include <QAbstractButton>

// A borderless button that shows only a symbol, in the secondary colour. Its tooltip is
// also its accessible name, so that it is announced the way it is labelled.
class IconButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit IconButton(QWidget *parent = nullptr);

    void setSymbol(Symbol symbol, const QString &toolTip);
    Symbol symbol() const { return m_symbol; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Symbol m_symbol = Symbol::circle;
};
