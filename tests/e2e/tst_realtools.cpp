// Downloads through the queue with Debian's yt-dlp (behind its shim) and ffmpeg, from media
// generated at test time and served on 127.0.0.1.

#include "DownloadQueue.h"
#include "HttpServer.h"
#include "MediaFixtures.h"
#include "YtDlpShim.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>
#include <unistd.h>

using State = DownloadJob::State;

Q_DECLARE_METATYPE(OutputFormat)

namespace {

constexpr int toolTimeout = 180'000;

template <typename Case> bool is(const DownloadJob *job) {
    return std::holds_alternative<Case>(job->state());
}

struct Stream {
    QString type;
    QString codec;
    int height = 0;
};

QList<Stream> probe(const QString &fileName) {
    QProcess ffprobe;
    ffprobe.start(u"/usr/bin/ffprobe"_qs,
                  {u"-v"_qs, u"error"_qs, u"-show_entries"_qs,
                   u"stream=codec_type,codec_name,height"_qs, u"-of"_qs, u"json"_qs, fileName});
    if (!ffprobe.waitForFinished(60'000))
        return {};
    QList<Stream> streams;
    const QJsonArray array =
        QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object()[u"streams"_qs].toArray();
    for (const QJsonValue &value : array) {
        const QJsonObject stream = value.toObject();
        streams.append({stream[u"codec_type"_qs].toString(), stream[u"codec_name"_qs].toString(),
                        stream[u"height"_qs].toInt()});
    }
    return streams;
}

// The processes whose command line mentions `text`, with their process groups.
QList<std::pair<qint64, qint64>> processesMentioning(const QByteArray &text) {
    QList<std::pair<qint64, qint64>> found;
    const QStringList entries = QDir(u"/proc"_qs).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        QFile cmdline(u"/proc/"_qs + entry + u"/cmdline"_qs);
        if (!number || !cmdline.open(QIODevice::ReadOnly) || !cmdline.readAll().contains(text))
            continue;
        QFile stat(u"/proc/"_qs + entry + u"/stat"_qs);
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // After "(name)": state, parent, group.
        const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
        if (fields.size() > 2 && fields.at(0) != "Z")
            found.append({pid, fields.at(2).toLongLong()});
    }
    return found;
}

// Whether any process, zombies aside, still belongs to the group.
bool groupAlive(qint64 group) {
    const QStringList entries = QDir(u"/proc"_qs).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        QFile stat(u"/proc/"_qs + entry + u"/stat"_qs);
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
        if (fields.size() > 2 && fields.at(0) != "Z" && fields.at(2).toLongLong() == group)
            return true;
    }
    return false;
}

// Every file under the folder but Tovik's hidden staging folders: its path relative to the
// folder, and a digest of its bytes.
QHash<QString, QByteArray> contents(const QString &folder) {
    QHash<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QCryptographicHash digest(QCryptographicHash::Sha256);
        digest.addData(&file);
        files.insert(QDir(folder).relativeFilePath(file.fileName()), digest.result());
    }
    return files;
}

double durationOf(const QString &fileName) {
    QProcess ffprobe;
    ffprobe.start(u"/usr/bin/ffprobe"_qs,
                  {u"-v"_qs, u"error"_qs, u"-show_entries"_qs, u"format=duration"_qs, u"-of"_qs,
                   u"default=noprint_wrappers=1:nokey=1"_qs, fileName});
    if (!ffprobe.waitForFinished(60'000))
        return -1;
    return ffprobe.readAllStandardOutput().trimmed().toDouble();
}

constexpr int longMp3Seconds = 3600;

// Whether an ffmpeg works on the folder, below yt-dlp (not in this test's process group).
bool ffmpegRunsFor(const QString &folder) {
    const QList<std::pair<qint64, qint64>> processes = processesMentioning(folder.toUtf8());
    return std::any_of(processes.cbegin(), processes.cend(), [](const auto &process) {
        QFile name(u"/proc/"_qs + QString::number(process.first) + u"/comm"_qs);
        return process.second != ::getpgrp() && name.open(QIODevice::ReadOnly) &&
               name.readAll().trimmed() == "ffmpeg";
    });
}

QByteArray contentType(const QString &fileName) {
    if (fileName.endsWith(u".mpd"_qs))
        return "application/dash+xml";
    if (fileName.endsWith(u".m3u8"_qs))
        return "application/vnd.apple.mpegurl";
    if (fileName.endsWith(u".m4a"_qs))
        return "audio/mp4";
    if (fileName.endsWith(u".xml"_qs))
        return "application/rss+xml";
    return "video/mp4";
}

// The first fraction below the one before it, with the whole sequence; empty when there is none.
QString stepBack(const QList<double> &fractions) {
    for (qsizetype i = 1; i < fractions.size(); ++i) {
        if (fractions.at(i) < fractions.at(i - 1)) {
            QStringList all;
            for (double fraction : fractions)
                all.append(QString::number(fraction, 'f', 3));
            return u"fraction %1 after %2 in: %3"_qs.arg(fractions.at(i))
                .arg(fractions.at(i - 1))
                .arg(all.join(u' '));
        }
    }
    return {};
}

} // namespace

class TestRealTools : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void dashVideo720();
    void dashAudio();
    void fragmented_data();
    void fragmented();
    void feedAsPlaylist();
    void feedWithMissingEntry();
    void missingVideo();
    void cancelInFlight();
    void keepsEveryFile_data();
    void keepsEveryFile();
    void cancelDuringExtractionThenRetry();
    void endedTovikLeavesNoFfmpeg_data();
    void endedTovikLeavesNoFfmpeg();

private:
    // Adds one request and returns its job; every fraction it shows is recorded.
    DownloadJob *add(DownloadQueue &queue, const QString &path, OutputFormat format,
                     bool includePlaylist, const QString &folder);
    void serve(const QString &path, const QByteArray &body, qsizetype chunkSize = 0);
    // Serves "/long-mp3.mp4", made on first use; false when it cannot be made.
    bool serveLongMp3();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<HttpServer> m_server;
    ToolPaths m_tools;
    QList<double> m_fractions;
    QList<std::pair<std::optional<qint64>, std::optional<qint64>>> m_positions;
    QList<State> m_states;
};

void TestRealTools::initTestCase() {
    const QString ytdlp = YtDlpShim::realYtDlp();
    if (ytdlp.isEmpty() || MediaFixtures::ffmpeg().isEmpty() ||
        !QFileInfo(u"/usr/bin/ffprobe"_qs).isExecutable())
        QSKIP("Needs Debian's yt-dlp, ffmpeg and ffprobe (apt-get install yt-dlp ffmpeg)");

    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    const QDir dir(m_dir->path());
    QVERIFY(dir.mkpath(u"home/.cache"_qs) && dir.mkpath(u"bin"_qs) && dir.mkpath(u"media"_qs));
    // yt-dlp keeps a cache under HOME; the user's stays untouched.
    qputenv("HOME", QFile::encodeName(dir.filePath(u"home"_qs)));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath(u"home/.cache"_qs)));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(u"home/.config"_qs)));

    const QString shim = YtDlpShim::write(dir.filePath(u"bin"_qs), ytdlp);
    QVERIFY(!shim.isEmpty());
    m_tools = {QUrl::fromLocalFile(shim), QUrl::fromLocalFile(MediaFixtures::ffmpeg()),
               QUrl::fromLocalFile(dir.filePath(u"bin/deno"_qs))};

    const QString media = dir.filePath(u"media"_qs);
    QCOMPARE(MediaFixtures::dash(media + u"/dash"_qs, 3), QString());
    QCOMPARE(MediaFixtures::clip(media + u"/clip.mp4"_qs, {640, 360}, 2), QString());
    const QString full = dir.filePath(u"full.mp4"_qs);
    QCOMPARE(MediaFixtures::clip(full, {1920, 1080}, 10), QString());
    QCOMPARE(MediaFixtures::segmentedDash(full, media + u"/segments"_qs, 2), QString());
    QCOMPARE(MediaFixtures::hls(full, media + u"/hls"_qs, {1920, 1080}, 2), QString());

    m_server = std::make_unique<HttpServer>();
    QDirIterator files(media, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString fileName = files.next();
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        serve(u'/' + QDir(media).relativeFilePath(fileName), file.readAll());
    }
    QFile clip(media + u"/clip.mp4"_qs);
    QVERIFY(clip.open(QIODevice::ReadOnly));
    const QByteArray clipBytes = clip.readAll();
    serve(u"/one.mp4"_qs, clipBytes);
    serve(u"/two.mp4"_qs, clipBytes);
    serve(u"/three.mp4"_qs, clipBytes);
    // About 40 KB/s: long enough to cancel in flight.
    serve(u"/slow.mp4"_qs, clipBytes, 2048);

    const auto link = [this](const QString &path) { return m_server->url(path); };
    serve(u"/feed.xml"_qs,
          MediaFixtures::feed(u"Loopback Channel"_qs, {{u"One"_qs, link(u"/one.mp4"_qs)},
                                                       {u"Two"_qs, link(u"/two.mp4"_qs)},
                                                       {u"Three"_qs, link(u"/three.mp4"_qs)}}));
    serve(u"/feed-missing.xml"_qs,
          MediaFixtures::feed(u"Gappy Channel"_qs, {{u"One"_qs, link(u"/one.mp4"_qs)},
                                                    {u"Gone"_qs, link(u"/gone.mp4"_qs)},
                                                    {u"Three"_qs, link(u"/three.mp4"_qs)}}));
    // Another video under the same title as clip.mp4, and a feed of two entries titled alike.
    const QString other = dir.filePath(u"other-clip.mp4"_qs);
    QCOMPARE(MediaFixtures::clip(other, {320, 240}, 3), QString());
    QFile otherClip(other);
    QVERIFY(otherClip.open(QIODevice::ReadOnly));
    serve(u"/other/clip.mp4"_qs, otherClip.readAll());
    serve(u"/intros.xml"_qs,
          MediaFixtures::feed(u"Intro Channel"_qs, {{u"Intro"_qs, link(u"/clip.mp4"_qs)},
                                                    {u"Intro"_qs, link(u"/other/clip.mp4"_qs)}}));
}

void TestRealTools::serve(const QString &path, const QByteArray &body, qsizetype chunkSize) {
    HttpServer::Response response;
    response.headers = {{"Content-Type", contentType(path)}};
    response.body = body;
    response.chunkSize = chunkSize;
    response.interval = std::chrono::milliseconds(50);
    m_server->route(path, response);
}

DownloadJob *TestRealTools::add(DownloadQueue &queue, const QString &path, OutputFormat format,
                                bool includePlaylist, const QString &folder) {
    m_fractions.clear();
    m_positions.clear();
    m_states.clear();
    // The job is made inside add(); watch it before pump starts it.
    const auto watch = connect(&queue, &DownloadQueue::jobsInserted, this, [this, &queue] {
        DownloadJob *job = queue.jobs().first();
        connect(job, &DownloadJob::fractionChanged, this,
                [this, job] { m_fractions.append(job->fraction()); });
        // Read once the whole event has been applied.
        connect(job, &DownloadJob::changed, this, [this, job] {
            const std::pair position{job->playlistIndex(), job->playlistCount()};
            if (position.first && (m_positions.isEmpty() || m_positions.last() != position))
                m_positions.append(position);
        });
        connect(job, &DownloadJob::stateChanged, this,
                [this, job] { m_states.append(job->state()); });
    });
    queue.add({DownloadRequest{m_server->url(path), format, includePlaylist,
                               QUrl::fromLocalFile(folder)}},
              m_tools);
    disconnect(watch);
    return queue.jobs().first();
}

void TestRealTools::dashVideo720() {
    DownloadQueue queue;
    const QString folder = m_dir->filePath(u"out-dash"_qs);
    DownloadJob *job = add(queue, u"/dash/manifest.mpd"_qs, OutputFormat::video720, false, folder);
    QTRY_VERIFY_WITH_TIMEOUT(!job->isActive(), toolTimeout);
    QVERIFY2(is<DownloadJob::Finished>(job),
             qPrintable(std::get_if<DownloadJob::Failed>(&job->state())
                            ? std::get<DownloadJob::Failed>(job->state()).message
                            : QString()));
    QCOMPARE(job->warning(), std::nullopt);
    QCOMPARE(job->files().size(), 1);
    const QString file = job->files().first().toLocalFile();
    QVERIFY(file.endsWith(u".mp4"_qs));
    QCOMPARE(QFileInfo(file).path(), folder);
    QVERIFY(QFileInfo::exists(file));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), 1);

    const QList<Stream> streams = probe(file);
    QCOMPARE(streams.size(), 2);
    const auto video = std::find_if(streams.cbegin(), streams.cend(),
                                    [](const Stream &s) { return s.type == u"video"_qs; });
    const auto audio = std::find_if(streams.cbegin(), streams.cend(),
                                    [](const Stream &s) { return s.type == u"audio"_qs; });
    QVERIFY(video != streams.cend() && audio != streams.cend());
    QCOMPARE(video->codec, u"h264"_qs);
    QVERIFY(video->height > 0 && video->height <= 720);
    QCOMPARE(audio->codec, u"aac"_qs);

    // One item: its bar only moves forward, through both parts, to the end.
    QVERIFY(m_fractions.size() > 2);
    const QString back = stepBack(m_fractions);
    QVERIFY2(back.isEmpty(), qPrintable(back));
    QVERIFY(m_fractions.contains(0.9));
    QCOMPARE(job->fraction(), 1.0);
    QCOMPARE(m_states, (QList<State>{DownloadJob::Downloading{}, DownloadJob::Processing{},
                                     DownloadJob::Finished{}}));
    QCOMPARE(job->playlistIndex(), std::nullopt);
}

void TestRealTools::dashAudio() {
    DownloadQueue queue;
    const QString folder = m_dir->filePath(u"out-audio"_qs);
    DownloadJob *job = add(queue, u"/dash/manifest.mpd"_qs, OutputFormat::audio, false, folder);
    QTRY_VERIFY_WITH_TIMEOUT(!job->isActive(), toolTimeout);
    QVERIFY(is<DownloadJob::Finished>(job));
    QCOMPARE(job->files().size(), 1);
    const QString file = job->files().first().toLocalFile();
    QVERIFY(file.endsWith(u".m4a"_qs));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot),
             QStringList{QFileInfo(file).fileName()});
    const QList<Stream> streams = probe(file);
    QCOMPARE(streams.size(), 1);
    QCOMPARE(streams.first().type, u"audio"_qs);
    QCOMPARE(streams.first().codec, u"aac"_qs);
    QVERIFY(m_states.contains(State(DownloadJob::Processing{})));
}

// Sources that yt-dlp fetches fragment by fragment, its size estimate changing after each one.
void TestRealTools::fragmented_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<OutputFormat>("format");
    QTest::newRow("DASH segments, video")
        << u"/segments/manifest.mpd"_qs << OutputFormat::video1080;
    QTest::newRow("DASH segments, audio") << u"/segments/manifest.mpd"_qs << OutputFormat::audio;
    QTest::newRow("HLS, video") << u"/hls/master.m3u8"_qs << OutputFormat::video1080;
    QTest::newRow("HLS, audio") << u"/hls/master.m3u8"_qs << OutputFormat::audio;
}

void TestRealTools::fragmented() {
    QFETCH(QString, path);
    QFETCH(OutputFormat, format);
    DownloadQueue queue;
    const QString folder = m_dir->filePath(QString::fromLatin1(QTest::currentDataTag()));
    DownloadJob *job = add(queue, path, format, false, folder);
    QTRY_VERIFY_WITH_TIMEOUT(!job->isActive(), toolTimeout);
    QVERIFY(is<DownloadJob::Finished>(job));
    QCOMPARE(job->files().size(), 1);
    const QList<Stream> streams = probe(job->files().first().toLocalFile());
    if (format == OutputFormat::audio) {
        QCOMPARE(streams.size(), 1);
        QCOMPARE(streams.first().codec, u"aac"_qs);
    } else {
        QCOMPARE(streams.size(), 2);
        QVERIFY(std::any_of(streams.cbegin(), streams.cend(),
                            [](const Stream &s) { return s.height == 1080; }));
    }

    const QSet<double> distinct(m_fractions.cbegin(), m_fractions.cend());
    QVERIFY2(distinct.size() > 10, qPrintable(QString::number(distinct.size())));
    const QString back = stepBack(m_fractions);
    QVERIFY2(back.isEmpty(), qPrintable(back));
    QCOMPARE(m_fractions.last(), 1.0);
}

void TestRealTools::feedAsPlaylist() {
    DownloadQueue queue;
    const QString folder = m_dir->filePath(u"out-feed"_qs);
    DownloadJob *job = add(queue, u"/feed.xml"_qs, OutputFormat::video480, true, folder);
    QTRY_VERIFY_WITH_TIMEOUT(!job->isActive(), toolTimeout);
    QVERIFY(is<DownloadJob::Finished>(job));
    QCOMPARE(job->warning(), std::nullopt);

    // Everything lands in one sub-folder named after the feed.
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{u"Loopback Channel"_qs});
    const QDir playlist(folder + u"/Loopback Channel"_qs);
    QCOMPARE(playlist.entryList(QDir::Files, QDir::Name),
             (QStringList{u"1 - One.mp4"_qs, u"2 - Two.mp4"_qs, u"3 - Three.mp4"_qs}));
    QCOMPARE(job->files().size(), 3);
    for (const QUrl &file : job->files())
        QCOMPARE(QFileInfo(file.toLocalFile()).path(), playlist.path());
    QCOMPARE(m_positions, (QList<std::pair<std::optional<qint64>, std::optional<qint64>>>{
                              {1, 3}, {2, 3}, {3, 3}}));
}

void TestRealTools::feedWithMissingEntry() {
    DownloadQueue queue;
    const QString folder = m_dir->filePath(u"out-gappy"_qs);
    DownloadJob *job = add(queue, u"/feed-missing.xml"_qs, OutputFormat::video480, true, folder);
    QTRY_VERIFY_WITH_TIMEOUT(!job->isActive(), toolTimeout);
    QVERIFY(is<DownloadJob::Finished>(job));
    QVERIFY(job->warning());
    qInfo() << "warning:" << *job->warning();
    QVERIFY(job->warning()->startsWith(u"One item failed: "_qs));
    QVERIFY(job->warning()->contains(u"404"_qs));
    QCOMPARE(QDir(folder + u"/Gappy Channel"_qs).entryList(QDir::Files, QDir::Name),
             (QStringList{u"1 - One.mp4"_qs, u"3 - Three.mp4"_qs}));
    QCOMPARE(job->files().size(), 2);
}

void TestRealTools::missingVideo() {
    DownloadQueue queue;
    const QString folder = m_dir->filePath(u"out-missing"_qs);
    DownloadJob *job = add(queue, u"/gone.mp4"_qs, OutputFormat::video1080, false, folder);
    QTRY_VERIFY_WITH_TIMEOUT(!job->isActive(), toolTimeout);
    const auto *failure = std::get_if<DownloadJob::Failed>(&job->state());
    QVERIFY(failure);
    qInfo() << "message:" << failure->message;
    // yt-dlp's own message, without its "ERROR: [extractor] id: " lead.
    QVERIFY(failure->message.startsWith(u"Unable to download webpage: HTTP Error 404"_qs));
    QVERIFY(job->files().isEmpty());
}

void TestRealTools::cancelInFlight() {
#ifndef Q_OS_LINUX
    QSKIP("Reads the process table from /proc");
#endif
    DownloadQueue queue;
    const QString folder = m_dir->filePath(u"out-cancel"_qs);
    DownloadJob *job = add(queue, u"/slow.mp4"_qs, OutputFormat::video720, false, folder);
    QTRY_VERIFY_WITH_TIMEOUT(job->fraction() > 0, toolTimeout);
    const QList<std::pair<qint64, qint64>> processes = processesMentioning(folder.toUtf8());
    QVERIFY(!processes.isEmpty());
    const qint64 group = processes.first().second;

    queue.cancel(job);
    QTRY_VERIFY_WITH_TIMEOUT(!job->isActive(), toolTimeout);
    QVERIFY(is<DownloadJob::Cancelled>(job));
    QVERIFY(job->fraction() < 1.0);
    QTRY_VERIFY(!groupAlive(group));
    QVERIFY(processesMentioning(folder.toUtf8()).isEmpty());
}

// Downloads one after the other into one folder; each must leave every file there before it
// as it was, and add its own complete files under free names.
void TestRealTools::keepsEveryFile_data() {
    QTest::addColumn<QStringList>("downloads"); // "path format playlist"
    QTest::addColumn<QStringList>("files");     // "relative path=seconds", by name
    QTest::newRow("video, then the audio of the same link")
        << QStringList{u"/clip.mp4 720 single"_qs, u"/clip.mp4 audio single"_qs}
        << QStringList{u"clip.m4a=2"_qs, u"clip.mp4=2"_qs};
    QTest::newRow("the same link twice")
        << QStringList{u"/clip.mp4 720 single"_qs, u"/clip.mp4 720 single"_qs}
        << QStringList{u"clip (1).mp4=2"_qs, u"clip.mp4=2"_qs};
    QTest::newRow("two videos of one title")
        << QStringList{u"/clip.mp4 720 single"_qs, u"/other/clip.mp4 720 single"_qs}
        << QStringList{u"clip (1).mp4=3"_qs, u"clip.mp4=2"_qs};
    QTest::newRow("a feed with two entries of one title")
        << QStringList{u"/intros.xml 480 playlist"_qs}
        << QStringList{u"Intro Channel/1 - Intro.mp4=2"_qs, u"Intro Channel/2 - Intro.mp4=3"_qs};
}

void TestRealTools::keepsEveryFile() {
    QFETCH(QStringList, downloads);
    QFETCH(QStringList, files);
    const QString folder =
        m_dir->filePath(u"keep, "_qs + QString::fromLatin1(QTest::currentDataTag()));
    DownloadQueue queue;
    QList<QUrl> listed;
    for (const QString &download : downloads) {
        const QStringList parts = download.split(u' ');
        const QHash<QString, QByteArray> before = contents(folder);
        const OutputFormat format = parts.at(1) == u"audio"_qs ? OutputFormat::audio
                                    : parts.at(1) == u"480"_qs ? OutputFormat::video480
                                                               : OutputFormat::video720;
        DownloadJob *job = add(queue, parts.at(0), format, parts.at(2) == u"playlist"_qs, folder);
        QTRY_VERIFY_WITH_TIMEOUT(!job->isActive(), toolTimeout);
        QVERIFY(is<DownloadJob::Finished>(job));
        QCOMPARE(job->warning(), std::nullopt);
        listed += job->files();
        const QHash<QString, QByteArray> after = contents(folder);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
    }
    QStringList found = contents(folder).keys();
    found.sort();
    QStringList expected;
    for (const QString &file : files)
        expected.append(file.section(u'=', 0, 0));
    QCOMPARE(found, expected);
    QCOMPARE(listed.size(), files.size());
    for (const QString &file : files) {
        const QString path = folder + u'/' + file.section(u'=', 0, 0);
        QVERIFY2(listed.contains(QUrl::fromLocalFile(path)), qPrintable(path));
        QCOMPARE(qRound(durationOf(path)), file.section(u'=', 1).toInt());
    }
}

void TestRealTools::cancelDuringExtractionThenRetry() {
#ifndef Q_OS_LINUX
    QSKIP("Reads the process table from /proc");
#endif
    QVERIFY(serveLongMp3());
    const QString folder = m_dir->filePath(u"out-extraction"_qs);
    DownloadQueue queue;
    DownloadJob *job = add(queue, u"/long-mp3.mp4"_qs, OutputFormat::audio, false, folder);
    QTRY_VERIFY_WITH_TIMEOUT(ffmpegRunsFor(folder), toolTimeout);
    queue.cancel(job);
    QTRY_VERIFY_WITH_TIMEOUT(!job->isActive(), toolTimeout);
    QVERIFY(is<DownloadJob::Cancelled>(job));
    // Nothing under a final name: whatever ffmpeg had written stays out of sight.
    QCOMPARE(contents(folder).keys(), QStringList());

    queue.retry(job, m_tools);
    DownloadJob *retried = queue.jobs().first();
    QTRY_VERIFY_WITH_TIMEOUT(!retried->isActive(), toolTimeout);
    QVERIFY(is<DownloadJob::Finished>(retried));
    QCOMPARE(contents(folder).keys(), QStringList{u"long-mp3.m4a"_qs});
    QCOMPARE(qRound(durationOf(folder + u"/long-mp3.m4a"_qs)), longMp3Seconds);
}

void TestRealTools::endedTovikLeavesNoFfmpeg_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGKILL") << SIGKILL;
}

bool TestRealTools::serveLongMp3() {
    const QString source = m_dir->filePath(u"media/long-mp3.mp4"_qs);
    if (QFile::exists(source))
        return true;
    const QString complaint = MediaFixtures::mp3Audio(source, longMp3Seconds);
    QFile file(source);
    if (!complaint.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        qWarning() << complaint;
        return false;
    }
    serve(u"/long-mp3.mp4"_qs, file.readAll());
    return true;
}

void TestRealTools::endedTovikLeavesNoFfmpeg() {
#ifndef Q_OS_LINUX
    QSKIP("Reads the process table from /proc");
#endif
    QFETCH(int, signal);
    QVERIFY(serveLongMp3());
    // A Tovik of its own, extracting M4A audio, which has ffmpeg re-encode the whole source.
    const QString folder = m_dir->filePath(u"out-ended-"_qs + QString::number(signal));
    QProcess host;
    host.start(QString::fromUtf8(QUEUE_HOST),
               {m_tools.ytdlp.toLocalFile(), m_server->url(u"/long-mp3.mp4"_qs).toString(), folder,
                rawValue(OutputFormat::audio)});
    QVERIFY(host.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(ffmpegRunsFor(folder), toolTimeout);
    // The job's processes: those of the folder but the host, which is in this test's group.
    QList<std::pair<qint64, qint64>> processes = processesMentioning(folder.toUtf8());
    processes.removeIf([](const auto &process) { return process.second == ::getpgrp(); });

    ::kill(static_cast<pid_t>(host.processId()), signal);
    QVERIFY(host.waitForFinished(5'000));
    QTRY_VERIFY_WITH_TIMEOUT(processesMentioning(folder.toUtf8()).isEmpty(), 5'000);
    for (const auto &process : processes)
        QVERIFY(!groupAlive(process.second));
}

QTEST_GUILESS_MAIN(TestRealTools)
#include "tst_realtools.moc"
