#include "LineBuffer.h"

#include <QTest>
#include <memory>
#include <optional>

namespace {

QStringList strings(const LineBuffer::Lines &lines) {
    QStringList result;
    for (QStringView line : lines)
        result.append(line.toString());
    return result;
}

} // namespace

class TestLineBuffer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void chunks_data() {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<std::optional<QString>>("rest");

        QTest::newRow("line across chunks")
            << QList<QByteArray>{"abc", "def\nxy"} << QStringList{u"abcdef"_qs}
            << std::optional<QString>(u"xy"_qs);
        QTest::newRow("crlf") << QList<QByteArray>{"a\r\nb\n"} << QStringList{u"a"_qs, u"b"_qs}
                              << std::optional<QString>();
        QTest::newRow("only one carriage return removed")
            << QList<QByteArray>{"a\r\r\n"} << QStringList{u"a\r"_qs} << std::optional<QString>();
        QTest::newRow("carriage return inside stays")
            << QList<QByteArray>{"10%\r20%\r30%\n"} << QStringList{u"10%\r20%\r30%"_qs}
            << std::optional<QString>();
        QTest::newRow("empty lines kept")
            << QList<QByteArray>{"\n\n"} << QStringList{QString(), QString()}
            << std::optional<QString>();
        QTest::newRow("utf-8 split across chunks")
            << QList<QByteArray>{"Zo\xc3", "\xab \xe2\x80", "\x94 ok\n"}
            << QStringList{u"Zoë — ok"_qs} << std::optional<QString>();
        QTest::newRow("invalid byte replaced")
            << QList<QByteArray>{"a\xff"
                                 "b\n"}
            << QStringList{u"a\ufffdb"_qs} << std::optional<QString>();
        QTest::newRow("lone carriage return remainder")
            << QList<QByteArray>{"a\n\r"} << QStringList{u"a"_qs} << std::optional<QString>(u""_qs);
        QTest::newRow("crlf split between chunks")
            << QList<QByteArray>{"a\r", "\nb\r", "\n"} << QStringList{u"a"_qs, u"b"_qs}
            << std::optional<QString>();
        QTest::newRow("many lines in one chunk, tail pending")
            << QList<QByteArray>{"1\n2\n3\n4"} << QStringList{u"1"_qs, u"2"_qs, u"3"_qs}
            << std::optional<QString>(u"4"_qs);
        QTest::newRow("broken sequence ends at its line")
            << QList<QByteArray>{"a\xe2\nb\xf0\n\xc3\r\n"}
            << QStringList{u"a\ufffd"_qs, u"b\ufffd"_qs, u"\ufffd"_qs} << std::optional<QString>();
        // Four bytes become two UTF-16 units; every line of the chunk shares one text.
        QTest::newRow("characters beyond the basic plane")
            << QList<QByteArray>{"\xf0\x9f\x98\x80\n\xf0\x9f\x8e\xac\xf0\x9f\x8e\xac\n"}
            << QStringList{u"\U0001F600"_qs, u"\U0001F3AC\U0001F3AC"_qs}
            << std::optional<QString>();
        QTest::newRow("byte order marks kept")
            << QList<QByteArray>{"\xef\xbb\xbf"
                                 "a\n\xef\xbb\xbf"
                                 "b\n\xef\xbb\xbf"}
            << QStringList{u"\ufeffa"_qs, u"\ufeffb"_qs} << std::optional<QString>(u"\ufeff"_qs);
        QTest::newRow("nothing") << QList<QByteArray>{"", ""} << QStringList()
                                 << std::optional<QString>();

        // Lines at and beyond the longest one the buffer keeps.
        const qsizetype limit = LineBuffer::maxLineLength;
        const QByteArray full(limit, 'a');
        const QString cut(limit, u'a');
        QTest::newRow("line of the longest length kept whole")
            << QList<QByteArray>{full + "\n"} << QStringList{cut} << std::optional<QString>();
        QTest::newRow("pending at the longest length, then its line feed")
            << QList<QByteArray>{full, "\nz"} << QStringList{cut}
            << std::optional<QString>(u"z"_qs);
        QTest::newRow("longer line cut, its rest dropped up to the line feed")
            << QList<QByteArray>{full + "bbb", "ccc", "\nnext\n"} << QStringList{cut, u"next"_qs}
            << std::optional<QString>();
        QTest::newRow("longer line between short ones in one chunk")
            << QList<QByteArray>{"x\n" + full + "b\ny\n"} << QStringList{u"x"_qs, cut, u"y"_qs}
            << std::optional<QString>();
        QTest::newRow("longer line in small chunks")
            << QList<QByteArray>{full.first(limit / 2), full.first(limit / 2), "b",
                                 QByteArray(100'000, 'c'), "c\nok\n"}
            << QStringList{cut, u"ok"_qs} << std::optional<QString>();
        QTest::newRow("a dropped rest is not flushed")
            << QList<QByteArray>{full + "bbb"} << QStringList{cut} << std::optional<QString>();
        QTest::newRow("cut through a character")
            << QList<QByteArray>{full.first(limit - 1) + "\xc3\xa9\n"}
            << QStringList{QString(limit - 1, u'a') + u'\ufffd'} << std::optional<QString>();
    }

    void chunks() {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, lines);
        QFETCH(std::optional<QString>, rest);
        LineBuffer buffer;
        QStringList got;
        for (const QByteArray &chunk : chunks)
            got += strings(buffer.append(chunk));
        QCOMPARE(got, lines);
        QCOMPARE(buffer.flush(), rest);
        QCOMPARE(buffer.flush(), std::optional<QString>());
    }

    void appendReturnsOnlyCompleteLines() {
        LineBuffer buffer;
        QVERIFY(buffer.append("abc").isEmpty());
        QCOMPARE(strings(buffer.append("def\nxy")), QStringList{u"abcdef"_qs});
        QCOMPARE(buffer.flush(), std::optional<QString>(u"xy"_qs));
        QCOMPARE(buffer.flush(), std::optional<QString>());
        // A flushed buffer starts afresh.
        QCOMPARE(strings(buffer.append("z\n")), QStringList{u"z"_qs});
    }

    void byteByByteEqualsWhole() {
        const QByteArray text = "TKP|a|downloading|1|2|3|4|5\r\nlast line \xc3\xa9\n\nx";
        LineBuffer whole;
        LineBuffer split;
        QStringList bytewise;
        for (char c : text)
            bytewise += strings(split.append(QByteArrayView(&c, 1)));
        QCOMPARE(bytewise, strings(whole.append(text)));
        QCOMPARE(split.flush(), whole.flush());
    }

    // The lines are views into one shared text: a copy must keep them readable after the
    // original and the buffer are gone and the buffer has been reused.
    void linesOutliveTheirBuffer() {
        std::optional<LineBuffer::Lines> kept;
        {
            auto buffer = std::make_unique<LineBuffer>();
            LineBuffer::Lines lines = buffer->append("first line\nsecond \xc3\xa9\n");
            kept = lines;
            QCOMPARE(strings(buffer->append("overwrite\nthe pending bytes\n")),
                     (QStringList{u"overwrite"_qs, u"the pending bytes"_qs}));
        }
        QCOMPARE(kept->size(), 2);
        QCOMPARE((*kept)[0], u"first line");
        QCOMPARE((*kept)[1], u"second é");
    }
};

QTEST_GUILESS_MAIN(TestLineBuffer)
#include "tst_linebuffer.moc"
