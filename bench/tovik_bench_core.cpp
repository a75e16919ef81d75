#include "LineBuffer.h"
#include "URLInput.h"
#include "YTDLPOutput.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr int repetitions = 7;
constexpr qsizetype chunkSize = 64 * 1024;
constexpr int progressLines = 1'000'000;
constexpr int linkCount = 10'000;

// The best of several runs, in seconds: the one least disturbed by the rest of the machine.
template <typename Work> double bestSeconds(Work work) {
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < repetitions; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, static_cast<double>(timer.nsecsElapsed()) / 1e9);
    }
    return best;
}

// What yt-dlp prints for a long fragment download: one progress line after another, a few
// dozen for each fragment.
QByteArray progressStream() {
    QByteArray stream;
    for (int i = 0; i < progressLines; ++i) {
        const int downloaded = (i % 5120) * 1024;
        stream += "TKP|abc123|downloading|" + QByteArray::number(downloaded) + "|NA|5242880.0|" +
                  QByteArray::number(262144.5 + i % 977, 'f', 1) + '|' +
                  QByteArray::number((5242880 - downloaded) / 262144) + '|' +
                  QByteArray::number(i / 40) + '|' + QByteArray::number(progressLines / 40) + '\n';
    }
    return stream;
}

qint64 bufferAndParse(const QByteArray &stream) {
    LineBuffer buffer;
    qint64 events = 0;
    for (qsizetype start = 0; start < stream.size(); start += chunkSize) {
        const LineBuffer::Lines lines = buffer.append(
            QByteArrayView(stream).sliced(start, std::min(chunkSize, stream.size() - start)));
        for (QStringView line : lines)
            events += YTDLPOutput::parse(line).has_value();
    }
    return events;
}

qint64 bufferOnly(const QByteArray &stream) {
    LineBuffer buffer;
    qint64 lines = 0;
    for (qsizetype start = 0; start < stream.size(); start += chunkSize)
        lines += buffer
                     .append(QByteArrayView(stream).sliced(
                         start, std::min(chunkSize, stream.size() - start)))
                     .size();
    return lines;
}

// The bare split into text lines: find each line feed and make a string of the line before it,
// the least anything that hands out lines as text must do.
qint64 textSplit(const QByteArray &stream) {
    qint64 characters = 0;
    const char *begin = stream.constData();
    const char *end = begin + stream.size();
    while (const void *found = std::memchr(begin, '\n', static_cast<std::size_t>(end - begin))) {
        const char *newline = static_cast<const char *>(found);
        characters += QString::fromUtf8(begin, newline - begin).size();
        begin = newline + 1;
    }
    return characters;
}

// Only finds the line feeds: no line is made, so nothing could use the result.
qint64 byteSplit(const QByteArray &stream) {
    qint64 lines = 0;
    const char *begin = stream.constData();
    const char *end = begin + stream.size();
    while (const void *found = std::memchr(begin, '\n', static_cast<std::size_t>(end - begin))) {
        ++lines;
        begin = static_cast<const char *>(found) + 1;
    }
    return lines;
}

void measureProgress() {
    const QByteArray stream = progressStream();
    qint64 events = 0;
    qint64 buffered = 0;
    qint64 characters = 0;
    qint64 lineFeeds = 0;
    const double parsed = bestSeconds([&] { events = bufferAndParse(stream); });
    const double buffering = bestSeconds([&] { buffered = bufferOnly(stream); });
    const double text = bestSeconds([&] { characters = textSplit(stream); });
    const double bytes = bestSeconds([&] { lineFeeds = byteSplit(stream); });
    if (events != progressLines || buffered != progressLines || lineFeeds != progressLines ||
        characters != stream.size() - progressLines) {
        std::printf("wrong count: %lld events, %lld lines\n", static_cast<long long>(events),
                    static_cast<long long>(buffered));
        std::exit(1);
    }
    const auto rate = [](double seconds) { return progressLines / seconds / 1e6; };
    std::printf("%d progress lines (%.1f MB) in 64 KiB chunks, best of %d\n", progressLines,
                static_cast<double>(stream.size()) / 1e6, repetitions);
    std::printf("  LineBuffer + YTDLPOutput::parse  %7.2f M lines/s  (goal >= 2)\n", rate(parsed));
    std::printf("  LineBuffer alone                 %7.2f M lines/s\n", rate(buffering));
    std::printf("  bare split into text lines       %7.2f M lines/s  (one string per line)\n",
                rate(text));
    std::printf("    ratio                          %7.2f x          (goal <= 5)\n", parsed / text);
    std::printf("  bare search for line feeds       %7.2f M lines/s  (makes no line)\n",
                rate(bytes));
    std::printf("    ratio                          %7.2f x          (goal <= 5)\n",
                parsed / bytes);
}

// Links in the forms people paste them: with and without scheme, wrapped, capitalised,
// separated by blanks, commas and line breaks, every tenth one a repeat.
QString linkText() {
    const QStringList forms = {u"https://www.example.com/watch?v=%1"_qs,
                               u"youtu.be/%1"_qs,
                               u"<https://vimeo.com/%1>"_qs,
                               u"\"http://media.example.org/videos/%1.mp4\""_qs,
                               u"HTTPS://CAPS.EXAMPLE.NET/Path/%1"_qs,
                               u"https://example.com/playlist?list=PL%1&index=3"_qs};
    const QStringList separators = {u" "_qs, u", "_qs, u"\n"_qs, u"\t"_qs, u"\r\n"_qs};
    QString text;
    for (int i = 0; i < linkCount; ++i) {
        const int id = i % 10 == 9 ? i - 7 : i;
        text += forms[id % forms.size()].arg(id) + separators[i % separators.size()];
    }
    return text;
}

void measureLinks() {
    const QString text = linkText();
    qsizetype links = 0;
    const double seconds = bestSeconds([&] { links = URLInput::extract(text).size(); });
    std::printf("URLInput::extract on %d links (%lld distinct), best of %d\n", linkCount,
                static_cast<long long>(links), repetitions);
    std::printf("  %.1f ms  (goal <= 50)\n", seconds * 1e3);
}

} // namespace

int main() {
    measureProgress();
    measureLinks();
    return 0;
}
