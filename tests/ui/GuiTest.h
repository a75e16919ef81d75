#pragma once

#include "Desktop.h"
#include "HttpServer.h"
#include "ToolSources.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <memory>
#include <optional>

// What the window tests share: a private home, fake tools and answers for the desktop.
namespace GuiTest {

// Points HOME and the XDG folders into a temporary directory before the application
// starts, so that settings, the tool folder and the Movies folder are the test's own.
class PrivateHome {
public:
    PrivateHome() {
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            qunsetenv(name);
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u".config"_qs)));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(u".local/share"_qs)));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_home.filePath(u".cache"_qs)));
    }
    QString path() const { return m_home.path(); }

private:
    QTemporaryDir m_home;
};

inline QString home() {
    return QDir::homePath();
}

inline void clearSettings() {
    QSettings(u"Tovik"_qs, u"Tovik"_qs).clear();
}

inline QString binDirectory() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(u"Tovik/bin"_qs);
}

[[nodiscard]] inline bool writeExecutable(const QString &path, const QByteArray &content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) < 0)
        return false;
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The fake yt-dlp as "yt-dlp", and do-nothing deno and ffmpeg, in the tool folder.
[[nodiscard]] inline bool installFakeTools(const QList<QString> &tools = {u"yt-dlp"_qs, u"deno"_qs,
                                                                          u"ffmpeg"_qs}) {
    const QDir bin(binDirectory());
    QDir().mkpath(bin.path());
    for (const QString &tool : tools) {
        const QString path = bin.filePath(tool);
        QFile::remove(path);
        const bool written = tool == u"yt-dlp"_qs ? QFile::copy(QStringLiteral(FAKE_YTDLP), path)
                                                  : writeExecutable(path, "#!/bin/sh\nexit 0\n");
        if (!written)
            return false;
    }
    return true;
}

inline void removeTools() {
    QDir(binDirectory()).removeRecursively();
}

// Tool sources that reach nothing but the given loopback addresses, and no system ffmpeg.
inline ToolSources localSources(const QUrl &server = QUrl(u"http://127.0.0.1:9"_qs),
                                const QStringList &systemFFmpeg = {}) {
    ToolSources sources = ToolSources::production();
    sources.releaseDownloads = server;
    sources.api = server;
    sources.ffmpegProvider = server;
    sources.systemFFmpeg = systemFFmpeg;
    return sources;
}

// A response of the loopback server; with a piece size, sent in pieces one interval apart.
inline HttpServer::Response answer(const QByteArray &body, qsizetype piece = 0,
                                   std::chrono::milliseconds interval = {}) {
    HttpServer::Response response;
    response.body = body;
    response.chunkSize = piece;
    if (piece > 0)
        response.interval = interval;
    return response;
}

// Scenario files of the fake yt-dlp, one per link ("https://example.com/<name>").
class Scenarios {
public:
    Scenarios() { qputenv("FAKE_YTDLP_SCENARIOS", QFile::encodeName(m_folder.path())); }
    [[nodiscard]] bool write(const QString &name, const QByteArray &script) const {
        QFile file(m_folder.filePath(name));
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(script) == script.size();
    }
    static QUrl link(const QString &name) { return QUrl(u"https://example.com/"_qs + name); }

private:
    QTemporaryDir m_folder;
};

// Answers for the desktop that record what the window asked.
struct RecordingDesktop {
    std::optional<QString> nextFolder;
    QList<QUrl> opened;
    QList<QList<QUrl>> revealed;
    int folderRequests = 0;
    QString folderStart;
    bool quitAnswer = false;
    QList<int> quitQuestions; // the number of running downloads each question named

    Desktop desktop() {
        return {[this](QWidget *, const QString &start) {
                    ++folderRequests;
                    folderStart = start;
                    return nextFolder;
                },
                [this](const QUrl &folder) { opened.append(folder); },
                [this](const QList<QUrl> &files) { revealed.append(files); },
                [this](QWidget *, int running) {
                    quitQuestions.append(running);
                    return quitAnswer;
                }};
    }
};

} // namespace GuiTest

// Like QTEST_MAIN, with the private home set up before the application starts.
#define TOVIK_GUI_TEST_MAIN(TestObject)                                                            \
    int main(int argc, char *argv[]) {                                                             \
        GuiTest::PrivateHome home;                                                                 \
        QApplication app(argc, argv);                                                              \
        QApplication::setOrganizationName(u"Tovik"_qs);                                            \
        QApplication::setApplicationName(u"Tovik"_qs);                                             \
        TestObject test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
