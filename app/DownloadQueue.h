#pragma once

#include "DownloadJob.h"
#include "ToolPaths.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <functional>
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

    // Every job not yet removed, in display order. A pointer stays valid while its job is
    // listed, and after its removal until control returns to the event loop.
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
    // For quitting: asks every running yt-dlp to stop, starts nothing from now on, and waits
    // until the runs have ended, at most as long as a stubborn child is given before it is
    // killed (3 s) and a moment more.
    void shutDown();

Q_SIGNALS:
    void jobsAboutToBeInserted(int first, int last);
    void jobsInserted(int first, int last);
    void jobReplaced(int row);
    void jobsAboutToBeRemoved(int first, int last);
    void jobsRemoved(int first, int last);
    void hasActiveJobsChanged(bool hasActiveJobs);

private:
    // Starts queued jobs, oldest batch first, until maxConcurrent are running.
    void pump(const ToolPaths &tools);
    QCoro::Task<> runThenPump(std::shared_ptr<DownloadJob> job, ToolPaths tools);
    // Carries one started job through one yt-dlp run to its final state. Never fails: the
    // outcome lands on the job.
    static QCoro::Task<> run(std::shared_ptr<DownloadJob> job, ToolPaths tools);

    static const QProcess *runningProcess(const DownloadJob &job);
    void removeWhere(const std::function<bool(const DownloadJob &)> &condition);
    // The staging folder a job's run left for a retry, unless a run claims it.
    static void removeStagingFolder(const DownloadJob &job);
    void removeStagingFolders();
    std::shared_ptr<DownloadJob> makeJob(const DownloadRequest &request);
    void updateHasActiveJobs();

    // Shared with the runs, so a job removed from the list while its run still holds it
    // lives on until the run ends.
    QList<std::shared_ptr<DownloadJob>> m_jobs;
    // The jobs picked to run whose runs have not ended; each run keeps its job alive.
    QList<DownloadJob *> m_running;
    bool m_hasActiveJobs = false;
    bool m_shuttingDown = false;
    // Told whenever a run has ended, while shutDown waits.
    std::function<void()> m_runEnded;
};
