#pragma once

// What the window benchmarks share: process CPU time, resident memory, a private home with
// the fake tools installed, and a stopwatch for the first paint of a widget.

#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>
#include <sys/resource.h>

namespace UiBench {

inline double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Resident memory of this process in MB (10^6 bytes).
inline double residentMegabytes() {
    QFile status(u"/proc/self/status"_qs);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toDouble() * 1024 / 1e6;
    return -1;
}

// Points HOME and the XDG folders at the given folder, before the application starts.
inline void useHome(const QString &home) {
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + u"/.config"_qs));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home + u"/.local/share"_qs));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home + u"/.cache"_qs));
}

// The fake yt-dlp and do-nothing deno and ffmpeg in the tool folder, so that the tools
// check finds everything; the fake plays the scenarios in the given folder.
inline bool installFakeTools(const QString &scenarios) {
    const QDir bin(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                   u"/Tovik/bin"_qs);
    if (!QDir().mkpath(bin.path()))
        return false;
    QFile::remove(bin.filePath(u"yt-dlp"_qs));
    if (!QFile::copy(QStringLiteral(FAKE_YTDLP), bin.filePath(u"yt-dlp"_qs)))
        return false;
    for (const QString &name : {u"deno"_qs, u"ffmpeg"_qs}) {
        QFile tool(bin.filePath(name));
        if (!tool.open(QIODevice::WriteOnly))
            return false;
        tool.write("#!/bin/sh\nexit 0\n");
        tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    qputenv("FAKE_YTDLP_SCENARIOS", QFile::encodeName(scenarios));
    return true;
}

inline bool writeScenario(const QString &folder, const QString &name, const QByteArray &script) {
    QFile file(QDir(folder).filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(script) == script.size();
}

// Notes when a widget is first painted after start().
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget *widget) { widget->installEventFilter(this); }
    void start() {
        m_painted = -1;
        m_clock.start();
    }
    // Milliseconds from start() to the first paint after it, or -1.
    double painted() const { return m_painted; }

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint && m_painted < 0 && m_clock.isValid())
            m_painted = static_cast<double>(m_clock.nsecsElapsed()) / 1e6;
        return false;
    }

private:
    QElapsedTimer m_clock;
    double m_painted = -1;
};

} // namespace UiBench
