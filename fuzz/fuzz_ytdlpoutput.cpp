#include "Invariant.h"
#include "LineBuffer.h"
#include "YTDLPOutput.h"

#include <QStringDecoder>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <utility>
#include <vector>

namespace {

// UTF-8 with replacements, a sequence cut short at the end included, and a byte order mark
// kept as the character it is.
QString decoded(QByteArrayView bytes) {
    return QStringDecoder(QStringDecoder::Utf8,
                          QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom)
        .decode(bytes);
}

// One line as the contract reads it: decoded, then one final CR dropped.
QString decodedLine(QByteArrayView bytes) {
    QString line = decoded(bytes);
    if (line.endsWith(u'\r'))
        line.chop(1);
    return line;
}

// The lines of the whole stream, split in one go.
QStringList wholeLines(QByteArrayView stream) {
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        if (stream[i] == '\n') {
            lines.append(decodedLine(stream.sliced(start, i - start)));
            start = i + 1;
        }
    }
    return lines;
}

std::optional<QString> wholeRest(QByteArrayView stream) {
    const qsizetype start = stream.lastIndexOf('\n') + 1;
    if (start == stream.size())
        return std::nullopt;
    return decodedLine(stream.sliced(start));
}

QString field(const QString &line, qsizetype index) {
    return line.section(u'|', index, index);
}

// The general reading of a number field, which any quicker path in the parser must agree with:
// the C locale's floating-point syntax, one optional leading plus sign; fields over 64 characters
// are not read.
std::optional<double> generalNumber(const QString &text) {
    if (text.isEmpty() || text == u"NA" || text.size() > 64)
        return std::nullopt;
    const QByteArray bytes = text.toLatin1();
    const char *begin = bytes.constData();
    const char *end = begin + bytes.size();
    if (*begin == '+' && end - begin > 1 && begin[1] != '-')
        ++begin;
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

std::optional<qint64> generalInteger(const QString &text) {
    const std::optional<double> value = generalNumber(text);
    if (!value || !(*value >= -9223372036854775808.0 && *value < 9223372036854775808.0))
        return std::nullopt;
    return static_cast<qint64>(std::trunc(*value));
}

std::optional<double> generalSpeed(const QString &text) {
    const std::optional<double> value = generalNumber(text);
    if (!value || !std::isfinite(*value))
        return std::nullopt;
    return value;
}

void checkEvent(const QString &line) {
    const std::optional<YTDLPEvent> event = YTDLPOutput::parse(line);
    invariant(event.has_value() || !line.startsWith(u"ERROR: "), "every error line is an event");
    if (!event) {
        return;
    }
    if (const auto *item = std::get_if<YTDLPEvent::Item>(&event->value)) {
        invariant(line.startsWith(u"TKT|"), "an item comes from an item line");
        invariant(line == u"TKT|" + item->id + u'|' + field(line, 2) + u'|' + field(line, 3) +
                              u'|' + item->title,
                  "id and title are the item line's fields");
        invariant(item->index == generalInteger(field(line, 2)) &&
                      item->count == generalInteger(field(line, 3)),
                  "index and count are read as numbers");
    } else if (const auto *progress = std::get_if<YTDLPEvent::Progress>(&event->value)) {
        invariant(line.startsWith(u"TKP|"), "progress comes from a progress line");
        const qsizetype bars = line.count(u'|');
        invariant(bars == 7 || bars >= 9, "a progress line has eight fields, or ten and more");
        invariant(field(line, 1) == progress->id, "the id is field 1");
        invariant(progress->finished == (field(line, 2) == u"finished"),
                  "finished exactly when field 2 says so");
        const std::optional<qint64> total = generalInteger(field(line, 4));
        invariant(progress->downloaded == generalInteger(field(line, 3)) &&
                      progress->total == (total ? total : generalInteger(field(line, 5))) &&
                      progress->speed == generalSpeed(field(line, 6)),
                  "the numbers are read as numbers");
        // Without the fragment fields the eta is the rest of the line; with them the count is.
        const bool fragments = bars >= 9;
        invariant(progress->eta ==
                          generalInteger(fragments ? field(line, 7) : line.section(u'|', 7)) &&
                      progress->fragmentIndex ==
                          (fragments ? generalInteger(field(line, 8)) : std::nullopt) &&
                      progress->fragmentCount ==
                          (fragments ? generalInteger(line.section(u'|', 9)) : std::nullopt),
                  "eta and fragments are read as numbers");
    } else if (const auto *file = std::get_if<YTDLPEvent::File>(&event->value)) {
        invariant(line.startsWith(u"TKF|"), "a file comes from a file line");
        invariant(!file->path.isEmpty(), "a path is never empty");
        invariant(line == u"TKF|" + file->id + u'|' + file->path,
                  "id and path are the file line's fields");
    } else {
        const auto &error = std::get<YTDLPEvent::Error>(event->value);
        invariant(line.startsWith(u"ERROR: "), "an error comes from an error line");
        invariant(line.endsWith(error.message), "the message is the end of the line");
    }
}

} // namespace

// A child's output as it would arrive through a pipe: the bytes come from the front of the input,
// the length of each chunk from its back.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    QByteArray stream;
    LineBuffer buffer;
    QStringList lines;
    // The lines of chunks of odd length are kept while the buffer goes on, which must not
    // change them; the others are dropped at once, so the buffer may reuse their storage.
    std::vector<std::pair<LineBuffer::Lines, QStringList>> kept;
    while (provider.remaining_bytes() > 0) {
        const std::vector<char> chunk =
            provider.ConsumeBytes<char>(provider.ConsumeIntegral<std::uint8_t>());
        const QByteArrayView bytes(chunk.data(), static_cast<qsizetype>(chunk.size()));
        stream.append(bytes);
        const LineBuffer::Lines complete = buffer.append(bytes);
        QStringList texts;
        for (QStringView line : complete) {
            invariant(!line.contains(u'\n'), "no line holds a line feed");
            texts.append(line.toString());
        }
        lines += texts;
        if (bytes.size() % 2 == 1)
            kept.emplace_back(complete, texts);
    }
    const std::optional<QString> rest = buffer.flush();
    invariant(!buffer.flush(), "a flushed buffer is empty");
    for (const auto &[complete, texts] : kept) {
        invariant(complete.size() == texts.size(), "kept lines keep their number");
        for (qsizetype i = 0; i < texts.size(); ++i)
            invariant(complete[i] == texts[i], "kept lines keep their text");
    }

    invariant(lines == wholeLines(stream), "chunking changes no line");
    invariant(rest == wholeRest(stream), "chunking changes no remainder");

    // Decoding line by line equals decoding the whole stream, less the dropped carriage returns.
    QString joined;
    for (const QString &line : lines)
        joined += line + u'\n';
    joined += rest.value_or(QString());
    QString whole = decoded(stream).replace(u"\r\n"_qs, u"\n"_qs);
    if (whole.endsWith(u'\r'))
        whole.chop(1);
    invariant(joined == whole, "the lines reproduce the decoded stream");

    for (const QString &line : lines)
        checkEvent(line);
    if (rest)
        checkEvent(*rest);
    return 0;
}
