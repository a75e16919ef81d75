#pragma once

#include "Desktop.h"
#include "JobBatch.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <optional>

class DownloadQueue;
class QWidget;

// Tells the desktop, through its notification service on the session bus, when a batch of
// downloads has ended while the window was not the active one: how many finished, failed or
// were cancelled, the first failure's message, and a "Show in Folder" action that reveals the
// saved files as the job row does. A later batch replaces the notice instead of adding one.
// Without a notification service nothing happens.
class DownloadNotifier : public QObject {
    Q_OBJECT

public:
    DownloadNotifier(DownloadQueue &queue, const QWidget &window, const Desktop &desktop,
                     QObject *parent = nullptr);

private Q_SLOTS:
    void actionInvoked(uint id, const QString &action);

private:
    struct Notice {
        QString summary;
        QString body;
        QList<QUrl> files;
    };

    void batchEnded();
    QCoro::Task<> send();

    const QWidget &m_window;
    const Desktop &m_desktop;
    JobBatch m_batch;
    bool m_quitting = false;
    // The notice waiting to go out while another is on its way.
    std::optional<Notice> m_next;
    bool m_sending = false;
    bool m_listening = false;
    // The notice on screen: its number from the service and the files its action reveals.
    uint m_shown = 0;
    QList<QUrl> m_shownFiles;
};
