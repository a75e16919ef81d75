#include "EmptyState.h"

#include "Fonts.h"
#include "SymbolView.h"
#include "TintedLabel.h"

#include <QVBoxLayout>

EmptyState::EmptyState(QWidget *parent) : QWidget(parent) {
    // The same ground as the list it stands in for.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    auto *symbol = new SymbolView(Symbol::arrowDownCircle, Tint::secondary, 44);
    auto *title = new TintedLabel(u"No downloads yet"_qs, Tint::primary);
    title->setFont(Fonts::title2(font()));
    title->setAlignment(Qt::AlignCenter);
    auto *description = new TintedLabel(
        u"Paste a link above, or drag one onto this window.\nFiles are saved as MP4 or M4A."_qs,
        Tint::secondary);
    description->setAlignment(Qt::AlignCenter);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(0);
    layout->addStretch();
    layout->addWidget(symbol, 0, Qt::AlignHCenter);
    layout->addSpacing(12);
    layout->addWidget(title);
    layout->addSpacing(8);
    layout->addWidget(description);
    layout->addStretch();
}
