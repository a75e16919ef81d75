#pragma once

#include "Desktop.h"
#include "DownloadQueue.h"
#include "ElidedLabel.h"
#include "HttpServer.h"
#include "ToolManager.h"
#include "ToolSources.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

// What the window tests share: a private home, fake tools and answers for the desktop.
namespace GuiTest {

// Points HOME and the XDG folders into a temporary directory before the application
// starts, so that settings, the tool folder and the Movies folder are the test's own.
class PrivateHome {
public:
    PrivateHome() {
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u".config"_qs)));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(u".local/share"_qs)));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_home.filePath(u".cache"_qs)));
    }
    QString path() const { return m_home.path(); }

private:
    QTemporaryDir m_home;
};

inline QString binDirectory() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(u"Tovik/bin"_qs);
}

// The fake yt-dlp as "yt-dlp", and do-nothing deno and ffmpeg, in the tool folder.
[[nodiscard]] inline bool installFakeTools(const QList<QString> &tools = {u"yt-dlp"_qs, u"deno"_qs,
                                                                          u"ffmpeg"_qs}) {
    QDir().mkpath(binDirectory());
    for (const QString &tool : tools) {
        QFile file(QDir(binDirectory()).filePath(tool));
        file.remove();
        if (!(tool == u"yt-dlp"_qs
                  ? QFile::copy(QStringLiteral(FAKE_YTDLP), file.fileName())
                  : file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\nexit 0\n") > 0) ||
            !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            return false;
    }
    return true;
}

inline void removeTools() {
    QDir(binDirectory()).removeRecursively();
}

// Tool sources that reach nothing but the given loopback addresses, and no system ffmpeg.
inline ToolSources localSources(const QUrl &server = QUrl(u"http://127.0.0.1:9"_qs)) {
    ToolSources sources = ToolSources::production();
    sources.releaseDownloads = sources.api = sources.ffmpegProvider = server;
    sources.systemFFmpeg = {};
    return sources;
}

// A response of the loopback server; with a piece size, sent in pieces one interval apart.
inline HttpServer::Response answer(const QByteArray &body, qsizetype piece = 0,
                                   std::chrono::milliseconds interval = {}) {
    return {.body = body, .chunkSize = piece, .interval = interval};
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
    QString folderStart;
    bool quitAnswer = false;
    QList<int> quitQuestions; // the number of running downloads each question named

    Desktop desktop() {
        return {[this](QWidget *, const QString &start) {
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

template <typename State> bool holds(const DownloadJob *job) {
    return std::holds_alternative<State>(job->state());
}

// Why the visible labels, buttons and symbols in the container do not all show whole without
// overlapping, or are fewer than the minimum; empty if they do. Wrapped labels need their
// height for their width, elided ones show their text whole or cut with "…" and whole in their
// tooltip, others need their size hint.
inline QString layoutFault(const QWidget *container, qsizetype minimum) {
    const auto box = [=](const QWidget *w) {
        return QRect(w->mapTo(container, QPoint()), w->size());
    };
    QList<const QWidget *> items;
    for (const QWidget *item : container->findChildren<QWidget *>())
        if (item->isVisible() &&
            (qobject_cast<const QLabel *>(item) || qobject_cast<const QAbstractButton *>(item) ||
             item->inherits("ElidedLabel") || item->inherits("SymbolView")))
            items.append(item);
    if (items.size() < minimum)
        return u"only %1 widgets"_qs.arg(items.size());
    for (const QWidget *item : items) {
        const auto *label = qobject_cast<const QLabel *>(item);
        const auto *elided = qobject_cast<const ElidedLabel *>(item);
        const QString shown = elided ? elided->shownText() : QString();
        if (!container->rect().contains(box(item)))
            return item->objectName() + u" sticks out"_qs;
        if (elided ? (shown != elided->text() &&
                      !(shown.endsWith(u"…"_qs) && elided->toolTip() == elided->text())) ||
                         item->fontMetrics().horizontalAdvance(shown) > item->width() ||
                         item->height() < item->fontMetrics().height()
            : label && label->wordWrap() ? label->height() < label->heightForWidth(label->width())
                                         : item->width() < item->sizeHint().width() ||
                                               item->height() < item->sizeHint().height())
            return item->objectName() + u" is cut: "_qs + (label ? label->text() : shown);
        for (const QWidget *other : items)
            if (other != item && box(item).intersects(box(other)))
                return item->objectName() + u" overlaps "_qs + other->objectName();
    }
    return {};
}

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
