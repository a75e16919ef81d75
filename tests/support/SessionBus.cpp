#include "SessionBus.h"

#include <QFile>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A session bus that starts nothing on demand and lets every client own any name.
constexpr char configuration[] = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

SessionBus::SessionBus() {
    // Until the daemon answers, the session bus is one that does not exist: never the
    // desktop's own.
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            "unix:path=" + QFile::encodeName(m_folder.filePath(u"none"_qs)));
    const QString configPath = m_folder.filePath(u"bus.conf"_qs);
    QFile config(configPath);
    if (!m_folder.isValid() || !config.open(QIODevice::WriteOnly) ||
        config.write(QString::fromLatin1(configuration).arg(m_folder.path()).toUtf8()) < 0) {
        m_error = u"cannot write the bus configuration"_qs;
        return;
    }
    config.close();

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        m_error = u"cannot make a pipe"_qs;
        return;
    }
    const QByteArray configArgument = "--config-file=" + QFile::encodeName(configPath);
    const QByteArray addressArgument = "--print-address=" + QByteArray::number(pipeEnds[1]);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::fcntl(pipeEnds[1], F_SETFD, 0);
        // Its complaints (it cannot raise its file limit unprivileged) are not the test's.
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::execlp("dbus-daemon", "dbus-daemon", configArgument.constData(), "--nofork",
                 "--nopidfile", addressArgument.constData(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    if (child < 0) {
        ::close(pipeEnds[0]);
        m_error = u"cannot fork"_qs;
        return;
    }
    m_daemon = child;

    // The daemon prints its address once it listens; a missing program closes the pipe.
    QByteArray address;
    pollfd readable{pipeEnds[0], POLLIN, 0};
    while (!address.endsWith('\n') && ::poll(&readable, 1, 10'000) > 0) {
        char buffer[256];
        const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        address.append(buffer, got);
    }
    ::close(pipeEnds[0]);
    m_address = address.trimmed();
    if (m_address.isEmpty()) {
        m_error = u"dbus-daemon did not start (is Debian's dbus package installed?)"_qs;
        ::kill(m_daemon, SIGTERM);
        ::waitpid(m_daemon, nullptr, 0);
        m_daemon = -1;
        return;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address);
}

SessionBus::~SessionBus() {
    if (m_daemon <= 0)
        return;
    ::kill(m_daemon, SIGTERM);
    ::waitpid(m_daemon, nullptr, 0);
}
