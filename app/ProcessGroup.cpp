#include "ProcessGroup.h"

#include <csignal>
#include <unistd.h>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

void ProcessGroup::prepare(QProcess &process) {
    const pid_t tovik = ::getpid();
    process.setChildProcessModifier([tovik] {
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
}

void ProcessGroup::terminate(const QProcess &process) {
    const auto pid = static_cast<pid_t>(process.processId());
    if (pid > 0)
        ::kill(-pid, SIGTERM);
}
