#include "ErrorText.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

bool mentions(const QString &text, const QStringList &phrases) {
    for (const QString &phrase : phrases)
        if (text.contains(phrase, Qt::CaseInsensitive))
            return true;
    return false;
}

const QStringList unreachable{u"Name or service not known"_qs,
                              u"nodename nor servname"_qs,
                              u"Temporary failure in name resolution"_qs,
                              u"not found"_qs,
                              u"Connection refused"_qs,
                              u"timed out"_qs,
                              u"Network is unreachable"_qs,
                              u"Network unreachable"_qs,
                              u"No route to host"_qs,
                              u"Connection reset"_qs,
                              u"Connection closed"_qs,
                              u"Network access is disabled"_qs};

// Drops what follows a bug-report request, "(caused by …)" quotes of Python exceptions and
// every sentence that talks about command-line options or links to yt-dlp's own pages.
QString withoutCommandLineAdvice(QString text) {
    if (const qsizetype report =
            text.indexOf(u"please report this issue"_qs, 0, Qt::CaseInsensitive);
        report >= 0)
        text.truncate(report);
    if (const qsizetype cause = text.indexOf(u" (caused by "_qs); cause >= 0)
        text.truncate(cause);
    static const QRegularExpression sentenceEnd(u"(?<=[.!?])\\s+"_qs);
    static const QRegularExpression advice(
        u"(^|\\s)--?[A-Za-z]|yt-dlp -U|https?://\\S*yt-dlp|^(Also )?see\\b"_qs,
        QRegularExpression::CaseInsensitiveOption);
    QStringList kept;
    for (const QString &sentence : text.split(sentenceEnd, Qt::SkipEmptyParts))
        if (!advice.match(sentence).hasMatch())
            kept.append(sentence);
    QString cleaned = kept.join(u' ').trimmed();
    while (cleaned.endsWith(u';') || cleaned.endsWith(u','))
        cleaned.chop(1);
    return cleaned;
}

std::optional<QString> httpError(const QString &text) {
    static const QRegularExpression http(u"HTTP Error (\\d{3}): ([^;(<]*)"_qs);
    const QRegularExpressionMatch match = http.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int status = match.captured(1).toInt();
    switch (status) {
    case 401:
    case 403:
        return u"The site refused access to this video (HTTP %1)."_qs.arg(status);
    case 404:
    case 410:
        return u"The site has no page at this link (HTTP %1). Check the link."_qs.arg(status);
    case 429:
        return u"The site is receiving too many requests (HTTP 429). Try again later."_qs;
    default:
        break;
    }
    if (status >= 500)
        return u"The site had a problem (HTTP %1). Try again later."_qs.arg(status);
    const QString reason = match.captured(2).trimmed();
    if (reason.isEmpty())
        return u"The site answered with HTTP error %1."_qs.arg(status);
    return u"The site answered with HTTP error %1, “%2”."_qs.arg(QString::number(status), reason);
}

} // namespace

QString ErrorText::forDownload(const QString &message) {
    if (const auto http = httpError(message))
        return *http;
    if (message.startsWith(u"Unable to download webpage"_qs) && mentions(message, unreachable))
        return u"The site could not be reached. Check the link and your internet connection."_qs;
    if (message.startsWith(u"Requested format is not available"_qs))
        return u"This video is not offered in the chosen format."_qs;
    if (message.startsWith(u"Unsupported URL"_qs))
        return u"Tovik cannot find a video at this link."_qs;
    if (message.contains(u"No space left on device"_qs))
        return u"The disk is full."_qs;
    const QString cleaned = withoutCommandLineAdvice(message);
    return cleaned.isEmpty() ? message.trimmed() : cleaned;
}

std::optional<QString> ErrorText::setupHint(const QString &message) {
    if (mentions(message, {u"SSL"_qs, u"TLS"_qs, u"certificate"_qs}))
        return u"A secure connection could not be made. Check the computer's date and time "
               "and any proxy settings, then try again."_qs;
    if (mentions(message, unreachable))
        return u"Check that this computer is connected to the internet, then try again."_qs;
    if (message.startsWith(u"Server returned"_qs))
        return u"The download site had a problem. Try again in a few minutes."_qs;
    if (mentions(message, {u"checksum"_qs}))
        return u"What arrived did not match what its makers published, so it was not kept. "
               "Try again later."_qs;
    if (mentions(message,
                 {u"unpack"_qs, u"does not start"_qs, u"space"_qs, u"permission"_qs, u"write"_qs}))
        return u"Check that your home folder has free space and can be written to, then try "
               "again."_qs;
    return std::nullopt;
}
