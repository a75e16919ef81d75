#include "DownloadQueue.h"
#include "StagingFolder.h"
#include "YTDLPCommand.h"

#include <QAbstractItemModelTester>
#include <QAbstractListModel>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>

using State = DownloadJob::State;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

template <typename Case> bool is(const DownloadJob *job) {
    return std::holds_alternative<Case>(job->state());
}

bool isRunning(const DownloadJob *job) {
    return is<DownloadJob::Downloading>(job) || is<DownloadJob::Processing>(job);
}

bool allFinal(const DownloadQueue &queue) {
    const QList<DownloadJob *> jobs = queue.jobs();
    return std::none_of(jobs.cbegin(), jobs.cend(), [](auto *job) { return job->isActive(); });
}

// True once the process no longer runs: gone, or a zombie nobody has reaped yet.
bool processGone(qint64 pid) {
    if (::kill(static_cast<pid_t>(pid), 0) != 0)
        return errno == ESRCH;
    QFile stat(u"/proc/"_qs + QString::number(pid) + u"/stat"_qs);
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const auto nameEnd = text.lastIndexOf(')');
    return nameEnd > 0 && text.mid(nameEnd + 2, 1) == "Z";
}

// True once no process of the group runs any more.
bool groupGone(qint64 group) {
    QDir proc(u"/proc"_qs);
    for (const QString &entry : proc.entryList(QDir::Dirs)) {
        QFile stat(proc.filePath(entry + u"/stat"_qs));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // "pid (name) state ppid pgrp …"
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields.at(2).toLongLong() == group && fields.at(0) != "Z")
            return false;
    }
    return true;
}

qint64 parentOf(qint64 pid) {
    QFile stat(u"/proc/"_qs + QString::number(pid) + u"/stat"_qs);
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
}

qint64 residentBytes() {
    QFile status(u"/proc/self/status"_qs);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

QList<qint64> readPids(const QString &fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<qint64> pids;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            pids.append(line.toLongLong());
    }
    return pids;
}

// Every state a job has been in since the start of recording.
class StateHistory {
public:
    explicit StateHistory(DownloadJob *job) {
        QObject::connect(job, &DownloadJob::stateChanged, job,
                         [this, job] { m_states.append(job->state()); });
    }
    const QList<State> &states() const { return m_states; }
    bool contains(const State &state) const { return m_states.contains(state); }

private:
    QList<State> m_states;
};

// Follows the queue's list announcements row by row, the way the job list model does; a
// QAbstractItemModelTester on it catches wrong rows.
class JobListMirror : public QAbstractListModel {
public:
    explicit JobListMirror(DownloadQueue &queue) {
        connect(&queue, &DownloadQueue::jobsAboutToBeInserted, this,
                [this](int first, int last) { beginInsertRows({}, first, last); });
        connect(&queue, &DownloadQueue::jobsInserted, this, [this, &queue](int first, int last) {
            for (int row = first; row <= last; ++row)
                m_rows.insert(row, queue.jobs().at(row));
            endInsertRows();
        });
        connect(&queue, &DownloadQueue::jobsAboutToBeRemoved, this, [this](int first, int last) {
            beginRemoveRows({}, first, last);
            m_rows.remove(first, last - first + 1);
        });
        connect(&queue, &DownloadQueue::jobsRemoved, this, [this] { endRemoveRows(); });
        connect(&queue, &DownloadQueue::jobReplaced, this, [this, &queue](int row) {
            m_rows[row] = queue.jobs().at(row);
            Q_EMIT dataChanged(index(row), index(row));
        });
    }

    int rowCount(const QModelIndex &parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
    }
    QVariant data(const QModelIndex &index, int role) const override {
        if (role != Qt::DisplayRole)
            return {};
        return m_rows.at(index.row())->request().url.toString();
    }
    const QList<DownloadJob *> &rows() const { return m_rows; }

private:
    QList<DownloadJob *> m_rows;
};

} // namespace

class TestDownloadQueue : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void batchesStartOldestFirstFromTheEnd();
    void everyOutcomeStartsTheNext_data();
    void everyOutcomeStartsTheNext();
    void retryReplacesTheRowAndStarts();
    void retryOfRemovedJobStartsNothing();
    void cancelQueuedJob();
    void cancelFinalJobChangesNothingVisible();
    void cancelRunningJobStopsItsGroup();
    void cancelBeforeTheRunHasItsProcess_data();
    void cancelBeforeTheRunHasItsProcess();
    void terminateAllLeavesQueuedJobsQueued();
    void outcomes_data();
    void outcomes();
    void launchFailures_data();
    void launchFailures();
    void passesTheArgumentVector();
    void everyLineReachesTheJob();
    void grandchildrenEndWithTheirJob();
    void floodWithoutLineFeeds();
    void childGetsOnlyItsOwnDescriptors();
    void finishedFilesMoveOutUnderFreeNames_data();
    void finishedFilesMoveOutUnderFreeNames();
    void unmovableFileIsKept();
    void stagingFolderLifetime();
    void abandonedStagingFolders();
    void listChangesAndActivity();
    void fiveHundredJobsTwoAtATime();
    void terminateAllLeavesNoOrphans();
    void destroyedQueueLeavesNoChildren();
    void destroyedQueueStopsRunsOfReplacedJobs();
    void endedTovikLeavesNothing_data();
    void endedTovikLeavesNothing();
    void tovikWithoutStandardDescriptors();

private:
    void scenario(const QString &name, const QStringList &lines);
    // The fake picks the scenario by the link's last path segment; the first segment tells
    // jobs that play the same scenario apart.
    DownloadRequest request(const QString &name, const QString &scenarioName,
                            const QString &folder = {}) const;
    QString outDir() const { return m_dir->filePath(u"out"_qs); }
    // Stops whatever still runs and waits until every job is final.
    void drain(DownloadQueue &queue);

    std::unique_ptr<QTemporaryDir> m_dir;
    ToolPaths m_tools;
};

void TestDownloadQueue::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir(m_dir->path()).mkpath(u"scenarios"_qs));
    qputenv("FAKE_YTDLP_SCENARIOS", QFile::encodeName(m_dir->filePath(u"scenarios"_qs)));
    m_tools = {QUrl::fromLocalFile(QString::fromUtf8(FAKE_YTDLP)),
               QUrl::fromLocalFile(m_dir->filePath(u"bin/ffmpeg"_qs)),
               QUrl::fromLocalFile(m_dir->filePath(u"bin/deno"_qs))};
}

void TestDownloadQueue::cleanup() {
    // Let runs that outlived their queue see their exits before the folder goes.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_dir.reset();
}

void TestDownloadQueue::scenario(const QString &name, const QStringList &lines) {
    QFile file(m_dir->filePath(u"scenarios/"_qs + name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(lines.join(u'\n').toUtf8() + '\n');
}

DownloadRequest TestDownloadQueue::request(const QString &name, const QString &scenarioName,
                                           const QString &folder) const {
    return {QUrl(u"https://example.invalid/"_qs + name + u'/' + scenarioName),
            OutputFormat::video1080, false,
            QUrl::fromLocalFile(folder.isEmpty() ? outDir() : folder)};
}

void TestDownloadQueue::drain(DownloadQueue &queue) {
    // A cancel before a job's launch only flags it; asking again once it runs stops it.
    const auto cancelActive = [&queue] {
        for (DownloadJob *job : queue.jobs()) {
            if (job->isActive())
                queue.cancel(job);
        }
        return allFinal(queue);
    };
    QTRY_VERIFY(cancelActive());
}

void TestDownloadQueue::batchesStartOldestFirstFromTheEnd() {
    scenario(u"hang"_qs, {u"hang"_qs});
    DownloadQueue queue;
    JobListMirror mirror(queue);
    QAbstractItemModelTester tester(&mirror,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);

    queue.add(
        {request(u"A"_qs, u"hang"_qs), request(u"B"_qs, u"hang"_qs), request(u"C"_qs, u"hang"_qs)},
        m_tools);
    QList<DownloadJob *> jobs = queue.jobs();
    QCOMPARE(jobs.size(), 3);
    DownloadJob *a = jobs.at(0), *b = jobs.at(1), *c = jobs.at(2);
    QCOMPARE(a->request().url.path(), u"/A/hang"_qs);
    QCOMPARE(b->request().url.path(), u"/B/hang"_qs);
    QCOMPARE(c->request().url.path(), u"/C/hang"_qs);
    QVERIFY(is<DownloadJob::Downloading>(c));
    QVERIFY(is<DownloadJob::Downloading>(b));
    QVERIFY(is<DownloadJob::Queued>(a));

    // A later batch goes in front and only waits.
    queue.add({request(u"D"_qs, u"hang"_qs), request(u"E"_qs, u"hang"_qs)}, m_tools);
    jobs = queue.jobs();
    QCOMPARE(jobs.size(), 5);
    DownloadJob *d = jobs.at(0), *e = jobs.at(1);
    QCOMPARE(jobs.mid(2), (QList<DownloadJob *>{a, b, c}));
    QVERIFY(is<DownloadJob::Queued>(d));
    QVERIFY(is<DownloadJob::Queued>(e));
    QCOMPARE(mirror.rows(), jobs);

    // Each run that ends starts the next queued job from the end of the list.
    QTRY_VERIFY(c->m_process);
    queue.cancel(c);
    QTRY_VERIFY(is<DownloadJob::Cancelled>(c));
    QTRY_VERIFY(is<DownloadJob::Downloading>(a));
    QVERIFY(is<DownloadJob::Queued>(d));
    QVERIFY(is<DownloadJob::Queued>(e));

    QTRY_VERIFY(b->m_process);
    queue.cancel(b);
    QTRY_VERIFY(is<DownloadJob::Downloading>(e));
    QVERIFY(is<DownloadJob::Queued>(d));
    drain(queue);
}

void TestDownloadQueue::everyOutcomeStartsTheNext_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("cancelIt");
    QTest::addColumn<bool>("missingYtDlp");
    QTest::addColumn<bool>("badFolder");
    QTest::addColumn<State>("outcome");

    QTest::newRow("finished") << QStringList{u"exit 0"_qs} << false << false << false
                              << State(DownloadJob::Finished{});
    QTest::newRow("failed") << QStringList{u"err ERROR: boom"_qs, u"exit 1"_qs} << false << false
                            << false << State(DownloadJob::Failed{u"boom"_qs});
    QTest::newRow("cancelled") << QStringList{u"hang"_qs} << true << false << false
                               << State(DownloadJob::Cancelled{});
    // Killed 3 s after the request; the slot is free again well within the wait.
    QTest::newRow("cancelled, ignoring SIGTERM")
        << QStringList{u"ignore-term"_qs, u"spawn-child-hang"_qs, u"hang"_qs} << true << false
        << false << State(DownloadJob::Cancelled{});
    // Their messages come from the platform; only the case is compared.
    QTest::newRow("failure to start")
        << QStringList{} << false << true << false << State(DownloadJob::Failed{});
    QTest::newRow("folder failure")
        << QStringList{} << false << false << true << State(DownloadJob::Failed{});
}

void TestDownloadQueue::everyOutcomeStartsTheNext() {
    QFETCH(QStringList, lines);
    QFETCH(bool, cancelIt);
    QFETCH(bool, missingYtDlp);
    QFETCH(bool, badFolder);
    QFETCH(State, outcome);
    scenario(u"hold"_qs, {u"hang"_qs});
    scenario(u"next"_qs, {u"exit 0"_qs});
    scenario(u"outcome"_qs, lines);
    QFile blocker(m_dir->filePath(u"blocker"_qs));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    DownloadQueue queue;
    queue.add({request(u"B"_qs, u"hold"_qs)}, m_tools);
    ToolPaths tools = m_tools;
    if (missingYtDlp)
        tools.ytdlp = QUrl::fromLocalFile(m_dir->filePath(u"bin/yt-dlp"_qs));
    queue.add({request(u"A"_qs, u"next"_qs),
               request(u"C"_qs, u"outcome"_qs, badFolder ? blocker.fileName() : QString())},
              tools);
    DownloadJob *a = queue.jobs().at(0);
    DownloadJob *c = queue.jobs().at(1);
    StateHistory aHistory(a);
    QVERIFY(is<DownloadJob::Queued>(a));
    QVERIFY(is<DownloadJob::Downloading>(c));

    if (cancelIt) {
        QTRY_VERIFY(c->m_process);
        queue.cancel(c);
    }
    QTRY_VERIFY(!c->isActive());
    QCOMPARE(c->state().index(), outcome.index());
    if (!missingYtDlp && !badFolder)
        QVERIFY(c->state() == outcome);
    QTRY_VERIFY(!aHistory.states().isEmpty());
    QVERIFY(aHistory.states().first() == State(DownloadJob::Downloading{}));
    drain(queue);
}

void TestDownloadQueue::retryReplacesTheRowAndStarts() {
    scenario(u"fail"_qs, {u"exit 1"_qs});
    scenario(u"hang"_qs, {u"hang"_qs});
    DownloadQueue queue;
    JobListMirror mirror(queue);
    QAbstractItemModelTester tester(&mirror,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    queue.add({request(u"X"_qs, u"fail"_qs)}, m_tools);
    queue.add({request(u"Y"_qs, u"hang"_qs)}, m_tools);
    DownloadJob *failed = queue.jobs().at(1);
    QTRY_VERIFY(is<DownloadJob::Failed>(failed));
    const QUuid oldId = failed->id();

    QSignalSpy replaced(&queue, &DownloadQueue::jobReplaced);
    queue.retry(failed, m_tools);
    QCOMPARE(replaced.count(), 1);
    QCOMPARE(replaced.first().first().toInt(), 1);
    DownloadJob *fresh = queue.jobs().at(1);
    QVERIFY(fresh->id() != oldId);
    QCOMPARE(fresh->request(), request(u"X"_qs, u"fail"_qs));
    QVERIFY(is<DownloadJob::Downloading>(fresh));
    QCOMPARE(mirror.rows(), queue.jobs());
    QTRY_VERIFY(is<DownloadJob::Failed>(fresh));
    drain(queue);
}

void TestDownloadQueue::retryOfRemovedJobStartsNothing() {
    scenario(u"fail"_qs, {u"exit 1"_qs});
    DownloadQueue queue;
    queue.add({request(u"X"_qs, u"fail"_qs)}, m_tools);
    DownloadJob *job = queue.jobs().first();
    QTRY_VERIFY(is<DownloadJob::Failed>(job));

    QSignalSpy inserted(&queue, &DownloadQueue::jobsInserted);
    QSignalSpy replaced(&queue, &DownloadQueue::jobReplaced);
    queue.remove(job);
    QVERIFY(queue.jobs().isEmpty());
    queue.retry(job, m_tools);
    QVERIFY(queue.jobs().isEmpty());
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(replaced.count(), 0);
}

void TestDownloadQueue::cancelQueuedJob() {
    scenario(u"hang"_qs, {u"hang"_qs});
    DownloadQueue queue;
    queue.add(
        {request(u"A"_qs, u"hang"_qs), request(u"B"_qs, u"hang"_qs), request(u"C"_qs, u"hang"_qs)},
        m_tools);
    DownloadJob *a = queue.jobs().at(0);
    StateHistory history(a);
    queue.cancel(a);
    QVERIFY(is<DownloadJob::Cancelled>(a));

    // The freed slots do not start it.
    QTRY_VERIFY(queue.jobs().at(1)->m_process && queue.jobs().at(2)->m_process);
    queue.terminateAll();
    QTRY_VERIFY(allFinal(queue));
    QCOMPARE(history.states(), QList<State>{DownloadJob::Cancelled{}});
}

void TestDownloadQueue::cancelFinalJobChangesNothingVisible() {
    scenario(u"ok"_qs, {u"file a.mp4"_qs, u"exit 0"_qs});
    DownloadQueue queue;
    queue.add({request(u"A"_qs, u"ok"_qs)}, m_tools);
    DownloadJob *job = queue.jobs().first();
    QTRY_VERIFY(is<DownloadJob::Finished>(job));
    QSignalSpy changed(job, &DownloadJob::changed);
    queue.cancel(job);
    QVERIFY(is<DownloadJob::Finished>(job));
    QVERIFY(job->m_cancelRequested);
    QCOMPARE(changed.count(), 0);
}

void TestDownloadQueue::cancelRunningJobStopsItsGroup() {
    scenario(u"busy"_qs, {u"out TKT|x|1|3|Title"_qs, u"file Title.mp4"_qs, u"spawn-child-hang"_qs,
                          u"pids pids.txt"_qs, u"hang"_qs});
    DownloadQueue queue;
    queue.add({request(u"A"_qs, u"busy"_qs)}, m_tools);
    DownloadJob *job = queue.jobs().first();
    const QString pidFile = outDir() + u"/pids.txt"_qs;
    QTRY_VERIFY(QFile::exists(pidFile));
    const QList<qint64> pids = readPids(pidFile);
    QCOMPARE(pids.size(), 2);
    QTRY_VERIFY(job->m_process);

    queue.cancel(job);
    QTRY_VERIFY(is<DownloadJob::Cancelled>(job));
    QCOMPARE(job->files(), QList<QUrl>{QUrl::fromLocalFile(outDir() + u"/Title.mp4"_qs)});
    QCOMPARE(job->warning(), std::nullopt);
    QCOMPARE(job->title(), u"Title"_qs);
    QVERIFY(!job->m_process);
    for (const qint64 pid : pids)
        QTRY_VERIFY2(processGone(pid), QByteArray::number(pid).constData());
}

void TestDownloadQueue::cancelBeforeTheRunHasItsProcess_data() {
    QTest::addColumn<bool>("beforeTheRun");
    QTest::newRow("between pump and the run") << true;
    QTest::newRow("in the turn after the launch") << false;
}

void TestDownloadQueue::cancelBeforeTheRunHasItsProcess() {
    QFETCH(bool, beforeTheRun);
    scenario(u"slow"_qs,
             {u"args launched.txt"_qs, u"sleep 30000"_qs, u"file a.mp4"_qs, u"exit 0"_qs});
    DownloadQueue queue;
    std::unique_ptr<StateHistory> history;
    // The job is made inside add(), and pump marks it downloading before add() returns; its
    // run begins in the next turn of the event loop and launches yt-dlp there.
    connect(&queue, &DownloadQueue::jobsInserted, this, [&] {
        DownloadJob *job = queue.jobs().first();
        history = std::make_unique<StateHistory>(job);
        if (beforeTheRun) {
            connect(job, &DownloadJob::stateChanged, this, [&queue, job] {
                if (is<DownloadJob::Downloading>(job))
                    queue.cancel(job);
            });
        }
    });
    queue.add({request(u"A"_qs, u"slow"_qs)}, m_tools);
    DownloadJob *job = queue.jobs().first();
    if (!beforeTheRun)
        QTimer::singleShot(0, this, [&queue, job] { queue.cancel(job); });
    QTRY_VERIFY(is<DownloadJob::Cancelled>(job));
    if (beforeTheRun)
        QVERIFY(!QFile::exists(outDir() + u"/launched.txt"_qs));
    QVERIFY(job->files().isEmpty());
    QCOMPARE(history->states(),
             (QList<State>{DownloadJob::Downloading{}, DownloadJob::Cancelled{}}));
}

void TestDownloadQueue::terminateAllLeavesQueuedJobsQueued() {
    scenario(u"hang"_qs, {u"out TKT|x|NA|NA|T"_qs, u"hang"_qs});
    DownloadQueue queue;
    queue.add(
        {request(u"A"_qs, u"hang"_qs), request(u"B"_qs, u"hang"_qs), request(u"C"_qs, u"hang"_qs)},
        m_tools);
    DownloadJob *a = queue.jobs().at(0), *b = queue.jobs().at(1), *c = queue.jobs().at(2);
    QTRY_VERIFY(b->m_process && c->m_process);

    queue.terminateAll();
    QVERIFY(is<DownloadJob::Queued>(a));
    QVERIFY(!a->m_cancelRequested);
    QTRY_VERIFY(is<DownloadJob::Cancelled>(b));
    QTRY_VERIFY(is<DownloadJob::Cancelled>(c));
    // The application kept running, so the freed slots start the queued job.
    QTRY_VERIFY(is<DownloadJob::Downloading>(a));
    drain(queue);
}

void TestDownloadQueue::outcomes_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<State>("state");
    QTest::addColumn<std::optional<QString>>("warning");
    QTest::addColumn<int>("files");

    const State finished = DownloadJob::Finished{};
    const auto failed = [](const QString &message) { return State(DownloadJob::Failed{message}); };
    const std::optional<QString> none;

    QTest::newRow("status 0 wins over error lines, also without a file")
        << QStringList{u"err ERROR: [generic] a: one"_qs, u"exit 0"_qs} << finished << none << 0;
    QTest::newRow("one error line")
        << QStringList{u"err ERROR: [youtube] abc: Video unavailable"_qs, u"exit 1"_qs}
        << failed(u"Video unavailable"_qs) << none << 0;
    QTest::newRow("the last of two error lines")
        << QStringList{u"err ERROR: first"_qs, u"err WARNING: not an error"_qs,
                       u"err ERROR: second"_qs, u"exit 1"_qs}
        << failed(u"second"_qs) << none << 0;
    QTest::newRow("no error line")
        << QStringList{u"exit 2"_qs} << failed(u"yt-dlp stopped with code 2."_qs) << none << 0;
    QTest::newRow("killed by a signal")
        << QStringList{u"signal 9"_qs} << failed(u"yt-dlp stopped with code 9."_qs) << none << 0;
    QTest::newRow("files and one error")
        << QStringList{u"file P/One.mp4"_qs, u"err ERROR: [generic] two: HTTP Error 404"_qs,
                       u"exit 1"_qs}
        << finished << std::optional(u"One item failed: HTTP Error 404"_qs) << 1;
    QTest::newRow("files and three errors")
        << QStringList{u"file P/One.mp4"_qs,  u"err ERROR: a"_qs, u"err ERROR: b"_qs,
                       u"file P/Four.mp4"_qs, u"err ERROR: c"_qs, u"exit 1"_qs}
        << finished << std::optional(u"3 items failed."_qs) << 2;
    QTest::newRow("files and no error line")
        << QStringList{u"file P/One.mp4"_qs, u"exit 1"_qs} << finished
        << std::optional(u"0 items failed."_qs) << 1;
    QTest::newRow("an error line on standard output is no error")
        << QStringList{u"out ERROR: not counted"_qs, u"exit 1"_qs}
        << failed(u"yt-dlp stopped with code 1."_qs) << none << 0;
    QTest::newRow("a last line without line feed counts")
        << QStringList{u"err ERROR: lost"_qs, u"file-unterminated Last.mp4"_qs, u"exit 1"_qs}
        << finished << std::optional(u"One item failed: lost"_qs) << 1;
    QTest::newRow("a file outside the download folder is not listed")
        << QStringList{u"out TKF|x|/etc/hostname"_qs, u"exit 0"_qs} << finished
        << std::optional(u"A file was not saved, as it is outside the download folder: "
                         u"/etc/hostname"_qs)
        << 0;
    QTest::newRow("marker lines on standard error move nothing")
        << QStringList{u"err TKT|x|1|2|Title"_qs, u"err TKP|x|downloading|5|10|NA|NA|NA"_qs,
                       u"err TKF|x|/tmp/y.mp4"_qs, u"exit 0"_qs}
        << finished << none << 0;
}

void TestDownloadQueue::outcomes() {
    QFETCH(QStringList, lines);
    QFETCH(State, state);
    QFETCH(std::optional<QString>, warning);
    QFETCH(int, files);
    scenario(u"s"_qs, lines);
    DownloadQueue queue;
    queue.add({request(u"A"_qs, u"s"_qs)}, m_tools);
    DownloadJob *job = queue.jobs().first();
    QTRY_VERIFY(!job->isActive());
    if (const auto *failure = std::get_if<DownloadJob::Failed>(&job->state()))
        qInfo() << "failed:" << failure->message;
    QVERIFY(job->state() == state);
    QCOMPARE(job->warning(), warning);
    QCOMPARE(job->files().size(), files);
    QCOMPARE(job->title(), std::nullopt);
    QCOMPARE(job->fraction(), files > 0 ? 1.0 : 0.0);
}

void TestDownloadQueue::launchFailures_data() {
    QTest::addColumn<QString>("ytdlp");
    QTest::addColumn<bool>("badFolder");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("missing yt-dlp") << u"bin/yt-dlp"_qs << false << u"Could not start yt-dlp: "_qs;
    QTest::newRow("yt-dlp not executable")
        << u"plain-file"_qs << false << u"Could not start yt-dlp: "_qs;
    QTest::newRow("folder names a file") << QString() << true << QString();
}

void TestDownloadQueue::launchFailures() {
    QFETCH(QString, ytdlp);
    QFETCH(bool, badFolder);
    QFETCH(QString, prefix);
    const QString launched = m_dir->filePath(u"launched.txt"_qs);
    scenario(u"s"_qs, {u"args "_qs + launched, u"exit 0"_qs});
    QFile plain(m_dir->filePath(u"plain-file"_qs));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();

    ToolPaths tools = m_tools;
    if (!ytdlp.isEmpty())
        tools.ytdlp = QUrl::fromLocalFile(m_dir->filePath(ytdlp));
    DownloadQueue queue;
    queue.add({request(u"A"_qs, u"s"_qs, badFolder ? plain.fileName() + u"/sub"_qs : QString())},
              tools);
    DownloadJob *job = queue.jobs().first();
    QTRY_VERIFY(!job->isActive());
    const auto *failure = std::get_if<DownloadJob::Failed>(&job->state());
    QVERIFY(failure);
    qInfo() << "message:" << failure->message;
    QVERIFY(failure->message.startsWith(prefix));
    QVERIFY(failure->message.size() > prefix.size());
    QVERIFY(!failure->message.contains(u"yt-dlp stopped"_qs));
    QVERIFY(!QFile::exists(launched));
    QVERIFY(!job->m_process);
}

void TestDownloadQueue::passesTheArgumentVector() {
    scenario(u"s"_qs, {u"args args.txt"_qs});
    DownloadRequest req = request(u"A"_qs, u"s"_qs, m_dir->filePath(u"Ünïcode folder"_qs));
    req.format = OutputFormat::audio;
    req.includePlaylist = true;
    DownloadQueue queue;
    queue.add({req}, m_tools);
    QTRY_VERIFY(allFinal(queue));
    QFile file(m_dir->filePath(u"Ünïcode folder/args.txt"_qs));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList received = QString::fromUtf8(file.readAll()).split(u'\n');
    QCOMPARE(received.takeLast(), QString());
    // yt-dlp works in a staging folder inside the output folder.
    const QStringList expected = YTDLPCommand::arguments(req, m_tools);
    const qsizetype folder = expected.indexOf(req.outputDirectory.toLocalFile());
    QVERIFY(folder > 0 && folder < received.size());
    const QFileInfo staging(received.at(folder));
    QCOMPARE(staging.path(), req.outputDirectory.toLocalFile());
    QVERIFY(staging.fileName().startsWith(u".tovik-"_qs));
    received[folder] = expected.at(folder);
    QCOMPARE(received, expected);
}

void TestDownloadQueue::everyLineReachesTheJob() {
    // 5,000 progress lines as fast as the fake can write them, each with a new fraction.
    scenario(u"flood"_qs, {u"out TKT|x|NA|NA|Flood"_qs, u"rate 1000000 0.005"_qs, u"exit 0"_qs});
    DownloadQueue queue;
    std::unique_ptr<QSignalSpy> fractions;
    connect(&queue, &DownloadQueue::jobsInserted, this, [&] {
        fractions =
            std::make_unique<QSignalSpy>(queue.jobs().first(), &DownloadJob::fractionChanged);
    });
    queue.add({request(u"A"_qs, u"flood"_qs)}, m_tools);
    DownloadJob *job = queue.jobs().first();
    QTRY_VERIFY(is<DownloadJob::Finished>(job));
    // The first line's fraction is 0, which the job already shows.
    QCOMPARE(fractions->count(), 4999);
    QCOMPARE(job->fraction(), 4999.0 / 5000.0 * 0.9);
}

void TestDownloadQueue::grandchildrenEndWithTheirJob() {
    // Both hold the job's pipes; one has left the group for a session of its own.
    scenario(u"s"_qs, {u"spawn-child-hang"_qs, u"spawn-setsid-hang"_qs, u"pids pids.txt"_qs,
                       u"file a.mp4"_qs, u"exit 0"_qs});
    DownloadQueue queue;
    queue.add({request(u"A"_qs, u"s"_qs)}, m_tools);
    DownloadJob *job = queue.jobs().first();
    QTRY_VERIFY(is<DownloadJob::Finished>(job));
    QCOMPARE(job->files().size(), 1);
    const QList<qint64> pids = readPids(outDir() + u"/pids.txt"_qs);
    QCOMPARE(pids.size(), 3);
    for (const qint64 pid : pids)
        QTRY_VERIFY2(processGone(pid), QByteArray::number(pid).constData());
}

void TestDownloadQueue::floodWithoutLineFeeds() {
    scenario(u"flood"_qs, {u"flood-unterminated 60"_qs, u"exit 0"_qs});
    DownloadQueue queue;
    const qint64 before = residentBytes();
    qint64 most = before;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&most] { most = std::max(most, residentBytes()); });
    sampler.start(100);
    queue.add({request(u"A"_qs, u"flood"_qs)}, m_tools);
    DownloadJob *job = queue.jobs().first();
    QTest::qWait(10'000);
    QVERIFY(job->m_process);
    queue.cancel(job);
    QTRY_VERIFY(is<DownloadJob::Cancelled>(job));
    most = std::max(most, residentBytes());
    qInfo() << "resident memory grew by" << (most - before) / 1'000'000 << "MB";
    QVERIFY(most - before < 100'000'000);
}

void TestDownloadQueue::childGetsOnlyItsOwnDescriptors() {
    // A descriptor Tovik holds without close-on-exec, as a library might leave one.
    const int leaked = ::open("/dev/null", O_RDONLY);
    QVERIFY(leaked > STDERR_FILENO);
    scenario(u"s"_qs, {u"fds fds.txt"_qs, u"exit 0"_qs});
    DownloadQueue queue;
    queue.add({request(u"A"_qs, u"s"_qs)}, m_tools);
    QTRY_VERIFY(allFinal(queue));
    ::close(leaked);
    const QList<qint64> open = readPids(outDir() + u"/fds.txt"_qs);
    QVERIFY(open.contains(STDOUT_FILENO) && open.contains(STDERR_FILENO));
    QVERIFY2(std::all_of(open.cbegin(), open.cend(), [](qint64 fd) { return fd <= STDERR_FILENO; }),
             qPrintable(QString::number(open.size()) + u" descriptors"_qs));
}

void TestDownloadQueue::finishedFilesMoveOutUnderFreeNames_data() {
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QStringList>("reported");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("free name") << QStringList{} << QStringList{u"Title.mp4"_qs}
                               << QStringList{u"Title.mp4"_qs};
    QTest::newRow("taken name") << QStringList{u"Title.mp4"_qs} << QStringList{u"Title.mp4"_qs}
                                << QStringList{u"Title (1).mp4"_qs};
    QTest::newRow("first number taken too")
        << QStringList{u"Title.mp4"_qs, u"Title (1).mp4"_qs} << QStringList{u"Title.mp4"_qs}
        << QStringList{u"Title (2).mp4"_qs};
    QTest::newRow("a video beside the user's audio of the same title")
        << QStringList{u"Title.m4a"_qs} << QStringList{u"Title.mp4"_qs}
        << QStringList{u"Title.mp4"_qs};
    QTest::newRow("dots in the title, and no extension")
        << QStringList{u"v1.2.final.mp4"_qs, u"README"_qs}
        << QStringList{u"v1.2.final.mp4"_qs, u"README"_qs}
        << QStringList{u"v1.2.final (1).mp4"_qs, u"README (1)"_qs};
    // yt-dlp makes names up to the file system's limit; a number still fits.
    const QString longest = QString(251, u'x') + u".mp4"_qs;
    QTest::newRow("longest name taken") << QStringList{longest} << QStringList{longest}
                                        << QStringList{QString(247, u'x') + u" (1).mp4"_qs};
    QTest::newRow("playlist entries keep their folder, which may exist")
        << QStringList{u"List/1 - Intro.mp4"_qs}
        << QStringList{u"List/1 - Intro.mp4"_qs, u"List/2 - Intro.mp4"_qs}
        << QStringList{u"List/1 - Intro (1).mp4"_qs, u"List/2 - Intro.mp4"_qs};
}

void TestDownloadQueue::finishedFilesMoveOutUnderFreeNames() {
    QFETCH(QStringList, existing);
    QFETCH(QStringList, reported);
    QFETCH(QStringList, listed);
    const QDir out(outDir());
    for (const QString &name : existing) {
        QVERIFY(out.mkpath(QFileInfo(out.filePath(name)).path()));
        QFile file(out.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("the user's own " + name.toUtf8());
    }
    QStringList lines;
    for (const QString &name : reported)
        lines.append(u"file "_qs + name);
    scenario(u"s"_qs, lines);
    DownloadQueue queue;
    queue.add({request(u"A"_qs, u"s"_qs)}, m_tools);
    DownloadJob *job = queue.jobs().first();
    QTRY_VERIFY(is<DownloadJob::Finished>(job));

    QList<QUrl> expected;
    for (const QString &name : listed)
        expected.append(QUrl::fromLocalFile(out.filePath(name)));
    QCOMPARE(job->files(), expected);
    for (const QUrl &file : expected) {
        QFile saved(file.toLocalFile());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("fake media\n"));
    }
    // Everything that was there before is as it was, and the staging folder is gone.
    for (const QString &name : existing) {
        QFile file(out.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), "the user's own " + name.toUtf8());
    }
    QVERIFY(!job->m_stagingPath.isEmpty());
    QVERIFY(!QFileInfo::exists(job->m_stagingPath));
}

void TestDownloadQueue::unmovableFileIsKept() {
    // The user has a file where the playlist's folder would go.
    QVERIFY(QDir(outDir()).mkpath(u"."_qs));
    QFile blocker(outDir() + u"/List"_qs);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.write("the user's own");
    blocker.close();
    scenario(u"s"_qs, {u"file List/1 - Intro.mp4"_qs, u"exit 0"_qs});
    DownloadQueue queue;
    queue.add({request(u"A"_qs, u"s"_qs)}, m_tools);
    DownloadJob *job = queue.jobs().first();
    QTRY_VERIFY(is<DownloadJob::Finished>(job));
    QVERIFY(job->warning() &&
            job->warning()->startsWith(u"A file stays in Tovik's hidden folder"_qs));
    QCOMPARE(job->files().size(), 1);
    const QString kept = job->files().first().toLocalFile();
    QVERIFY(kept.startsWith(job->m_stagingPath + u'/'));

    // Neither removing the job nor the clean-up at the next start takes it.
    queue.remove(job);
    StagingFolder::removeAbandoned(outDir());
    QFile file(kept);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("fake media\n"));
    QVERIFY(blocker.open(QIODevice::ReadOnly));
    QCOMPARE(blocker.readAll(), QByteArray("the user's own"));
}

void TestDownloadQueue::stagingFolderLifetime() {
    // Leaves a partial download and a half-written file, as a cancelled extraction would.
    scenario(u"halfway"_qs,
             {u"touch v.mp4.part"_qs, u"touch v.m4a"_qs, u"touch v.f1.mp4.ytdl"_qs, u"hang"_qs});
    DownloadQueue queue;
    queue.add({request(u"A"_qs, u"halfway"_qs), request(u"A"_qs, u"halfway"_qs)}, m_tools);
    DownloadJob *first = queue.jobs().at(0), *second = queue.jobs().at(1);
    QTRY_VERIFY(first->m_process && second->m_process);
    // The same request twice at once: two folders, side by side.
    QVERIFY(first->m_stagingPath != second->m_stagingPath);
    QCOMPARE(QFileInfo(first->m_stagingPath).path(), outDir());
    QCOMPARE(QFileInfo(second->m_stagingPath).path(), outDir());
    QTRY_VERIFY(QFileInfo::exists(first->m_stagingPath + u"/v.m4a"_qs));

    queue.cancel(first);
    QTRY_VERIFY(is<DownloadJob::Cancelled>(first));
    const QString kept = first->m_stagingPath;
    QVERIFY(QFileInfo::exists(kept + u"/v.mp4.part"_qs));
    QVERIFY(QFileInfo::exists(kept + u"/v.f1.mp4.ytdl"_qs));
    QVERIFY(!QFileInfo::exists(kept + u"/v.m4a"_qs));

    // A retry works in the same folder and finds the partial download there.
    queue.retry(first, m_tools);
    DownloadJob *retried = queue.jobs().at(0);
    QTRY_VERIFY(retried->m_process);
    QCOMPARE(retried->m_stagingPath, kept);

    // Gone with its job; a folder a run still claims stays until the run ends.
    queue.cancel(retried);
    QTRY_VERIFY(is<DownloadJob::Cancelled>(retried));
    queue.remove(retried);
    QVERIFY(!QFileInfo::exists(kept));
    QVERIFY(QFileInfo::exists(second->m_stagingPath));
    queue.shutDown();
    QVERIFY(is<DownloadJob::Cancelled>(second));
    QVERIFY(!QFileInfo::exists(second->m_stagingPath));
    QCOMPARE(QDir(outDir())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                 .filter(u".tovik-"_qs),
             QStringList());
}

void TestDownloadQueue::abandonedStagingFolders() {
    const QDir out(m_dir->filePath(u"abandoned"_qs));
    QVERIFY(out.mkpath(u"."_qs));
    const DownloadRequest request{QUrl(u"https://example.invalid/x"_qs), OutputFormat::audio, false,
                                  QUrl::fromLocalFile(out.path())};
    QString left;
    {
        StagingFolder staging(request);
        left = staging.path();
        QVERIFY(!left.isEmpty());
        QFile part(left + u"/a.mp4.part"_qs);
        QVERIFY(part.open(QIODevice::WriteOnly));
    }
    auto claimed = std::make_unique<StagingFolder>(request);
    QCOMPARE(claimed->path(), left);
    const StagingFolder other({QUrl(u"https://example.invalid/y"_qs), OutputFormat::audio, false,
                               QUrl::fromLocalFile(out.path())});
    QVERIFY(out.mkpath(u".tovik-users-own"_qs));
    QFile usersFile(out.filePath(u".tovik-file"_qs));
    QVERIFY(usersFile.open(QIODevice::WriteOnly));
    usersFile.close();

    // Only what carries the marker and no run claims goes.
    StagingFolder::removeAbandoned(out.path());
    QVERIFY(QFileInfo::exists(left + u"/a.mp4.part"_qs));
    claimed.reset();
    StagingFolder::removeAbandoned(out.path());
    QVERIFY(!QFileInfo::exists(left));
    QVERIFY(QFileInfo::exists(other.path()));
    QVERIFY(out.exists(u".tovik-users-own"_qs));
    QVERIFY(out.exists(u".tovik-file"_qs));
}

void TestDownloadQueue::listChangesAndActivity() {
    scenario(u"ok"_qs, {u"exit 0"_qs});
    scenario(u"hang"_qs, {u"hang"_qs});
    DownloadQueue queue;
    JobListMirror mirror(queue);
    QAbstractItemModelTester tester(&mirror,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy active(&queue, &DownloadQueue::hasActiveJobsChanged);
    QSignalSpy aboutToInsert(&queue, &DownloadQueue::jobsAboutToBeInserted);

    queue.add({}, m_tools);
    QCOMPARE(aboutToInsert.count(), 0);
    QVERIFY(!queue.hasActiveJobs());

    queue.add({request(u"F3"_qs, u"ok"_qs)}, m_tools);
    QCOMPARE(active.count(), 1);
    QVERIFY(queue.hasActiveJobs());
    QTRY_VERIFY(allFinal(queue));
    QCOMPARE(active.count(), 2);
    QVERIFY(!queue.hasActiveJobs());

    queue.add({request(u"Active"_qs, u"hang"_qs)}, m_tools);
    queue.add({request(u"F1"_qs, u"ok"_qs), request(u"F2"_qs, u"ok"_qs)}, m_tools);
    QCOMPARE(aboutToInsert.last(), (QVariantList{0, 1}));
    const QList<DownloadJob *> jobs = queue.jobs();
    QCOMPARE(mirror.rows(), jobs);
    DownloadJob *running = jobs.at(2);
    QTRY_VERIFY(!jobs.at(0)->isActive() && !jobs.at(1)->isActive());
    QCOMPARE(active.count(), 3);

    // An active job is neither removed nor cleared.
    queue.remove(running);
    QCOMPARE(queue.jobs(), jobs);

    // Rows 3 and 0-1 go, in two runs announced from the back.
    QSignalSpy removed(&queue, &DownloadQueue::jobsRemoved);
    queue.clearFinished();
    QCOMPARE(queue.jobs(), QList<DownloadJob *>{running});
    QCOMPARE(mirror.rows(), queue.jobs());
    QCOMPARE(removed.count(), 2);
    QCOMPARE(removed.at(0), (QVariantList{3, 3}));
    QCOMPARE(removed.at(1), (QVariantList{0, 1}));
    QVERIFY(queue.hasActiveJobs());

    queue.clearFinished();
    QCOMPARE(removed.count(), 2);

    drain(queue);
    QCOMPARE(active.count(), 4);
    queue.remove(running);
    QVERIFY(queue.jobs().isEmpty());
    QCOMPARE(mirror.rows(), queue.jobs());
    QCOMPARE(active.count(), 4);
}

void TestDownloadQueue::fiveHundredJobsTwoAtATime() {
    scenario(u"fast"_qs, {u"out TKT|f|NA|NA|Fast"_qs, u"exit 0"_qs});
    DownloadQueue queue;
    qsizetype mostRunning = 0;
    const auto count = [&queue, &mostRunning] {
        const QList<DownloadJob *> jobs = queue.jobs();
        mostRunning = std::max(mostRunning, std::count_if(jobs.cbegin(), jobs.cend(), isRunning));
    };
    // Watch every job from the moment it exists, before pump can start any.
    connect(&queue, &DownloadQueue::jobsInserted, this, [&](int first, int last) {
        for (int row = first; row <= last; ++row)
            connect(queue.jobs().at(row), &DownloadJob::stateChanged, this, count);
    });
    QList<DownloadRequest> requests;
    for (int i = 0; i < 500; ++i)
        requests.append(request(QString::number(i), u"fast"_qs));
    queue.add(requests, m_tools);
    QTRY_VERIFY_WITH_TIMEOUT(allFinal(queue), 240'000);

    const QList<DownloadJob *> jobs = queue.jobs();
    QCOMPARE(jobs.size(), 500);
    QVERIFY(std::all_of(jobs.cbegin(), jobs.cend(),
                        [](auto *job) { return is<DownloadJob::Finished>(job); }));
    QCOMPARE(mostRunning, 2);
}

void TestDownloadQueue::terminateAllLeavesNoOrphans() {
    scenario(u"ffmpeg"_qs, {u"spawn-child-hang"_qs, u"pids pids.txt"_qs, u"hang"_qs});
    DownloadQueue queue;
    queue.add({request(u"A"_qs, u"ffmpeg"_qs, outDir() + u"/A"_qs),
               request(u"B"_qs, u"ffmpeg"_qs, outDir() + u"/B"_qs)},
              m_tools);
    QTRY_VERIFY(QFile::exists(outDir() + u"/A/pids.txt"_qs));
    QTRY_VERIFY(QFile::exists(outDir() + u"/B/pids.txt"_qs));
    const QList<qint64> pids =
        readPids(outDir() + u"/A/pids.txt"_qs) + readPids(outDir() + u"/B/pids.txt"_qs);
    QCOMPARE(pids.size(), 4);
    QTRY_VERIFY(queue.jobs().at(0)->m_process && queue.jobs().at(1)->m_process);

    queue.terminateAll();
    for (const qint64 pid : pids)
        QTRY_VERIFY2(processGone(pid), QByteArray::number(pid).constData());
    QTRY_VERIFY(is<DownloadJob::Cancelled>(queue.jobs().at(0)));
    QTRY_VERIFY(is<DownloadJob::Cancelled>(queue.jobs().at(1)));
}

void TestDownloadQueue::destroyedQueueLeavesNoChildren() {
    scenario(u"ffmpeg"_qs, {u"spawn-child-hang"_qs, u"pids pids.txt"_qs, u"hang"_qs});
    auto queue = std::make_unique<DownloadQueue>();
    queue->add({request(u"A"_qs, u"ffmpeg"_qs)}, m_tools);
    QTRY_VERIFY(QFile::exists(outDir() + u"/pids.txt"_qs));
    QTRY_VERIFY(queue->jobs().first()->m_process);
    const QList<qint64> pids = readPids(outDir() + u"/pids.txt"_qs);
    QCOMPARE(pids.size(), 2);

    queue.reset();
    for (const qint64 pid : pids)
        QTRY_VERIFY2(processGone(pid), QByteArray::number(pid).constData());
}

void TestDownloadQueue::destroyedQueueStopsRunsOfReplacedJobs() {
    scenario(u"ffmpeg"_qs, {u"spawn-child-hang"_qs, u"pids pids.txt"_qs, u"hang"_qs});
    auto queue = std::make_unique<DownloadQueue>();
    queue->add({request(u"A"_qs, u"ffmpeg"_qs)}, m_tools);
    DownloadJob *running = queue->jobs().first();
    const QString pidFile = outDir() + u"/pids.txt"_qs;
    QTRY_VERIFY(running->m_process && QFile::exists(pidFile));
    QList<qint64> pids = readPids(pidFile);
    QFile::remove(pidFile);

    // The queue's operations do not refuse a retry of a running job: its run goes on unlisted.
    queue->retry(running, m_tools);
    QVERIFY(queue->jobs().first() != running);
    QTRY_VERIFY(QFile::exists(pidFile));
    pids += readPids(pidFile);
    QCOMPARE(pids.size(), 4);

    queue.reset();
    for (const qint64 pid : pids)
        QTRY_VERIFY2(processGone(pid), QByteArray::number(pid).constData());
}

void TestDownloadQueue::endedTovikLeavesNothing_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("ignoringSigterm");
    QTest::newRow("SIGTERM") << SIGTERM << false;
    QTest::newRow("SIGINT") << SIGINT << false;
    QTest::newRow("SIGHUP") << SIGHUP << false;
    QTest::newRow("SIGKILL") << SIGKILL << false;
    QTest::newRow("SIGTERM, yt-dlp ignoring it") << SIGTERM << true;
    QTest::newRow("SIGKILL, yt-dlp ignoring SIGTERM") << SIGKILL << true;
}

void TestDownloadQueue::endedTovikLeavesNothing() {
    QFETCH(int, signal);
    QFETCH(bool, ignoringSigterm);
    QStringList lines{u"spawn-child-hang"_qs, u"spawn-setsid-hang"_qs, u"pids pids.txt"_qs,
                      u"hang"_qs};
    if (ignoringSigterm)
        lines.prepend(u"ignore-term"_qs);
    scenario(u"hang"_qs, lines);
    QProcess host;
    host.start(QString::fromUtf8(QUEUE_HOST),
               {QString::fromUtf8(FAKE_YTDLP), u"https://example.invalid/A/hang"_qs, outDir()});
    QVERIFY(host.waitForStarted());
    const QString pidFile = outDir() + u"/pids.txt"_qs;
    QTRY_VERIFY(QFile::exists(pidFile));
    // yt-dlp leads its own group; its parent is the guard between it and Tovik.
    QList<qint64> pids = readPids(pidFile);
    QCOMPARE(pids.size(), 3);
    const qint64 group = pids.first();
    pids.append(parentOf(group));
    QCOMPARE(parentOf(pids.last()), host.processId());

    ::kill(static_cast<pid_t>(host.processId()), signal);
    QVERIFY(host.waitForFinished(5'000));
    for (const qint64 pid : pids)
        QTRY_VERIFY2_WITH_TIMEOUT(processGone(pid), QByteArray::number(pid).constData(), 5'000);
    QVERIFY(groupGone(group));
    // A signal it can catch ends Tovik in order: it cleans up its staging folders too.
    if (signal != SIGKILL) {
        QCOMPARE(host.exitStatus(), QProcess::NormalExit);
        QCOMPARE(QDir(outDir()).entryList({u".tovik-*"_qs}, QDir::Dirs | QDir::Hidden),
                 QStringList());
    }
}

void TestDownloadQueue::tovikWithoutStandardDescriptors() {
    // Its pipes may then take the numbers 0 to 2, which the child's own must not clobber.
    scenario(u"s"_qs, {u"err ERROR: noise"_qs, u"file a.mp4"_qs, u"exit 0"_qs});
    QProcess host;
    host.setChildProcessModifier([] {
        ::close(STDIN_FILENO);
        ::close(STDOUT_FILENO);
        ::close(STDERR_FILENO);
    });
    host.start(QString::fromUtf8(QUEUE_HOST),
               {QString::fromUtf8(FAKE_YTDLP), u"https://example.invalid/A/s"_qs, outDir()});
    QVERIFY(host.waitForFinished(60'000));
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    QCOMPARE(host.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestDownloadQueue)
#include "tst_downloadqueue.moc"
