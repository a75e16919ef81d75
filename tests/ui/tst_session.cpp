#include "CommandLine.h"
#include "DownloadNotifier.h"
#include "GuiTest.h"
#include "LauncherProgress.h"
#include "SessionBus.h"
#include "SingleInstance.h"
#include "TovikApp.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

using namespace GuiTest;

Q_DECLARE_METATYPE(CommandLine::Request)

namespace {

// What the desktop heard during one test.
struct Heard {
    QList<QVariantList> calls;  // to the notification service and the file manager
    QList<uint> ids;            // the numbers given to notices
    QList<QUrl> opened;         // by the opener of file URLs
    QList<QVariantMap> updates; // of Tovik's launcher entry
    QList<qint64> times;        // when each update came
};

// What Tovik's window is made of here: a queue saving to a folder of its own, a window that may
// be active, the two that tell the desktop about the queue, and answers for the desktop.
struct Session {
    RecordingDesktop recording;
    Desktop desktop = recording.desktop();
    QTemporaryDir output;
    DownloadQueue queue;
    QWidget window;
    DownloadNotifier notifier{queue, window, desktop};
    std::optional<LauncherProgress> launcher{std::in_place, queue};
};

QByteArray progress(int percent) {
    return "out TKT|v|NA|NA|Title\nout TKP|v|downloading|" + QByteArray::number(percent) +
           "|100|NA|NA|NA\n";
}

} // namespace

// Plays the desktop: its notification service and file manager answer calls made by their own
// names, and refuse everything else; notices are numbered as a notification service does.
class TestSession : public QDBusVirtualObject {
    Q_OBJECT

public:
    explicit TestSession(const SessionBus &bus) : m_bus(bus) {}
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &call, const QDBusConnection &bus) override {
        const QString known = call.interface() + u' ' + call.member() + u' ' + call.signature();
        if (call.path() != u'/' + QString(call.interface()).replace(u'.', u'/') ||
            !QStringList{u"org.freedesktop.Notifications Notify susssasa{sv}i"_qs,
                         u"org.freedesktop.FileManager1 ShowItems ass"_qs}
                 .contains(known))
            return bus.send(call.createErrorReply(QDBusError::UnknownMethod, known));
        m_heard.calls.append(call.arguments());
        if (call.member() != u"Notify"_qs)
            return bus.send(call.createReply());
        const uint replaces = call.arguments().at(1).toUInt();
        m_heard.ids.append(replaces != 0 ? replaces : static_cast<uint>(m_heard.calls.size()) + 40);
        return bus.send(call.createReply(m_heard.ids.back()));
    }

public Q_SLOTS:
    void open(const QUrl &url) { m_heard.opened.append(url); }
    void update(const QString &app, const QVariantMap &properties) {
        // Updates for another application are not Tovik's.
        if (app != u"application://org.tovik.Tovik.desktop"_qs)
            return;
        m_heard.updates.append(properties);
        m_heard.times.append(m_clock.elapsed());
    }

private Q_SLOTS:
    void initTestCase() {
        if (!m_bus.isRunning())
            QSKIP(qPrintable(u"no private session bus: "_qs + m_bus.error()));
        m_desktop =
            QDBusConnection::connectToBus(QString::fromUtf8(m_bus.address()), u"desktop"_qs);
        QVERIFY(m_desktop.registerVirtualObject(u"/org/freedesktop"_qs, this,
                                                QDBusConnection::SubPath));
        QVERIFY(m_desktop.connect({}, {}, u"com.canonical.Unity.LauncherEntry"_qs, u"Update"_qs,
                                  this, SLOT(update(QString, QVariantMap))));
        m_clock.start();
        QDesktopServices::setUrlHandler(u"file"_qs, this, "open");
        for (const QString &name : {u"one"_qs, u"two"_qs, u"three"_qs})
            QVERIFY(m_scenarios.write(name, "file " + name.toUtf8() + ".mp4\nexit 0\n"));
        const std::pair<QString, QByteArray> scenarios[] = {
            {u"failing"_qs, "err ERROR: [generic] x: Video <unavailable> & gone\nexit 1\n"},
            {u"failing-too"_qs, "err ERROR: [generic] y: Private video\nexit 1\n"},
            {u"half"_qs, progress(50) + "hang\n"},
            {u"fifth"_qs, progress(20) + "hang\n"},
            {u"done"_qs, progress(100) + "exit 0\n"},
            {u"busy"_qs, "out TKT|v|NA|NA|Busy\nrate 500 2\nexit 0\n"}};
        for (const auto &[name, script] : scenarios)
            QVERIFY(m_scenarios.write(name, script));
        QVERIFY(installFakeTools());
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(u"file"_qs); }
    void init() {
        m_heard = {};
        m_session.emplace();
    }
    void cleanup() {
        m_session.reset();
        m_desktop.unregisterService(u"org.freedesktop.Notifications"_qs);
        m_desktop.unregisterService(u"org.freedesktop.FileManager1"_qs);
    }

    void parse_data() {
        QTest::addColumn<QString>("arguments"); // parted by '|'
        QTest::addColumn<CommandLine::Request>("request");
        using namespace CommandLine;
        QTest::newRow("nothing") << u""_qs << Request(Open{});
        QTest::newRow("links kept as given")
            << u"https://a.com/1|b.com/2 c.com/3|not a link"_qs
            << Request(Open{{u"https://a.com/1"_qs, u"b.com/2 c.com/3"_qs, u"not a link"_qs}});
        QTest::newRow("help among links") << u"https://a.com/1|--help"_qs << Request(Help{});
        QTest::newRow("version") << u"--version"_qs << Request(Version{});
        QTest::newRow("help wins over version") << u"-v|-h"_qs << Request(Help{});
        QTest::newRow("help wins over an unknown option")
            << u"--verbose|--help"_qs << Request(Help{});
        QTest::newRow("first unknown option named")
            << u"https://a.com/1|--verbose|-x"_qs << Request(UnknownOption{u"--verbose"_qs});
        QTest::newRow("single dash is text") << u"-"_qs << Request(Open{{u"-"_qs}});
        QTest::newRow("after the end of options everything is text")
            << u"--|--help|-x|--"_qs << Request(Open{{u"--help"_qs, u"-x"_qs, u"--"_qs}});
    }
    void parse() {
        QFETCH(QString, arguments);
        QFETCH(CommandLine::Request, request);
        QVERIFY(CommandLine::parse(arguments.split(u'|', Qt::SkipEmptyParts)) == request);
    }

    // A later start of the program, without a display, while this process is the first Tovik.
    // Help and version need no display; a wrong option fails clearly; links are handed over.
    void start_data() {
        QTest::addColumn<QString>("arguments"); // parted by '|'
        QTest::addColumn<int>("status");     // -1: started without a bus, still running after 2 s
        QTest::addColumn<QString>("said");   // a complaint ("tovik: ...") on the error channel
        QTest::addColumn<QString>("queued"); // in the first, parted by '|'
        // With the compositor's permission to come to the front, which the first takes as it
        // comes there; without, the first stays where it is.
        QTest::addColumn<QString>("token");
        QTest::newRow("help") << u"--help"_qs << 0 << u"Usage: tovik [OPTION]... [LINK]..."_qs
                              << QString() << QString();
        QTest::newRow("version") << u"-v"_qs << 0 << u"tovik " TOVIK_VERSION ""_qs << QString()
                                 << QString();
        QTest::newRow("toolkit option before help")
            << u"-platform|xcb|-h"_qs << 0 << u"  -h, --help"_qs << QString() << QString();
        QTest::newRow("unknown option")
            << u"-platform|offscreen|--fast|a.com/x"_qs << 2 << u"tovik: unknown option '--fast'"_qs
            << QString() << QString();
        const QString half = u"https://example.com/half"_qs;
        QTest::newRow("one link") << u"-platform|offscreen|"_qs + half << 0 << QString() << half
                                  << u"token-1"_qs;
        QTest::newRow("links as pasted")
            << u"-platform|offscreen|example.com/half, https://example.com/fifth|no link|"_qs + half
            << 0 << u"tovik: no web link in 'no link'"_qs << half + u"|https://example.com/fifth"_qs
            << u"token-2"_qs;
        QTest::newRow("no link only raises")
            << u"-platform|offscreen"_qs << 0 << QString() << QString() << u"token-3"_qs;
        // Its own job ends by itself, so stopping it leaves nothing running.
        QTest::newRow("without a bus every start is alone")
            << u"-platform|offscreen|https://example.com/one"_qs << -1 << QString() << QString()
            << QString();
    }
    void start() {
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        QFETCH(QString, queued);
        QFETCH(QString, token);
        qunsetenv("XDG_ACTIVATION_TOKEN");
        SingleInstance first;
        QCOMPARE(first.role(), SingleInstance::Role::first);
        TovikApp tovik(localSources(), m_session->desktop);
        first.deliverTo(tovik);
        tovik.window().showMinimized();
        QTRY_VERIFY(std::holds_alternative<ToolManager::Ready>(tovik.tools().phase()));
        QTRY_VERIFY(tovik.window().isMinimized());

        QProcess later;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString &name : {u"DISPLAY"_qs, u"WAYLAND_DISPLAY"_qs, u"QT_QPA_PLATFORM"_qs})
            environment.remove(name);
        if (!token.isEmpty())
            environment.insert(u"XDG_ACTIVATION_TOKEN"_qs, token);
        if (status < 0)
            environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_qs, u"unix:path=/nonexistent/bus"_qs);
        later.setProcessEnvironment(environment);
        later.start(QStringLiteral(TOVIK_PROGRAM), arguments.split(u'|'));
        if (status >= 0) {
            // The later start waits for the first to answer, which needs this event loop.
            QTRY_COMPARE_WITH_TIMEOUT(later.state(), QProcess::NotRunning, 20'000);
            QCOMPARE(later.exitStatus(), QProcess::NormalExit);
            QCOMPARE(later.exitCode(), status);
        } else {
            // It keeps a window of its own instead of handing over and ending.
            QVERIFY(later.waitForStarted() && !later.waitForFinished(2000));
            later.terminate();
            QVERIFY(later.waitForFinished());
        }
        const QString out = QString::fromLocal8Bit(later.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(later.readAllStandardError());
        const bool complaint = said.startsWith(u"tovik: "_qs);
        QVERIFY2((complaint ? err : out).contains(said) &&
                     (complaint || said.isEmpty() || err.isEmpty()),
                 qPrintable(out + err));
        QTRY_COMPARE(tovik.window().isMinimized(), token.isEmpty());
        QCOMPARE(qEnvironmentVariable("XDG_ACTIVATION_TOKEN"), token);
        QStringList links;
        for (const DownloadJob *job : tovik.queue().jobs())
            links.append(job->request().url.toString());
        QCOMPARE(links.join(u'|'), queued);
        QTRY_VERIFY(tovik.tools().ytdlpVersion() && !tovik.tools().isUpdating());
    }

    void revealFiles_data() {
        QTest::addColumn<bool>("fileManager");
        QTest::addColumn<QList<QUrl>>("files");
        QTest::addColumn<QList<QVariantList>>("shown");
        QTest::addColumn<QList<QUrl>>("opened");
        const QList<QUrl> files{QUrl::fromLocalFile(u"/tmp/out/Über uns.mp4"_qs),
                                QUrl::fromLocalFile(u"/tmp/out/List/2 - #2 100%.m4a"_qs)};
        QTest::newRow("selected in the file manager")
            << true << files
            << QList<QVariantList>{{QStringList{
                                        u"file:///tmp/out/%C3%9Cber%20uns.mp4"_qs,
                                        u"file:///tmp/out/List/2%20-%20%232%20100%25.m4a"_qs},
                                    QString()}}
            << QList<QUrl>();
        QTest::newRow("without a file manager the first file's folder opens")
            << false << files << QList<QVariantList>()
            << QList<QUrl>{QUrl::fromLocalFile(u"/tmp/out"_qs)};
        QTest::newRow("nothing to show")
            << true << QList<QUrl>() << QList<QVariantList>() << QList<QUrl>();
    }
    void revealFiles() {
        QFETCH(bool, fileManager);
        QFETCH(QList<QUrl>, files);
        QFETCH(QList<QVariantList>, shown);
        QFETCH(QList<QUrl>, opened);
        QVERIFY(!fileManager || m_desktop.registerService(u"org.freedesktop.FileManager1"_qs));
        Desktop::system().revealFiles(files);
        // Either answer ends the wait; the other must not have come as well.
        QTRY_VERIFY(!m_heard.calls.isEmpty() || !m_heard.opened.isEmpty() || files.isEmpty());
        QTest::qWait(100);
        QCOMPARE(m_heard.calls, shown);
        QCOMPARE(m_heard.opened, opened);
    }

    // Batches are parted by '|', each told or not as its letter says: '.' told, 'c' told after
    // its waiting jobs are cancelled, 'a' while the window is active, '-' without a
    // notification service. Each notice told: summary|body|the files its action shows.
    void notices_data() {
        QTest::addColumn<QString>("batches");
        QTest::addColumn<QString>("letters");
        QTest::addColumn<QStringList>("notices");
        const QString gone = u"|Video &lt;unavailable&gt; &amp; gone|"_qs;
        QTest::newRow("one finished")
            << u"one"_qs << u"."_qs << QStringList{u"1 download finished||one.mp4"_qs};
        QTest::newRow("three finished")
            << u"one two three"_qs << u"."_qs
            << QStringList{u"3 downloads finished||one.mp4 two.mp4 three.mp4"_qs};
        QTest::newRow("finished and failed")
            << u"one failing two"_qs << u"."_qs
            << QStringList{u"2 finished, 1 failed"_qs + gone + u"one.mp4 two.mp4"_qs};
        QTest::newRow("only failed, first failure told")
            << u"failing failing-too"_qs << u"."_qs << QStringList{u"2 downloads failed"_qs + gone};
        QTest::newRow("finished and cancelled")
            << u"one two three"_qs << u"c"_qs
            << QStringList{u"2 finished, 1 cancelled||two.mp4 three.mp4"_qs};
        QTest::newRow("a later batch replaces the notice")
            << u"one|failing"_qs << u".."_qs
            << QStringList{u"1 download finished||one.mp4"_qs, u"1 download failed"_qs + gone};
        // Notices arrive in the order they were sent: had the first batch been told, it would
        // be here before the second.
        QTest::newRow("nothing while the window is active")
            << u"one|failing"_qs << u"a."_qs << QStringList{u"1 download failed"_qs + gone};
        // A service that comes later is told, and its notice's action is heard.
        QTest::newRow("nothing without a service")
            << u"one|two|three"_qs << u"--."_qs
            << QStringList{u"1 download finished||three.mp4"_qs};
    }
    void notices() {
        QFETCH(QString, batches);
        QFETCH(QString, letters);
        QFETCH(QStringList, notices);
        QWidget &window = m_session->window;
        for (qsizetype i = 0; const QString &batch : batches.split(u'|')) {
            const QChar letter = letters.at(i++);
            if (letter == u'-')
                m_desktop.unregisterService(u"org.freedesktop.Notifications"_qs);
            else
                QVERIFY(m_desktop.registerService(u"org.freedesktop.Notifications"_qs));
            if (letter == u'a') {
                window.show();
                window.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&window));
            }
            add(batch);
            for (DownloadJob *job : m_session->queue.jobs())
                if (letter == u'c' && std::holds_alternative<DownloadJob::Queued>(job->state()))
                    m_session->queue.cancel(job);
            QTRY_VERIFY(!m_session->queue.hasActiveJobs());
            window.hide();
            QTRY_VERIFY(!window.isActiveWindow());
        }
        QTRY_COMPARE(m_heard.calls.size(), notices.size());
        const QString appId = QStringLiteral(TOVIK_APP_ID);
        const QStringList reveal{u"show-in-folder"_qs, u"Show in Folder"_qs};
        QList<QUrl> files;
        for (qsizetype i = 0; i < notices.size(); ++i) {
            // app, replaced notice, icon, summary, body, actions, hints, timeout
            const QVariantList &notice = m_heard.calls.at(i);
            const QStringList expected = notices.at(i).split(u'|');
            QCOMPARE(notice.at(1).toUInt(), i == 0 ? 0u : m_heard.ids.at(i - 1));
            QCOMPARE(
                QStringList(
                    {notice.at(0).toString(), notice.at(2).toString(),
                     qdbus_cast<QVariantMap>(notice.at(6)).value(u"desktop-entry"_qs).toString(),
                     notice.at(3).toString(), notice.at(4).toString()}),
                QStringList({u"Tovik"_qs, appId, appId}) + expected.first(2));
            files.clear();
            for (const QString &name : expected.at(2).split(u' ', Qt::SkipEmptyParts))
                files.append(QUrl::fromLocalFile(m_session->output.filePath(name)));
            QCOMPARE(notice.at(5).toStringList(), files.isEmpty() ? QStringList() : reveal);
        }
        // Another notice's action and another action of this one are not ours to answer.
        const uint id = m_heard.ids.back();
        const QString show = u"show-in-folder"_qs;
        for (const auto &[to, action] :
             QList<std::pair<uint, QString>>{{id + 1, show}, {id, u"default"_qs}, {id, show}})
            QVERIFY(m_desktop.send(QDBusMessage::createSignal(u"/org/freedesktop/Notifications"_qs,
                                                              u"org.freedesktop.Notifications"_qs,
                                                              u"ActionInvoked"_qs)
                                   << to << action));
        QTRY_VERIFY(!m_session->recording.revealed.isEmpty() || files.isEmpty());
        QTest::qWait(100); // all three are in by now; only the last counts
        QCOMPARE(m_session->recording.revealed,
                 files.isEmpty() ? QList<QList<QUrl>>() : QList<QList<QUrl>>{files});
    }

    // Each batch ends with every job cancelled, or Tovik ends in the middle of it, or by itself.
    void launcher_data() {
        QTest::addColumn<QString>("scenarios");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<double>("progress");
        QTest::addColumn<bool>("quit");
        QTest::newRow("one half way") << u"half"_qs << qint64{1} << 0.5 << false;
        QTest::newRow("two running") << u"half fifth"_qs << qint64{2} << 0.35 << false;
        QTest::newRow("an ended job counts as done")
            << u"half done"_qs << qint64{1} << 0.75 << false;
        QTest::newRow("a waiting job counts as not begun")
            << u"half half half"_qs << qint64{3} << 1.0 / 3 << false;
        QTest::newRow("cleared when Tovik ends") << u"half"_qs << qint64{1} << 0.5 << true;
        // A thousand progress lines in two seconds.
        QTest::newRow("at most four updates a second") << u"busy"_qs << qint64{0} << 0.0 << false;
    }
    void launcher() {
        QFETCH(QString, scenarios);
        QFETCH(qint64, count);
        QFETCH(double, progress);
        QFETCH(bool, quit);
        add(scenarios);
        if (count > 0) {
            QTRY_VERIFY(shows(count, progress));
            QTest::qWait(2 * LauncherProgress::interval); // in which nothing new is shown
            if (quit)
                m_session->launcher.reset();
            for (DownloadJob *job : m_session->queue.jobs())
                m_session->queue.cancel(job);
        }
        QTRY_VERIFY_WITH_TIMEOUT(shows(0, 0), 20'000);
        // Nothing is shown twice in a row, and the bar never runs backwards within the batch.
        const QList<QVariantMap> &updates = m_heard.updates;
        for (qsizetype i = 1; i < updates.size() - 1; ++i) {
            QVERIFY(updates.at(i - 1) != updates.at(i));
            QVERIFY(updates.at(i).value(u"progress"_qs).toDouble() >=
                    updates.at(i - 1).value(u"progress"_qs).toDouble());
        }
        const qint64 span = m_heard.times.back() - m_heard.times.front();
        const qsizetype shown = updates.size() - 1;
        QVERIFY2(shown <= span / LauncherProgress::interval + 2 && (count > 0 || shown >= 3),
                 qPrintable(u"%1 updates in %2 ms"_qs.arg(shown).arg(span)));
    }

private:
    // Queues one job for each scenario named.
    void add(const QString &scenarios) {
        QList<DownloadRequest> requests;
        for (const QString &name : scenarios.split(u' '))
            requests.append({Scenarios::link(name), OutputFormat::audio, false,
                             QUrl::fromLocalFile(m_session->output.path() + u'/')});
        m_session->queue.add(requests, {QUrl::fromLocalFile(QStringLiteral(FAKE_YTDLP)), {}, {}});
    }
    // The launcher's last update shows this many active jobs and this much progress; when it
    // is cleared, nothing.
    bool shows(qint64 count, double progress) const {
        QVariantMap last = m_heard.updates.value(m_heard.updates.size() - 1);
        return std::abs(last.take(u"progress"_qs).toDouble() - progress) < 0.001 &&
               last == QVariantMap{{u"count"_qs, count},
                                   {u"count-visible"_qs, count > 0},
                                   {u"progress-visible"_qs, count > 0}};
    }

    const SessionBus &m_bus;
    QDBusConnection m_desktop{QString()}; // the desktop's own connection to the bus
    Heard m_heard;
    QElapsedTimer m_clock;
    Scenarios m_scenarios;
    std::optional<Session> m_session;
};

// The private bus starts before the application, so that Qt's session bus is this one.
int main(int argc, char *argv[]) {
    PrivateHome home;
    SessionBus bus;
    QApplication app(argc, argv);
    QApplication::setOrganizationName(u"Tovik"_qs);
    QApplication::setApplicationName(u"Tovik"_qs);
    TestSession test(bus);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_session.moc"
