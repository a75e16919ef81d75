#pragma once

#include "Colors.h"
#include "Icons.h"

#include <QWidget>

// A symbol shown on its own, in a colour role of the palette.
class SymbolView : public QWidget {
    Q_OBJECT

public:
    SymbolView(Symbol symbol, Tint role, int size, QWidget *parent = nullptr);

    void setSymbol(Symbol symbol, Tint role);
    Symbol symbol() const { return m_symbol; }
    Tint role() const { return m_role; }
    QSize sizeHint() const override { return {m_size, m_size}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Symbol m_symbol;
    Tint m_role;
    int m_size;
};
