#pragma once

#include "LineBuffer.h"

#include <QProcess>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <functional>

// One output channel of a child, read as lines on the main thread through a pipe of our own
// instead of QProcess's. Unlike QProcess's, this reading can pause: after each read it rests
// for a moment and lets the child's lines gather in the pipe, so a child that prints a
// thousand progress lines a second costs Tovik a few wakeups a second, not one per line.
class OutputPipe {
public:
    explicit OutputPipe(std::function<void(QStringView line)> onLine);
    ~OutputPipe();
    OutputPipe(const OutputPipe &) = delete;
    OutputPipe &operator=(const OutputPipe &) = delete;

    // False when the pipe could not be made; errorString() then says why.
    bool isOpen() const { return m_readEnd >= 0; }
    QString errorString() const { return m_errorString; }

    // Before start(): the child's file descriptor childFd (1 or 2) becomes this pipe.
    void attach(QProcess &process, int childFd);
    // After start(), launched or not: only the child keeps the writing end.
    void closeChildEnd();
    // Once the child has exited: reads what it left in the pipe and delivers the last,
    // unterminated line. Whatever still holds the pipe is not waited for.
    void finish();

private:
    void onReadable();
    // Delivers the complete lines of what can be read now, up to 1 MiB; false once the pipe has
    // ended.
    bool readAvailable();
    void end();

    std::function<void(QStringView)> m_onLine;
    int m_readEnd = -1;
    int m_writeEnd = -1;
    QString m_errorString;
    LineBuffer m_buffer;
    bool m_ended = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_rest;
};
