#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class DownloadJob;
class DownloadQueue;

// The jobs queued or retried since the queue was last idle, in the order they came. The batch
// ends when none of the queue's jobs is active any more; the next job queued starts another.
class JobBatch : public QObject {
    Q_OBJECT

public:
    explicit JobBatch(DownloadQueue &queue, QObject *parent = nullptr);

    // The batch's jobs that are still listed.
    QList<DownloadJob *> jobs() const;

Q_SIGNALS:
    void started();
    // The batch is still readable through jobs() while this is emitted.
    void ended();

private:
    void add(int first, int last);
    void activeChanged(bool active);

    DownloadQueue &m_queue;
    QList<QPointer<DownloadJob>> m_jobs;
};
