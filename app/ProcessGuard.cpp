#include "ProcessGuard.h"

#include "Pipe.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <unistd.h>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

constexpr int launchReportFd = 3;

// Beside the program that runs Tovik's code (the build tree, a macOS bundle), or where an
// installation on Linux puts it.
QString guardProgram() {
    static const QString program = [] {
        const QString folder = QCoreApplication::applicationDirPath();
        const QString candidates[] = {folder + u"/tovik-guard"_qs,
                                      folder + u"/../libexec/tovik/tovik-guard"_qs};
        for (const QString &candidate : candidates) {
            if (QFileInfo(candidate).isExecutable())
                return QFileInfo(candidate).absoluteFilePath();
        }
        return candidates[0];
    }();
    return program;
}

} // namespace

ProcessGuard::ProcessGuard(QProcess &process, const QString &program,
                           const QStringList &arguments) {
    process.setProgram(guardProgram());
    process.setArguments(QStringList{program} + arguments);

    const pid_t tovik = ::getpid();
    const std::function<void()> previous = process.childProcessModifier();
    process.setChildProcessModifier([previous, tovik] {
        if (previous)
            previous();
        // Out of Tovik's group, so a terminal's job-control signals reach only Tovik.
        ::setpgid(0, 0);
#ifdef Q_OS_LINUX
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // Tovik may have died between fork and prctl; then no signal would ever come.
        if (::getppid() != tovik)
            ::_exit(1);
#else
        Q_UNUSED(tovik);
#endif
    });

    int fds[2];
    // Without the pipe the guard reports nothing, and a failed launch reads as its exit code.
    if (!Pipe::open(fds))
        return;
    m_readEnd = fds[0];
    m_writeEnd = fds[1];
    Pipe::attach(process, m_writeEnd, launchReportFd);
}

ProcessGuard::~ProcessGuard() {
    closeChildEnd();
    if (m_readEnd >= 0)
        ::close(m_readEnd);
}

void ProcessGuard::closeChildEnd() {
    if (m_writeEnd >= 0)
        ::close(m_writeEnd);
    m_writeEnd = -1;
}

std::optional<QString> ProcessGuard::launchError() const {
    if (m_readEnd < 0)
        return std::nullopt;
    QByteArray report;
    char chunk[512];
    for (;;) {
        const ssize_t count = ::read(m_readEnd, chunk, sizeof chunk);
        if (count > 0 && report.size() < 4096)
            report.append(chunk, count);
        else if (count < 0 && errno == EINTR)
            continue;
        else if (count <= 0)
            break;
    }
    if (report.isEmpty())
        return std::nullopt;
    return QString::fromLocal8Bit(report);
}

void ProcessGuard::stop(const QProcess &process) {
    const auto pid = static_cast<pid_t>(process.processId());
    if (pid > 0)
        ::kill(pid, SIGTERM);
}
