#include "LinkField.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextLayout>
#include <QtMath>

namespace {
constexpr int maxLines = 4;
}

LinkField::LinkField(QWidget *parent) : QPlainTextEdit(parent) {
    setPlaceholderText(u"Paste a video link — or several, one per line"_qs);
    setAccessibleName(u"Links"_qs);
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Drops go to the main view, which accepts web links only.
    setAcceptDrops(false);
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &LinkField::fitHeight);
}

void LinkField::setText(const QString &text) {
    setPlainText(text);
    moveCursor(QTextCursor::End);
}

int LinkField::visibleLines() const {
    int lines = 0;
    for (QTextBlock block = document()->firstBlock(); block.isValid() && lines < maxLines;
         block = block.next())
        lines += block.layout() ? std::max(1, block.layout()->lineCount()) : 1;
    return std::clamp(lines, 1, maxLines);
}

int LinkField::heightFor(int lines) const {
    const int margins = qRound(2 * document()->documentMargin()) + contentsMargins().top() +
                        contentsMargins().bottom() + 2 * frameWidth();
    // The field counts each line at its height rounded up to whole pixels; with the rounded
    // down height of the font's metrics a larger font left the last line short, and scrolled.
    return lines * qCeil(QFontMetricsF(font()).lineSpacing()) + margins;
}

QSize LinkField::sizeHint() const {
    return {240, heightFor(m_lines)};
}

QSize LinkField::minimumSizeHint() const {
    return {120, heightFor(m_lines)};
}

void LinkField::fitHeight() {
    const int lines = visibleLines();
    if (lines == m_lines)
        return;
    m_lines = lines;
    updateGeometry();
}

void LinkField::resizeEvent(QResizeEvent *event) {
    QPlainTextEdit::resizeEvent(event);
    fitHeight();
}

void LinkField::keyPressEvent(QKeyEvent *event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        Q_EMIT submitted();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}
