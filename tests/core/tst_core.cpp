#include "Checksums.h"
#include "CommandLine.h"
#include "LineBuffer.h"
#include "OutputFormat.h"
#include "URLInput.h"
#include "YTDLPCommand.h"
#include "YTDLPOutput.h"

#include <QTest>
#include <memory>

namespace {

const QString digestA = u"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08"_qs;
const QString digestB = u"60303ae22b998861bce3b28f33eec1be758a213c86c93c076dbe9f558c11c752"_qs;

// Which function a row of the text table feeds its input to.
enum Parser { checksum, links, ytdlpLine, commandLine };

// A row of the text table, tagged with its parser and its input, escaped.
void row(Parser parser, QStringView input, QStringView expected) {
    const std::unique_ptr<char[]> tag(QTest::toPrettyUnicode(input));
    const char *const names[] = {"checksum", "links", "yt-dlp", "command line"};
    QTest::addRow("%s %s", names[parser], tag.get())
        << parser << input.toString() << expected.toString();
}

// Every field of an event, "-" where it is absent.
QString describe(const std::optional<YTDLPEvent> &event) {
    const auto n = [](std::optional<qint64> v) { return v ? QString::number(*v) : u"-"_qs; };
    if (!event)
        return u"none"_qs;
    if (const auto *e = std::get_if<YTDLPEvent::Item>(&event->value))
        return u"item(%1,%2,%3,%4,%5)"_qs.arg(e->id, n(e->index), n(e->count), e->title,
                                              e->playlistTitle.value_or(u"-"_qs));
    if (const auto *e = std::get_if<YTDLPEvent::Progress>(&event->value))
        return u"progress(%1,%2,%3,%4,%5,%6,%7,%8)"_qs.arg(
            e->id, e->finished ? u"finished"_qs : u"running"_qs, n(e->downloaded), n(e->total),
            e->speed ? QString::number(*e->speed, 'g', QLocale::FloatingPointShortest) : u"-"_qs,
            n(e->eta), n(e->fragmentIndex), n(e->fragmentCount));
    if (const auto *e = std::get_if<YTDLPEvent::File>(&event->value))
        return u"file(%1,%2)"_qs.arg(e->id, e->path);
    return u"error(%1)"_qs.arg(std::get<YTDLPEvent::Error>(event->value).message);
}

} // namespace

class TestCore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void lineBuffer_data() {
        QTest::addColumn<QByteArray>("chunks"); // "|" between chunks
        QTest::addColumn<QString>("lines");     // each line followed by a line feed
        QTest::addColumn<std::optional<QString>>("rest");
        const auto row = [](const char *tag, const QByteArray &chunks, const QString &lines,
                            std::optional<QString> rest = {}) {
            QTest::newRow(tag) << chunks << lines << rest;
        };
        row("line across chunks, empty chunks", "|abc|def\nxy|", u"abcdef\n"_qs, u"xy"_qs);
        // Only one carriage return goes, at the line's end; empty lines stay.
        row("carriage returns", "\n\na\r\nb\r\r\n10%\r20%\n", u"\n\na\nb\r\n10%\r20%\n"_qs);
        row("lone carriage return remainder", "a\n\r", u"a\n"_qs, u""_qs);
        row("invalid bytes and broken sequences", "a\377b\na\342\nb\360\n\303\r\n",
            u"a\ufffdb\na\ufffd\nb\ufffd\n\ufffd\n"_qs);
        // Four bytes become two UTF-16 units; every line of the chunk shares one text.
        row("beyond the basic plane, byte order marks", "😀\n🎬🎬\n\ufeffa\n\ufeffb\n\ufeff",
            u"😀\n🎬🎬\n\ufeffa\n\ufeffb\n"_qs, u"\ufeff"_qs);

        // Lines at and beyond the longest one the buffer keeps.
        const qsizetype limit = LineBuffer::maxLineLength;
        const QByteArray full(limit, 'a');
        const QString cut = QString(limit, u'a') + u'\n';
        row("longest pending, then its line feed", full + "|\nz", cut, u"z"_qs);
        row("cut, the rest dropped to its line feed", full + "bbb|ccc|\nnext\n",
            cut + u"next\n"_qs);
        row("longest line kept whole, longer one cut between short ones",
            "x\n" + full + "\n" + full + "b\ny\n", u"x\n"_qs + cut + cut + u"y\n"_qs);
        row("a dropped rest is not flushed", full + "bbb", cut);
        row("cut through a character", full.first(limit - 1) + "\303\251\n",
            QString(limit - 1, u'a') + u"\ufffd\n"_qs);
    }

    void lineBuffer() {
        QFETCH(QByteArray, chunks);
        QFETCH(std::optional<QString>, rest);
        // The chunks as they come, then the same bytes one at a time, read the same. The lines
        // are views into a shared text: copies stay readable after the buffer is reused and gone.
        for (const bool bytewise : {false, true}) {
            QList<LineBuffer::Lines> kept;
            {
                LineBuffer buffer;
                const auto take = [&](QByteArrayView bytes) {
                    if (const LineBuffer::Lines lines = buffer.append(bytes); !lines.isEmpty())
                        kept.append(lines);
                };
                for (const QByteArray &chunk : chunks.split('|')) {
                    for (qsizetype i = 0; bytewise && i < chunk.size(); ++i)
                        take(chunk.sliced(i, 1));
                    if (!bytewise)
                        take(chunk);
                }
                QCOMPARE(buffer.flush(), rest);
                QCOMPARE(buffer.flush(), std::optional<QString>());
                QCOMPARE(buffer.append("z\n")[0], u"z"); // a flushed buffer starts afresh
            }
            QString got;
            for (const LineBuffer::Lines &lines : kept)
                for (QStringView line : lines)
                    got.append(line).append(u'\n');
            QTEST(got, "lines");
        }
    }

    // Each format: its persisted raw value, label, parts, height cap and yt-dlp arguments.
    void outputFormat_data() {
        QTest::addColumn<OutputFormat>("format");
        QTest::addColumn<int>("height");
        QTest::addColumn<QString>("link");
        using enum OutputFormat;
        QTest::newRow("video1080") << video1080 << 1080 << u"https://y.com/watch?v=dQw&list=PL1"_qs;
        QTest::newRow("video720") << video720 << 720 << u"https://a.com/-rf"_qs;
        QTest::newRow("video480") << video480 << 480 << u"https://a.com/watch?v=--help"_qs;
        QTest::newRow("audio") << audio << 0 << u"https://a.com/v%C3%ADdeo"_qs;
    }

    void outputFormat() {
        QFETCH(OutputFormat, format);
        QFETCH(int, height);
        QFETCH(QString, link);
        using enum OutputFormat;
        const QString raw = QString::fromLatin1(QTest::currentDataTag());
        QCOMPARE(allOutputFormats(), (QList<OutputFormat>{video1080, video720, video480, audio}));
        QCOMPARE(rawValue(format), raw);
        QCOMPARE(outputFormatFromRawValue(raw), format);
        // Raw values are read exactly as written: near misses are no format.
        for (const QString &miss :
             QStringList{raw.toUpper(), raw.first(1).toUpper() + raw.sliced(1), raw + u' ',
                         u' ' + raw, QString(), label(format)})
            QVERIFY2(!outputFormatFromRawValue(miss), qPrintable(miss));
        QCOMPARE(label(format),
                 height ? u"Video \u2014 up to %1p"_qs.arg(height) : u"Audio only (M4A)"_qs);
        QCOMPARE(expectedParts(format), height ? 2 : 1); // video and audio apart, or audio alone
        QCOMPARE(heightCap(format).value_or(0), height);

        const ToolPaths tools{QUrl::fromLocalFile(u"/Users/Zoë Ω/Tovik bin/yt-dlp"_qs),
                              QUrl::fromLocalFile(u"/opt/my tools/ffmpeg ü"_qs),
                              QUrl::fromLocalFile(u"/Users/Zoë Ω/Tovik bin/deno"_qs)};
        const QString head =
            u"--ignore-config, --no-colors, --newline, --progress, --no-simulate, --no-mtime, "
            u"--socket-timeout, 30, --js-runtimes, deno:/Users/Zoë Ω/Tovik bin/deno, "
            u"--ffmpeg-location, /opt/my tools/ffmpeg ü, -P, /home/zoë/Movies/My Clips 🎬, -o, "
            u"%(playlist_title|.)s/%(playlist_index|)s%(playlist_index& - |)s%(title)s.%(ext)s, "
            u"--progress-template, download:TKP|%(info.id)s|%(progress.status)s|"
            u"%(progress.downloaded_bytes)s|%(progress.total_bytes)s|"
            u"%(progress.total_bytes_estimate)s|%(progress.speed)s|%(progress.eta)s|"
            u"%(progress.fragment_index)s|%(progress.fragment_count)s, --print, "
            u"video:TKT|%(id)s|%(playlist_index)s|%(playlist_count)s|%(playlist_title|)j|"
            u"%(title)s, --print, after_move:TKF|%(id)s|%(filepath)s, "_qs;
        // The height stands in every video alternative but the last.
        const QString tail = height ? u"-f, bv*[vcodec^=avc1][height<=%1]+ba[ext=m4a]/"
                                      u"bv*[vcodec^=avc1][height<=%1]+ba/b[ext=mp4][height<=%1]/"
                                      u"b[ext=mp4], --merge-output-format, mp4"_qs.arg(height)
                                    : u"-f, ba[ext=m4a]/ba/b, -x, --audio-format, m4a"_qs;
        // Only the playlist flag depends on the playlist choice; the link comes last, after "--".
        for (const bool playlist : {false, true}) {
            const DownloadRequest request{QUrl(link), format, playlist,
                                          QUrl::fromLocalFile(u"/home/zoë/Movies/My Clips 🎬"_qs)};
            const QString flag = playlist ? u"--yes-playlist, "_qs : u"--no-playlist, "_qs;
            QCOMPARE(YTDLPCommand::arguments(request, tools),
                     QString(head + flag + tail + u", --, "_qs + link).split(u", "_qs));
        }
    }

    void text_data() {
        QTest::addColumn<Parser>("parser");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");

        // A checksum file's text after the file's name and " | "; <A> and <B> stand for two
        // digests, and a row finds <A> or nothing.
        const auto sum = [](QStringView name, const QString &text, bool found) {
            row(checksum, u"%1 | %2"_qs.arg(name, text), found ? u"<A>" : u"none");
        };
        // Names compare with case; a binary marker; words after the name.
        sum(u"yt-dlp_linux", u"<B>  YT-DLP_LINUX\n<B> *yt-dlp.exe\n<A> *yt-dlp_linux trailing"_qs,
            true);
        // An upper-case digest; the first match wins.
        sum(u"f", u"<B> g\n"_qs + digestA.toUpper() + u" f\n<B> f"_qs, true);
        // 63 or 65 characters or a letter beyond f are no digest.
        sum(u"f", digestB.left(63) + u" f\n<B>0 f\ng"_qs + digestB.mid(1) + u" f\n<A> f"_qs, true);
        // A file that holds only the digest, whatever name is asked for.
        sum(u"x", u"\n\r\n<A>  \n\n"_qs, true);
        // A digest-only line in a list is skipped.
        sum(u"f", u"<B>\n<A> f"_qs, true);
        sum(u"b", u"<B>\u2028<A>\u00a0\u2003b\u0085"_qs, true); // unicode line and word breaks
        sum(u"*b", u"<A> **b"_qs, true);                        // only the star is dropped
        sum(u"f", u"<A>\n   \n"_qs, false); // a whitespace line still counts as a line

        // Links, fully encoded, a blank between them.
        const auto url = [](QStringView text, QStringView found) { row(links, text, found); };
        url(u"https://a.com/1,b.com/2,,https://c.com/3\u00a0d.com/4\u2003e.com/5\r\nf.com/6",
            u"https://a.com/1 https://b.com/2 https://c.com/3 https://d.com/4 https://e.com/5 "
            u"https://f.com/6");
        // Wrappers go at the ends only; other punctuation stays.
        url(u"<https://a.com/x> \"'https://b.com/x'y'\" (see https://c.com/x). <https://d.com/x>!",
            u"https://a.com/x https://b.com/x'y https://c.com/x). https://d.com/x%3E!");
        // User info is no scheme.
        url(u"youtube.com/a?v=b HTTP://Example.com/Path x.y:8080/s?t#u mailto:me@a.com",
            u"https://youtube.com/a?v=b http://example.com/Path https://x.y:8080/s?t#u "
            u"https://mailto:me@a.com");
        // A duplicate keeps its first place; a trailing slash makes another link.
        url(u"https://a.com/1 https://b.com https://a.com/1 https://b.com/ a.com/1",
            u"https://a.com/1 https://b.com https://b.com/");
        // No link: separators, a word without a full stop, a bare machine name, other schemes,
        // wrappers alone, a host that does not parse.
        for (QStringView text :
             {u"", u" ,\n\t,\u00a0\u2028 ", u"hello world", u"http://localhost/x",
              u"ftp://a.com/x file:///tmp/a.mp4 javascript://a.com/x", u"<> '' \"\"",
              u"http://[::1/x"})
            url(text, u"");

        // yt-dlp's lines, read into events.
        const auto out = [](QStringView line, QStringView event) { row(ytdlpLine, line, event); };
        // Progress of item x while downloading: the fields after the status, and what they read as.
        const auto p = [](QStringView fields, QStringView event) {
            row(ytdlpLine, u"TKP|x|downloading|%1"_qs.arg(fields),
                u"progress(x,running,%1)"_qs.arg(event));
        };
        p(u"1|100|999|NA|NA", u"1,100,-,-,-,-"); // the total wins over the estimate
        p(u"46881|NA|93762.0|1024.5|3|1|4", u"46881,93762,1024.5,3,1,4");
        p(u"1|2|3|4|5|6|7|8", u"1,2,4,5,6,-"); // an extra bar spoils the fragment count
        // Plus signs; fractions truncate.
        p(u"+2.5e6|1234.9|NA|+1e3|-0.5", u"2500000,1234,1000,0,-,-");
        // Unreadable and read as absent: blanks, non-finite or huge values, hex, words, non-ASCII.
        p(u" 5|6 |0x10|ten|\u0661\u0662", u"-,-,-,-,-,-");
        p(u"inf|nan|1e300|infinity|9223372036854775808", u"-,-,-,-,-,-");
        // Short decimals read as written; long ones round through a double.
        p(u"-0|NA|999999999999999|0.3|123456789.012345", u"0,999999999999999,0.3,123456789,-,-");
        p(u"9007199254740993|-9223372036854775808|NA|0.30000000000000004441|9223372036854774784",
          u"9007199254740992,-9223372036854775808,0.30000000000000004,9223372036854774784,-,-");
        p(u"5.|-|.5|-.|-.5", u"5,0,-,0,-,-"); // bare points and lone signs
        out(u"TKP|abc|finished|519716|519716|NA|598240.25|NA|NA|NA",
            u"progress(abc,finished,519716,519716,598240.25,-,-,-)");
        row(ytdlpLine, u"TKP|x|Finished|1|1|NA|NA|NA", u"progress(x,running,1,1,-,-,-,-)");
        out(u"TKP|||||||||", u"progress(,running,-,-,-,-,-,-)"); // empty is absent, not zero

        out(u"TKT|abc|1|2|", u"item(abc,1,2,,-)");
        out(u"TKT|abc|2|5|\"Talks | 2024 \\\"live\\\" \\u00e9\"|Intro|Chapter 1",
            u"item(abc,2,5,Intro|Chapter 1,Talks | 2024 \"live\" é)");
        out(u"TKT|abc|NA|NA|\"\"|Clip", u"item(abc,-,-,Clip,-)");
        out(u"TKT|abc|3|NA|\"Hi\" there|x", u"item(abc,3,-,\"Hi\" there|x,-)");
        out(u"TKF|abc|/tmp/a|b.mp4", u"file(abc,/tmp/a|b.mp4)");

        out(u"ERROR: [youtube] abc: Video: unavailable", u"error(Video: unavailable)");
        out(u"ERROR: Unable to connect", u"error(Unable to connect)");
        out(u"ERROR: [generic: oops: x", u"error([generic: oops: x)");
        out(u"ERROR: [a: b] c", u"error([a: b] c)");
        out(u"ERROR: ", u"error()");
        // No event: progress with 7 or 9 fields, an item with 4 (never tried as an error), a file
        // without a path, ERROR without its blank or in lower case, other output, markers that
        // only look like ours.
        for (QStringView line :
             {u"TKP|abc|downloading|1|2|3|4", u"TKP|x|downloading|1|2|3|4|5|", u"TKT|abc|1|2",
              u"TKF|abc|", u"TKF|abc", u"ERROR:x", u"error: x", u"WARNING: something", u"",
              u" TKP|a|finished|1|1|1|1|1", u"TKP", u"TKP:a|finished|1|1|1|1|1", u"TKX|a|b|c|d"})
            out(line, u"none");

        // Command lines, parted by '|'. Help wins over version and both over an unknown option;
        // after "--" everything is link text.
        row(commandLine, u"", u"open()");
        row(commandLine, u"https://a.com/1|b.com/2 c.com/3|not a link|-",
            u"open(https://a.com/1,b.com/2 c.com/3,not a link,-)");
        row(commandLine, u"-v|-h", u"help");
        row(commandLine, u"https://a.com/1|--verbose|--help", u"help");
        row(commandLine, u"https://a.com/1|--verbose|-x", u"unknown(--verbose)");
        row(commandLine, u"--|--help|-x|--", u"open(--help,-x,--)");
    }

    void text() {
        QFETCH(Parser, parser);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const auto digests = [](QString text) {
            return text.replace(u"<A>"_qs, digestA).replace(u"<B>"_qs, digestB);
        };
        if (parser == checksum) {
            const qsizetype bar = input.indexOf(u" | ");
            const auto digest = Checksums::sha256(input.first(bar), digests(input.sliced(bar + 3)));
            QCOMPARE(digest.value_or(u"none"_qs), digests(expected));
        } else if (parser == links) {
            QStringList got;
            for (const QUrl &url : URLInput::extract(input))
                got.append(url.toString(QUrl::FullyEncoded));
            QCOMPARE(got, expected.split(u' ', Qt::SkipEmptyParts));
        } else if (parser == ytdlpLine) {
            QCOMPARE(describe(YTDLPOutput::parse(input)), expected);
        } else {
            using namespace CommandLine;
            const Request request = parse(input.split(u'|', Qt::SkipEmptyParts));
            const auto *open = std::get_if<Open>(&request);
            const auto *unknown = std::get_if<UnknownOption>(&request);
            QCOMPARE(open      ? u"open(%1)"_qs.arg(open->links.join(u','))
                     : unknown ? u"unknown(%1)"_qs.arg(unknown->option)
                     : std::holds_alternative<Help>(request) ? u"help"_qs
                                                             : u"version"_qs,
                     expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
