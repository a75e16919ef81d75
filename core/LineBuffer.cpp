#include "LineBuffer.h"

namespace {

QString decodeLine(QByteArrayView bytes) {
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    return QString::fromUtf8(bytes);
}

} // namespace

QStringList LineBuffer::append(QByteArrayView data) {
    QStringList lines;
    qsizetype newline = data.indexOf('\n');
    if (newline < 0) {
        m_pending.append(data);
        return lines;
    }
    // The first line may continue what is pending; the rest come straight from the chunk.
    m_pending.append(data.first(newline));
    lines.append(decodeLine(m_pending));
    m_pending.clear();
    qsizetype start = newline + 1;
    while ((newline = data.indexOf('\n', start)) >= 0) {
        lines.append(decodeLine(data.sliced(start, newline - start)));
        start = newline + 1;
    }
    m_pending.append(data.sliced(start));
    return lines;
}

std::optional<QString> LineBuffer::flush() {
    if (m_pending.isEmpty())
        return std::nullopt;
    QString last = decodeLine(m_pending);
    m_pending.clear();
    return last;
}
