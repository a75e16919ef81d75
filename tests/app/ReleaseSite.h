#pragma once

#include "HttpServer.h"
#include "Platform.h"
#include "ToolSources.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// The three places the tools come from, played on one loopback server: the REST API's
// latest-release records, the release downloads with their checksum files, and the ffmpeg
// provider, whose "latest" path redirects to a versioned archive with the checksum beside it.
class ReleaseSite {
public:
    ReleaseSite(Platform platform, QByteArray ytdlp);

    // What publish() serves. A test changes these and publishes again, or replaces one
    // route on the server afterwards; publish() puts every route back.
    QString ytdlpTag = u"2025.01.15"_qs;
    QString denoTag = u"v2.1.4"_qs;
    QByteArray ytdlp;
    QByteArray deno;   // the program inside denoZip
    QByteArray ffmpeg; // the program inside ffmpegZip
    QByteArray denoZip;
    QByteArray ffmpegZip;

    void publish();

    // The sources a ToolManager needs to install from this site.
    ToolSources sources(const QStringList &systemFFmpeg) const;

    QString ytdlpApiPath() const { return u"/repos/yt-dlp/yt-dlp/releases/latest"_qs; }
    QString denoApiPath() const { return u"/repos/denoland/deno/releases/latest"_qs; }
    QString ytdlpFilePath() const;
    QString ytdlpSumsPath() const;
    QString denoArchivePath() const;
    QString denoSumsPath() const;
    QString ffmpegLatestPath() const { return m_platform.ffmpegPath; }
    QString ffmpegBuildPath() const { return u"/builds/8.0.1/ffmpeg.zip"_qs; }
    QString ffmpegSumsPath() const { return ffmpegBuildPath() + u".sha256"; }

    // One route, replaced until the next publish().
    void serve(const QString &path, const QByteArray &body, int status = 200);
    // Serves what the path served until now in two halves, the second a fifth of a second
    // after the first.
    void delay(const QString &path);
    // Sends the status line, the headers and half of the body, then closes the connection.
    void cutShort(const QString &path, const QByteArray &body);
    QUrl url(const QString &path) const;
    // The paths requested so far, in order.
    QStringList requests() const;
    void clearRequests();
    const Platform &platform() const { return m_platform; }

    static QString sha256(const QByteArray &data);
    static QByteArray release(const QString &tag);

private:
    Platform m_platform;
    HttpServer m_server;
    qsizetype m_seen = 0;                // requests before the last clearRequests()
    QHash<QString, QByteArray> m_bodies; // by path, as serve() was last given them
};
