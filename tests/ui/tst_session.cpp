#include "DownloadNotifier.h"
#include "GuiTest.h"
#include "LauncherProgress.h"
#include "SessionBus.h"
#include "SingleInstance.h"
#include "TovikApp.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

using namespace GuiTest;

namespace {

// What Tovik's window is made of here: a queue saving to a folder of its own, a window that may
// be active, and the two that tell the desktop about the queue.
struct Session {
    Desktop desktop = Desktop::system();
    QTemporaryDir output;
    DownloadQueue queue;
    QWidget window;
    DownloadNotifier notifier{queue, window, desktop};
    LauncherProgress launcher{queue};
};

// What the launcher entry shows: this many active jobs and this much progress, or nothing.
QVariantMap entry(qint64 count, double progress) {
    return {{u"count"_qs, count},
            {u"count-visible"_qs, count > 0},
            {u"progress"_qs, progress},
            {u"progress-visible"_qs, count > 0}};
}

const QString notifications = u"org.freedesktop.Notifications"_qs;
const QString fileManager = u"org.freedesktop.FileManager1"_qs;

} // namespace

// Plays the desktop: its notification service and file manager answer their own calls, and
// refuse everything else. A notice gets the number of the one it replaces, if any, else 40 and
// how many have come.
class TestSession : public QDBusVirtualObject {
    Q_OBJECT

public:
    explicit TestSession(const SessionBus &bus) : m_bus(bus) {}
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &call, const QDBusConnection &bus) override {
        const QString known = call.interface() + u' ' + call.member() + u' ' + call.signature();
        if (known != notifications + u" Notify susssasa{sv}i"_qs &&
            known != fileManager + u" ShowItems ass"_qs)
            return bus.send(call.createErrorReply(QDBusError::UnknownMethod, known));
        if (call.member() != u"Notify"_qs) {
            m_shown.append(call.arguments());
            return bus.send(call.createReply());
        }
        // app, replaced notice, icon, summary, body, actions, hints, timeout
        const QVariantList n = call.arguments();
        m_notices.append(n[1].toString() + u'|' + n[3].toString() + u'|' + n[4].toString() + u'|' +
                         n[5].toStringList().join(u','));
        return bus.send(
            call.createReply(n[1].toUInt() ? n[1].toUInt() : 40 + uint(m_notices.size())));
    }

public Q_SLOTS:
    void open(const QUrl &url) { m_shown.append({url}); }
    void update(const QString &app, const QVariantMap &properties) {
        // Updates for another application are not Tovik's.
        if (app == u"application://org.tovik.Tovik.desktop"_qs)
            m_updates.append(properties);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(m_bus.isRunning(), qPrintable(m_bus.error()));
        m_desktop = QDBusConnection::connectToBus(QString::fromUtf8(m_bus.address()), u"desk"_qs);
        QVERIFY(m_desktop.registerVirtualObject(u"/org/freedesktop/Notifications"_qs, this) &&
                m_desktop.registerVirtualObject(u"/org/freedesktop/FileManager1"_qs, this));
        // Later starts of the program find no display.
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            qunsetenv(name);
        QVERIFY(m_desktop.connect({}, {}, u"com.canonical.Unity.LauncherEntry"_qs, u"Update"_qs,
                                  this, SLOT(update(QString, QVariantMap))));
        QDesktopServices::setUrlHandler(u"file"_qs, this, "open");
        const std::pair<QString, QByteArray> scenarios[] = {
            {u"one"_qs, "file one.mp4\nexit 0\n"},
            {u"two"_qs, "file two.mp4\nexit 0\n"},
            {u"three"_qs, "file Über 3 100%.mp4\nexit 0\n"},
            {u"failing"_qs, "err ERROR: [generic] x: Video <unavailable> & gone\nexit 1\n"},
            {u"half"_qs, "out TKT|v|NA|NA|Half\nout TKP|v|downloading|50|100|NA|NA|NA\nhang\n"},
            {u"done"_qs, "out TKT|v|NA|NA|Done\nout TKP|v|downloading|100|100|NA|NA|NA\n"},
            {u"busy"_qs, "out TKT|v|NA|NA|Busy\nrate 500 2\nexit 0\n"}};
        for (const auto &[name, script] : scenarios)
            QVERIFY(m_scenarios.write(name, script));
        QVERIFY(installFakeTools());
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(u"file"_qs); }
    void init() {
        m_notices = {};
        m_shown = {};
        m_updates = {};
        m_session.emplace();
        m_clock.start();
    }
    // The launcher entry is cleared when a batch ends, or Tovik in the middle of one. Nothing
    // is shown twice in a row, and besides a first and a clearing update for each of at most
    // three batches, at most four updates come a second.
    void cleanup() {
        m_session.reset();
        m_desktop.unregisterService(notifications);
        m_desktop.unregisterService(fileManager);
        QTRY_VERIFY(m_updates.isEmpty() || m_updates.back() == entry(0, 0));
        for (qsizetype i = 1; i < m_updates.size(); ++i)
            QVERIFY(m_updates.at(i - 1) != m_updates.at(i));
        QVERIFY(m_updates.size() <= m_clock.elapsed() / LauncherProgress::interval + 6);
    }

    // A later start of the program, without a display, while this process is the first Tovik.
    // Help and version need no display; a wrong option fails clearly; links are handed over.
    void start_data() {
        // arguments|status|said|queued|token, arguments and queued links parted by ';'. Said: a
        // complaint ("tovik: ...") on the error channel, else on the output. The token: the
        // compositor's permission to come to the front, which the first takes as it comes there;
        // without one, the first stays where it is.
        QTest::addColumn<QString>("c");
        QTest::newRow("version") << u"-v|0|tovik " TOVIK_VERSION "||"_qs;
        QTest::newRow("toolkit option before help") << u"-platform;xcb;-h|0|Usage: tovik ||"_qs;
        QTest::newRow("unknown option")
            << u"-platform;offscreen;--fast;a.com/x|2|tovik: unknown option '--fast'||"_qs;
        QTest::newRow("links as pasted")
            << u"-platform;offscreen;example.com/half, https://example.com/two;no link;"
               u"https://example.com/half|0|tovik: no web link in 'no link'|"
               u"https://example.com/half;https://example.com/two|token-2"_qs;
        QTest::newRow("no link only raises") << u"-platform;offscreen|0|||token-3"_qs;
    }
    void start() {
        QFETCH(QString, c);
        const QStringList f = c.split(u'|');
        const QString &said = f[2], &token = f[4];
        SingleInstance first;
        TovikApp tovik(localSources(), m_session->desktop);
        first.deliverTo(tovik);
        tovik.window().showMinimized();
        QProcess later;
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
        later.start(QStringLiteral(TOVIK_PROGRAM), f[0].split(u';'));
        qunsetenv("XDG_ACTIVATION_TOKEN");
        // The later start waits for the first to answer, which needs this event loop.
        QTRY_COMPARE_WITH_TIMEOUT(later.state(), QProcess::NotRunning, 20'000);
        QVERIFY(later.exitStatus() == QProcess::NormalExit && later.exitCode() == f[1].toInt());
        const QString out = QString::fromLocal8Bit(later.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(later.readAllStandardError());
        QVERIFY2((said.startsWith(u"tovik: "_qs) ? err : out).contains(said),
                 qPrintable(out + err));
        QTRY_COMPARE(tovik.window().isMinimized(), token.isEmpty());
        QCOMPARE(qEnvironmentVariable("XDG_ACTIVATION_TOKEN"), token);
        // Links wait for the tools to be ready.
        const auto queued = [&tovik] {
            QStringList links;
            for (const DownloadJob *job : tovik.queue().jobs())
                links.append(job->request().url.toString());
            return links.join(u';');
        };
        QTRY_COMPARE(queued(), f[3]);
    }

    // batches#letters#files#notices. Batches are parted by '|', each told or not as its letter
    // says: '.' told, 'c' told after its first job, still waiting, is cancelled, 'a' while the
    // window is active, '-' without a notification service. A row that starts without one has
    // no file manager either. Files: those the last notice's action shows, encoded for a URL
    // and parted by ';'. Each notice told: the notice replaced|summary|body|actions, the next
    // after a '#'.
    void notices_data() {
        QTest::addColumn<QString>("c");
        // The last two start first; the failure told is the first in the batch, of two ("missing"
        // has no scenario).
        QTest::newRow("finished, failed, cancelled")
            << u"one two failing missing three#c#two.mp4;%C3%9Cber%203%20100%25.mp4#0|2 finished, "
               u"2 failed, 1 cancelled<gone><show>"_qs;
        // Notices arrive in the order they were sent: had the second batch been told, it would
        // be here before the third.
        QTest::newRow("later replaces; nothing while the window is active")
            << u"one|two|failing#.a.##0|1 download finished||<show>#41|1 download failed<gone>"_qs;
        // A service that comes later is told, and its notice's action is heard; a thousand
        // progress lines in two seconds go by meanwhile.
        QTest::newRow("nothing without a service, then the first file's folder opens")
            << u"one|busy|three#--.#%C3%9Cber%203%20100%25.mp4#0|1 download finished||<show>"_qs;
    }
    void notices() {
        QFETCH(QString, c);
        c.replace(u"<gone>"_qs, u"|Video &lt;unavailable&gt; &amp; gone|"_qs);
        const QStringList f =
            c.replace(u"<show>"_qs, u"show-in-folder,Show in Folder"_qs).split(u'#');
        const bool manager = f[1][0] != u'-';
        QVERIFY(!manager || m_desktop.registerService(fileManager));
        for (qsizetype i = 0; const QString &batch : f[0].split(u'|')) {
            const QChar letter = f[1].at(i++);
            letter == u'-' ? m_desktop.unregisterService(notifications)
                           : m_desktop.registerService(notifications);
            m_session->window.setVisible(letter == u'a');
            QVERIFY(letter != u'a' || QTest::qWaitForWindowActive(&m_session->window));
            add(batch);
            if (letter == u'c')
                m_session->queue.cancel(m_session->queue.jobs().front());
            QTRY_VERIFY(!m_session->queue.hasActiveJobs());
        }
        QTRY_COMPARE(m_notices, f.sliced(3));
        // Another notice's action and another action of this one are not ours to answer.
        const QString show = u"show-in-folder"_qs;
        for (const auto &[to, action] :
             QList<std::pair<uint, QString>>{{42, show}, {41, u"default"_qs}, {41, show}})
            QVERIFY(m_desktop.send(QDBusMessage::createSignal(u"/org/freedesktop/Notifications"_qs,
                                                              notifications, u"ActionInvoked"_qs)
                                   << to << action));
        const QUrl folder = QUrl::fromLocalFile(m_session->output.path());
        QStringList files;
        for (const QString &name : f[2].split(u';', Qt::SkipEmptyParts))
            files.append(folder.toString(QUrl::FullyEncoded) + u'/' + name);
        QTRY_VERIFY(!m_shown.isEmpty() || files.isEmpty());
        QTest::qWait(100); // all three are in by now; only the last counts
        QCOMPARE(m_shown,
                 QList<QVariantList>(!files.isEmpty(), manager ? QVariantList{files, QString()}
                                                               : QVariantList{folder}));
    }

    // The last two start first; once the ended job counts as done, a half-way one follows and
    // the first waits, counting as not begun: (1 + 0.5 + 0.5 + 0) / 4. Tovik ends in the middle
    // of the batch, and its end clears the entry (see cleanup()).
    void launcher() {
        add(u"half half half done"_qs);
        QTRY_COMPARE(m_updates.value(m_updates.size() - 1), entry(3, 0.5));
        QTest::qWait(2 * LauncherProgress::interval); // in which nothing new is shown
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
    const SessionBus &m_bus;
    QDBusConnection m_desktop{QString()}; // the desktop's own connection to the bus
    // What the desktop heard during one test: calls to the notification service, those to the
    // file manager or the URL given to the opener of files, and updates of Tovik's launcher entry.
    QStringList m_notices; // replaced notice|summary|body|actions
    QList<QVariantList> m_shown;
    QList<QVariantMap> m_updates;
    QElapsedTimer m_clock;
    Scenarios m_scenarios;
    std::optional<Session> m_session;
};

// The private bus starts before the application, so that Qt's session bus is this one.
int main(int argc, char *argv[]) {
    PrivateHome home;
    SessionBus bus;
    QApplication app(argc, argv);
    TestSession test(bus);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_session.moc"
