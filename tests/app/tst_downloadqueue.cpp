#include "DownloadQueue.h"
#include "StagingFolder.h"
#include "YTDLPCommand.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <deque>
#include <fcntl.h>
#include <unistd.h>

Q_DECLARE_METATYPE(OutputFormat)

namespace {

// A job's state as the tests write it: "failed: <message>" for a failure.
QString shown(const DownloadJob *job) {
    static const QStringList names =
        u"queued downloading processing finished cancelled failed"_qs.split(u' ');
    const auto *failure = std::get_if<DownloadJob::Failed>(&job->state());
    return names.at(static_cast<qsizetype>(job->state().index())) +
           (failure ? u": "_qs + failure->message : QString());
}

QByteArray readAll(const QString &fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The numbers the fake wrote, one a line: process ids or descriptors.
QList<qint64> numbers(const QString &fileName) {
    QList<qint64> list;
    for (const QByteArray &line : readAll(fileName).split('\n'))
        if (!line.isEmpty())
            list.append(line.toLongLong());
    return list;
}

// The fields of /proc/<pid>/stat after "pid (name)": state, parent, group, …; none once gone.
QList<QByteArray> procStat(qint64 pid) {
    const QByteArray text = readAll(u"/proc/"_qs + QString::number(pid) + u"/stat"_qs);
    return text.isEmpty() ? QList<QByteArray>() : text.mid(text.lastIndexOf(')') + 2).split(' ');
}

// True once the process no longer runs: gone, or a zombie nobody has reaped yet.
bool gone(qint64 pid) {
    const QList<QByteArray> fields = procStat(pid);
    return fields.isEmpty() || fields.first() == "Z";
}

} // namespace

class TestDownloadQueue : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    ToolPaths m_tools;

    using Number = std::optional<qint64>;
    static YTDLPEvent progress(Number downloaded, Number total, std::optional<double> speed = 2.0,
                               Number eta = 7, Number fragment = {}, Number fragments = {}) {
        return YTDLPEvent::Progress{u"id"_qs, false, downloaded, total,
                                    speed,    eta,   fragment,   fragments};
    }

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString outDir() const { return path(u"Ünïcode out"_qs); }

    static void write(const QString &fileName, const QByteArray &data) {
        QFile file(fileName);
        QVERIFY(QDir().mkpath(QFileInfo(fileName).path()) && file.open(QIODevice::WriteOnly));
        file.write(data);
    }
    void scenario(const QString &name, const QStringList &lines) {
        write(path(u"scenarios/"_qs + name), lines.join(u'\n').toUtf8() + '\n');
    }

    // The fake plays the scenario named by the link's last path segment; the first segment
    // tells jobs that play the same scenario apart.
    DownloadRequest request(const QString &name, const QString &scenarioName,
                            const QString &folder = {}) const {
        return {QUrl(u"https://example.invalid/"_qs + name + u'/' + scenarioName),
                OutputFormat::audio, true,
                QUrl::fromLocalFile(folder.isEmpty() ? outDir() : folder)};
    }

    // Each job by the first segment of its link, and its state.
    static QString states(const DownloadQueue &queue) {
        QStringList list;
        for (const DownloadJob *job : queue.jobs())
            list.append(job->request().url.path().section(u'/', 1, 1) + u' ' + shown(job));
        return list.join(u", "_qs);
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv("FAKE_YTDLP_SCENARIOS", QFile::encodeName(path(u"scenarios"_qs)));
        m_tools = {QUrl::fromLocalFile(QString::fromUtf8(FAKE_YTDLP)),
                   QUrl::fromLocalFile(u"/bin/ffmpeg"_qs), QUrl::fromLocalFile(u"/bin/deno"_qs)};
    }

    void cleanup() {
        // Let runs that outlived their queue see their exits before the folder goes.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_dir.reset();
    }

    // One job's run: its outcome, what it lists, and what it leaves behind.
    void runs_data() {
        QTest::addColumn<QString>("lines");
        // The state, then the title, warning and files where there are any; files under the
        // output folder, or under the job's staging folder. A * stands for any text.
        QTest::addColumn<QString>("outcome");
        // The user's own files in the output folder before the run.
        QTest::addColumn<QString>("existing");
        // A path under the test's folder as yt-dlp or as the output folder, or when to cancel.
        QTest::addColumn<QString>("setup");
        const auto row = [](const char *name, const QString &lines, const QString &outcome,
                            const QString &existing = {}, const QString &setup = {}) {
            QTest::newRow(name) << lines << outcome << existing << setup;
        };
        // The one row that records what yt-dlp gets. Marker lines on standard error move
        // nothing; a file outside the download folder is not listed.
        row("status 0 wins over error lines, also without a file",
            u"args args.txt;err ERROR: [generic] a: one;err TKT|x|1|2|Title;"
            u"err TKP|x|downloading|5|10|NA|NA|NA;err TKF|x|/tmp/y.mp4;out TKF|x|/etc/hostname;"
            u"exit 0"_qs,
            u"finished | warning: A file was not saved, as it is outside the download folder: "
            u"/etc/hostname"_qs);
        row("the last of two error lines",
            u"err ERROR: first;err WARNING: not an error;err ERROR: second;exit 1"_qs,
            u"failed: second"_qs);
        // An error line on standard output is none.
        row("killed by a signal, no error line", u"out ERROR: not counted;signal 9"_qs,
            u"failed: yt-dlp stopped with code 9."_qs);
        row("files and one error, the last line without line feed",
            u"err ERROR: [generic] x: lost;file-unterminated Last.mp4;exit 1"_qs,
            u"finished | warning: One item failed: lost | files: Last.mp4"_qs);
        row("files and three errors",
            u"file P/One.mp4;err ERROR: a;err ERROR: b;file P/Four.mp4;err ERROR: c;exit 1"_qs,
            u"finished | warning: 3 items failed. | files: P/One.mp4, P/Four.mp4"_qs);
        // The lines fill the pipes faster than the event loop drains them, so reads end in the
        // middle of lines and the child blocks on full pipes; none is lost.
        QStringList many;
        for (int i = 1; i <= 1000; ++i)
            many << u"err ERROR: "_qs + QString(i % 700, u'e')
                 << u"out TKT|x|1|2|"_qs + QString(i % 600, u't');
        row("a thousand lines on each channel", many.join(u';') + u";file a.mp4;exit 1"_qs,
            u"finished | title: "_qs + QString(400, u't') +
                u" | warning: 1000 items failed. | files: a.mp4"_qs);
        // Rows whose scenario hangs are cancelled once yt-dlp runs; the files it saved stay
        // listed. yt-dlp and its child ignore SIGTERM: they are killed 3 s after the request.
        row("cancelled, its whole group stops",
            u"out TKT|x|1|3|Title;file Title.mp4;ignore-term;spawn;pids pids.txt;hang"_qs,
            u"cancelled | title: Title | files: Title.mp4"_qs);
        // Both hold the job's pipes; one has left the group for a session of its own.
        row("grandchildren end with their job", u"spawn;spawn setsid;pids pids.txt;file a.mp4"_qs,
            u"finished | files: a.mp4"_qs);
        // pump marks the job downloading inside add(); its run begins in the next turn of the
        // event loop and launches yt-dlp there. A cancel at once launches nothing.
        row("cancelled between pump and the run", u"pids launched.txt;sleep 30000"_qs,
            u"cancelled"_qs, {}, u"cancel at once"_qs);
        row("cancelled in the turn after the launch", u"sleep 30000"_qs, u"cancelled"_qs, {},
            u"cancel a turn later"_qs);
        // Never launched: their messages come from the platform.
        row("missing yt-dlp", {}, u"failed: Could not start yt-dlp: *"_qs, {}, u"bin/yt-dlp"_qs);
        row("folder under a file", {}, u"failed: *"_qs, {}, u"scenarios/run/sub"_qs);
        // Finished files move out under free names, numbered before the extension; playlist
        // entries keep their folder, which may exist. Nothing of the user's is replaced.
        // yt-dlp makes names up to the file system's limit; a number still fits.
        const QString longest = QString(251, u'x') + u".mp4"_qs;
        row("names taken",
            u"file v1.2.final.mp4;file README;file List/1 - Intro.mp4;file List/2 - Intro.mp4;file "_qs +
                longest,
            u"finished | files: v1.2.final (2).mp4, README (1), List/1 - Intro (1).mp4, "
            u"List/2 - Intro.mp4, "_qs +
                QString(247, u'x') + u" (1).mp4"_qs,
            u"v1.2.final.mp4;v1.2.final (1).mp4;README;List/1 - Intro.mp4;"_qs + longest);
        row("a file where the playlist's folder would go: the entry is kept",
            u"file List/1 - Intro.mp4"_qs,
            u"finished | warning: A file stays in Tovik's hidden folder, as * | "
            u"files: staging/List/1 - Intro.mp4"_qs,
            u"List"_qs);
    }

    void runs() {
        QFETCH(QString, lines);
        QFETCH(QString, outcome);
        QFETCH(QString, existing);
        QFETCH(QString, setup);
        const QDir out(outDir());
        const QStringList userFiles = existing.split(u';', Qt::SkipEmptyParts);
        for (const QString &name : userFiles)
            write(out.filePath(name), "the user's own " + name.toUtf8());
        scenario(u"run"_qs, lines.split(u';'));
        ToolPaths tools = m_tools;
        if (setup.endsWith(u"yt-dlp"_qs))
            tools.ytdlp = QUrl::fromLocalFile(path(setup));
        const DownloadRequest req =
            request(u"C"_qs, u"run"_qs, setup.endsWith(u"sub"_qs) ? path(setup) : QString());
        // A descriptor Tovik holds without close-on-exec, as a library might leave one.
        const int leaked = ::open("/dev/null", O_RDONLY);
        DownloadQueue queue;
        queue.add({req}, tools);
        DownloadJob *job = queue.jobs().first();
        if (lines.endsWith(u";hang"_qs)) {
            QTRY_VERIFY(QFile::exists(out.filePath(u"pids.txt"_qs)) && job->m_process);
            // yt-dlp has only the standard descriptors of Tovik's.
            const QDir fds(u"/proc/%1/fd"_qs.arg(numbers(out.filePath(u"pids.txt"_qs))[0]));
            QCOMPARE(fds.entryList(QDir::System).filter(QRegularExpression(u"^[^0.]"_qs)),
                     (QStringList{u"1"_qs, u"2"_qs}));
        }
        if (setup == u"cancel a turn later"_qs)
            QTimer::singleShot(0, &queue, [&queue, job] { queue.cancel(job); });
        else if (setup == u"cancel at once"_qs || lines.endsWith(u";hang"_qs))
            queue.cancel(job);
        QTRY_VERIFY(!job->isActive());
        ::close(leaked);
        QVERIFY(setup != u"cancel at once"_qs || !QFile::exists(out.filePath(u"launched.txt"_qs)));

        QString text = shown(job);
        text += job->title() ? u" | title: "_qs + *job->title() : QString();
        text += job->warning() ? u" | warning: "_qs + *job->warning() : QString();
        QStringList files;
        for (const QUrl &file : job->files())
            files.append(out.relativeFilePath(file.toLocalFile())
                             .replace(out.relativeFilePath(job->m_stagingPath), u"staging"_qs));
        text += files.isEmpty() ? QString() : u" | files: "_qs + files.join(u", "_qs);
        const QString pattern = QRegularExpression::escape(outcome).replace(u"\\*"_qs, u".*"_qs);
        QVERIFY2(text.contains(QRegularExpression(u'^' + pattern + u'$')), qPrintable(text));
        // A finished run removes its folder unless it keeps a file there.
        const bool kept = files.value(0).startsWith(u"staging/"_qs);
        if (shown(job).startsWith(u"finished"_qs))
            QCOMPARE(QFileInfo::exists(job->m_stagingPath), kept);

        if (lines.startsWith(u"args"_qs)) {
            // yt-dlp gets the arguments for the job, with its staging folder as the output folder.
            QStringList expected = YTDLPCommand::arguments(req, tools);
            QCOMPARE(QString::fromUtf8(readAll(out.filePath(u"args.txt"_qs))).split(u'\n'),
                     expected.replaceInStrings(out.path(), job->m_stagingPath) << QString());
        }
        for (const qint64 pid : numbers(out.filePath(u"pids.txt"_qs)))
            QTRY_VERIFY2(gone(pid), QByteArray::number(pid).constData());

        // The job goes with its staging folder; a file kept there, and the user's files, stay.
        const QList<QUrl> saved = job->files();
        queue.remove(job);
        QCOMPARE(out.entryList({u".tovik-*"_qs}, QDir::AllEntries | QDir::Hidden).size(),
                 kept ? 1 : 0);
        for (const QUrl &file : saved)
            QCOMPARE(readAll(file.toLocalFile()), QByteArray("fake media\n"));
        for (const QString &name : userFiles)
            QCOMPARE(readAll(out.filePath(name)), "the user's own " + name.toUtf8());
    }

    // Batches go in front and start from the end of the list, two runs at a time; the list
    // announces each change. Every process of every run ends with the queue, also a run of a
    // job that a retry took off the list, and no run leaves a descriptor open.
    void orderAndListChanges() {
        const QString pidFile = outDir() + u"/pids.txt"_qs;
        scenario(u"hang"_qs,
                 {u"out TKT|x|NA|NA|T"_qs, u"spawn"_qs, u"pids pids.txt"_qs, u"hang"_qs});
        scenario(u"ok"_qs, {u"exit 0"_qs});
        scenario(u"fail"_qs, {u"exit 1"_qs});
        const qsizetype descriptors = QDir(u"/proc/self/fd"_qs).count();
        auto owner = std::make_unique<DownloadQueue>();
        DownloadQueue &queue = *owner;
        QSignalSpy active(&queue, &DownloadQueue::hasActiveJobsChanged);
        QSignalSpy aboutToInsert(&queue, &DownloadQueue::jobsAboutToBeInserted);
        QSignalSpy replaced(&queue, &DownloadQueue::jobReplaced);
        QSignalSpy removed(&queue, &DownloadQueue::jobsRemoved);
        const auto add = [&](const QString &names) { // "name/scenario", joined by blanks
            QList<DownloadRequest> batch;
            for (const QString &name : names.split(u' ', Qt::SkipEmptyParts))
                batch.append(request(name.section(u'/', 0, 0), name.section(u'/', 1)));
            queue.add(batch, m_tools);
        };
        add({});
        add(u"F/ok"_qs);
        QTRY_COMPARE(active, (QList<QVariantList>{{true}, {false}}));
        add(u"A/hang B/hang C/hang"_qs);
        add(u"D/fail E/ok"_qs);
        // The empty batch announced nothing.
        QCOMPARE(aboutToInsert, (QList<QVariantList>{{0, 0}, {0, 2}, {0, 1}}));
        QCOMPARE(states(queue),
                 u"D queued, E queued, A queued, B downloading, C downloading, F finished"_qs);
        // Each run that ends starts the next queued job from the end of the list.
        QTRY_VERIFY(queue.jobs().at(4)->m_process);
        queue.cancel(queue.jobs().at(4));
        QTRY_COMPARE(states(queue), u"D queued, E queued, A downloading, B downloading, "
                                    u"C cancelled, F finished"_qs);
        // A queued job is cancelled at once, and the freed slots do not start it.
        QSignalSpy eStates(queue.jobs().at(1), &DownloadJob::stateChanged);
        queue.cancel(queue.jobs().at(1));
        QCOMPARE(eStates.count(), 1);
        // terminateAll leaves queued jobs queued; the application kept running, so the freed
        // slots start them.
        QTRY_VERIFY(queue.jobs().at(2)->m_process && queue.jobs().at(3)->m_process);
        queue.terminateAll();
        QTRY_COMPARE(states(queue), u"D failed: yt-dlp stopped with code 1., E cancelled, "
                                    u"A cancelled, B cancelled, C cancelled, F finished"_qs);
        QCOMPARE(eStates.count(), 1);
        QCOMPARE(active.count(), 4);
        // A cancel of a final job changes nothing to be seen.
        DownloadJob *failed = queue.jobs().at(0);
        QSignalSpy changed(failed, &DownloadJob::changed);
        queue.cancel(failed);
        QCOMPARE(changed.count(), 0);

        // A retry puts a new job into the row and starts it.
        QFile::remove(pidFile);
        queue.retry(queue.jobs().at(4), m_tools);
        QCOMPARE(replaced, (QList<QVariantList>{{4}}));
        DownloadJob *running = queue.jobs().at(4);
        QCOMPARE(running->request(), request(u"C"_qs, u"hang"_qs));
        // An active job is neither removed nor cleared; rows 5 and 0-3 go, in two runs
        // announced from the back.
        queue.remove(running);
        queue.clearFinished();
        QCOMPARE(queue.jobs(), QList<DownloadJob *>{running});
        QCOMPARE(removed, (QList<QVariantList>{{5, 5}, {0, 3}}));
        // A job no longer listed is not retried.
        queue.retry(failed, m_tools);
        QCOMPARE(queue.jobs(), QList<DownloadJob *>{running});

        // The queue does not refuse a retry of a running job.
        QTRY_VERIFY(QFile::exists(pidFile));
        QList<qint64> pids = numbers(pidFile);
        QFile::remove(pidFile);
        queue.retry(running, m_tools);
        QTRY_VERIFY(QFile::exists(pidFile));
        pids += numbers(pidFile);
        QCOMPARE(pids.size(), 4);
        owner.reset();
        for (const qint64 pid : pids)
            QTRY_VERIFY2(gone(pid), QByteArray::number(pid).constData());
        QTRY_COMPARE(QDir(u"/proc/self/fd"_qs).count(), descriptors);
    }

    void stagingFolderLifetime() {
        // Leaves a partial download and a half-written file, as a cancelled extraction would.
        scenario(u"halfway"_qs, {u"touch v.mp4.part"_qs, u"touch v.m4a"_qs,
                                 u"touch v.f1.mp4.ytdl"_qs, u"hang"_qs});
        const QDir out(outDir());
        // A file and a folder of the user's that only look like Tovik's.
        write(out.filePath(u".tovik-file"_qs), {});
        QVERIFY(out.mkpath(u".tovik-users-own"_qs));
        DownloadQueue queue;
        queue.add({request(u"A"_qs, u"halfway"_qs), request(u"A"_qs, u"halfway"_qs)}, m_tools);
        DownloadJob *first = queue.jobs().at(0), *second = queue.jobs().at(1);
        QTRY_VERIFY(first->m_process && second->m_process);
        // The same request twice at once: two folders, side by side.
        const QString kept = first->m_stagingPath, other = second->m_stagingPath;
        QVERIFY(kept != other);
        QCOMPARE(QFileInfo(kept).path() + QFileInfo(other).path(), out.path() + out.path());
        QTRY_VERIFY(QFileInfo::exists(kept + u"/v.m4a"_qs));

        queue.cancel(first);
        QTRY_COMPARE(shown(first), u"cancelled"_qs);
        QCOMPARE(QDir(kept).entryList(QDir::Files | QDir::Hidden).join(u' '),
                 u".tovik-staging v.f1.mp4.ytdl v.mp4.part"_qs);

        // A retry works in the same folder and finds the partial download there.
        queue.retry(first, m_tools);
        DownloadJob *retried = queue.jobs().at(0);
        QTRY_VERIFY(retried->m_process);
        QCOMPARE(retried->m_stagingPath, kept);

        // The clean-up at start takes only what carries the marker and no run claims.
        StagingFolder::removeAbandoned(out.path());
        QVERIFY(QFileInfo::exists(kept + u"/v.mp4.part"_qs));
        queue.cancel(retried);
        QTRY_COMPARE(shown(retried), u"cancelled"_qs);
        StagingFolder::removeAbandoned(out.path());
        QStringList left = out.entryList({u".tovik-*"_qs}, QDir::AllEntries | QDir::Hidden);
        QVERIFY(left.removeOne(QFileInfo(other).fileName()));
        QCOMPARE(left, (QStringList{u".tovik-file"_qs, u".tovik-users-own"_qs}));
    }

    // Unbounded, the pending line would grow by all Tovik reads: some 15 MB a second.
    void floodWithoutLineFeeds() {
        // yt-dlp writes to standard output without a line feed until it is stopped.
        ToolPaths tools = m_tools;
        tools.ytdlp = QUrl::fromLocalFile(path(u"flood"_qs));
        write(tools.ytdlp.toLocalFile(), "#!/bin/sh\nexec cat /dev/zero\n");
        QVERIFY(
            QFile::setPermissions(tools.ytdlp.toLocalFile(), QFile::ReadOwner | QFile::ExeOwner));
        // Resident pages, from the second field of /proc/self/statm.
        const auto pages = [] { return readAll(u"/proc/self/statm"_qs).split(' ')[1].toInt(); };
        DownloadQueue queue;
        const qint64 before = pages();
        queue.add({request(u"A"_qs, u"flood"_qs)}, tools);
        DownloadJob *job = queue.jobs().first();
        QTest::qWait(4'000);
        const qint64 grown = (pages() - before) * ::getpagesize() / 1024;
        QVERIFY2(grown < 20'000, qPrintable(u"resident memory grew by %1 kB"_qs.arg(grown)));
        QVERIFY(job->m_process);
        queue.cancel(job);
        QTRY_COMPARE(shown(job), u"cancelled"_qs);
    }

    // Tovik in a process of its own, its job's yt-dlp running with children, ended by a signal.
    void endedTovikLeavesNothing_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("ignoringSigterm");
        for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL})
            QTest::addRow("%s", strsignal(signal)) << signal << false;
        QTest::newRow("SIGTERM, yt-dlp ignoring it") << SIGTERM << true;
        QTest::newRow("SIGKILL, yt-dlp ignoring SIGTERM") << SIGKILL << true;
        // Its pipes may then take the numbers 0 to 2, which the child's own must not clobber;
        // the job runs to its end.
        QTest::newRow("no signal, Tovik started without standard descriptors") << 0 << false;
    }

    void endedTovikLeavesNothing() {
        QFETCH(int, signal);
        QFETCH(bool, ignoringSigterm);
        const QString hang = u"ignore-term;spawn;spawn setsid;pids pids.txt;hang"_qs;
        scenario(u"hang"_qs, hang.mid(ignoringSigterm ? 0 : 12).split(u';'));
        scenario(u"0"_qs, {u"err ERROR: noise"_qs, u"file a.mp4"_qs, u"exit 0"_qs});
        // Through a shell that hands its process to the host, with or without descriptors 0-2.
        QProcess host;
        host.start(u"/bin/sh"_qs,
                   {u"-c"_qs,
                    signal ? u"exec \"$0\" \"$@\""_qs : u"exec \"$0\" \"$@\" <&- >&- 2>&-"_qs,
                    QString::fromUtf8(QUEUE_HOST), QString::fromUtf8(FAKE_YTDLP),
                    u"https://example.invalid/A/"_qs + (signal ? u"hang"_qs : u"0"_qs), outDir(),
                    u"audio"_qs});
        QVERIFY(signal || (host.waitForFinished(60'000) &&
                           host.exitStatus() == QProcess::NormalExit && host.exitCode() == 0));
        if (!signal)
            return;
        // yt-dlp leads its own group; its parent is the guard between it and Tovik.
        const QString pidFile = outDir() + u"/pids.txt"_qs;
        QTRY_COMPARE(numbers(pidFile).size(), 3);
        QList<qint64> pids = numbers(pidFile);
        pids.append(procStat(pids.first()).value(1).toLongLong());
        QCOMPARE(procStat(pids.last()).value(1).toLongLong(), host.processId());

        ::kill(static_cast<pid_t>(host.processId()), signal);
        QVERIFY(host.waitForFinished(5'000));
        for (const qint64 pid : pids)
            QTRY_VERIFY2_WITH_TIMEOUT(gone(pid), QByteArray::number(pid).constData(), 5'000);
        // A signal it can catch ends Tovik in order: it cleans up its staging folders too.
        if (signal != SIGKILL) {
            QCOMPARE(host.exitStatus(), QProcess::NormalExit);
            QCOMPARE(QDir(outDir()).entryList({u".tovik-*"_qs}, QDir::Dirs | QDir::Hidden),
                     QStringList());
        }
    }

    // Each step is an event and what the job shows after it: parts finished, the fraction, and
    // "P" once processing. Events: i item, i1/2 item 1 of 2, p400/1000 progress, with "-" for
    // an unknown number, p835/3340@0/4 progress of fragment 0 of 4, F finished, m a file.
    void course_data() {
        QTest::addColumn<OutputFormat>("format");
        QTest::addColumn<QString>("steps");
        const auto row = [](const char *name, OutputFormat format, const char *steps) {
            QTest::newRow(name) << format << QString::fromUtf8(steps);
        };
        row("video, more finished parts than weights", OutputFormat::video1080,
            "i=0:0 p400/1000=0:0.36 F=1:0.9 p500/1000=1:0.95 F=2:1P m=2:1P F=3:1P p900/1000=3:1P");
        // Numbers as yt-dlp printed them for a DASH source: an init segment of 835 bytes, then
        // media segments of about 46 kB; the estimate is made again after each fragment. The
        // fourth step is at 0.9 * (1 + 19165 / 46046) / 4, the last but one at
        // 0.9 + 0.1 * (1 + 1024 / 8777) / 9.
        row("fragments", OutputFormat::video1080,
            "i=0:0 p835/3340@0/4=0:0 p835/3340@1/4=0:0.225 p20000/93762@1/4=0:0.318648 "
            "p46881/93762@1/4=0:0.45 p46881/93762@2/4=0:0.45 p140000/140000@4/4=0:0.9 F=1:0.9 "
            "p765/6885@1/9=1:0.911111 p1789/42939@1/9=1:0.912407 F=2:1P");
        row("fragment numbers that make no sense leave it to the bytes", OutputFormat::video1080,
            "i=0:0 p300/1000@5/4=0:0.27 p400/1000@0/0=0:0.36 p500/1000@-1/4=0:0.45 "
            "p600/1000@2/-=0:0.54");
        // No total, or a total of 0, shows only the finished parts. At the end a source that
        // offers only a combined file: one part where two are expected.
        row("a part's bar never moves back", OutputFormat::video480,
            "i=0:0 p400/-=0:0 p400/0=0:0 p800/1000=0:0.72 p810/3000=0:0.72 p900/4000@1/4=0:0.72 "
            "p1200/1000=0:0.9 F=1:0.9 p400/-=1:0.9 p-/1000=1:0.9 p400/0=1:0.9 p100/1000=1:0.91 "
            "p-5/1000=1:0.91 m=1:1");
        row("a new entry measures its fragments afresh", OutputFormat::audio,
            "i1/2=0:0 p100/400@1/4=0:0.25 p150/400@1/4=0:0.375 i2/2=0:0 p50/200@1/4=0:0.25 "
            "p75/200@1/4=0:0.375");
        // The next entry of a playlist starts its bar over, even from processing.
        row("audio playlist entries", OutputFormat::audio,
            "i1/2=0:0 p250/1000=0:0.25 F=1:1P m=1:1P i2/2=0:0 p300/1000=0:0.3");
    }

    void course() {
        QFETCH(OutputFormat, format);
        QFETCH(QString, steps);
        DownloadJob job(DownloadRequest{{}, format, false, {}});
        QStringList trace;
        for (const QString &step : steps.split(u' ')) {
            const QString event = step.section(u'=', 0, 0);
            const QStringList n = event.mid(1).split(QRegularExpression(u"[/@]"_qs));
            const auto at = [&n](int i) {
                return n.value(i, u"-"_qs) == u"-" ? Number() : n.value(i).toLongLong();
            };
            const QChar kind = event.front();
            job.handle(kind == u'i' ? YTDLPEvent(YTDLPEvent::Item{u"id"_qs, at(0), at(1), u"C"_qs})
                       : kind == u'p' ? progress(at(0), at(1), 2.0, 7, at(2), at(3))
                       : kind == u'F'
                           ? YTDLPEvent(YTDLPEvent::Progress{u"id"_qs, true, 1000, 1000, {}, {}})
                           : YTDLPEvent::File{u"id"_qs, u"/tmp/C.mp4"_qs});
            const bool processing = std::holds_alternative<DownloadJob::Processing>(job.state());
            trace.append(u"%1=%2:%3"_qs.arg(event).arg(job.m_partsFinished).arg(job.fraction()) +
                         (processing ? u"P"_qs : QString()));
        }
        QCOMPARE(trace.join(u' '), steps);
    }

    // Every field follows the events, and each signal comes only when its value really changes.
    void fieldsAndSignals() {
        DownloadJob job(DownloadRequest{{}, OutputFormat::video720, false, {}});
        // What the job shows besides its state and fraction, "-" for an empty field: title,
        // playlist index and count, speed, eta, files; then how many times each of its signals
        // came, in the order the class declares them: state, title, playlist index, playlist
        // count, fraction, speed, eta, files, warning, changed.
        std::deque<QSignalSpy> spies;
        const QMetaObject &meta = DownloadJob::staticMetaObject;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
            if (meta.method(i).methodType() == QMetaMethod::Signal)
                spies.emplace_back(&job, meta.method(i));
        const auto now = [&job, &spies] {
            const auto text = [](const auto &field) {
                return field ? QVariant::fromValue(*field).toString() : u"-"_qs;
            };
            QStringList list{text(job.title()),
                             text(job.playlistIndex()),
                             text(job.playlistCount()),
                             text(job.speed()),
                             text(job.eta()),
                             QString::number(job.files().size()),
                             u"|"_qs};
            for (const QSignalSpy &spy : spies)
                list.append(QString::number(spy.count()));
            return list.join(u' ');
        };
        for (int i = 0; i < 2; ++i)
            job.handle(YTDLPEvent::Item{u"id"_qs, 1, 2, u"First"_qs});
        QCOMPARE(now(), u"First 1 2 - - 0 | 1 1 1 1 0 0 0 0 0 1"_qs);
        job.handle(progress(100, 1000, 50.0, 3));
        job.handle(progress(100, 1000, 50.0, 3));
        // Only the speed moved; an error line changes nothing.
        job.handle(progress(100, 1000, 60.0, 3));
        job.handle(YTDLPEvent::Error{u"Video unavailable"_qs});
        QCOMPARE(now(), u"First 1 2 60 3 0 | 1 1 1 1 1 2 1 0 0 3"_qs);
        // A finished report clears speed and eta.
        job.handle(YTDLPEvent::Progress{u"id"_qs, true, 1000, 1000, 4096.0, 3});
        QCOMPARE(now(), u"First 1 2 - - 0 | 1 1 1 1 2 3 2 0 0 4"_qs);
        // A new entry starts its bar over and keeps speed and eta until the next report; an
        // entry that names its playlist is shown under the playlist's title.
        job.handle(progress(500, 1000, 300.0, 12));
        job.handle(YTDLPEvent::Item{u"id"_qs, 2, 3, u"Second"_qs, u"Talks"_qs});
        QCOMPARE(now(), u"Talks 2 3 300 12 0 | 1 2 2 2 4 4 3 0 0 6"_qs);
        job.handle(YTDLPEvent::Item{u"id"_qs, {}, {}, u"NA"_qs});
        // The same path twice is listed twice.
        for (int i = 0; i < 2; ++i)
            job.handle(YTDLPEvent::File{u"id"_qs, u"/tmp/a b/Ü.m4a"_qs});
        QCOMPARE(now(), u"NA - - 300 12 2 | 1 3 3 3 5 4 3 2 0 9"_qs);

        for (const QString &message : {u"a"_qs, u"a"_qs, u"b"_qs})
            job.setState(DownloadJob::Failed{message});
        for (const std::optional<QString> &warning :
             {std::optional(u"x"_qs), std::optional(u"x"_qs), std::optional<QString>()})
            job.setWarning(warning);
        QCOMPARE(now(), u"NA - - 300 12 2 | 3 3 3 3 5 4 3 2 2 13"_qs);
    }
};

QTEST_GUILESS_MAIN(TestDownloadQueue)
#include "tst_downloadqueue.moc"
