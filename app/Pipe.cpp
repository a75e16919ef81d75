#include "Pipe.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

bool Pipe::open(int fds[2]) {
#ifdef Q_OS_LINUX
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
#else
    // Only the main thread starts children, so no fork can slip in before FD_CLOEXEC is set.
    if (::pipe(fds) != 0)
        return false;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#endif
    // Tovik may have been started with a standard descriptor closed, and the pipe may have
    // taken its number.
    for (int i = 0; i < 2; ++i) {
        if (fds[i] > STDERR_FILENO)
            continue;
        const int moved = ::fcntl(fds[i], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved < 0) {
            const int error = errno;
            ::close(fds[0]);
            ::close(fds[1]);
            errno = error;
            return false;
        }
        ::close(fds[i]);
        fds[i] = moved;
    }
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    return true;
}

void Pipe::attach(QProcess &process, int writeEnd, int childFd) {
    const std::function<void()> previous = process.childProcessModifier();
    process.setChildProcessModifier([previous, writeEnd, childFd] {
        if (previous)
            previous();
        // dup2 leaves the copy open across exec; the original closes there. An end that
        // already has the wanted number only loses its close-on-exec flag.
        if (writeEnd == childFd)
            ::fcntl(childFd, F_SETFD, 0);
        else
            ::dup2(writeEnd, childFd);
    });
}
