#include "SessionBus.h"

#include <QFile>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

SessionBus::SessionBus() {
    // Until the daemon answers, the session bus is one that does not exist: never the
    // desktop's own.
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            "unix:path=" + QFile::encodeName(m_folder.filePath(u"none"_qs)));
    // It starts nothing on demand and lets every client own any name. Should the file not be
    // written, the daemon does not start.
    const QString config = m_folder.filePath(u"bus.conf"_qs);
    if (QFile file(config); file.open(QIODevice::WriteOnly))
        file.write("<busconfig><type>session</type><listen>unix:dir=" +
                   QFile::encodeName(m_folder.path()) +
                   "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                   "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                   "<allow own=\"*\"/></policy></busconfig>\n");
    // Its complaints (it cannot raise its file limit unprivileged) are not the test's.
    m_daemon.setStandardErrorFile(QProcess::nullDevice());
    m_daemon.setChildProcessModifier([parent = ::getpid()] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
    });
    m_daemon.start(u"dbus-daemon"_qs, {u"--config-file="_qs + config, u"--nofork"_qs,
                                       u"--nopidfile"_qs, u"--print-address"_qs});
    // The daemon prints its address once it listens; a missing program never starts.
    while (!m_address.endsWith('\n') && m_daemon.waitForReadyRead(10'000))
        m_address += m_daemon.readAllStandardOutput();
    m_address = m_address.trimmed();
    if (m_address.isEmpty())
        m_error = u"dbus-daemon did not start (is Debian's dbus package installed?)"_qs;
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address);
}

SessionBus::~SessionBus() {
    m_daemon.terminate();
    m_daemon.waitForFinished();
}
