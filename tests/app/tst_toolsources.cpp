#include "ToolSources.h"

#include <QTest>

class TestToolSources : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void productionUsesTheMakersHostsAndThisPlatform() {
        const ToolSources sources = ToolSources::production();
        QCOMPARE(sources.releaseDownloads, QUrl(u"https://github.com"_qs));
        QCOMPARE(sources.api, QUrl(u"https://api.github.com"_qs));
        QCOMPARE(sources.ffmpegProvider, QUrl(u"https://ffmpeg.martin-riedl.de"_qs));
        QCOMPARE(sources.systemFFmpeg, Platform::current().systemFFmpeg);
        QCOMPARE(sources.platform.ytdlpFile, Platform::current().ytdlpFile);
        QCOMPARE(sources.platform.denoArchive, Platform::current().denoArchive);
        QCOMPARE(sources.platform.ffmpegPath, Platform::current().ffmpegPath);
    }
};

QTEST_GUILESS_MAIN(TestToolSources)
#include "tst_toolsources.moc"
