#include "YTDLPOutput.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

// Reads a line's bar-separated fields from left to right; whatever follows the last bar read
// stays together as the rest, further bars and all.
class Fields {
public:
    explicit Fields(QStringView line) : m_rest(line) {}

    // The text up to the next bar, or nothing when no bar is left; after the first nothing,
    // every further call gives nothing too, so checking the last field read is enough.
    std::optional<QStringView> next() {
        // A plain scan: the fields are too short for a library search to pay off.
        for (qsizetype bar = 0; bar < m_rest.size(); ++bar) {
            if (m_rest[bar] == u'|') {
                const QStringView field = m_rest.first(bar);
                m_rest = m_rest.sliced(bar + 1);
                return field;
            }
        }
        return std::nullopt;
    }

    QStringView rest() const { return m_rest; }

private:
    QStringView m_rest;
};

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Unreadable text reads as NaN: a value that every field treats as absent, as it must a NaN
// printed by yt-dlp itself. Plain doubles keep the hot path free of optionals in memory.
constexpr double unreadable = std::numeric_limits<double>::quiet_NaN();

// Digits with an optional minus sign and decimal point, 15 digits at most: what yt-dlp prints.
// The digits and the power of ten are then exact doubles, so one correctly rounded division gives
// the same value as the general reading below, several times faster.
double shortDecimal(QStringView text) {
    static constexpr double powersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    // Sign, 15 digits and the point; fewer than 18 digits also cannot overflow below.
    if (text.size() > 17)
        return unreadable;
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
            return unreadable;
    }
    if (p != end || wholeCount == 0 || wholeCount + fractionCount > 15)
        return unreadable;
    const double value = fractionCount == 0
                             ? static_cast<double>(digits)
                             : static_cast<double>(digits) / powersOfTen[fractionCount];
    return negative ? -value : value;
}

// Everything shortDecimal does not take: "NA", exponents, a plus sign, long or odd forms.
double generalNumber(QStringView text) {
    if (text.isEmpty() || text.size() > 64 || text == u"NA")
        return unreadable;
    char ascii[64];
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c > 0x7f)
            return unreadable;
        ascii[i] = static_cast<char>(c);
    }
    const char *end = ascii + text.size();
    // from_chars takes no leading "+", which the C-locale reading does.
    const char *begin = ascii[0] == '+' ? ascii + 1 : ascii;
    if (begin != ascii && (begin == end || *begin == '-'))
        return unreadable;
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end)
        return unreadable;
    return value;
}

// yt-dlp prints whole numbers, decimal fractions or "NA" (which from_chars does not take either).
double number(QStringView text) {
    const double value = shortDecimal(text);
    return std::isnan(value) ? generalNumber(text) : value;
}

std::optional<qint64> integer(QStringView text) {
    const double value = number(text);
    // 2^63 is the first double beyond qint64; NaN fails both comparisons, infinities the range.
    if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0))
        return std::nullopt;
    return static_cast<qint64>(std::trunc(value));
}

std::optional<double> speed(QStringView text) {
    const double value = number(text);
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

// After the marker: id|index|count|title, the title keeping any bars of its own.
std::optional<YTDLPEvent> item(Fields fields) {
    const std::optional<QStringView> id = fields.next();
    const std::optional<QStringView> index = fields.next();
    const std::optional<QStringView> count = fields.next();
    if (!count)
        return std::nullopt;
    return YTDLPEvent::Item{id->toString(), integer(*index), integer(*count),
                            fields.rest().toString()};
}

// After the marker: id|status|downloaded|total|estimate|speed|eta, optionally followed by
// |fragment index|fragment count (both absent when left off). The last field keeps any further
// bars.
std::optional<YTDLPEvent> progress(Fields fields) {
    const std::optional<QStringView> id = fields.next();
    const std::optional<QStringView> status = fields.next();
    const std::optional<QStringView> downloaded = fields.next();
    const std::optional<QStringView> total = fields.next();
    const std::optional<QStringView> estimate = fields.next();
    const std::optional<QStringView> speedField = fields.next();
    if (!speedField)
        return std::nullopt;
    std::optional<qint64> size = integer(*total);
    if (!size)
        size = integer(*estimate);
    YTDLPEvent::Progress event{id->toString(), *status == u"finished", integer(*downloaded),
                               size,           speed(*speedField),     std::nullopt};
    if (const std::optional<QStringView> eta = fields.next()) {
        // A line with an eta and only one more field is neither form.
        const std::optional<QStringView> index = fields.next();
        if (!index)
            return std::nullopt;
        event.eta = integer(*eta);
        event.fragmentIndex = integer(*index);
        event.fragmentCount = integer(fields.rest());
    } else {
        event.eta = integer(fields.rest());
    }
    return event;
}

// After the marker: id|path, the path keeping any bars of its own.
std::optional<YTDLPEvent> file(Fields fields) {
    const std::optional<QStringView> id = fields.next();
    if (!id || fields.rest().isEmpty())
        return std::nullopt;
    return YTDLPEvent::File{id->toString(), fields.rest().toString()};
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
    // The markers are "TKT|", "TKP|" and "TKF|"; checked by hand, as nearly every line is one.
    if (line.size() >= 4 && line[0] == u'T' && line[1] == u'K' && line[3] == u'|') {
        const Fields fields(line.sliced(4));
        switch (line[2].unicode()) {
        case u'T':
            return item(fields);
        case u'P':
            return progress(fields);
        case u'F':
            return file(fields);
        default:
            return std::nullopt;
        }
    }
    if (line.startsWith(u"ERROR: "))
        return error(line);
    return std::nullopt;
}
