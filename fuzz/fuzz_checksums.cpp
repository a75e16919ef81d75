#include "Checksums.h"
#include "Invariant.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

bool isLowerHex(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f');
}

bool isLineBreak(QChar c) {
    switch (c.unicode()) {
    case u'\n':
    case u'\v':
    case u'\f':
    case u'\r':
    case u'\u0085':
    case u'\u2028':
    case u'\u2029':
        return true;
    default:
        return false;
    }
}

// The same lines, each break written as a carriage return and line feed.
QString withCrLf(const QString &text) {
    QString result;
    for (QChar c : text) {
        if (isLineBreak(c))
            result += u"\r\n";
        else
            result += c;
    }
    return result;
}

} // namespace

// The requested file name, a NUL byte, then the checksum file's text; both decoded as UTF-8.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const char *bytes = reinterpret_cast<const char *>(data);
    const void *nul = std::memchr(bytes, 0, size);
    const std::size_t nameLength =
        nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - bytes) : 0;
    const std::size_t textStart = nul ? nameLength + 1 : 0;
    const QString name = QString::fromUtf8(bytes, static_cast<qsizetype>(nameLength));
    const QString text =
        QString::fromUtf8(bytes + textStart, static_cast<qsizetype>(size - textStart));

    const std::optional<QString> digest = Checksums::sha256(name, text);
    if (digest) {
        invariant(digest->size() == 64, "a digest has 64 characters");
        invariant(std::all_of(digest->begin(), digest->end(), isLowerHex),
                  "a digest is lower-case hexadecimal");
        invariant(text.contains(*digest, Qt::CaseInsensitive), "a digest comes from the text");
    }
    invariant(Checksums::sha256(name, withCrLf(text)) == digest,
              "the kind of line break changes nothing");
    return 0;
}
