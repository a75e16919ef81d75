#include "YTDLPOutput.h"

#include <QTest>

using Event = std::optional<YTDLPEvent>;
using Progress = YTDLPEvent::Progress;
using Item = YTDLPEvent::Item;
using File = YTDLPEvent::File;
using Error = YTDLPEvent::Error;

namespace {
constexpr std::nullopt_t none = std::nullopt;

char *describe(const Event &event) {
    if (!event)
        return qstrdup("no event");
    const QString text = std::visit(
        [](const auto &e) -> QString {
            using T = std::decay_t<decltype(e)>;
            auto n = [](std::optional<qint64> v) { return v ? QString::number(*v) : u"-"_qs; };
            if constexpr (std::is_same_v<T, Item>)
                return u"item(%1,%2,%3,%4)"_qs.arg(e.id, n(e.index), n(e.count), e.title);
            else if constexpr (std::is_same_v<T, Progress>)
                return u"progress(%1,%2,%3,%4,%5,%6,%7,%8)"_qs.arg(
                    e.id, e.finished ? u"finished"_qs : u"running"_qs, n(e.downloaded), n(e.total),
                    e.speed ? QString::number(*e.speed, 'g', 17) : u"-"_qs, n(e.eta),
                    n(e.fragmentIndex), n(e.fragmentCount));
            else if constexpr (std::is_same_v<T, File>)
                return u"file(%1,%2)"_qs.arg(e.id, e.path);
            else
                return u"error(%1)"_qs.arg(e.message);
        },
        event->value);
    return qstrdup(qPrintable(text));
}
} // namespace

namespace QTest {
template <> char *toString(const Event &event) {
    return describe(event);
}
} // namespace QTest

Q_DECLARE_METATYPE(Event)

class TestYTDLPOutput : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parse_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<Event>("event");

        // Progress lines
        QTest::newRow("progress, estimate used")
            << u"TKP|abc|downloading|1048576|NA|5242880.0|262144.5|16"_qs
            << Event(Progress{u"abc"_qs, false, 1048576, 5242880, 262144.5, 16});
        QTest::newRow("progress, finished")
            << u"TKP|abc|finished|5242880|5242880|NA|NA|NA"_qs
            << Event(Progress{u"abc"_qs, true, 5242880, 5242880, none, none});
        QTest::newRow("progress, total wins over estimate")
            << u"TKP|x|downloading|1|100|999|NA|NA"_qs
            << Event(Progress{u"x"_qs, false, 1, 100, none, none});
        QTest::newRow("progress, both totals unknown")
            << u"TKP|x|downloading|1|NA|NA|NA|NA"_qs
            << Event(Progress{u"x"_qs, false, 1, none, none, none});
        QTest::newRow("progress, fragments")
            << u"TKP|abc|downloading|46881|NA|93762.0|1024.5|3|1|4"_qs
            << Event(Progress{u"abc"_qs, false, 46881, 93762, 1024.5, 3, 1, 4});
        QTest::newRow("progress, not in fragments")
            << u"TKP|abc|finished|519716|519716|NA|598240.25|NA|NA|NA"_qs
            << Event(Progress{u"abc"_qs, true, 519716, 519716, 598240.25, none, none, none});
        // The job judges what fragment numbers make sense; the parser reads them as they are.
        QTest::newRow("progress, fragment index above a count of 0")
            << u"TKP|x|downloading|1|2|NA|NA|NA|9|0"_qs
            << Event(Progress{u"x"_qs, false, 1, 2, none, none, 9, 0});
        QTest::newRow("progress, empty fields are absent, not zero")
            << u"TKP|||||||||"_qs
            << Event(Progress{QString(), false, none, none, none, none, none, none});
        QTest::newRow("progress, exponent and fraction truncate")
            << u"TKP|x|downloading|2.5e6|1234.9|NA|1e3|-0.5"_qs
            << Event(Progress{u"x"_qs, false, 2500000, 1234, 1000.0, 0});
        QTest::newRow("progress, negative integer")
            << u"TKP|x|downloading|-3|NA|NA|NA|NA"_qs
            << Event(Progress{u"x"_qs, false, -3, none, none, none});
        QTest::newRow("progress, explicit plus sign")
            << u"TKP|x|downloading|+7|NA|NA|+2.5|NA"_qs
            << Event(Progress{u"x"_qs, false, 7, none, 2.5, none});
        QTest::newRow("progress, blanks make a field unreadable")
            << u"TKP|x|downloading| 5|6 |NA|NA|NA"_qs
            << Event(Progress{u"x"_qs, false, none, none, none, none});
        QTest::newRow("progress, other status is not finished")
            << u"TKP|x|Finished|1|1|NA|NA|NA"_qs
            << Event(Progress{u"x"_qs, false, 1, 1, none, none});
        QTest::newRow("progress, 9 fields: neither form")
            << u"TKP|x|downloading|1|2|3|4|5|"_qs << Event();
        QTest::newRow("progress, extra bar spoils fragment count")
            << u"TKP|x|downloading|1|2|3|4|5|6|7|8"_qs
            << Event(Progress{u"x"_qs, false, 1, 2, 4.0, 5, 6, none});
        QTest::newRow("progress, non-finite and huge read as absent")
            << u"TKP|x|downloading|inf|nan|1e300|infinity|9223372036854775808"_qs
            << Event(Progress{u"x"_qs, false, none, none, none, none});
        QTest::newRow("progress, largest integers")
            << u"TKP|x|downloading|9223372036854774784|-9223372036854775808|NA|NA|NA"_qs
            << Event(Progress{u"x"_qs, false, 9223372036854774784LL,
                              std::numeric_limits<qint64>::min(), none, none});
        QTest::newRow("progress, hex and words unreadable")
            << u"TKP|x|downloading|0x10|ten|NA|1,5|NA"_qs
            << Event(Progress{u"x"_qs, false, none, none, none, none});
        QTest::newRow("progress, non-ascii digits unreadable")
            << u"TKP|x|downloading|\u0661\u0662|NA|NA|NA|NA"_qs
            << Event(Progress{u"x"_qs, false, none, none, none, none});
        QTest::newRow("progress, short decimals rounded as written")
            << u"TKP|x|downloading|-0|NA|999999999999999|0.3|123456789.012345"_qs
            << Event(Progress{u"x"_qs, false, 0, 999999999999999LL, 0.3, 123456789});
        QTest::newRow("progress, long numbers rounded through a double")
            << u"TKP|x|downloading|9007199254740993|NA|NA|0.30000000000000004441|NA"_qs
            << Event(Progress{u"x"_qs, false, 9007199254740992LL, none, 0.30000000000000004441,
                              none});
        QTest::newRow("progress, bare points and lone signs")
            << u"TKP|x|downloading|5.|-|.5|-.|-.5"_qs
            << Event(Progress{u"x"_qs, false, 5, 0, none, 0});
        QTest::newRow("progress, 7 fields") << u"TKP|abc|downloading|1|2|3|4"_qs << Event();

        // Item lines
        QTest::newRow("item, title keeps bars")
            << u"TKT|abc|NA|NA|Some|Title"_qs
            << Event(Item{u"abc"_qs, none, none, u"Some|Title"_qs});
        QTest::newRow("item, playlist position")
            << u"TKT|abc|3|12|Clip"_qs << Event(Item{u"abc"_qs, 3, 12, u"Clip"_qs});
        QTest::newRow("item, NA title kept")
            << u"TKT|abc|1|1|NA"_qs << Event(Item{u"abc"_qs, 1, 1, u"NA"_qs});
        QTest::newRow("item, empty title")
            << u"TKT|abc|1|2|"_qs << Event(Item{u"abc"_qs, 1, 2, QString()});
        QTest::newRow("item, 4 fields never tried as error") << u"TKT|abc|1|2"_qs << Event();

        // File lines
        QTest::newRow("file") << u"TKF|abc|/Users/a/Movies/Clip.mp4"_qs
                              << Event(File{u"abc"_qs, u"/Users/a/Movies/Clip.mp4"_qs});
        QTest::newRow("file, path keeps bars")
            << u"TKF|abc|/tmp/a|b.mp4"_qs << Event(File{u"abc"_qs, u"/tmp/a|b.mp4"_qs});
        QTest::newRow("file, empty path") << u"TKF|abc|"_qs << Event();
        QTest::newRow("file, 2 fields") << u"TKF|abc"_qs << Event();

        // Error lines
        QTest::newRow("error, extractor prefix") << u"ERROR: [youtube] abc: Video unavailable"_qs
                                                 << Event(Error{u"Video unavailable"_qs});
        QTest::newRow("error, plain")
            << u"ERROR: Unable to connect"_qs << Event(Error{u"Unable to connect"_qs});
        QTest::newRow("error, bracket without colon")
            << u"ERROR: [generic] no colon here"_qs << Event(Error{u"[generic] no colon here"_qs});
        QTest::newRow("error, bracket never closed")
            << u"ERROR: [generic: oops: x"_qs << Event(Error{u"[generic: oops: x"_qs});
        QTest::newRow("error, colon before bracket only")
            << u"ERROR: [a: b] c"_qs << Event(Error{u"[a: b] c"_qs});
        QTest::newRow("error, first colon after bracket")
            << u"ERROR: [a] b: c: d"_qs << Event(Error{u"c: d"_qs});
        QTest::newRow("error, empty message") << u"ERROR: "_qs << Event(Error{QString()});
        QTest::newRow("error, no blank") << u"ERROR:x"_qs << Event();
        QTest::newRow("error, lower case") << u"error: x"_qs << Event();

        // Other lines
        QTest::newRow("destination") << u"[download] Destination: x.mp4"_qs << Event();
        QTest::newRow("warning") << u"WARNING: something"_qs << Event();
        QTest::newRow("indented marker") << u" TKP|a|finished|1|1|1|1|1"_qs << Event();
        QTest::newRow("lower-case marker") << u"tkp|a|finished|1|1|1|1|1"_qs << Event();
        QTest::newRow("empty") << QString() << Event();
        QTest::newRow("marker without bar") << u"TKP"_qs << Event();
        QTest::newRow("marker followed by another sign")
            << u"TKP:a|finished|1|1|1|1|1"_qs << Event();
        QTest::newRow("unknown marker letter") << u"TKX|a|finished|1|1|1|1|1"_qs << Event();
        QTest::newRow("marker letter missing") << u"TK|a|b|c|d"_qs << Event();
    }

    void parse() {
        QFETCH(QString, line);
        QFETCH(Event, event);
        QCOMPARE(YTDLPOutput::parse(line), event);
    }
};

QTEST_GUILESS_MAIN(TestYTDLPOutput)
#include "tst_ytdlpoutput.moc"
