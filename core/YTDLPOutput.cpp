#include "YTDLPOutput.h"

#include <QVarLengthArray>
#include <charconv>
#include <cmath>

namespace {

using Fields = QVarLengthArray<QStringView, 8>;

// Splits at the first count - 1 bars only, so the last field keeps any further bars.
Fields fields(QStringView line, qsizetype count) {
    Fields result;
    qsizetype start = 0;
    while (result.size() < count - 1) {
        const qsizetype bar = line.indexOf(u'|', start);
        if (bar < 0)
            break;
        result.append(line.sliced(start, bar - start));
        start = bar + 1;
    }
    result.append(line.sliced(start));
    return result;
}

// yt-dlp prints whole numbers, decimal fractions or "NA"; anything unreadable is absent.
std::optional<double> number(QStringView text) {
    if (text.isEmpty() || text == u"NA" || text.size() > 64)
        return std::nullopt;
    char ascii[64];
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c > 0x7f)
            return std::nullopt;
        ascii[i] = static_cast<char>(c);
    }
    const char *end = ascii + text.size();
    // from_chars takes no leading "+", which the C-locale reading does.
    const char *begin = ascii[0] == '+' ? ascii + 1 : ascii;
    if (begin != ascii && (begin == end || *begin == '-'))
        return std::nullopt;
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

std::optional<qint64> integer(QStringView text) {
    const std::optional<double> value = number(text);
    // 2^63 is the first double beyond qint64; NaN fails both comparisons, infinities the range.
    if (!value || !(*value >= -9223372036854775808.0 && *value < 9223372036854775808.0))
        return std::nullopt;
    return static_cast<qint64>(std::trunc(*value));
}

std::optional<double> speed(QStringView text) {
    const std::optional<double> value = number(text);
    if (!value || !std::isfinite(*value))
        return std::nullopt;
    return value;
}

std::optional<YTDLPEvent> item(QStringView line) {
    const Fields f = fields(line, 5);
    if (f.size() < 5)
        return std::nullopt;
    return YTDLPEvent::Item{f[1].toString(), integer(f[2]), integer(f[3]), f[4].toString()};
}

std::optional<YTDLPEvent> progress(QStringView line) {
    const Fields f = fields(line, 8);
    if (f.size() < 8)
        return std::nullopt;
    std::optional<qint64> total = integer(f[4]);
    if (!total)
        total = integer(f[5]);
    return YTDLPEvent::Progress{f[1].toString(), f[2] == u"finished", integer(f[3]),
                                total,           speed(f[6]),         integer(f[7])};
}

std::optional<YTDLPEvent> file(QStringView line) {
    const Fields f = fields(line, 3);
    if (f.size() < 3 || f[2].isEmpty())
        return std::nullopt;
    return YTDLPEvent::File{f[1].toString(), f[2].toString()};
}

// "ERROR: [extractor] id: message" becomes "message"; other forms stay whole.
YTDLPEvent error(QStringView line) {
    QStringView message = line.sliced(7);
    if (message.startsWith(u'[')) {
        const qsizetype bracket = message.indexOf(u']');
        if (bracket >= 0) {
            const qsizetype colon = message.indexOf(u": ", bracket);
            if (colon >= 0)
                message = message.sliced(colon + 2);
        }
    }
    return YTDLPEvent::Error{message.toString()};
}

} // namespace

std::optional<YTDLPEvent> YTDLPOutput::parse(QStringView line) {
    if (line.startsWith(u"TKT|"))
        return item(line);
    if (line.startsWith(u"TKP|"))
        return progress(line);
    if (line.startsWith(u"TKF|"))
        return file(line);
    if (line.startsWith(u"ERROR: "))
        return error(line);
    return std::nullopt;
}
