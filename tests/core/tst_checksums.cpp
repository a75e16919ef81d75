#include "Checksums.h"

#include <QTest>

namespace {
const QString digestA = u"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08"_qs;
const QString digestB = u"60303ae22b998861bce3b28f33eec1be758a213c86c93c076dbe9f558c11c752"_qs;
} // namespace

class TestChecksums : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sha256_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<QString>>("digest");
        using D = std::optional<QString>;

        const QString list = digestB + u"  yt-dlp.exe\n"_qs + digestA + u"  yt-dlp_linux\n"_qs;
        QTest::newRow("list, two blanks") << u"yt-dlp_linux"_qs << list << D(digestA);
        QTest::newRow("list, binary marker")
            << u"yt-dlp_linux"_qs << digestB + u" *yt-dlp.exe\n"_qs + digestA + u" *yt-dlp_linux"_qs
            << D(digestA);
        QTest::newRow("upper-case digest lowered")
            << u"f"_qs << digestB + u" g\n"_qs + digestA.toUpper() + u" f"_qs << D(digestA);
        QTest::newRow("63 characters skipped")
            << u"f"_qs << digestB.left(63) + u" f\n"_qs + digestA + u" f"_qs << D(digestA);
        QTest::newRow("65 characters skipped")
            << u"f"_qs << digestB + u"0 f\n"_qs + digestA + u" f"_qs << D(digestA);
        QTest::newRow("letter beyond f skipped")
            << u"f"_qs << u"g"_qs + digestB.mid(1) + u" f\n"_qs + digestA + u" f"_qs << D(digestA);
        QTest::newRow("first match wins")
            << u"f"_qs << digestA + u" f\n"_qs + digestB + u" f"_qs << D(digestA);
        QTest::newRow("digest only") << u"anything"_qs << digestA << D(digestA);
        QTest::newRow("digest only, trailing newline")
            << u"anything"_qs << digestA + u"\n"_qs << D(digestA);
        QTest::newRow("digest only, blank lines around")
            << u"x"_qs << u"\n\r\n"_qs + digestA + u"  \n\n"_qs << D(digestA);
        QTest::newRow("digest-only line in a list skipped")
            << u"f"_qs << digestB + u"\n"_qs + digestA + u" f"_qs << D(digestA);
        QTest::newRow("digest-only line in a list, no match")
            << u"g"_qs << digestB + u"\n"_qs + digestA + u" f"_qs << D();
        QTest::newRow("name case differs") << u"Yt-Dlp_linux"_qs << list << D();
        QTest::newRow("crlf lines")
            << u"b"_qs << digestB + u"  a\r\n"_qs + digestA + u"  b\r\n"_qs << D(digestA);
        QTest::newRow("unicode line and word breaks")
            << u"b"_qs << digestB + u"\u2028"_qs + digestA + u"\u00a0\u2003b\u0085"_qs
            << D(digestA);
        QTest::newRow("words after the name ignored")
            << u"b"_qs << digestA + u" b trailing words"_qs << D(digestA);
        QTest::newRow("name with blank never matches")
            << u"my file"_qs << digestA + u" my file\n"_qs + digestB + u" other"_qs << D();
        QTest::newRow("only the star is dropped") << u"*b"_qs << digestA + u" **b"_qs << D(digestA);
        QTest::newRow("empty text") << u"f"_qs << QString() << D();
        QTest::newRow("whitespace only") << u"f"_qs << u" \t\n \n"_qs << D();
        QTest::newRow("a whitespace line still counts as a line")
            << u"f"_qs << digestA + u"\n   \n"_qs << D();
        QTest::newRow("no usable line") << u"f"_qs << u"Not Found"_qs << D();
    }

    void sha256() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QTEST(Checksums::sha256(name, text), "digest");
    }
};

QTEST_GUILESS_MAIN(TestChecksums)
#include "tst_checksums.moc"
