#include "Checksums.h"

#include <QList>

namespace {

bool isLineBreak(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x0a && u <= 0x0d) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

template <typename Predicate>
QList<QStringView> splitWhere(QStringView text, Predicate isSeparator) {
    QList<QStringView> parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isSeparator(text[i])) {
            if (i > start)
                parts.append(text.sliced(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

bool isDigest(QStringView word) {
    if (word.size() != 64)
        return false;
    for (QChar c : word) {
        const char16_t u = c.unicode();
        const bool hex =
            (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
        if (!hex)
            return false;
    }
    return true;
}

} // namespace

std::optional<QString> Checksums::sha256(QStringView fileName, QStringView text) {
    const QList<QStringView> lines = splitWhere(text, isLineBreak);
    for (QStringView line : lines) {
        const QList<QStringView> words = splitWhere(line, [](QChar c) { return c.isSpace(); });
        if (words.isEmpty() || !isDigest(words[0]))
            continue;
        if (words.size() == 1) {
            if (lines.size() == 1)
                return words[0].toString().toLower();
            continue;
        }
        QStringView name = words[1];
        if (name.startsWith(u'*'))
            name = name.sliced(1);
        if (name == fileName)
            return words[0].toString().toLower();
    }
    return std::nullopt;
}
