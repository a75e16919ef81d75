#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

// Collects byte chunks from a child's output and hands out complete UTF-8 text lines.
// Only a line feed ends a line; one trailing carriage return is dropped from each line.
// A line longer than maxLineLength bytes is handed out cut to that length as soon as it is
// known to be longer, and the rest of it, up to its line feed, is dropped: whatever a child
// prints, the buffer holds no more than one such line.
class LineBuffer {
public:
    static constexpr qsizetype maxLineLength = 1024 * 1024;

    // The lines completed by one append, decoded into one text for all of them rather than one
    // string per line, and handed out as views of it. Copies share that text, and the views stay
    // valid as long as any copy lives.
    class Lines {
    public:
        using const_iterator = QList<QStringView>::const_iterator;

        const_iterator begin() const { return m_lines.cbegin(); }
        const_iterator end() const { return m_lines.cend(); }
        qsizetype size() const { return m_lines.size(); }
        bool isEmpty() const { return m_lines.isEmpty(); }
        QStringView operator[](qsizetype index) const { return m_lines[index]; }

    private:
        friend class LineBuffer;
        QString m_text;
        QList<QStringView> m_lines;
    };

    Lines append(QByteArrayView data);
    std::optional<QString> flush();

private:
    Lines appendWithin(QByteArrayView data);
    // The chunk with every line cut to maxLineLength, a cut line ended by a line feed of its
    // own and the rest of it left out.
    QByteArray cutLongLines(QByteArrayView data);

    QByteArray m_pending;    // never holds a line feed between calls, nor more than maxLineLength
    bool m_dropping = false; // the rest of a cut line is still coming
    // The text of the last lines handed out. Its storage serves the next append once no Lines
    // holds it any more: a full chunk then needs no new text, which for a long busy stream would
    // otherwise mean fresh pages from the system for every chunk. Storage grown by one very long
    // line is not kept.
    QString m_text;
};
