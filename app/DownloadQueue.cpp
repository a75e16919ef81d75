#include "DownloadQueue.h"

#include "OutputPipe.h"
#include "ProcessGuard.h"
#include "StagingFolder.h"
#include "ToolRunner.h"
#include "YTDLPCommand.h"
#include "YTDLPOutput.h"

#include <QCoro/QCoroSignal>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace {

bool isRunning(const DownloadJob &job) {
    return std::holds_alternative<DownloadJob::Downloading>(job.state()) ||
           std::holds_alternative<DownloadJob::Processing>(job.state());
}

// Suspends until the process has left the Starting state, launched or not. QCoro's own waits
// for started() or stateChanged() would copy those signals' private argument.
class LaunchSettled {
public:
    explicit LaunchSettled(QProcess &process) : m_process(process) {}
    bool await_ready() const noexcept { return m_process.state() != QProcess::Starting; }
    void await_suspend(std::coroutine_handle<> waiting) {
        m_connection =
            QObject::connect(&m_process, &QProcess::stateChanged, &m_process, [this, waiting] {
                QObject::disconnect(m_connection);
                // From the event loop: a failed launch sets its error after leaving Starting.
                QMetaObject::invokeMethod(
                    &m_process, [waiting] { waiting.resume(); }, Qt::QueuedConnection);
            });
    }
    void await_resume() const noexcept {}

private:
    QProcess &m_process;
    QMetaObject::Connection m_connection;
};

} // namespace

DownloadQueue::DownloadQueue(QObject *parent) : QObject(parent) {}

DownloadQueue::~DownloadQueue() {
    // The runs outlive the queue only until their children exit; none may be left behind,
    // not even one whose job retry has already replaced in the list, or whose launch is still
    // under way.
    terminateAll();
}

QList<DownloadJob *> DownloadQueue::jobs() const {
    QList<DownloadJob *> list;
    list.reserve(m_jobs.size());
    for (const auto &job : m_jobs)
        list.append(job.get());
    return list;
}

bool DownloadQueue::hasActiveJobs() const {
    return std::any_of(m_jobs.cbegin(), m_jobs.cend(),
                       [](const auto &job) { return job->isActive(); });
}

const QProcess *DownloadQueue::runningProcess(const DownloadJob &job) {
    if (job.m_process && job.m_process->state() == QProcess::Running)
        return job.m_process;
    return nullptr;
}

std::shared_ptr<DownloadJob> DownloadQueue::makeJob(const DownloadRequest &request) {
    // Deleted from the event loop: a job dropped from the list inside one of its own
    // signals, or handed to a list model with the removal signals, is still valid until then.
    auto job = std::shared_ptr<DownloadJob>(new DownloadJob(request),
                                            [](DownloadJob *dropped) { dropped->deleteLater(); });
    connect(job.get(), &DownloadJob::stateChanged, this, &DownloadQueue::updateHasActiveJobs);
    return job;
}

void DownloadQueue::updateHasActiveJobs() {
    const bool active = hasActiveJobs();
    if (active == m_hasActiveJobs)
        return;
    m_hasActiveJobs = active;
    Q_EMIT hasActiveJobsChanged(active);
}

void DownloadQueue::add(const QList<DownloadRequest> &requests, const ToolPaths &tools) {
    if (!requests.isEmpty()) {
        QList<std::shared_ptr<DownloadJob>> batch;
        batch.reserve(requests.size());
        for (const DownloadRequest &request : requests)
            batch.append(makeJob(request));
        const auto last = static_cast<int>(batch.size() - 1);
        Q_EMIT jobsAboutToBeInserted(0, last);
        m_jobs = batch + m_jobs;
        Q_EMIT jobsInserted(0, last);
        updateHasActiveJobs();
    }
    pump(tools);
}

void DownloadQueue::retry(DownloadJob *job, const ToolPaths &tools) {
    const auto it = std::find_if(m_jobs.begin(), m_jobs.end(),
                                 [job](const auto &listed) { return listed->id() == job->id(); });
    if (it == m_jobs.end())
        return;
    *it = makeJob(job->request());
    Q_EMIT jobReplaced(static_cast<int>(it - m_jobs.begin()));
    updateHasActiveJobs();
    pump(tools);
}

void DownloadQueue::cancel(DownloadJob *job) {
    job->m_cancelRequested = true;
    if (const QProcess *process = runningProcess(*job)) {
        ProcessGuard::stop(*process);
        return;
    }
    if (std::holds_alternative<DownloadJob::Queued>(job->state()))
        job->setState(DownloadJob::Cancelled{});
}

void DownloadQueue::remove(DownloadJob *job) {
    if (job->isActive())
        return;
    const QUuid id = job->id();
    removeWhere([&id](const DownloadJob &listed) { return listed.id() == id; });
}

void DownloadQueue::clearFinished() {
    removeWhere([](const DownloadJob &listed) { return !listed.isActive(); });
}

void DownloadQueue::removeStagingFolder(const DownloadJob &job) {
    if (!job.m_stagingPath.isEmpty())
        StagingFolder::removeUnclaimed(job.m_stagingPath);
}

void DownloadQueue::removeWhere(const std::function<bool(const DownloadJob &)> &condition) {
    // From the back, one contiguous run of rows at a time, so the rows announced for each
    // removal are still the rows a list model shows.
    auto last = static_cast<int>(m_jobs.size()) - 1;
    while (last >= 0) {
        if (!condition(*m_jobs.at(last))) {
            --last;
            continue;
        }
        int first = last;
        while (first > 0 && condition(*m_jobs.at(first - 1)))
            --first;
        Q_EMIT jobsAboutToBeRemoved(first, last);
        for (int row = first; row <= last; ++row)
            removeStagingFolder(*m_jobs.at(row));
        m_jobs.remove(first, last - first + 1);
        Q_EMIT jobsRemoved(first, last);
        last = first - 1;
    }
    updateHasActiveJobs();
}

void DownloadQueue::terminateAll() {
    // A run whose launch is still under way is flagged too, and stops as soon as it has its
    // process.
    for (DownloadJob *job : std::as_const(m_running)) {
        job->m_cancelRequested = true;
        if (const QProcess *process = runningProcess(*job))
            ProcessGuard::stop(*process);
    }
}

void DownloadQueue::removeStagingFolders() {
    // A run that has not ended by now still claims its folder, which then stays.
    for (const auto &job : std::as_const(m_jobs))
        removeStagingFolder(*job);
}

void DownloadQueue::shutDown() {
    m_shuttingDown = true;
    terminateAll();
    if (m_running.isEmpty()) {
        removeStagingFolders();
        return;
    }
    // A run that ends tells this loop to look again; the timer bounds the wait.
    QEventLoop loop;
    m_runEnded = [&loop, this] {
        if (m_running.isEmpty())
            loop.quit();
    };
    // As long as a guard gives a child before SIGKILL, and a moment for the news to come.
    QTimer::singleShot(std::chrono::milliseconds(3500), &loop, &QEventLoop::quit);
    loop.exec();
    m_runEnded = nullptr;
    removeStagingFolders();
}

void DownloadQueue::pump(const ToolPaths &tools) {
    if (m_shuttingDown)
        return;
    const auto running = std::count_if(m_jobs.cbegin(), m_jobs.cend(),
                                       [](const auto &job) { return isRunning(*job); });
    auto slots = std::max<qsizetype>(0, maxConcurrent() - running);
    QList<std::shared_ptr<DownloadJob>> starting;
    for (auto it = m_jobs.crbegin(); it != m_jobs.crend() && slots > 0; ++it) {
        const std::shared_ptr<DownloadJob> &job = *it;
        if (std::holds_alternative<DownloadJob::Queued>(job->state()) && !job->m_cancelRequested) {
            starting.append(job);
            --slots;
        }
    }
    // Every chosen job counts as running before any run begins, so a run that ends at once
    // and pumps again cannot pick the same job twice.
    for (const auto &job : std::as_const(starting)) {
        job->setState(DownloadJob::Downloading{});
        m_running.append(job.get());
    }
    for (const auto &job : std::as_const(starting))
        QTimer::singleShot(0, this, [this, job, tools] { runThenPump(job, tools); });
}

QCoro::Task<> DownloadQueue::runThenPump(std::shared_ptr<DownloadJob> job, ToolPaths tools) {
    const QPointer<DownloadQueue> alive(this);
    co_await run(job, tools);
    // A queue destroyed meanwhile has stopped the run's processes and starts nothing more.
    if (!alive)
        co_return;
    m_running.removeOne(job.get());
    if (m_runEnded)
        m_runEnded();
    pump(tools);
}

QCoro::Task<> DownloadQueue::run(std::shared_ptr<DownloadJob> job, ToolPaths tools) {
    // Cancelled between being picked and this run: nothing is started.
    if (job->m_cancelRequested) {
        job->setState(DownloadJob::Cancelled{});
        co_return;
    }
    std::error_code folderError;
    std::filesystem::create_directories(
        QFile::encodeName(job->request().outputDirectory.toLocalFile()).toStdString(), folderError);
    if (folderError) {
        job->setState(DownloadJob::Failed{QString::fromLocal8Bit(folderError.message())});
        co_return;
    }

    StagingFolder staging(job->request());
    if (staging.path().isEmpty()) {
        job->setState(DownloadJob::Failed{staging.errorString()});
        co_return;
    }
    job->m_stagingPath = staging.path();
    DownloadRequest stagedRequest = job->request();
    stagedRequest.outputDirectory = QUrl::fromLocalFile(staging.path());

    // Events reach the job in the order of the lines; only standard error's error lines count
    // as errors. The event loop drains both channels at the same time. A finished file is
    // moved out of the staging folder before the job lists it, under its final path.
    QStringList errors;
    OutputPipe output([&job, &staging](QStringView line) {
        std::optional<YTDLPEvent> event = YTDLPOutput::parse(line);
        if (!event)
            return;
        if (auto *file = std::get_if<YTDLPEvent::File>(&event->value)) {
            const std::optional<QString> moved = staging.moveOut(file->path);
            if (!moved) {
                job->setWarning(u"A file was not saved, as "_qs + staging.errorString() + u": "_qs +
                                file->path);
                return;
            }
            if (!staging.errorString().isEmpty())
                job->setWarning(u"A file stays in Tovik's hidden folder, as "_qs +
                                staging.errorString() + u": "_qs + *moved);
            file->path = *moved;
        }
        job->handle(*event);
    });
    OutputPipe errorOutput([&errors](QStringView line) {
        if (const std::optional<YTDLPEvent> event = YTDLPOutput::parse(line)) {
            if (const auto *error = std::get_if<YTDLPEvent::Error>(&event->value))
                errors.append(error->message);
        }
    });
    if (!output.isOpen() || !errorOutput.isOpen()) {
        job->setState(DownloadJob::Failed{u"Could not start yt-dlp: "_qs + output.errorString() +
                                          errorOutput.errorString()});
        co_return;
    }

    QProcess process;
    process.setProcessEnvironment(ToolRunner::environment(tools));
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    output.attach(process, STDOUT_FILENO);
    errorOutput.attach(process, STDERR_FILENO);
    ProcessGuard guard(process, tools.ytdlp.toLocalFile(),
                       YTDLPCommand::arguments(stagedRequest, tools));

    process.start();
    co_await LaunchSettled(process);
    output.closeChildEnd();
    errorOutput.closeChildEnd();
    guard.closeChildEnd();
    if (process.error() == QProcess::FailedToStart) {
        job->setState(DownloadJob::Failed{u"Could not start yt-dlp: "_qs + process.errorString()});
        co_return;
    }
    job->m_process = &process;
    // A cancel that came while the launch was under way could only be noted.
    if (job->m_cancelRequested)
        ProcessGuard::stop(process);

    if (process.state() != QProcess::NotRunning)
        co_await qCoro(&process, &QProcess::finished);
    output.finish();
    errorOutput.finish();
    // A child ended by a signal reports the signal number, so SIGKILL reads as code 9.
    const int status = process.exitCode();
    job->m_process = nullptr;

    if (const std::optional<QString> launchError = guard.launchError()) {
        job->setState(DownloadJob::Failed{u"Could not start yt-dlp: "_qs + *launchError});
    } else if (job->m_cancelRequested) {
        job->setState(DownloadJob::Cancelled{});
    } else if (status == 0) {
        job->setState(DownloadJob::Finished{});
    } else if (!job->files().isEmpty()) {
        job->setWarning(errors.size() == 1 ? u"One item failed: "_qs + errors.first()
                                           : QString::number(errors.size()) + u" items failed."_qs);
        job->setState(DownloadJob::Finished{});
    } else {
        job->setState(DownloadJob::Failed{errors.isEmpty() ? u"yt-dlp stopped with code "_qs +
                                                                 QString::number(status) + u'.'
                                                           : errors.last()});
    }
    if (std::holds_alternative<DownloadJob::Finished>(job->state()))
        staging.remove();
    else
        staging.keepOnlyPartialDownloads();
}
