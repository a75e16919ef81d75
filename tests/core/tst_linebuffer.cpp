#include "LineBuffer.h"

#include <QTest>

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
        QTest::newRow("nothing") << QList<QByteArray>{"", ""} << QStringList()
                                 << std::optional<QString>();
    }

    void chunks() {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, lines);
        QFETCH(std::optional<QString>, rest);
        LineBuffer buffer;
        QStringList got;
        for (const QByteArray &chunk : chunks)
            got += buffer.append(chunk);
        QCOMPARE(got, lines);
        QCOMPARE(buffer.flush(), rest);
        QCOMPARE(buffer.flush(), std::optional<QString>());
    }

    void appendReturnsOnlyCompleteLines() {
        LineBuffer buffer;
        QCOMPARE(buffer.append("abc"), QStringList());
        QCOMPARE(buffer.append("def\nxy"), QStringList{u"abcdef"_qs});
        QCOMPARE(buffer.flush(), std::optional<QString>(u"xy"_qs));
        QCOMPARE(buffer.flush(), std::optional<QString>());
        // A flushed buffer starts afresh.
        QCOMPARE(buffer.append("z\n"), QStringList{u"z"_qs});
    }

    void byteByByteEqualsWhole() {
        const QByteArray text = "TKP|a|downloading|1|2|3|4|5\r\nlast line \xc3\xa9\n\nx";
        LineBuffer whole;
        LineBuffer split;
        QStringList bytewise;
        for (char c : text)
            bytewise += split.append(QByteArrayView(&c, 1));
        QCOMPARE(bytewise, whole.append(text));
        QCOMPARE(split.flush(), whole.flush());
    }
};

QTEST_GUILESS_MAIN(TestLineBuffer)
#include "tst_linebuffer.moc"
