// Downloads through the queue with Debian's yt-dlp (behind its shim) and ffmpeg, from media
// generated at test time and served on 127.0.0.1.

#include "DownloadQueue.h"
#include "HttpServer.h"
#include "MediaFixtures.h"
#include "YtDlpShim.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <unistd.h>

using State = DownloadJob::State;

namespace {

constexpr int toolTimeout = 180'000;
constexpr int longMp3Seconds = 3600;

// The live processes (zombies aside) outside this test's process group whose command line
// mentions `text`: their stat lines ("pid (name) state parent group ...", where the name may
// hold anything) by process group.
QMultiHash<qint64, QByteArray> processes(const QString &text = {}) {
    QMultiHash<qint64, QByteArray> found;
    for (const QString &pid : QDir(u"/proc"_qs).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(u"/proc/"_qs + pid + u"/stat"_qs),
            arguments(u"/proc/"_qs + pid + u"/cmdline"_qs);
        if (!stat.open(QIODevice::ReadOnly) || !arguments.open(QIODevice::ReadOnly) ||
            (!text.isEmpty() && !arguments.readAll().contains(text.toUtf8())))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields.at(0) != "Z" && fields.at(2).toLongLong() != ::getpgrp())
            found.insert(fields.at(2).toLongLong(), line);
    }
    return found;
}

// Every file under the folder but in Tovik's hidden staging folders, by path relative to the
// folder, with its bytes.
QMap<QString, QByteArray> contents(const QString &folder) {
    QMap<QString, QByteArray> entries;
    for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        QFile file(it.next());
        entries.insert(QDir(folder).relativeFilePath(file.fileName()),
                       file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return entries;
}

// A media file's streams ("codec/height" of a video), sorted, and its length in whole seconds:
// "aac h264/720 3s".
QString summary(const QString &fileName) {
    QProcess ffprobe;
    ffprobe.start(u"/usr/bin/ffprobe"_qs, {u"-v"_qs, u"error"_qs, u"-show_entries"_qs,
                                           u"stream=codec_name,height:format=duration"_qs,
                                           u"-of"_qs, u"csv=p=0"_qs, fileName});
    ffprobe.waitForFinished(60'000);
    QStringList lines = QString::fromUtf8(ffprobe.readAllStandardOutput())
                            .replace(u',', u'/')
                            .split(u'\n', Qt::SkipEmptyParts);
    const double seconds = lines.isEmpty() ? -1 : lines.takeLast().toDouble();
    lines.sort();
    return (lines << QString::number(qRound(seconds)) + u's').join(u' ');
}

// Checks what the folder holds ("path=summary" of each file; sorted, joined by "; ") and that
// the jobs listed each of its files once.
void checkFolder(const QString &folder, const QString &expected, const QList<QUrl> &listed) {
    const QStringList paths = contents(folder).keys();
    QStringList found, names;
    for (const QString &path : paths)
        found.append(path + u'=' + summary(folder + u'/' + path));
    QCOMPARE(found.join(u"; "_qs), expected);
    for (const QUrl &file : listed)
        names.append(QDir(folder).relativeFilePath(file.toLocalFile()));
    names.sort();
    QCOMPARE(names, paths);
}

} // namespace

class TestRealTools : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    HttpServer m_server;
    ToolPaths m_tools;
    // What the last job showed: each fraction, each " index/count" in the playlist, each state.
    struct {
        QList<double> fractions;
        QString positions;
        QList<State> states;
    } m_seen;

    // What the last job shows in the end: "title index/count...: finished", "…: warning: …",
    // "…: failed: …", or "…: state" and the index of another.
    QString report(const DownloadJob *job) const {
        QString ending = job->warning() ? u"warning: "_qs + *job->warning() : u"finished"_qs;
        if (const auto *failed = std::get_if<DownloadJob::Failed>(&job->state()))
            ending = u"failed: "_qs + failed->message;
        else if (!std::holds_alternative<DownloadJob::Finished>(job->state()))
            ending = u"state %1"_qs.arg(job->state().index());
        return job->title().value_or(QString()) + m_seen.positions + u": "_qs + ending;
    }

    // Adds one request ("path format"; a feed as a playlist) and returns its job; what the job
    // shows from then on is recorded.
    DownloadJob *add(DownloadQueue &queue, const QString &download, const QString &folder) {
        const QString path = download.section(u' ', 0, 0);
        queue.add({DownloadRequest{m_server.url(path),
                                   *outputFormatFromRawValue(download.section(u' ', 1, 1)),
                                   path.endsWith(u".xml"_qs), QUrl::fromLocalFile(folder)}},
                  m_tools);
        // pump marked the job downloading inside add(); its run starts in the next turn.
        DownloadJob *job = queue.jobs().first();
        m_seen = {{}, {}, {job->state()}};
        connect(job, &DownloadJob::fractionChanged, this,
                [this, job] { m_seen.fractions.append(job->fraction()); });
        connect(job, &DownloadJob::stateChanged, this,
                [this, job] { m_seen.states.append(job->state()); });
        // Read once the whole event has been applied.
        connect(job, &DownloadJob::changed, this, [this, job] {
            const QString position = u" %1/%2"_qs.arg(job->playlistIndex().value_or(0))
                                         .arg(job->playlistCount().value_or(0));
            if (job->playlistIndex() && !m_seen.positions.endsWith(position))
                m_seen.positions += position;
        });
        return job;
    }

private Q_SLOTS:
    void initTestCase() {
        const QString ytdlp = YtDlpShim::realYtDlp();
        if (ytdlp.isEmpty() || MediaFixtures::ffmpeg().isEmpty() ||
            !QFileInfo(u"/usr/bin/ffprobe"_qs).isExecutable())
            QSKIP("Needs Debian's yt-dlp, ffmpeg and ffprobe (apt-get install yt-dlp ffmpeg)");
        const QDir dir(m_dir.path());
        QVERIFY(m_dir.isValid() && dir.mkpath(u"bin"_qs) && dir.mkpath(u"media/other"_qs));
        // yt-dlp keeps a cache under HOME; the user's stays untouched. It reads no configuration.
        qputenv("HOME", QFile::encodeName(dir.filePath(u"home"_qs)));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath(u"home/.cache"_qs)));
        const QString shim = YtDlpShim::write(dir.filePath(u"bin"_qs), ytdlp);
        QVERIFY(!shim.isEmpty());
        m_tools = {QUrl::fromLocalFile(shim), QUrl::fromLocalFile(MediaFixtures::ffmpeg()),
                   QUrl::fromLocalFile(dir.filePath(u"bin/deno"_qs))};

        const QString media = dir.filePath(u"media"_qs), full = dir.filePath(u"full.mp4"_qs);
        const QUrl base = m_server.url(u"/"_qs);
        using namespace MediaFixtures;
        // In order; other/clip.mp4 is another video under the title of clip.mp4.
        for (const QString &problem :
             {dash(media + u"/dash"_qs, 3), clip(media + u"/clip.mp4"_qs, {640, 360}, 2),
              clip(media + u"/other/clip.mp4"_qs, {320, 240}, 3), clip(full, {1920, 1080}, 10),
              fragmented(full, media, {1920, 1080}, 2),
              clip(media + u"/long-mp3.mp4"_qs, {}, longMp3Seconds),
              feed(media + u"/feed-missing.xml"_qs, u"Gappy Channel"_qs, base,
                   u"One=one.mp4 Gone=gone.mp4 Three=three.mp4"_qs),
              feed(media + u"/intros.xml"_qs, u"Intro Channel"_qs, base,
                   u"Intro=clip.mp4 Intro=other/clip.mp4"_qs)})
            QCOMPARE(problem, QString());
        for (const QString &name : {u"one"_qs, u"three"_qs, u"slow"_qs})
            QVERIFY(QFile::copy(media + u"/clip.mp4"_qs, media + u'/' + name + u".mp4"_qs));
        const QHash<QString, QByteArray> types{{u"mpd"_qs, "application/dash+xml"},
                                               {u"m3u8"_qs, "application/vnd.apple.mpegurl"},
                                               {u"m4a"_qs, "audio/mp4"},
                                               {u"xml"_qs, "application/rss+xml"}};
        for (QDirIterator it(media, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            QFile file(it.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString path = u'/' + QDir(media).relativeFilePath(file.fileName());
            // About 40 KB/s for slow.mp4: long enough to cancel in flight.
            m_server.route(path, {.headers = {{"Content-Type",
                                               types.value(QFileInfo(path).suffix(), "video/mp4")}},
                                  .body = file.readAll(),
                                  .chunkSize = path == u"/slow.mp4"_qs ? 2048 : 0,
                                  .interval = std::chrono::milliseconds(50),
                                  .cutAfter = {}});
        }
    }

    // Downloads one after the other into one folder; each must end as its pattern of report()
    // says, leave every file there before it as it was and add its own complete files under
    // free names. A number after the format: the one item's bar moves only forward, through
    // more than that many fractions, to the end.
    void downloads_data() {
        QTest::addColumn<QString>("downloads"); // "path format [steps]", joined by ", "
        QTest::addColumn<QString>("shows");     // one pattern per download, joined by "; "
        QTest::addColumn<QString>("leaves");    // what the folder holds in the end (checkFolder)
        const auto row = [](const char *tag, const char *downloads, const char *shows,
                            const char *leaves) {
            QTest::newRow(tag) << QString::fromUtf8(downloads) << QString::fromUtf8(shows)
                               << QString::fromUtf8(leaves);
        };
        // A single video keeps its own title: no playlist title stands in for it.
        row("DASH", "/dash/manifest.mpd video720 2, /dash/manifest.mpd audio 1",
            "manifest: finished; manifest: finished",
            "manifest.m4a=aac 3s; manifest.mp4=aac h264/720 3s");
        // Sources that yt-dlp fetches fragment by fragment, its size estimate changing after each.
        row("DASH segments", "/segments/manifest.mpd video1080 10, /segments/manifest.mpd audio 10",
            "manifest: finished; manifest: finished",
            "manifest.m4a=aac 10s; manifest.mp4=aac h264/1080 10s");
        row("HLS", "/hls/master.m3u8 video1080 10, /hls/master.m3u8 audio 10",
            "master: finished; master: finished",
            "master.m4a=aac 10s; master.mp4=aac h264/1080 10s");
        // Everything of a feed lands in one sub-folder named after it; entries of one title
        // keep apart by their numbers.
        row("feeds", "/feed-missing.xml video480, /intros.xml video480",
            "Gappy Channel 1/3 3/3: warning: One item failed: .*404.*; "
            "Intro Channel 1/2 2/2: finished",
            "Gappy Channel/1 - One.mp4=aac h264/360 2s; "
            "Gappy Channel/3 - Three.mp4=aac h264/360 2s; "
            "Intro Channel/1 - Intro.mp4=aac h264/360 2s; "
            "Intro Channel/2 - Intro.mp4=aac h264/240 3s");
        // A missing video fails with yt-dlp's own message, without its "ERROR: [extractor] id: "
        // lead. Then video and audio of one link, the same link again, another video of the
        // same title.
        row("one title",
            "/gone.mp4 video1080, /clip.mp4 video720, /clip.mp4 audio, "
            "/clip.mp4 video720, /other/clip.mp4 video720",
            ": failed: Unable to download webpage: HTTP Error 404.*; clip: finished; "
            "clip: finished; clip: finished; clip: finished",
            "clip (1).mp4=aac h264/360 2s; clip (2).mp4=aac h264/240 3s; clip.m4a=aac 2s; "
            "clip.mp4=aac h264/360 2s");
    }

    void downloads() {
        QFETCH(QString, downloads);
        QFETCH(QString, shows);
        const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        const QStringList list = downloads.split(u", "_qs), patterns = shows.split(u"; "_qs);
        DownloadQueue queue;
        QList<QUrl> listed;
        for (qsizetype i = 0; i < list.size(); ++i) {
            const QMap<QString, QByteArray> before = contents(folder);
            DownloadJob *job = add(queue, list[i], folder);
            QTRY_VERIFY_WITH_TIMEOUT(!job->isActive(), toolTimeout);
            const QString shown = report(job);
            QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(patterns.value(i)))
                         .match(shown)
                         .hasMatch(),
                     qPrintable(shown));
            listed += job->files();
            for (const QString &path : before.keys())
                QVERIFY2(contents(folder).value(path) == before.value(path), qPrintable(path));
            const int steps = list[i].section(u' ', 2).toInt();
            if (steps == 0)
                continue;
            // Each fraction above the one before it, up to 1.
            QVERIFY2(m_seen.fractions.size() > steps &&
                         std::ranges::adjacent_find(m_seen.fractions, std::greater_equal<>()) ==
                             m_seen.fractions.end() &&
                         m_seen.fractions.last() == 1.0,
                     qPrintable(QDebug::toString(m_seen.fractions)));
            // Where the video part ends and the audio part begins.
            QVERIFY(list[i].contains(u"audio"_qs) || m_seen.fractions.contains(0.9));
            QCOMPARE(m_seen.states,
                     (QList<State>{DownloadJob::Downloading{}, DownloadJob::Processing{},
                                   DownloadJob::Finished{}}));
        }
        QFETCH(QString, leaves);
        checkFolder(folder, leaves, listed);
    }

    // Stops a download while it runs: cancelled in the queue, or with a signal to a Tovik of
    // its own. Its processes end with it, and no file is left under a final name.
    void stop_data() {
        QTest::addColumn<QString>("download");
        QTest::addColumn<int>("signal");      // 0: cancelled in the queue
        QTest::addColumn<QString>("retried"); // what a retry then leaves in the folder
        QTest::newRow("cancel in flight") << u"/slow.mp4 video720"_qs << 0 << QString();
        // Extracting M4A audio has ffmpeg re-encode the whole source.
        const QString extraction = u"/long-mp3.mp4 audio"_qs;
        QTest::newRow("cancel during extraction, then retry")
            << extraction << 0 << u"long-mp3.m4a=aac %1s"_qs.arg(longMp3Seconds);
        QTest::newRow("SIGTERM during extraction") << extraction << SIGTERM << QString();
        QTest::newRow("SIGKILL during extraction") << extraction << SIGKILL << QString();
    }

    void stop() {
#ifndef Q_OS_LINUX
        QSKIP("Reads the process table from /proc");
#endif
        QFETCH(QString, download);
        QFETCH(int, signal);
        QFETCH(QString, retried);
        const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        DownloadQueue queue;
        QProcess host;
        DownloadJob *job = signal ? nullptr : add(queue, download, folder);
        if (signal) {
            host.start(QString::fromUtf8(QUEUE_HOST),
                       {m_tools.ytdlp.toLocalFile(),
                        m_server.url(download.section(u' ', 0, 0)).toString(), folder,
                        download.section(u' ', 1)});
            QVERIFY(host.waitForStarted());
        }
        // In flight: the bar has moved; else ffmpeg works below yt-dlp. The job's processes are
        // those of the folder (but a host's, which is in this test's group).
        const bool inFlight = download.startsWith(u"/slow"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(inFlight
                                     ? job->fraction() > 0
                                     : processes(folder).values().join().contains(" (ffmpeg) "),
                                 toolTimeout);
        const QList<qint64> groups = processes(folder).uniqueKeys();
        QVERIFY(!groups.isEmpty());
        if (signal) {
            ::kill(static_cast<pid_t>(host.processId()), signal);
            QVERIFY(host.waitForFinished(5'000));
        } else {
            queue.cancel(job);
            QTRY_VERIFY_WITH_TIMEOUT(!job->isActive(), toolTimeout);
            QVERIFY(std::holds_alternative<DownloadJob::Cancelled>(job->state()));
            QVERIFY(!inFlight || job->fraction() < 1.0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(processes(folder).isEmpty(), 5'000);
        QVERIFY(std::ranges::none_of(groups,
                                     [all = processes()](qint64 g) { return all.contains(g); }));
        // Nothing under a final name: whatever ffmpeg had written stays out of sight.
        QCOMPARE(contents(folder).keys(), QStringList());
        if (retried.isEmpty())
            return;
        queue.retry(job, m_tools);
        DownloadJob *retry = queue.jobs().first();
        QTRY_VERIFY_WITH_TIMEOUT(!retry->isActive(), toolTimeout);
        QCOMPARE(report(retry), u"long-mp3: finished"_qs);
        checkFolder(folder, retried, retry->files());
    }
};

QTEST_GUILESS_MAIN(TestRealTools)
#include "tst_realtools.moc"
