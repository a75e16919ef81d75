#include "StagingFolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const auto prefix = QStringLiteral(".tovik-");
const auto markerName = QStringLiteral(".tovik-staging");
constexpr int mostFoldersPerRequest = 100;
constexpr int mostNumberedNames = 10'000;

bool isRealDirectory(const QString &path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

enum class Locking { Required, WhereSupported };

// Opens and locks the marker of a staging folder; -1 when it is not one, or a run claims it.
// Where the file system has no locks, a run may still work in the folder, but nothing removes
// it.
int lockMarker(const QString &folder, bool create, Locking locking) {
    const int fd =
        ::open(QFile::encodeName(folder + u'/' + markerName).constData(),
               O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0644);
    if (fd < 0)
        return -1;
    struct stat info {};
    const bool marker = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const bool locked = marker && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (!marker || (!locked && (errno == EWOULDBLOCK || locking == Locking::Required))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The files a run kept in the folder because they could not be moved out, as the marker
// lists them: never removed.
QSet<QString> keptFiles(const QString &folder) {
    QFile marker(folder + u'/' + markerName);
    if (!marker.open(QIODevice::ReadOnly))
        return {};
    QSet<QString> kept;
    for (const QByteArray &line : marker.readAll().split('\n')) {
        if (!line.isEmpty())
            kept.insert(QFile::decodeName(line));
    }
    return kept;
}

// Removes the folder, or, when it keeps files, everything else in it but the marker.
void removeFolder(const QString &folder, const QSet<QString> &kept) {
    if (kept.isEmpty()) {
        QDir(folder).removeRecursively();
        return;
    }
    QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::System,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        const QString relative = QDir(folder).relativeFilePath(file);
        if (relative != markerName && !kept.contains(relative))
            QFile::remove(file);
    }
}

void unlock(int fd) {
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

QString requestKey(const DownloadRequest &request) {
    const QByteArray key = request.url.toEncoded() + '\n' + rawValue(request.format).toUtf8() +
                           '\n' + (request.includePlaylist ? "playlist" : "single");
    return QString::fromLatin1(
        QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16));
}

// Moves without ever replacing: false with EEXIST when the destination exists.
bool renameNoReplace(const QString &from, const QString &to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
#if defined(Q_OS_LINUX)
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return true;
#elif defined(Q_OS_MACOS)
    if (::renamex_np(source.constData(), target.constData(), RENAME_EXCL) == 0)
        return true;
#endif
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP && errno != EOPNOTSUPP)
        return false;
    // File systems without an exclusive rename: a hard link fails on an existing name.
    if (::link(source.constData(), target.constData()) != 0)
        return false;
    ::unlink(source.constData());
    return true;
}

QString numbered(const QFileInfo &file, int number) {
    const QString suffix = file.suffix();
    QString stem = suffix.isEmpty() ? file.fileName() : file.completeBaseName();
    const QString tail =
        u" ("_qs + QString::number(number) + u')' + (suffix.isEmpty() ? QString() : u'.' + suffix);
    // A name yt-dlp made as long as the file system allows still takes a number.
    while (!stem.isEmpty() && QFile::encodeName(stem + tail).size() > NAME_MAX)
        stem.chop(stem.back().isLowSurrogate() ? 2 : 1);
    return file.dir().filePath(stem + tail);
}

bool isPartialDownload(const QString &fileName) {
    return fileName.endsWith(u".part"_qs) || fileName.contains(u".part-Frag"_qs) ||
           fileName.endsWith(u".ytdl"_qs);
}

} // namespace

StagingFolder::StagingFolder(const DownloadRequest &request)
    : m_outputFolder(QDir::cleanPath(request.outputDirectory.toLocalFile())) {
    const QString base = m_outputFolder + u'/' + prefix + requestKey(request);
    for (int n = 1; n <= mostFoldersPerRequest; ++n) {
        const QString candidate = n == 1 ? base : base + u'-' + QString::number(n);
        const bool made = ::mkdir(QFile::encodeName(candidate).constData(), 0755) == 0;
        if (!made && errno != EEXIST) {
            m_errorString = qt_error_string(errno);
            return;
        }
        // Whatever else stands there is left alone.
        if (!isRealDirectory(candidate))
            continue;
        m_marker = lockMarker(candidate, made, Locking::WhereSupported);
        if (m_marker >= 0) {
            m_path = candidate;
            return;
        }
    }
    m_errorString = u"No staging folder is free in "_qs + m_outputFolder + u'.';
}

StagingFolder::~StagingFolder() {
    if (m_marker >= 0)
        unlock(m_marker);
}

std::optional<QString> StagingFolder::moveOut(const QString &reported) {
    m_errorString.clear();
    const QString source = QDir::cleanPath(reported);
    const QString relative = QDir(m_path).relativeFilePath(source);
    if (m_path.isEmpty() || QDir::isAbsolutePath(relative) || relative.startsWith(u"../"_qs) ||
        relative == markerName) {
        m_errorString = u"it is outside the download folder"_qs;
        return std::nullopt;
    }
    struct stat info {};
    if (::lstat(QFile::encodeName(source).constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        m_errorString = u"it is not there"_qs;
        return std::nullopt;
    }
    const QFileInfo wanted(m_outputFolder + u'/' + relative);
    if (QDir().mkpath(wanted.path())) {
        QString target = wanted.filePath();
        for (int number = 1; number <= mostNumberedNames; ++number) {
            if (renameNoReplace(source, target))
                return target;
            if (errno != EEXIST)
                break;
            target = numbered(wanted, number);
        }
        m_errorString = errno == EEXIST ? u"no name is free for it"_qs
                                        : u"moving it failed: "_qs + qt_error_string(errno);
    } else {
        m_errorString = u"the folder "_qs + wanted.path() + u" cannot be made"_qs;
    }
    // A finished file is never lost: it stays where it is, and the folder with it.
    keep(relative);
    return source;
}

void StagingFolder::keepOnlyPartialDownloads() {
    if (m_path.isEmpty())
        return;
    const QSet<QString> kept = keptFiles(m_path);
    QDirIterator files(m_path, QDir::Files | QDir::Hidden | QDir::System,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        const QString relative = QDir(m_path).relativeFilePath(file);
        if (relative != markerName && !isPartialDownload(files.fileName()) &&
            !kept.contains(relative))
            QFile::remove(file);
    }
}

void StagingFolder::remove() {
    if (m_path.isEmpty())
        return;
    removeFolder(m_path, keptFiles(m_path));
    unlock(m_marker);
    m_marker = -1;
    m_path.clear();
}

void StagingFolder::keep(const QString &relative) {
    const QByteArray line = QFile::encodeName(relative) + '\n';
    [[maybe_unused]] const ssize_t written =
        ::write(m_marker, line.constData(), static_cast<size_t>(line.size()));
}

void StagingFolder::removeUnclaimed(const QString &path) {
    if (!isRealDirectory(path))
        return;
    const int marker = lockMarker(path, false, Locking::Required);
    if (marker < 0)
        return;
    removeFolder(path, keptFiles(path));
    unlock(marker);
}

void StagingFolder::removeAbandoned(const QString &outputFolder) {
    const QDir folder(outputFolder);
    const QStringList names = folder.entryList(
        {prefix + u'*'}, QDir::Dirs | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    for (const QString &name : names)
        removeUnclaimed(folder.filePath(name));
}
