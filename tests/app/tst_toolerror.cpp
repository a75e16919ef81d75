#include "ToolError.h"

#include <QTest>

Q_DECLARE_METATYPE(ToolError::Case)

class TestToolError : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void message_data() {
        QTest::addColumn<ToolError::Case>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("http names only the host")
            << ToolError::Case(
                   ToolError::Http{404, QUrl(u"https://api.github.com/repos/a/b?x=1"_qs)})
            << u"Server returned 404 for api.github.com."_qs;
        QTest::newRow("http on a loopback port")
            << ToolError::Case(ToolError::Http{503, QUrl(u"http://127.0.0.1:8080/x"_qs)})
            << u"Server returned 503 for 127.0.0.1."_qs;
        QTest::newRow("http without host")
            << ToolError::Case(ToolError::Http{500, QUrl::fromLocalFile(u"/tmp/a b"_qs)})
            << u"Server returned 500 for file:///tmp/a b."_qs;
        QTest::newRow("no checksum") << ToolError::Case(ToolError::NoChecksum{u"yt-dlp"_qs})
                                     << u"No published checksum was found for yt-dlp."_qs;
        QTest::newRow("mismatch") << ToolError::Case(ToolError::ChecksumMismatch{u"Deno"_qs})
                                  << u"Deno failed its checksum check, so it was not installed."_qs;
        QTest::newRow("unzip") << ToolError::Case(ToolError::Unzip{u"ffmpeg.zip"_qs})
                               << u"Could not unpack ffmpeg.zip."_qs;
        QTest::newRow("not runnable") << ToolError::Case(ToolError::NotRunnable{u"yt-dlp"_qs})
                                      << u"yt-dlp was installed but does not start."_qs;
    }

    void message() {
        QFETCH(ToolError::Case, error);
        QFETCH(QString, message);
        const ToolError thrown = std::visit([](auto e) { return ToolError(e); }, error);
        QCOMPARE(thrown.message(), message);
        QCOMPARE(QString::fromUtf8(thrown.what()), message);
        QVERIFY(thrown.errorCase() == error);
    }
};

QTEST_GUILESS_MAIN(TestToolError)
#include "tst_toolerror.moc"
