#pragma once

#include "JobBatch.h"

#include <QObject>
#include <QTimer>

class DownloadQueue;

// Shows on the desktop's launcher (Plasma's task manager, Ubuntu's dock) how many downloads
// are active and how far the current batch has come, through the session bus's
// com.canonical.Unity.LauncherEntry Update signal. At most four updates a second, only when
// something shown changed; the badge and bar go away when the queue is idle.
class LauncherProgress : public QObject {
    Q_OBJECT

public:
    explicit LauncherProgress(DownloadQueue &queue, QObject *parent = nullptr);
    // A launcher is not left showing downloads that end with Tovik.
    ~LauncherProgress() override;

    static constexpr int interval = 250; // ms between updates

private:
    struct Shown {
        qint64 count = 0;
        double progress = 0;
    };

    void publish();
    void clear();
    void send(const QVariantMap &properties);

    JobBatch m_batch;
    QTimer m_timer;
    std::optional<Shown> m_shown;
};
