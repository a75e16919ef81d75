#include "Platform.h"

#include <QSysInfo>
#include <QTest>

Q_DECLARE_METATYPE(Platform::Kind)

class TestPlatform : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rows_data() {
        QTest::addColumn<Platform::Kind>("kind");
        QTest::addColumn<QString>("ytdlpFile");
        QTest::addColumn<QString>("denoArchive");
        QTest::addColumn<QString>("ffmpegPath");
        QTest::addColumn<QStringList>("systemFFmpeg");
        QTest::addColumn<QString>("systemFFmpegText");
        QTest::addColumn<QString>("revealFilesText");
        const QStringList homebrew{u"/opt/homebrew/bin/ffmpeg"_qs, u"/usr/local/bin/ffmpeg"_qs};
        const QStringList system{u"/usr/bin/ffmpeg"_qs, u"/usr/local/bin/ffmpeg"_qs};
        QTest::newRow("macOS arm64") << Platform::Kind::macOSArm64 << u"yt-dlp_macos"_qs
                                     << u"deno-aarch64-apple-darwin.zip"_qs
                                     << u"/redirect/latest/macos/arm64/release/ffmpeg.zip"_qs
                                     << homebrew << u"Using Homebrew"_qs << u"Show in Finder"_qs;
        QTest::newRow("macOS x86_64") << Platform::Kind::macOSX86_64 << u"yt-dlp_macos"_qs
                                      << u"deno-x86_64-apple-darwin.zip"_qs
                                      << u"/redirect/latest/macos/amd64/release/ffmpeg.zip"_qs
                                      << homebrew << u"Using Homebrew"_qs << u"Show in Finder"_qs;
        QTest::newRow("Linux x86_64")
            << Platform::Kind::linuxX86_64 << u"yt-dlp_linux"_qs
            << u"deno-x86_64-unknown-linux-gnu.zip"_qs
            << u"/redirect/latest/linux/amd64/release/ffmpeg.zip"_qs << system
            << u"Using system ffmpeg"_qs << u"Show in Folder"_qs;
        QTest::newRow("Linux aarch64")
            << Platform::Kind::linuxAarch64 << u"yt-dlp_linux_aarch64"_qs
            << u"deno-aarch64-unknown-linux-gnu.zip"_qs
            << u"/redirect/latest/linux/arm64/release/ffmpeg.zip"_qs << system
            << u"Using system ffmpeg"_qs << u"Show in Folder"_qs;
    }

    void rows() {
        QFETCH(Platform::Kind, kind);
        const Platform platform = Platform::forKind(kind);
        QTEST(platform.ytdlpFile, "ytdlpFile");
        QTEST(platform.denoArchive, "denoArchive");
        QTEST(platform.ffmpegPath, "ffmpegPath");
        QTEST(platform.systemFFmpeg, "systemFFmpeg");
        QTEST(platform.systemFFmpegText, "systemFFmpegText");
        QTEST(platform.revealFilesText, "revealFilesText");
    }

    // The build's row, found from what Qt reports about the host rather than from the
    // preprocessor symbols the table itself uses.
    void currentIsTheHostsRow() {
        const QString os = QSysInfo::kernelType();
        const QString cpu = QSysInfo::buildCpuArchitecture();
        Platform::Kind kind{};
        if (os == u"darwin" && cpu == u"arm64")
            kind = Platform::Kind::macOSArm64;
        else if (os == u"darwin" && cpu == u"x86_64")
            kind = Platform::Kind::macOSX86_64;
        else if (os == u"linux" && cpu == u"x86_64")
            kind = Platform::Kind::linuxX86_64;
        else if (os == u"linux" && cpu == u"arm64")
            kind = Platform::Kind::linuxAarch64;
        else
            QFAIL(qPrintable(u"unexpected host " + os + u' ' + cpu));
        const Platform expected = Platform::forKind(kind);
        const Platform current = Platform::current();
        QCOMPARE(current.ytdlpFile, expected.ytdlpFile);
        QCOMPARE(current.denoArchive, expected.denoArchive);
        QCOMPARE(current.ffmpegPath, expected.ffmpegPath);
        QCOMPARE(current.systemFFmpeg, expected.systemFFmpeg);
        QCOMPARE(current.systemFFmpegText, expected.systemFFmpegText);
        QCOMPARE(current.revealFilesText, expected.revealFilesText);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
