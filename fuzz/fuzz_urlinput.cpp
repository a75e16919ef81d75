#include "Invariant.h"
#include "URLInput.h"

#include <QSet>
#include <cstddef>
#include <cstdint>

// Arbitrary bytes, decoded the way pasted or dropped text would be.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QList<QUrl> links = URLInput::extract(text);

    QSet<QString> seen;
    for (const QUrl &link : links) {
        invariant(link.isValid(), "every link is valid");
        const QString scheme = link.scheme().toLower();
        invariant(scheme == u"http" || scheme == u"https", "every link is http or https");
        invariant(link.host().contains(u'.'), "every host has a full stop");
        const QString absolute = link.toString();
        invariant(!seen.contains(absolute), "no link appears twice");
        seen.insert(absolute);
    }

    // Every piece of a second copy repeats a piece of the first, so it adds no link.
    const QString twice = text + u'\n' + text;
    invariant(URLInput::extract(twice) == links, "a repeated text adds nothing");
    return 0;
}
