#include "ErrorText.h"

#include <QTest>

class TestErrorText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void forDownload_data();
    void forDownload();
    void setupHint_data();
    void setupHint();
};

void TestErrorText::forDownload_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    const QString report =
        u"; please report this issue on  https://github.com/yt-dlp/yt-dlp/issues?q= , filling "
        "out the appropriate issue template. Confirm you are on the latest version using  "
        "yt-dlp -U"_qs;
    QTest::newRow("404 with a bug-report request")
        << u"Unable to download webpage: HTTP Error 404: Not Found (caused by <HTTPError 404: "
           "'Not Found'>)"_qs +
               report
        << u"The site has no page at this link (HTTP 404). Check the link."_qs;
    QTest::newRow("403 on the video data")
        << u"unable to download video data: HTTP Error 403: Forbidden"_qs
        << u"The site refused access to this video (HTTP 403)."_qs;
    QTest::newRow("server error") << u"Unable to download JSON metadata: HTTP Error 503: "
                                     "Service Unavailable"_qs
                                  << u"The site had a problem (HTTP 503). Try again later."_qs;
    QTest::newRow("other status keeps its reason")
        << u"Unable to download webpage: HTTP Error 451: Unavailable For Legal Reasons"_qs
        << u"The site answered with HTTP error 451, “Unavailable For Legal Reasons”."_qs;
    QTest::newRow("unknown host")
        << u"Unable to download webpage: <urlopen error [Errno -2] Name or service not known> "
           "(caused by URLError(gaierror(-2, 'Name or service not known')))"_qs
        << u"The site could not be reached. Check the link and your internet connection."_qs;
    QTest::newRow("format with command-line advice")
        << u"Requested format is not available. Use --list-formats for a list of available "
           "formats"_qs
        << u"This video is not offered in the chosen format."_qs;
    QTest::newRow("unsupported link") << u"Unsupported URL: https://example.com/page"_qs
                                      << u"Tovik cannot find a video at this link."_qs;
    QTest::newRow("full disk") << u"[Errno 28] No space left on device: '/x/a.part'"_qs
                               << u"The disk is full."_qs;
    QTest::newRow("advice sentences and wiki links left out")
        << u"Sign in to confirm your age. This video may be inappropriate for some users. Use "
           "--cookies-from-browser or --cookies for the authentication. See  "
           "https://github.com/yt-dlp/yt-dlp/wiki/FAQ  for how to manually pass cookies"_qs
        << u"Sign in to confirm your age. This video may be inappropriate for some users."_qs;
    QTest::newRow("plain message unchanged") << u"Video unavailable"_qs << u"Video unavailable"_qs;
    QTest::newRow("Tovik's own message unchanged")
        << u"yt-dlp stopped with code 9."_qs << u"yt-dlp stopped with code 9."_qs;
    QTest::newRow("nothing but advice keeps the message")
        << u"Use --help for help"_qs << u"Use --help for help"_qs;
}

void TestErrorText::forDownload() {
    QFETCH(QString, message);
    QTEST(ErrorText::forDownload(message), "shown");
}

void TestErrorText::setupHint_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("hint");
    const QString offline =
        u"Check that this computer is connected to the internet, then try again."_qs;
    QTest::newRow("unknown host") << u"Host api.github.com not found"_qs << offline;
    QTest::newRow("refused") << u"Connection refused"_qs << offline;
    QTest::newRow("timeout") << u"Socket operation timed out"_qs << offline;
    QTest::newRow("TLS") << u"SSL handshake failed: certificate has expired"_qs
                         << u"A secure connection could not be made. Check the computer's date "
                            "and time and any proxy settings, then try again."_qs;
    QTest::newRow("server") << u"Server returned 502 for github.com."_qs
                            << u"The download site had a problem. Try again in a few minutes."_qs;
    QTest::newRow("checksum") << u"deno failed its checksum check, so it was not installed."_qs
                              << u"What arrived did not match what its makers published, so it "
                                 "was not kept. Try again later."_qs;
    QTest::newRow("unpack") << u"Could not unpack ffmpeg.zip."_qs
                            << u"Check that your home folder has free space and can be written "
                               "to, then try again."_qs;
    QTest::newRow("nothing to say") << u"Something odd"_qs << QString();
}

void TestErrorText::setupHint() {
    QFETCH(QString, message);
    QTEST(ErrorText::setupHint(message).value_or(QString()), "hint");
}

QTEST_APPLESS_MAIN(TestErrorText)
#include "tst_errortext.moc"
