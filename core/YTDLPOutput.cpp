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
    // A plain scan: the fields are too short for a library search to pay off.
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] != u'|')
            continue;
        result.append(line.sliced(start, i - start));
        start = i + 1;
        if (result.size() == count - 1)
            break;
    }
    result.append(line.sliced(start));
    return result;
}

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Digits with an optional minus sign and decimal point, 15 digits at most: what yt-dlp prints.
// The digits and the power of ten are then exact doubles, so one correctly rounded division gives
// the same value as the general reading below, several times faster.
std::optional<double> shortDecimal(QStringView text) {
    static constexpr double powersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    // Sign, 15 digits and the point; fewer than 18 digits also cannot overflow below.
    if (text.size() > 17)
        return std::nullopt;
    const char16_t *p = text.utf16();
    const char16_t *end = p + text.size();
    const bool negative = p != end && *p == u'-';
    p += negative;
    qint64 digits = 0;
    const char16_t *wholeStart = p;
    for (; p != end && isDigit(*p); ++p)
        digits = digits * 10 + (*p - u'0');
    const qsizetype wholeCount = p - wholeStart;
    qsizetype fractionCount = 0;
    if (p != end && *p == u'.' && wholeCount > 0) {
        const char16_t *fractionStart = ++p;
        for (; p != end && isDigit(*p); ++p)
            digits = digits * 10 + (*p - u'0');
        fractionCount = p - fractionStart;
        if (fractionCount == 0)
            return std::nullopt;
    }
    if (p != end || wholeCount == 0 || wholeCount + fractionCount > 15)
        return std::nullopt;
    const double value = static_cast<double>(digits) / powersOfTen[fractionCount];
    return negative ? -value : value;
}

// yt-dlp prints whole numbers, decimal fractions or "NA"; anything unreadable is absent.
std::optional<double> number(QStringView text) {
    if (text.isEmpty() || text == u"NA" || text.size() > 64)
        return std::nullopt;
    if (const std::optional<double> value = shortDecimal(text))
        return value;
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
