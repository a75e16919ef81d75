#include "SymbolView.h"

#include <QPainter>

SymbolView::SymbolView(Symbol symbol, Tint role, int size, QWidget *parent)
    : QWidget(parent), m_symbol(symbol), m_role(role), m_size(size) {
    setFixedSize(size, size);
}

void SymbolView::setSymbol(Symbol symbol, Tint role) {
    if (symbol == m_symbol && role == m_role)
        return;
    m_symbol = symbol;
    m_role = role;
    update();
}

void SymbolView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    Icons::paint(painter, rect(), m_symbol, tint(m_role, palette()));
}
