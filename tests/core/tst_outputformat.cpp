#include "DownloadRequest.h"
#include "OutputFormat.h"
#include "ToolPaths.h"

#include <QTest>

class TestOutputFormat : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cases_data() {
        QTest::addColumn<OutputFormat>("format");
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("parts");
        QTest::addColumn<int>("height");
        QTest::newRow("1080") << OutputFormat::video1080 << u"video1080"_qs
                              << u"Video \u2014 up to 1080p"_qs << 2 << 1080;
        QTest::newRow("720") << OutputFormat::video720 << u"video720"_qs
                             << u"Video \u2014 up to 720p"_qs << 2 << 720;
        QTest::newRow("480") << OutputFormat::video480 << u"video480"_qs
                             << u"Video \u2014 up to 480p"_qs << 2 << 480;
        QTest::newRow("audio") << OutputFormat::audio << u"audio"_qs << u"Audio only (M4A)"_qs << 1
                               << 0;
    }

    void cases() {
        QFETCH(OutputFormat, format);
        QFETCH(QString, raw);
        QFETCH(int, height);
        QCOMPARE(rawValue(format), raw);
        QCOMPARE(outputFormatFromRawValue(raw), format);
        QTEST(label(format), "label");
        QTEST(expectedParts(format), "parts");
        QCOMPARE(heightCap(format).value_or(0), height);
    }

    void listsCasesInPickerOrder() {
        const QList<OutputFormat> expected{OutputFormat::video1080, OutputFormat::video720,
                                           OutputFormat::video480, OutputFormat::audio};
        QCOMPARE(allOutputFormats(), expected);
    }

    void rejectsNearMissRawValues_data() {
        QTest::addColumn<QString>("raw");
        QTest::newRow("capitals") << u"Video1080"_qs;
        QTest::newRow("all caps") << u"AUDIO"_qs;
        QTest::newRow("trailing blank") << u"audio "_qs;
        QTest::newRow("leading blank") << u" video720"_qs;
        QTest::newRow("empty") << QString();
        QTest::newRow("label") << u"Audio only (M4A)"_qs;
    }

    void rejectsNearMissRawValues() {
        QFETCH(QString, raw);
        QVERIFY(!outputFormatFromRawValue(raw).has_value());
    }

    void requestsCompareMemberwise() {
        const DownloadRequest a{QUrl(u"https://example.com/v"_qs), OutputFormat::video720, false,
                                QUrl::fromLocalFile(u"/tmp/out"_qs)};
        DownloadRequest b = a;
        QCOMPARE(a, b);
        b.includePlaylist = true;
        QVERIFY(!(a == b));
        b = a;
        b.format = OutputFormat::audio;
        QVERIFY(!(a == b));
        b = a;
        b.url = QUrl(u"https://example.com/v/"_qs);
        QVERIFY(!(a == b)); // no normalisation: a trailing slash is another link
        b.url = QUrl(u"HTTPS://example.com/v"_qs);
        QCOMPARE(a, b); // QUrl's own equality ignores the scheme's case
    }

    void toolPathsCompareMemberwise() {
        const ToolPaths a{QUrl::fromLocalFile(u"/a/yt-dlp"_qs),
                          QUrl::fromLocalFile(u"/a/ffmpeg"_qs), QUrl::fromLocalFile(u"/a/deno"_qs)};
        ToolPaths b = a;
        QCOMPARE(a, b);
        std::swap(b.ffmpeg, b.deno);
        QVERIFY(!(a == b));
    }
};

QTEST_GUILESS_MAIN(TestOutputFormat)
#include "tst_outputformat.moc"
