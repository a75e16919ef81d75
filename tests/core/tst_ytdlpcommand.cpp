#include "YTDLPCommand.h"

#include <QTest>

namespace {

const QString progressTemplate =
    u"download:TKP|%(info.id)s|%(progress.status)s|%(progress.downloaded_bytes)s|"
    u"%(progress.total_bytes)s|%(progress.total_bytes_estimate)s|%(progress.speed)s|"
    u"%(progress.eta)s|%(progress.fragment_index)s|%(progress.fragment_count)s"_qs;

const ToolPaths tools{QUrl::fromLocalFile(u"/Users/Zoë Ω/Tovik bin/yt-dlp"_qs),
                      QUrl::fromLocalFile(u"/opt/my tools/ffmpeg ü"_qs),
                      QUrl::fromLocalFile(u"/Users/Zoë Ω/Tovik bin/deno"_qs)};

DownloadRequest request(OutputFormat format, bool playlist, const QString &link) {
    return {QUrl(link), format, playlist, QUrl::fromLocalFile(u"/home/zoë/Movies/My Clips 🎬"_qs)};
}

QStringList head(const QString &playlistFlag) {
    return {u"--ignore-config"_qs,
            u"--no-colors"_qs,
            u"--newline"_qs,
            u"--progress"_qs,
            u"--no-simulate"_qs,
            u"--no-mtime"_qs,
            u"--socket-timeout"_qs,
            u"30"_qs,
            u"--js-runtimes"_qs,
            u"deno:/Users/Zoë Ω/Tovik bin/deno"_qs,
            u"--ffmpeg-location"_qs,
            u"/opt/my tools/ffmpeg ü"_qs,
            u"-P"_qs,
            u"/home/zoë/Movies/My Clips 🎬"_qs,
            u"-o"_qs,
            u"%(playlist_title|.)s/%(playlist_index|)s%(playlist_index& - |)s%(title)s.%(ext)s"_qs,
            u"--progress-template"_qs,
            progressTemplate,
            u"--print"_qs,
            u"video:TKT|%(id)s|%(playlist_index)s|%(playlist_count)s|%(title)s"_qs,
            u"--print"_qs,
            u"after_move:TKF|%(id)s|%(filepath)s"_qs,
            playlistFlag};
}

} // namespace

class TestYTDLPCommand : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fullVector_data() {
        QTest::addColumn<OutputFormat>("format");
        QTest::addColumn<bool>("playlist");
        QTest::addColumn<QStringList>("expected");

        const QString link = u"https://www.youtube.com/watch?v=dQw4w9WgXcQ&list=PL1"_qs;
        QTest::newRow("1080, single")
            << OutputFormat::video1080 << false
            << head(u"--no-playlist"_qs) +
                   QStringList{u"-f"_qs,
                               u"bv*[vcodec^=avc1][height<=1080]+ba[ext=m4a]/"
                               u"bv*[vcodec^=avc1][height<=1080]+ba/"
                               u"b[ext=mp4][height<=1080]/b[ext=mp4]"_qs,
                               u"--merge-output-format"_qs,
                               u"mp4"_qs,
                               u"--"_qs,
                               link};
        QTest::newRow("480, playlist")
            << OutputFormat::video480 << true
            << head(u"--yes-playlist"_qs) +
                   QStringList{u"-f"_qs,
                               u"bv*[vcodec^=avc1][height<=480]+ba[ext=m4a]/"
                               u"bv*[vcodec^=avc1][height<=480]+ba/"
                               u"b[ext=mp4][height<=480]/b[ext=mp4]"_qs,
                               u"--merge-output-format"_qs,
                               u"mp4"_qs,
                               u"--"_qs,
                               link};
        QTest::newRow("audio, playlist")
            << OutputFormat::audio << true
            << head(u"--yes-playlist"_qs) + QStringList{u"-f"_qs,  u"ba[ext=m4a]/ba/b"_qs,
                                                        u"-x"_qs,  u"--audio-format"_qs,
                                                        u"m4a"_qs, u"--"_qs,
                                                        link};
    }

    void fullVector() {
        QFETCH(OutputFormat, format);
        QFETCH(bool, playlist);
        QFETCH(QStringList, expected);
        const QString link = u"https://www.youtube.com/watch?v=dQw4w9WgXcQ&list=PL1"_qs;
        const QStringList args = YTDLPCommand::arguments(request(format, playlist, link), tools);
        QCOMPARE(args.size(), format == OutputFormat::audio ? 30 : 29);
        QCOMPARE(args, expected);
    }

    void onlyThePlaylistFlagDependsOnPlaylist_data() {
        QTest::addColumn<OutputFormat>("format");
        for (OutputFormat format : allOutputFormats())
            QTest::newRow(qPrintable(rawValue(format))) << format;
    }

    void onlyThePlaylistFlagDependsOnPlaylist() {
        QFETCH(OutputFormat, format);
        const QString link = u"https://a.com/v"_qs;
        QStringList single = YTDLPCommand::arguments(request(format, false, link), tools);
        QStringList whole = YTDLPCommand::arguments(request(format, true, link), tools);
        QCOMPARE(single.at(22), u"--no-playlist"_qs);
        QCOMPARE(whole.at(22), u"--yes-playlist"_qs);
        single.removeAt(22);
        whole.removeAt(22);
        QCOMPARE(single, whole);
    }

    void linkIsLastAfterDoubleDash_data() {
        QTest::addColumn<QString>("link");
        QTest::newRow("dash path") << u"https://a.com/-rf"_qs;
        QTest::newRow("dashes in query") << u"https://a.com/watch?v=--help"_qs;
        QTest::newRow("non-ascii path") << u"https://a.com/v%C3%ADdeo"_qs;
    }

    void linkIsLastAfterDoubleDash() {
        QFETCH(QString, link);
        const QStringList args =
            YTDLPCommand::arguments(request(OutputFormat::video720, false, link), tools);
        QCOMPARE(args.last(), link);
        QCOMPARE(args.at(args.size() - 2), u"--"_qs);
        QCOMPARE(args.count(u"--"_qs), 1);
    }

    void heightAppearsInEveryVideoAlternativeButTheLast() {
        const QStringList args = YTDLPCommand::arguments(
            request(OutputFormat::video720, false, u"https://a.com"_qs), tools);
        const QStringList alternatives = args.at(24).split(u'/');
        QCOMPARE(alternatives.size(), 4);
        for (qsizetype i = 0; i < 3; ++i)
            QVERIFY2(alternatives[i].contains(u"[height<=720]"), qPrintable(alternatives[i]));
        QCOMPARE(alternatives.last(), u"b[ext=mp4]"_qs);
        QVERIFY(!args.contains(u"-x"_qs));
    }
};

QTEST_GUILESS_MAIN(TestYTDLPCommand)
#include "tst_ytdlpcommand.moc"
