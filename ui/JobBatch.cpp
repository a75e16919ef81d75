#include "JobBatch.h"

#include "DownloadQueue.h"

#include <QSet>

JobBatch::JobBatch(DownloadQueue &queue, QObject *parent) : QObject(parent), m_queue(queue) {
    connect(&queue, &DownloadQueue::jobsInserted, this, &JobBatch::add);
    connect(&queue, &DownloadQueue::jobReplaced, this, [this](int row) { add(row, row); });
    connect(&queue, &DownloadQueue::hasActiveJobsChanged, this, &JobBatch::activeChanged);
}

void JobBatch::add(int first, int last) {
    const QList<DownloadJob *> listed = m_queue.jobs();
    // A batch inserted at the top lists its first link first; keep the order of the links.
    for (int row = first; row <= last; ++row)
        m_jobs.append(listed.at(row));
}

QList<DownloadJob *> JobBatch::jobs() const {
    const QList<DownloadJob *> listedJobs = m_queue.jobs();
    const QSet<DownloadJob *> listed(listedJobs.cbegin(), listedJobs.cend());
    QList<DownloadJob *> jobs;
    for (const QPointer<DownloadJob> &job : m_jobs)
        if (job && listed.contains(job))
            jobs.append(job);
    return jobs;
}

void JobBatch::activeChanged(bool active) {
    if (active) {
        Q_EMIT started();
        return;
    }
    Q_EMIT ended();
    m_jobs.clear();
}
