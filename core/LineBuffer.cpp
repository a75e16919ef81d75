#include "LineBuffer.h"

#include <QStringDecoder>

namespace {

// Enough for what one full read of a pipe decodes to.
constexpr qsizetype largestKeptText = 128 * 1024;

// Lines are decoded with no state carried from one call to the next; a byte order mark is a
// character like any other, kept wherever it stands.
QStringDecoder lineDecoder() {
    return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                    QStringDecoder::Flag::ConvertInitialBom);
}

} // namespace

LineBuffer::Lines LineBuffer::append(QByteArrayView data) {
    // Only a chunk that could make a line too long needs the closer look.
    if (!m_dropping && m_pending.size() + data.size() <= maxLineLength)
        return appendWithin(data);
    return appendWithin(cutLongLines(data));
}

QByteArray LineBuffer::cutLongLines(QByteArrayView data) {
    QByteArray kept;
    qsizetype length = m_pending.size();
    for (qsizetype start = 0; start < data.size();) {
        const qsizetype newline = data.indexOf('\n', start);
        const qsizetype end = newline < 0 ? data.size() : newline;
        if (!m_dropping) {
            const qsizetype room = maxLineLength - length;
            if (end - start <= room) {
                kept.append(data.sliced(start, end - start));
                length += end - start;
            } else {
                kept.append(data.sliced(start, room));
                kept.append('\n');
                m_dropping = true;
            }
        }
        if (newline < 0)
            break;
        // A cut line already ended where it was cut.
        if (!m_dropping)
            kept.append('\n');
        m_dropping = false;
        length = 0;
        start = newline + 1;
    }
    return kept;
}

LineBuffer::Lines LineBuffer::appendWithin(QByteArrayView data) {
    Lines lines;
    qsizetype newline = data.indexOf('\n');
    if (newline < 0) {
        m_pending.append(data);
        return lines;
    }
    // The first line may continue what is pending; the rest come straight from the chunk.
    m_pending.append(data.first(newline));
    const qsizetype lastNewline = data.lastIndexOf('\n');

    QStringDecoder decoder = lineDecoder();
    // Shrinking first keeps the storage when it is ours alone, and leaves a shared one untouched
    // instead of copying it; growing never initialises the new characters.
    m_text.resize(0);
    m_text.resize(decoder.requiredSpace(m_pending.size() + lastNewline - newline));
    QChar *out = m_text.data();
    const auto addLine = [&lines](QStringView line) {
        lines.m_lines.append(line.endsWith(u'\r') ? line.chopped(1) : line);
    };

    QChar *end = decoder.appendToBuffer(out, m_pending);
    addLine(QStringView(out, end));
    m_pending.clear();

    // A line feed is never part of a UTF-8 sequence and cuts short any broken one, so the
    // remaining lines decode in one go to the same text as each line alone.
    out = end;
    end = decoder.appendToBuffer(out, data.sliced(newline + 1, lastNewline - newline));
    const QStringView rest(out, end);
    for (qsizetype start = 0; start < rest.size();) {
        const qsizetype lineFeed = rest.indexOf(u'\n', start);
        addLine(rest.sliced(start, lineFeed - start));
        start = lineFeed + 1;
    }
    m_pending.append(data.sliced(lastNewline + 1));
    lines.m_text = m_text;
    if (m_text.capacity() > largestKeptText)
        m_text = QString();
    return lines;
}

std::optional<QString> LineBuffer::flush() {
    m_dropping = false;
    if (m_pending.isEmpty())
        return std::nullopt;
    QString last = lineDecoder().decode(m_pending);
    if (last.endsWith(u'\r'))
        last.chop(1);
    m_pending.clear();
    return last;
}
