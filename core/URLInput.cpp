#include "URLInput.h"

#include <QSet>

namespace {

bool isSeparator(QChar c) {
    return c.isSpace() || c == u',';
}

bool isWrapper(QChar c) {
    return c == u'<' || c == u'>' || c == u'"' || c == u'\'';
}

QStringView stripWrappers(QStringView piece) {
    while (!piece.isEmpty() && isWrapper(piece.front()))
        piece = piece.sliced(1);
    while (!piece.isEmpty() && isWrapper(piece.back()))
        piece.chop(1);
    return piece;
}

std::optional<QUrl> acceptedLink(QStringView piece) {
    QString candidate = stripWrappers(piece).toString();
    if (!candidate.contains(u"://") && candidate.contains(u'.'))
        candidate.prepend(u"https://");
    const QUrl url(candidate, QUrl::TolerantMode);
    if (!url.isValid())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != u"http" && scheme != u"https")
        return std::nullopt;
    if (!url.host().contains(u'.'))
        return std::nullopt;
    return url;
}

} // namespace

QList<QUrl> URLInput::extract(QStringView text) {
    QList<QUrl> links;
    QSet<QString> seen;
    qsizetype start = 0;
    const qsizetype length = text.size();
    while (start < length) {
        while (start < length && isSeparator(text[start]))
            ++start;
        qsizetype end = start;
        while (end < length && !isSeparator(text[end]))
            ++end;
        if (end > start) {
            if (const auto url = acceptedLink(text.sliced(start, end - start))) {
                const QString absolute = url->toString();
                if (!seen.contains(absolute)) {
                    seen.insert(absolute);
                    links.append(*url);
                }
            }
        }
        start = end;
    }
    return links;
}
