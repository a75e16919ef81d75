#include "ToolRunner.h"

#include "PlatformError.h"
#include "ProcessGuard.h"
#include "ToolError.h"
#include "ZipExtractor.h"

#include <QCoro/QCoroFuture>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtConcurrent/QtConcurrentRun>
#include <coroutine>
#include <functional>
#include <optional>
#include <variant>

namespace {

constexpr qint64 chunkSize = 1024 * 1024;

// Hands the file's bytes to `take` in chunks of chunkSize; false when reading fails or `take`
// refuses a chunk.
bool readChunks(QFile &file, const std::function<bool(QByteArrayView)> &take) {
    QByteArray chunk(chunkSize, Qt::Uninitialized);
    for (;;) {
        const qint64 count = file.read(chunk.data(), chunkSize);
        if (count <= 0)
            return count == 0;
        if (!take(QByteArrayView(chunk.constData(), count)))
            return false;
    }
}

// Runs on a worker thread, so failures come back as a value for the caller to throw.
std::variant<QString, PlatformError> hashFile(const QString &path) {
    QFile file(path); // closed by its destructor on every way out
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return PlatformError(file.errorString());
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!readChunks(file, [&hash](QByteArrayView chunk) {
            hash.addData(chunk);
            return true;
        }))
        return PlatformError(file.errorString());
    return QString::fromLatin1(hash.result().toHex());
}

// Runs on a worker thread, so a failure comes back as a value for the caller to throw.
std::optional<PlatformError> copyExecutable(const QString &source, const QString &destination) {
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return PlatformError(input.errorString());
    // QSaveFile writes through a link to its target and refuses a read-only file.
    const QFileInfo existing(destination);
    if (existing.isSymLink() || (existing.isFile() && !existing.isWritable()))
        QFile::remove(destination);
    // Discards the copy unless commit() renames it over the destination.
    QSaveFile output(destination);
    if (!output.open(QIODevice::WriteOnly))
        return PlatformError(output.errorString());
    bool written = true;
    if (!readChunks(input, [&output, &written](QByteArrayView chunk) {
            written = output.write(chunk.data(), chunk.size()) == chunk.size();
            return written;
        }))
        return PlatformError(written ? input.errorString() : output.errorString());
    if (!output.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                               QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                               QFile::ExeOther) ||
        !output.commit())
        return PlatformError(output.errorString());
    return std::nullopt;
}

// Resumes its coroutine once the process is NotRunning: after a failed start, or after the
// child has exited and its output has been read. Written out because QCoro's signal awaiter
// would pass on Qt's private tag, the last argument of stateChanged.
class ProcessEnd {
public:
    explicit ProcessEnd(QProcess &process) : m_process(process) {}

    bool await_ready() const { return m_process.state() == QProcess::NotRunning; }
    void await_suspend(std::coroutine_handle<> coroutine) {
        // Queued, so the coroutine never runs on, and destroys the process, inside its signal.
        m_connection = QObject::connect(
            &m_process, &QProcess::stateChanged, &m_process,
            [this, coroutine](QProcess::ProcessState state) {
                if (state != QProcess::NotRunning)
                    return;
                QObject::disconnect(m_connection);
                coroutine.resume();
            },
            Qt::QueuedConnection);
    }
    void await_resume() const {}

private:
    QProcess &m_process;
    QMetaObject::Connection m_connection;
};

} // namespace

QCoro::Task<ToolRunner::CaptureResult>
ToolRunner::capture(const QUrl &program, const QStringList &arguments,
                    std::optional<QProcessEnvironment> environment) {
    QProcess process;
    if (environment)
        process.setProcessEnvironment(*environment);
    // One pipe for both channels keeps the output in the order the child wrote it.
    process.setProcessChannelMode(QProcess::MergedChannels);
    // A child that reads its input finds it empty instead of waiting on us forever.
    process.setStandardInputFile(QProcess::nullDevice());
    ProcessGuard guard(process, program.toLocalFile(), arguments);
    process.start(QIODevice::ReadOnly);
    guard.closeChildEnd();
    co_await ProcessEnd(process);
    if (process.error() == QProcess::FailedToStart)
        throw PlatformError(process.errorString());
    if (const std::optional<QString> launchError = guard.launchError())
        throw PlatformError(*launchError);
    co_return CaptureResult{process.exitCode(), QString::fromUtf8(process.readAll())};
}

QProcessEnvironment ToolRunner::environment(const ToolPaths &tools) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const auto folderOf = [](const QUrl &file) { return QFileInfo(file.toLocalFile()).path(); };
    const QStringList path{folderOf(tools.deno), folderOf(tools.ffmpeg), u"/usr/bin"_qs,
                           u"/bin"_qs,           u"/usr/sbin"_qs,        u"/sbin"_qs};
    env.insert(u"PATH"_qs, path.join(u':'));
    env.insert(u"PYTHONIOENCODING"_qs, u"utf-8"_qs);
    env.insert(u"PYTHONUTF8"_qs, u"1"_qs);
    return env;
}

QCoro::Task<> ToolRunner::unzip(const QUrl &archive, const QUrl &into) {
    const QString archivePath = archive.toLocalFile();
    const bool unpacked =
        co_await QtConcurrent::run(ZipExtractor::extract, archivePath, into.toLocalFile());
    if (!unpacked)
        throw ToolError(ToolError::Unzip{QFileInfo(archivePath).fileName()});
}

QCoro::Task<> ToolRunner::installExecutable(const QUrl &source, const QUrl &destination) {
    const std::optional<PlatformError> failure =
        co_await QtConcurrent::run(copyExecutable, source.toLocalFile(), destination.toLocalFile());
    if (failure)
        throw *failure;
}

QCoro::Task<QString> ToolRunner::sha256(const QUrl &file) {
    const std::variant<QString, PlatformError> digest =
        co_await QtConcurrent::run(hashFile, file.toLocalFile());
    if (const auto *error = std::get_if<PlatformError>(&digest))
        throw *error;
    co_return std::get<QString>(digest);
}
