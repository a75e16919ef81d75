#include "Checksums.h"
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

// A row of a text-in, text-out table, tagged with its input.
void row(QStringView input, QStringView expected) {
    QTest::newRow(qPrintable(u"'%1'"_qs.arg(input))) << input.toString() << expected.toString();
}

void textColumns() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
}

// Every field of an event, "-" where it is absent.
QString describe(const std::optional<YTDLPEvent> &event) {
    const auto n = [](std::optional<qint64> v) { return v ? QString::number(*v) : u"-"_qs; };
    const auto visit = [&](const auto &e) -> QString {
        using T = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<T, YTDLPEvent::Item>)
            return u"item(%1,%2,%3,%4,%5)"_qs.arg(e.id, n(e.index), n(e.count), e.title,
                                                  e.playlistTitle.value_or(u"-"_qs));
        else if constexpr (std::is_same_v<T, YTDLPEvent::Progress>)
            return u"progress(%1,%2,%3,%4,%5,%6,%7,%8)"_qs.arg(
                e.id, e.finished ? u"finished"_qs : u"running"_qs, n(e.downloaded), n(e.total),
                e.speed ? QString::number(*e.speed, 'g', QLocale::FloatingPointShortest) : u"-"_qs,
                n(e.eta), n(e.fragmentIndex), n(e.fragmentCount));
        else if constexpr (std::is_same_v<T, YTDLPEvent::File>)
            return u"file(%1,%2)"_qs.arg(e.id, e.path);
        else
            return u"error(%1)"_qs.arg(e.message);
    };
    return event ? std::visit(visit, event->value) : u"none"_qs;
}

} // namespace

class TestCore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void checksums_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("found");
        // <A> and <B> stand for two digests; a row finds <A> or nothing.
        const auto row =
            [](const char *tag, QStringView name, const QString &text, bool found) {
                QTest::newRow(tag)
                    << name.toString()
                    << QString(text).replace(u"<A>"_qs, digestA).replace(u"<B>"_qs, digestB)
                    << found;
            };
        const QString list = u"<B>  yt-dlp.exe\n<A>  yt-dlp_linux\n"_qs;
        row("list, two blanks", u"yt-dlp_linux", list, true);
        row("list, binary marker", u"yt-dlp_linux", u"<B> *yt-dlp.exe\n<A> *yt-dlp_linux"_qs, true);
        row("upper-case digest lowered", u"f", u"<B> g\n"_qs + digestA.toUpper() + u" f"_qs, true);
        row("63 characters skipped", u"f", digestB.left(63) + u" f\n<A> f"_qs, true);
        row("65 characters skipped", u"f", u"<B>0 f\n<A> f"_qs, true);
        row("letter beyond f skipped", u"f", u"g"_qs + digestB.mid(1) + u" f\n<A> f"_qs, true);
        row("first match wins", u"f", u"<A> f\n<B> f"_qs, true);
        row("digest only", u"anything", u"<A>"_qs, true);
        row("digest only, trailing newline", u"anything", u"<A>\n"_qs, true);
        row("digest only, blank lines around", u"x", u"\n\r\n<A>  \n\n"_qs, true);
        row("digest-only line in a list skipped", u"f", u"<B>\n<A> f"_qs, true);
        row("digest-only line in a list, no match", u"g", u"<B>\n<A> f"_qs, false);
        row("name case differs", u"Yt-Dlp_linux", list, false);
        row("crlf lines", u"b", u"<B>  a\r\n<A>  b\r\n"_qs, true);
        row("unicode line and word breaks", u"b", u"<B>\u2028<A>\u00a0\u2003b\u0085"_qs, true);
        row("words after the name ignored", u"b", u"<A> b trailing words"_qs, true);
        row("name with blank never matches", u"my file", u"<A> my file\n<B> other"_qs, false);
        row("only the star is dropped", u"*b", u"<A> **b"_qs, true);
        row("empty text", u"f", QString(), false);
        row("whitespace only", u"f", u" \t\n \n"_qs, false);
        row("a whitespace line still counts as a line", u"f", u"<A>\n   \n"_qs, false);
        row("no usable line", u"f", u"Not Found"_qs, false);
    }

    void checksums() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(bool, found);
        QCOMPARE(Checksums::sha256(name, text), found ? std::optional(digestA) : std::nullopt);
    }

    void lineBuffer_data() {
        QTest::addColumn<QByteArray>("chunks"); // "|" between chunks
        QTest::addColumn<QString>("lines");     // each line followed by a line feed
        QTest::addColumn<std::optional<QString>>("rest");
        const auto row = [](const char *tag, const QByteArray &chunks, const QString &lines,
                            std::optional<QString> rest = {}) {
            QTest::newRow(tag) << chunks << lines << rest;
        };
        row("line across chunks", "abc|def\nxy", u"abcdef\n"_qs, u"xy"_qs);
        row("crlf", "a\r\nb\n", u"a\nb\n"_qs);
        row("only one carriage return removed", "a\r\r\n", u"a\r\n"_qs);
        row("carriage return inside stays", "10%\r20%\r30%\n", u"10%\r20%\r30%\n"_qs);
        row("empty lines kept", "\n\n", u"\n\n"_qs);
        row("utf-8 split across chunks", "Zo\303|\253 \342\200|\224 ok\n", u"Zoë — ok\n"_qs);
        row("invalid byte replaced", "a\377b\n", u"a\ufffdb\n"_qs);
        row("lone carriage return remainder", "a\n\r", u"a\n"_qs, u""_qs);
        row("crlf split between chunks", "a\r|\nb\r|\n", u"a\nb\n"_qs);
        row("many lines in one chunk, tail pending", "1\n2\n3\n4", u"1\n2\n3\n"_qs, u"4"_qs);
        row("broken sequence ends at its line", "a\342\nb\360\n\303\r\n",
            u"a\ufffd\nb\ufffd\n\ufffd\n"_qs);
        // Four bytes become two UTF-16 units; every line of the chunk shares one text.
        row("characters beyond the basic plane", "😀\n🎬🎬\n", u"😀\n🎬🎬\n"_qs);
        row("byte order marks kept", "\ufeffa\n\ufeffb\n\ufeff", u"\ufeffa\n\ufeffb\n"_qs,
            u"\ufeff"_qs);
        row("nothing", "|", u""_qs);

        // Lines at and beyond the longest one the buffer keeps.
        const qsizetype limit = LineBuffer::maxLineLength;
        const QByteArray full(limit, 'a');
        const QByteArray half(limit / 2, 'a');
        const QString cut = QString(limit, u'a') + u'\n';
        row("line of the longest length kept whole", full + "\n", cut);
        row("pending at the longest length, then its line feed", full + "|\nz", cut, u"z"_qs);
        row("longer line cut, its rest dropped up to the line feed", full + "bbb|ccc|\nnext\n",
            cut + u"next\n"_qs);
        row("longer line between short ones in one chunk", "x\n" + full + "b\ny\n",
            u"x\n"_qs + cut + u"y\n"_qs);
        row("longer line in small chunks",
            half + '|' + half + "|b|" + QByteArray(100'000, 'c') + "|c\nok\n", cut + u"ok\n"_qs);
        row("a dropped rest is not flushed", full + "bbb", cut);
        row("cut through a character", full.first(limit - 1) + "\303\251\n",
            QString(limit - 1, u'a') + u"\ufffd\n"_qs);
    }

    void lineBuffer() {
        QFETCH(QByteArray, chunks);
        QFETCH(std::optional<QString>, rest);
        // The chunks as they come, then the same bytes one at a time, read the same.
        for (const bool bytewise : {false, true}) {
            LineBuffer buffer;
            QString got;
            const auto take = [&](QByteArrayView bytes) {
                for (QStringView line : buffer.append(bytes))
                    got.append(line).append(u'\n');
            };
            for (const QByteArray &chunk : chunks.split('|')) {
                for (qsizetype i = 0; bytewise && i < chunk.size(); ++i)
                    take(chunk.sliced(i, 1));
                if (!bytewise)
                    take(chunk);
            }
            QTEST(got, "lines");
            QCOMPARE(buffer.flush(), rest);
            QCOMPARE(buffer.flush(), std::optional<QString>());
            QCOMPARE(buffer.append("z\n")[0], u"z"); // a flushed buffer starts afresh
        }
    }

    // The lines are views into one shared text: a copy must keep them readable after the
    // original and the buffer are gone and the buffer has been reused.
    void linesOutliveTheirBuffer() {
        std::optional<LineBuffer::Lines> kept;
        {
            auto buffer = std::make_unique<LineBuffer>();
            const LineBuffer::Lines lines = buffer->append("first line\nsecond \xc3\xa9\n");
            kept = lines;
            QCOMPARE(buffer->append("overwrite\nthe pending bytes\n")[1], u"the pending bytes");
        }
        QCOMPARE(kept->size(), 2);
        QCOMPARE((*kept)[0], u"first line");
        QCOMPARE((*kept)[1], u"second é");
    }

    // Each format: its persisted raw value, label, parts, height cap and yt-dlp arguments.
    void outputFormat_data() {
        QTest::addColumn<OutputFormat>("format");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("parts");
        QTest::addColumn<int>("height");
        QTest::addColumn<QString>("link");
        using enum OutputFormat;
        const auto row = [](const char *raw, OutputFormat format, QStringView label, int parts,
                            int height, QStringView link) {
            QTest::newRow(raw) << format << label.toString() << parts << height << link.toString();
        };
        row("video1080", video1080, u"Video \u2014 up to 1080p", 2, 1080,
            u"https://www.youtube.com/watch?v=dQw4w9WgXcQ&list=PL1");
        row("video720", video720, u"Video \u2014 up to 720p", 2, 720, u"https://a.com/-rf");
        row("video480", video480, u"Video \u2014 up to 480p", 2, 480,
            u"https://a.com/watch?v=--help");
        row("audio", audio, u"Audio only (M4A)", 1, 0, u"https://a.com/v%C3%ADdeo");
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
        QTEST(label(format), "label");
        QTEST(expectedParts(format), "parts");
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

    void urlInput_data() {
        textColumns(); // links fully encoded, a blank between them
        row(u"https://example.com/watch?v=1", u"https://example.com/watch?v=1");
        row(u"https://a.com/1,https://b.com/2,,https://c.com/3",
            u"https://a.com/1 https://b.com/2 https://c.com/3");
        row(u"https://a.com/1\u00a0https://b.com/2\u2003https://c.com/3\r\nhttps://d.com/4",
            u"https://a.com/1 https://b.com/2 https://c.com/3 https://d.com/4");
        row(u"<https://a.com/x>", u"https://a.com/x");
        row(u"\"'https://a.com/x'\"", u"https://a.com/x");
        row(u"https://a.com/x'y", u"https://a.com/x'y"); // wrappers inside stay
        row(u"(see https://a.com/x). https://b.com/y.", u"https://a.com/x). https://b.com/y.");
        row(u"youtube.com/watch?v=abc", u"https://youtube.com/watch?v=abc");
        row(u"HTTP://Example.com/Path", u"http://example.com/Path");
        // A duplicate keeps its first place; a trailing slash makes another link.
        row(u"https://a.com/1 https://b.com/2 https://a.com/1", u"https://a.com/1 https://b.com/2");
        row(u"https://a.com https://a.com/", u"https://a.com https://a.com/");
        row(u"a.com/x https://a.com/x", u"https://a.com/x");
        row(u"Look at this: https://vimeo.com/123, and <https://a.org/b?c=d&e=f>!",
            u"https://vimeo.com/123 https://a.org/b?c=d&e=f%3E!");
        row(u"mailto:me@a.com", u"https://mailto:me@a.com"); // user info is no scheme
        row(u"a.b x.y/z http://q.r:8080/s?t#u", u"https://a.b https://x.y/z http://q.r:8080/s?t#u");
        // No links: separators, a word without a full stop, a bare machine name, other schemes,
        // wrappers alone, a host that does not parse.
        for (QStringView text :
             {u"", u" ,\n\t,\u00a0\u2028 ", u"hello world", u"http://localhost/x",
              u"ftp://a.com/x file:///tmp/a.mp4 javascript://a.com/x", u"<> '' \"\"",
              u"http://[::1/x"})
            row(text, u"");
    }

    void urlInput() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QStringList got;
        for (const QUrl &url : URLInput::extract(input))
            got.append(url.toString(QUrl::FullyEncoded));
        QCOMPARE(got, expected.split(u' ', Qt::SkipEmptyParts));
    }

    void ytdlpOutput_data() {
        textColumns();
        // Progress of item x while downloading: the fields after the status, and what they read as.
        const auto p = [](QStringView fields, QStringView event) {
            row(u"TKP|x|downloading|%1"_qs.arg(fields), u"progress(x,running,%1)"_qs.arg(event));
        };
        p(u"1048576|NA|5242880.0|262144.5|16", u"1048576,5242880,262144.5,16,-,-");
        p(u"1|100|999|NA|NA", u"1,100,-,-,-,-"); // the total wins over the estimate
        p(u"1|NA|NA|NA|NA", u"1,-,-,-,-,-");
        p(u"46881|NA|93762.0|1024.5|3|1|4", u"46881,93762,1024.5,3,1,4");
        // The job judges what fragment numbers make sense; the parser reads them as they are.
        p(u"1|2|NA|NA|NA|9|0", u"1,2,-,-,9,0");
        p(u"1|2|3|4|5|6|7|8", u"1,2,4,5,6,-"); // an extra bar spoils the fragment count
        p(u"2.5e6|1234.9|NA|1e3|-0.5", u"2500000,1234,1000,0,-,-"); // fractions truncate
        p(u"-3|NA|NA|NA|NA", u"-3,-,-,-,-,-");
        p(u"+7|NA|NA|+2.5|NA", u"7,-,2.5,-,-,-");
        // Unreadable and read as absent: blanks, non-finite or huge values, hex, words, non-ASCII.
        p(u" 5|6 |NA|NA|NA", u"-,-,-,-,-,-");
        p(u"inf|nan|1e300|infinity|9223372036854775808", u"-,-,-,-,-,-");
        p(u"0x10|ten|NA|1,5|NA", u"-,-,-,-,-,-");
        p(u"\u0661\u0662|NA|NA|NA|NA", u"-,-,-,-,-,-");
        p(u"9223372036854774784|-9223372036854775808|NA|NA|NA",
          u"9223372036854774784,-9223372036854775808,-,-,-,-");
        // Short decimals read as written; long ones round through a double.
        p(u"-0|NA|999999999999999|0.3|123456789.012345", u"0,999999999999999,0.3,123456789,-,-");
        p(u"9007199254740993|NA|NA|0.30000000000000004441|NA",
          u"9007199254740992,-,0.30000000000000004,-,-,-");
        p(u"5.|-|.5|-.|-.5", u"5,0,-,0,-,-"); // bare points and lone signs
        row(u"TKP|abc|finished|5242880|5242880|NA|NA|NA",
            u"progress(abc,finished,5242880,5242880,-,-,-,-)");
        row(u"TKP|abc|finished|519716|519716|NA|598240.25|NA|NA|NA",
            u"progress(abc,finished,519716,519716,598240.25,-,-,-)");
        row(u"TKP|x|Finished|1|1|NA|NA|NA", u"progress(x,running,1,1,-,-,-,-)");
        row(u"TKP|||||||||", u"progress(,running,-,-,-,-,-,-)"); // empty is absent, not zero

        row(u"TKT|abc|NA|NA|Some|Title", u"item(abc,-,-,Some|Title,-)");
        row(u"TKT|abc|3|12|Clip", u"item(abc,3,12,Clip,-)");
        row(u"TKT|abc|1|1|NA", u"item(abc,1,1,NA,-)");
        row(u"TKT|abc|1|2|", u"item(abc,1,2,,-)");
        row(u"TKT|abc|2|5|\"Talks | 2024 \\\"live\\\" \\u00e9\"|Intro|Chapter 1",
            u"item(abc,2,5,Intro|Chapter 1,Talks | 2024 \"live\" é)");
        row(u"TKT|abc|NA|NA|\"\"|Clip", u"item(abc,-,-,Clip,-)");
        row(u"TKT|abc|NA|NA|\"Hi\" there|x", u"item(abc,-,-,\"Hi\" there|x,-)");
        row(u"TKF|abc|/Users/a/Movies/Clip.mp4", u"file(abc,/Users/a/Movies/Clip.mp4)");
        row(u"TKF|abc|/tmp/a|b.mp4", u"file(abc,/tmp/a|b.mp4)");

        row(u"ERROR: [youtube] abc: Video unavailable", u"error(Video unavailable)");
        row(u"ERROR: Unable to connect", u"error(Unable to connect)");
        row(u"ERROR: [generic] no colon here", u"error([generic] no colon here)");
        row(u"ERROR: [generic: oops: x", u"error([generic: oops: x)");
        row(u"ERROR: [a: b] c", u"error([a: b] c)");
        row(u"ERROR: [a] b: c: d", u"error(c: d)");
        row(u"ERROR: ", u"error()");
        // No event: progress with 7 or 9 fields, an item with 4 (never tried as an error), a file
        // without a path, ERROR without its blank or in lower case, other output, markers that
        // only look like ours.
        for (QStringView line :
             {u"TKP|abc|downloading|1|2|3|4", u"TKP|x|downloading|1|2|3|4|5|", u"TKT|abc|1|2",
              u"TKF|abc|", u"TKF|abc", u"ERROR:x", u"error: x", u"[download] Destination: x.mp4",
              u"WARNING: something", u"", u" TKP|a|finished|1|1|1|1|1", u"tkp|a|finished|1|1|1|1|1",
              u"TKP", u"TKP:a|finished|1|1|1|1|1", u"TKX|a|finished|1|1|1|1|1", u"TK|a|b|c|d"})
            row(line, u"none");
    }

    void ytdlpOutput() {
        QFETCH(QString, input);
        QTEST(describe(YTDLPOutput::parse(input)), "expected");
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
