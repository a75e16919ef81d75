#include "WorkFolder.h"

#include "PlatformError.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace {

const QString lockName = u".lock"_qs;

// Held for as long as the installation runs; a lock whose process has gone counts as free.
std::unique_ptr<QLockFile> lockOf(const QString &folder) {
    auto lock = std::make_unique<QLockFile>(QDir(folder).filePath(lockName));
    lock->setStaleLockTime(0); // never free merely because it is old
    return lock;
}

} // namespace

WorkFolder::WorkFolder()
    : m_path(QDir::temp().filePath(u"Tovik-" +
                                   QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())) {
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(m_path).toStdString(), error);
    if (error)
        throw PlatformError(u"Could not create " + m_path + u": " +
                            QString::fromLocal8Bit(error.message()));
    m_lock = lockOf(m_path);
    if (!m_lock->tryLock(0)) {
        QDir(m_path).removeRecursively();
        throw PlatformError(u"Could not lock " + m_path + u'.');
    }
}

WorkFolder::~WorkFolder() {
    remove();
}

void WorkFolder::remove() {
    if (!m_lock->isLocked())
        return;
    m_lock->unlock();
    QDir(m_path).removeRecursively();
}

void WorkFolder::removeStale() {
    static const QRegularExpression name(
        u"^Tovik-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"_qs);
    const QFileInfoList entries =
        QDir::temp().entryInfoList(QDir::Dirs | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (!name.match(entry.fileName()).hasMatch() || entry.ownerId() != ::getuid())
            continue;
        const std::unique_ptr<QLockFile> lock = lockOf(entry.filePath());
        if (!lock->tryLock(0))
            continue;   // its installation still runs
        lock->unlock(); // no one locks a name again once its folder is stale
        QDir(entry.filePath()).removeRecursively();
    }
}
