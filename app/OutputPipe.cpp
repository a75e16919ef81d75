#include "OutputPipe.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Long enough to gather many progress lines into one read, short enough that the progress
// bar still moves smoothly.
constexpr auto restInterval = std::chrono::milliseconds(50);

bool makePipe(int fds[2]) {
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
    // taken its number; the child's dup2 onto 1 or 2 must not meet one of its own ends.
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

} // namespace

OutputPipe::OutputPipe(std::function<void(QStringView)> onLine) : m_onLine(std::move(onLine)) {
    int fds[2];
    if (!makePipe(fds)) {
        m_errorString = qt_error_string(errno);
        return;
    }
    m_readEnd = fds[0];
    m_writeEnd = fds[1];
    m_notifier = std::make_unique<QSocketNotifier>(m_readEnd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [this] { onReadable(); });
    m_rest.setSingleShot(true);
    m_rest.setInterval(restInterval);
    QObject::connect(&m_rest, &QTimer::timeout, &m_rest, [this] {
        if (!m_ended)
            m_notifier->setEnabled(true);
    });
}

OutputPipe::~OutputPipe() {
    m_notifier.reset();
    closeChildEnd();
    if (m_readEnd >= 0)
        ::close(m_readEnd);
}

void OutputPipe::attach(QProcess &process, int childFd) {
    const std::function<void()> previous = process.childProcessModifier();
    const int writeEnd = m_writeEnd;
    process.setChildProcessModifier([previous, writeEnd, childFd] {
        if (previous)
            previous();
        // dup2 leaves the copy open across exec; the original closes there.
        ::dup2(writeEnd, childFd);
    });
}

void OutputPipe::closeChildEnd() {
    if (m_writeEnd >= 0)
        ::close(m_writeEnd);
    m_writeEnd = -1;
}

void OutputPipe::finish() {
    if (m_ended || !isOpen())
        return;
    readAvailable();
    end();
}

void OutputPipe::onReadable() {
    m_notifier->setEnabled(false);
    if (readAvailable())
        m_rest.start();
    else
        end();
}

bool OutputPipe::readAvailable() {
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(m_readEnd, chunk, sizeof chunk);
        if (count > 0) {
            for (QStringView line : m_buffer.append(QByteArrayView(chunk, count)))
                m_onLine(line);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
}

void OutputPipe::end() {
    m_ended = true;
    m_rest.stop();
    m_notifier->setEnabled(false);
    if (const std::optional<QString> last = m_buffer.flush())
        m_onLine(*last);
}
