// Downloads through the queue with Debian's yt-dlp (behind its shim) and ffmpeg, from media
// generated at test time and served on 127.0.0.1.

#include "DownloadQueue.h"
#include "HttpServer.h"
#include "MediaFixtures.h"
#include "YtDlpShim.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using State = DownloadJob::State;

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

QByteArray contentType(const QString &fileName) {
    if (fileName.endsWith(u".mpd"_qs))
        return "application/dash+xml";
    if (fileName.endsWith(u".m4a"_qs))
        return "audio/mp4";
    if (fileName.endsWith(u".xml"_qs))
        return "application/rss+xml";
    return "video/mp4";
}

} // namespace

class TestRealTools : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void dashVideo720();
    void dashAudio();
    void feedAsPlaylist();
    void feedWithMissingEntry();
    void missingVideo();
    void cancelInFlight();

private:
    // Adds one request and returns its job; every fraction it shows is recorded.
    DownloadJob *add(DownloadQueue &queue, const QString &path, OutputFormat format,
                     bool includePlaylist, const QString &folder);
    void serve(const QString &path, const QByteArray &body, qsizetype chunkSize = 0);

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
    for (qsizetype i = 1; i < m_fractions.size(); ++i)
        QVERIFY2(m_fractions.at(i) >= m_fractions.at(i - 1),
                 qPrintable(
                     u"fraction %1 after %2"_qs.arg(m_fractions.at(i)).arg(m_fractions.at(i - 1))));
    QVERIFY(m_fractions.contains(0.9));
    QCOMPARE(job->fraction(), 1.0);
    QCOMPARE(m_states, (QList<State>{DownloadJob::Downloading{}, DownloadJob::Processing{},
                                     DownloadJob::Finished{}}));
    QCOMPARE(job->playlistIndex(), std::nullopt);
    // A single video keeps its own title: no playlist title stands in for it.
    QCOMPARE(job->title().value_or(QString()), QFileInfo(file).completeBaseName());
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
             (QStringList{u"One.mp4"_qs, u"Three.mp4"_qs, u"Two.mp4"_qs}));
    QCOMPARE(job->files().size(), 3);
    for (const QUrl &file : job->files())
        QCOMPARE(QFileInfo(file.toLocalFile()).path(), playlist.path());
    QCOMPARE(job->title(), u"Loopback Channel"_qs);
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
             (QStringList{u"One.mp4"_qs, u"Three.mp4"_qs}));
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

QTEST_GUILESS_MAIN(TestRealTools)
#include "tst_realtools.moc"
