#pragma once

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QTimer>

class DownloadJob;
class DownloadQueue;

// The queue's jobs as a list model, one row per job in the queue's order. A job's changes
// are announced as dataChanged for the changed rows only, so that a busy download repaints
// its own row and nothing else, and at most every refreshInterval: a download that reports
// its progress a thousand times a second is still repainted only a few times. A change of
// state is announced in the next turn of the event loop.
class JobListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role { JobRole = Qt::UserRole + 1 };

    explicit JobListModel(DownloadQueue &queue, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    DownloadJob *job(const QModelIndex &index) const;
    // Whether any listed job has ended (finished, cancelled or failed).
    bool hasEndedJobs() const { return !m_ended.isEmpty(); }

    // The shortest time between two announcements of changed rows, in milliseconds.
    static constexpr int refreshInterval = 200;

Q_SIGNALS:
    void hasEndedJobsChanged(bool hasEndedJobs);

private:
    void follow(int first, int last);
    void noteChange(const DownloadJob *job);
    void announceChanges();
    void forget(const DownloadJob *job);
    void recordEnded(const DownloadJob *job);
    int rowOf(const DownloadJob *job) const;

    DownloadQueue &m_queue;
    QList<DownloadJob *> m_jobs;
    mutable QHash<const DownloadJob *, int> m_rows;
    mutable bool m_rowsValid = false;
    QSet<const DownloadJob *> m_changed;
    QSet<const DownloadJob *> m_ended;
    QTimer m_refresh;
    QElapsedTimer m_sinceAnnounced;
};
