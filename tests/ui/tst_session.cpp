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

    // A later start of the program, without a display, while this process is the first Tovik.
    // Help and version need no display; a wrong option fails clearly; links are handed over.
    void start_data() {
        // arguments|status|said|queued|token, arguments and queued links parted by ';'. The
        // status -1: started without a bus, still running after 2 s. Said: a complaint
        // ("tovik: ...") on the error channel, else on the output. The token: the compositor's
        // permission to come to the front, which the first takes as it comes there; without
        // one, the first stays where it is.
        QTest::addColumn<QString>("c");
        QTest::newRow("version") << u"-v|0|tovik " TOVIK_VERSION "||"_qs;
        QTest::newRow("toolkit option before help") << u"-platform;xcb;-h|0|Usage: tovik ||"_qs;
        QTest::newRow("unknown option")
            << u"-platform;offscreen;--fast;a.com/x|2|tovik: unknown option '--fast'||"_qs;
        QTest::newRow("links as pasted")
            << u"-platform;offscreen;example.com/half, https://example.com/fifth;no link;"
               u"https://example.com/half|0|tovik: no web link in 'no link'|"
               u"https://example.com/half;https://example.com/fifth|token-2"_qs;
        QTest::newRow("no link only raises") << u"-platform;offscreen|0|||token-3"_qs;
        // Its own job ends by itself, so stopping it leaves nothing running.
        QTest::newRow("without a bus every start is alone")
            << u"-platform;offscreen;https://example.com/one|-1|||"_qs;
    }
    void start() {
        QFETCH(QString, c);
        const QStringList f = c.split(u'|');
        const int status = f[1].toInt();
        const QString &said = f[2], &token = f[4];
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
        later.start(QStringLiteral(TOVIK_PROGRAM), f[0].split(u';'));
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
        QCOMPARE(links.join(u';'), f[3]);
        QTRY_VERIFY(tovik.tools().ytdlpVersion() && !tovik.tools().isUpdating());
    }

    // Shown in the file manager as selected, else the first file's folder opens.
    void revealFiles_data() {
        QTest::addColumn<bool>("fileManager");
        QTest::addColumn<bool>("files");
        QTest::newRow("selected in the file manager") << true << true;
        QTest::newRow("without a file manager the first file's folder opens") << false << true;
        QTest::newRow("nothing to show") << true << false;
    }
    void revealFiles() {
        QFETCH(bool, fileManager);
        QFETCH(bool, files);
        QVERIFY(!fileManager || m_desktop.registerService(u"org.freedesktop.FileManager1"_qs));
        Desktop::system().revealFiles(
            files ? QList<QUrl>{QUrl::fromLocalFile(u"/tmp/out/Über uns.mp4"_qs),
                                QUrl::fromLocalFile(u"/tmp/out/List/2 - #2 100%.m4a"_qs)}
                  : QList<QUrl>());
        // Either answer ends the wait; the other must not have come as well.
        QTRY_VERIFY(!m_heard.calls.isEmpty() || !m_heard.opened.isEmpty() || !files);
        QTest::qWait(100);
        const QVariantList shown{QStringList{u"file:///tmp/out/%C3%9Cber%20uns.mp4"_qs,
                                             u"file:///tmp/out/List/2%20-%20%232%20100%25.m4a"_qs},
                                 QString()};
        QCOMPARE(m_heard.calls, QList<QVariantList>(files && fileManager, shown));
        QCOMPARE(m_heard.opened, QList<QUrl>(files && !fileManager, QUrl(u"file:///tmp/out"_qs)));
    }

    // batches#letters#notices. Batches are parted by '|', each told or not as its letter says:
    // '.' told, 'c' told after its waiting jobs are cancelled, 'a' while the window is active,
    // '-' without a notification service. Each notice told: summary|body|the files its action
    // shows, the next after a '#'. Another batch's notice replaces the one before.
    void notices_data() {
        QTest::addColumn<QString>("c");
        QTest::newRow("3 finished")
            << u"one two three#.#3 downloads finished||one.mp4 two.mp4 three.mp4"_qs;
        QTest::newRow("finished, failed")
            << u"one failing two#.#2 finished, 1 failed<gone>one.mp4 two.mp4"_qs;
        QTest::newRow("only failed, first told")
            << u"failing failing-too#.#2 downloads failed<gone>"_qs;
        QTest::newRow("finished, cancelled")
            << u"one two three#c#2 finished, 1 cancelled||two.mp4 three.mp4"_qs;
        QTest::newRow("later replaces")
            << u"one|failing#..#1 download finished||one.mp4#1 download failed<gone>"_qs;
        // Notices arrive in the order they were sent: had the first batch been told, it would
        // be here before the second.
        QTest::newRow("nothing while the window is active")
            << u"one|failing#a.#1 download failed<gone>"_qs;
        // A service that comes later is told, and its notice's action is heard.
        QTest::newRow("nothing without a service")
            << u"one|two|three#--.#1 download finished||three.mp4"_qs;
    }
    void notices() {
        QFETCH(QString, c);
        c.replace(u"<gone>"_qs, u"|Video &lt;unavailable&gt; &amp; gone|"_qs);
        const QStringList notices = c.split(u'#').sliced(2);
        const QString letters = c.split(u'#')[1];
        QWidget &window = m_session->window;
        for (qsizetype i = 0; const QString &batch : c.split(u'#')[0].split(u'|')) {
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
        QList<QUrl> files;
        for (qsizetype i = 0; i < notices.size(); ++i) {
            // app, replaced notice, icon, summary, body, actions, hints, timeout
            const QVariantList &n = m_heard.calls.at(i);
            const QStringList expected = notices.at(i).split(u'|');
            files.clear();
            for (const QString &name : expected.at(2).split(u' ', Qt::SkipEmptyParts))
                files.append(QUrl::fromLocalFile(m_session->output.filePath(name)));
            QCOMPARE(
                QStringList({n[0].toString(), n[1].toString(), n[2].toString(),
                             qdbus_cast<QVariantMap>(n[6])[u"desktop-entry"_qs].toString(),
                             n[3].toString(), n[4].toString(), n[5].toStringList().join(u',')}),
                QStringList({u"Tovik"_qs, QString::number(i ? m_heard.ids[i - 1] : 0), appId, appId,
                             expected[0], expected[1],
                             files.isEmpty() ? QString() : u"show-in-folder,Show in Folder"_qs}));
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
        QTest::addColumn<QString>("c"); // scenarios|count|progress|quit
        QTest::newRow("two running, cleared when Tovik ends") << u"half fifth|2|0.35|quit"_qs;
        QTest::newRow("an ended job counts as done") << u"half done|1|0.75|"_qs;
        QTest::newRow("a waiting job counts as not begun") << u"half half half|3|0.3333|"_qs;
        // A thousand progress lines in two seconds.
        QTest::newRow("at most four updates a second") << u"busy|0|0|"_qs;
    }
    void launcher() {
        QFETCH(QString, c);
        const QStringList f = c.split(u'|');
        const qint64 count = f[1].toLongLong();
        add(f[0]);
        if (count > 0) {
            QTRY_VERIFY(shows(count, f[2].toDouble()));
            QTest::qWait(2 * LauncherProgress::interval); // in which nothing new is shown
            if (!f[3].isEmpty())
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
