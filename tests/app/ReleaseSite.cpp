#include "ReleaseSite.h"

#include "ZipBuilder.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

namespace {

// Incompressible bytes, so that the archives are large enough to report progress.
QByteArray program(quint32 seed, qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char &byte : bytes)
        byte = static_cast<char>(random.bounded(256));
    return bytes;
}

} // namespace

ReleaseSite::ReleaseSite(Platform platform, QByteArray ytdlpProgram)
    : ytdlp(std::move(ytdlpProgram)), deno(program(1, 300'000)), ffmpeg(program(2, 500'000)),
      denoZip(ZipBuilder().file(u"deno"_qs, deno, 0755).build()),
      ffmpegZip(ZipBuilder()
                    .file(u"README.txt"_qs, "a static build\n")
                    .file(u"ffmpeg"_qs, ffmpeg, 0755)
                    .build()),
      m_platform(std::move(platform)) {}

QString ReleaseSite::sha256(const QByteArray &data) {
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

QByteArray ReleaseSite::release(const QString &tag) {
    QJsonObject record;
    record.insert(u"name"_qs, QString(u"Release " + tag));
    record.insert(u"tag_name"_qs, tag);
    record.insert(u"draft"_qs, false);
    return QJsonDocument(record).toJson();
}

void ReleaseSite::serve(const QString &path, const QByteArray &body, int status) {
    m_bodies.insert(path, body);
    HttpServer::Response response;
    response.status = status;
    response.body = body;
    // Large files go out in pieces, so that a download reports progress several times.
    response.chunkSize = 64 * 1024;
    response.interval = std::chrono::milliseconds(1);
    m_server.route(path, response);
}

void ReleaseSite::delay(const QString &path) {
    HttpServer::Response response;
    response.body = m_bodies.value(path);
    response.chunkSize = std::max<qsizetype>(1, (response.body.size() + 1) / 2);
    response.interval = std::chrono::milliseconds(200);
    m_server.route(path, response);
}

void ReleaseSite::cutShort(const QString &path, const QByteArray &body) {
    HttpServer::Response response;
    response.body = body;
    // Paced, so that the close arrives on its own: Qt 6.4 sometimes takes a short body that
    // comes together with the close for a complete one.
    response.chunkSize = 16 * 1024;
    response.interval = std::chrono::milliseconds(1);
    response.cutAfter = body.size() / 2;
    m_server.route(path, response);
}

QUrl ReleaseSite::url(const QString &path) const {
    return m_server.url(path);
}

QStringList ReleaseSite::requests() const {
    return m_server.requests().mid(m_seen);
}

void ReleaseSite::clearRequests() {
    m_seen = m_server.requests().size();
}

QString ReleaseSite::ytdlpFilePath() const {
    return u"/yt-dlp/yt-dlp/releases/download/" + ytdlpTag + u'/' + m_platform.ytdlpFile;
}

QString ReleaseSite::ytdlpSumsPath() const {
    return u"/yt-dlp/yt-dlp/releases/download/" + ytdlpTag + u"/SHA2-256SUMS";
}

QString ReleaseSite::denoArchivePath() const {
    return u"/denoland/deno/releases/download/" + denoTag + u'/' + m_platform.denoArchive;
}

QString ReleaseSite::denoSumsPath() const {
    return denoArchivePath() + u".sha256sum";
}

void ReleaseSite::publish() {
    serve(ytdlpApiPath(), release(ytdlpTag));
    serve(denoApiPath(), release(denoTag));

    // The list names every build of the release; only the platform's line may be used.
    const QString ytdlpSums = sha256("windows build") + u"  yt-dlp.exe\n" + sha256(ytdlp) + u"  " +
                              m_platform.ytdlpFile + u"\n" + sha256("source") +
                              u"  yt-dlp.tar.gz\n";
    serve(ytdlpSumsPath(), ytdlpSums.toUtf8());
    serve(ytdlpFilePath(), ytdlp);

    const QString denoSums = sha256(denoZip) + u"  " + m_platform.denoArchive + u'\n';
    serve(denoSumsPath(), denoSums.toUtf8());
    serve(denoArchivePath(), denoZip);

    m_server.redirect(ffmpegLatestPath(), url(ffmpegBuildPath()));
    serve(ffmpegBuildPath(), ffmpegZip);
    serve(ffmpegSumsPath(), sha256(ffmpegZip).toUtf8() + "  ffmpeg.zip\n");
}

ToolSources ReleaseSite::sources(const QStringList &systemFFmpeg) const {
    const QUrl host = m_server.url(QString());
    return {host, host, host, systemFFmpeg, m_platform};
}
