#include "JobListModel.h"

#include "DownloadQueue.h"
#include "JobRow.h"

#include <algorithm>

JobListModel::JobListModel(DownloadQueue &queue, QObject *parent)
    : QAbstractListModel(parent), m_queue(queue) {
    m_refresh.setSingleShot(true);
    connect(&m_refresh, &QTimer::timeout, this, &JobListModel::announceChanges);

    connect(&queue, &DownloadQueue::jobsAboutToBeInserted, this,
            [this](int first, int last) { beginInsertRows({}, first, last); });
    connect(&queue, &DownloadQueue::jobsInserted, this, [this](int first, int last) {
        m_jobs = m_queue.jobs();
        m_rowsValid = false;
        follow(first, last);
        endInsertRows();
    });
    connect(&queue, &DownloadQueue::jobReplaced, this, [this](int row) {
        forget(m_jobs.at(row));
        m_jobs = m_queue.jobs();
        m_rowsValid = false;
        follow(row, row);
        const QModelIndex changed = index(row);
        Q_EMIT dataChanged(changed, changed);
    });
    connect(&queue, &DownloadQueue::jobsAboutToBeRemoved, this, [this](int first, int last) {
        beginRemoveRows({}, first, last);
        for (int row = first; row <= last; ++row)
            forget(m_jobs.at(row));
    });
    connect(&queue, &DownloadQueue::jobsRemoved, this, [this](int, int) {
        m_jobs = m_queue.jobs();
        m_rowsValid = false;
        endRemoveRows();
    });

    m_jobs = queue.jobs();
    if (!m_jobs.isEmpty())
        follow(0, static_cast<int>(m_jobs.size()) - 1);
}

int JobListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_jobs.size());
}

DownloadJob *JobListModel::job(const QModelIndex &index) const {
    if (!index.isValid() || index.model() != this || index.row() >= m_jobs.size())
        return nullptr;
    return m_jobs.at(index.row());
}

QVariant JobListModel::data(const QModelIndex &index, int role) const {
    DownloadJob *shown = job(index);
    if (!shown)
        return {};
    switch (role) {
    case JobRole:
        return QVariant::fromValue(shown);
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return JobRow::title(*shown);
    case Qt::AccessibleDescriptionRole:
        return JobRow::accessibleDescription(*shown);
    case Qt::ToolTipRole:
        if (const auto message = JobRow::errorMessage(*shown))
            return *message;
        return {};
    default:
        return {};
    }
}

void JobListModel::follow(int first, int last) {
    const bool hadEnded = hasEndedJobs();
    for (int row = first; row <= last; ++row) {
        const DownloadJob *job = m_jobs.at(row);
        connect(job, &DownloadJob::changed, this, [this, job] { noteChange(job); });
        // A new state changes the row's action and often its height: shown without delay.
        connect(job, &DownloadJob::stateChanged, this, [this, job] {
            m_changed.insert(job);
            m_refresh.start(0);
        });
        recordEnded(job);
    }
    if (hadEnded != hasEndedJobs())
        Q_EMIT hasEndedJobsChanged(hasEndedJobs());
}

// Only the address is used: a replaced job may already be gone.
void JobListModel::forget(const DownloadJob *job) {
    m_changed.remove(job);
    if (m_ended.remove(job) && m_ended.isEmpty())
        Q_EMIT hasEndedJobsChanged(false);
}

void JobListModel::recordEnded(const DownloadJob *job) {
    if (job->isActive())
        m_ended.remove(job);
    else
        m_ended.insert(job);
}

void JobListModel::noteChange(const DownloadJob *job) {
    m_changed.insert(job);
    if (m_refresh.isActive())
        return;
    // A change after a quiet spell shows at once; a stream of them waits its turn.
    const qint64 waited = m_sinceAnnounced.isValid() ? m_sinceAnnounced.elapsed() : refreshInterval;
    m_refresh.start(static_cast<int>(std::max<qint64>(0, refreshInterval - waited)));
}

int JobListModel::rowOf(const DownloadJob *job) const {
    if (!m_rowsValid) {
        m_rows.clear();
        m_rows.reserve(m_jobs.size());
        for (int row = 0; row < m_jobs.size(); ++row)
            m_rows.insert(m_jobs.at(row), row);
        m_rowsValid = true;
    }
    return m_rows.value(job, -1);
}

void JobListModel::announceChanges() {
    m_sinceAnnounced.start();
    const bool hadEnded = hasEndedJobs();
    QList<int> rows;
    rows.reserve(m_changed.size());
    for (const DownloadJob *job : std::as_const(m_changed)) {
        recordEnded(job);
        if (const int row = rowOf(job); row >= 0)
            rows.append(row);
    }
    m_changed.clear();
    std::sort(rows.begin(), rows.end());
    // Neighbouring rows are announced together.
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype end = i;
        while (end + 1 < rows.size() && rows.at(end + 1) == rows.at(end) + 1)
            ++end;
        Q_EMIT dataChanged(index(rows.at(i)), index(rows.at(end)));
        i = end + 1;
    }
    if (hadEnded != hasEndedJobs())
        Q_EMIT hasEndedJobsChanged(hasEndedJobs());
}
