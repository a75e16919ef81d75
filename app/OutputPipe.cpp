#include "OutputPipe.h"

#include "Pipe.h"

#include <cerrno>
#include <unistd.h>

namespace {

// Long enough to gather many progress lines into one read, short enough that the progress
// bar still moves smoothly.
constexpr auto restInterval = std::chrono::milliseconds(50);
// 1 MiB a read: twenty times more than yt-dlp ever prints in a rest.
constexpr int maxChunksPerRead = 16;

} // namespace

OutputPipe::OutputPipe(std::function<void(QStringView)> onLine) : m_onLine(std::move(onLine)) {
    int fds[2];
    if (!Pipe::open(fds)) {
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
    Pipe::attach(process, m_writeEnd, childFd);
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
    // A child that writes faster than Tovik reads gets the rest of its output read after the
    // next rest, so it can never keep the main thread in here; meanwhile the full pipe holds
    // it back.
    for (int chunks = 0; chunks < maxChunksPerRead; ++chunks) {
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
    return true;
}

void OutputPipe::end() {
    m_ended = true;
    m_rest.stop();
    m_notifier->setEnabled(false);
    if (const std::optional<QString> last = m_buffer.flush())
        m_onLine(*last);
}
