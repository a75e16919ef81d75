#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <optional>

// Every program Tovik starts runs below tovik-guard, a small program of Tovik's own (see
// guard/main.cpp): it keeps the program and everything the program starts in check, stops
// them on request, escalating to SIGKILL after three seconds, and takes them all down when
// Tovik disappears, however it ends. The guard exits the way the program did, so the
// process's exit code is the program's, or the number of the signal that ended it.
class ProcessGuard {
public:
    // Before start(), and after every other pipe has been attached to the process: the
    // process will run the program with its arguments below a guard, in a process group of
    // its own, and be told to stop when Tovik dies.
    ProcessGuard(QProcess &process, const QString &program, const QStringList &arguments);
    ~ProcessGuard();
    ProcessGuard(const ProcessGuard &) = delete;
    ProcessGuard &operator=(const ProcessGuard &) = delete;

    // After start(), launched or not: only the guard keeps the writing end of its report.
    void closeChildEnd();
    // Once the process has finished: why the program could not be started, if it could not.
    std::optional<QString> launchError() const;

    // Asks the guard of a running process to stop its program. Does not wait.
    static void stop(const QProcess &process);

private:
    int m_readEnd = -1;
    int m_writeEnd = -1;
};
