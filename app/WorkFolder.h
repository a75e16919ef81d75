#pragma once

#include <QDir>
#include <QLockFile>
#include <QString>
#include <memory>

// A fresh "Tovik-<UUID>" folder in the temporary directory for one tool's installation,
// removed with everything in it when the object goes. A lock file inside tells the
// installations still running from those that a killed Tovik left behind.
class WorkFolder {
public:
    // Throws PlatformError when the folder cannot be made.
    WorkFolder();
    WorkFolder(const WorkFolder &) = delete;
    WorkFolder &operator=(const WorkFolder &) = delete;
    ~WorkFolder();

    QDir dir() const { return QDir(m_path); }
    // Removes the folder now; the object then has nothing left to do.
    void remove();

    // Removes the work folders in the temporary directory that belong to this user and whose
    // installation no longer runs. Only directories named exactly as Tovik names them are
    // touched; a link is never followed.
    static void removeStale();

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};
