#pragma once

#include "DownloadJob.h"
#include "ToolPaths.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <memory>

// The one list of download jobs, newest batch first, and its scheduler: at most
// maxConcurrent jobs run at a time. Lives on the main thread.
//
// List changes are announced so that a list model can follow them row by row:
// aboutToInsert/inserted around one batch at the front, jobReplaced when retry puts a new
// job into a row, aboutToRemove/removed around each contiguous run of removed rows.
class DownloadQueue : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasActiveJobs READ hasActiveJobs NOTIFY hasActiveJobsChanged)

public:
    explicit DownloadQueue(QObject *parent = nullptr);
    ~DownloadQueue() override;

    // Every job not yet removed, in display order. The pointers stay valid while listed.
    QList<DownloadJob *> jobs() const;
    int maxConcurrent() const { return 2; }
    bool hasActiveJobs() const;

    void add(const QList<DownloadRequest> &requests, const ToolPaths &tools);
    void retry(DownloadJob *job, const ToolPaths &tools);
    void cancel(DownloadJob *job);
    void remove(DownloadJob *job);
    void clearFinished();
    // Asks every running yt-dlp to stop; queued jobs stay queued. Does not wait.
    void terminateAll();

Q_SIGNALS:
    void jobsAboutToBeInserted(int first, int last);
    void jobsInserted(int first, int last);
    void jobReplaced(int row);
    void jobsAboutToBeRemoved(int first, int last);
    void jobsRemoved(int first, int last);
    void hasActiveJobsChanged(bool hasActiveJobs);
};
