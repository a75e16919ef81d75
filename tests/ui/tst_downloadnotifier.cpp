#include "BusTest.h"
#include "DownloadNotifier.h"
#include "DownloadQueue.h"

#include <QDBusConnection>
#include <QDBusMessage>

using namespace GuiTest;

namespace {

// Plays the desktop's notification service and records every notice.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notice {
        QString app;
        uint replaces;
        QString icon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
    };
    QList<Notice> notices;
    QList<uint> ids;

public Q_SLOTS:
    Q_SCRIPTABLE uint Notify(const QString &app, uint replaces, const QString &icon,
                             const QString &summary, const QString &body,
                             const QStringList &actions, const QVariantMap &hints, int) {
        notices.append({app, replaces, icon, summary, body, actions, hints});
        ids.append(replaces != 0 ? replaces : static_cast<uint>(notices.size()) + 40);
        return ids.back();
    }
};

} // namespace

class TestDownloadNotifier : public QObject {
    Q_OBJECT

public:
    explicit TestDownloadNotifier(const SessionBus &bus) : m_bus(bus) {}

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void oneNoticePerBatch_data();
    void oneNoticePerBatch();
    void laterBatchReplacesTheNotice();
    void nothingWhileTheWindowIsActive();
    void nothingWithoutAService();
    void actionRevealsTheFiles();

private:
    bool offer();
    // Queues one job per scenario, cancels those still waiting when asked, and waits for the end.
    void runBatch(const QStringList &scenarios, bool cancelWaiting = false);
    QList<QUrl> savedFiles() const;
    // The user clicks an action of a notice.
    void invoke(uint id, const QString &action);

    const SessionBus &m_bus;
    Scenarios m_scenarios;
    QTemporaryDir m_output;
    RecordingDesktop m_desktop;
    Desktop m_seam;
    std::unique_ptr<NotificationService> m_service;
    std::unique_ptr<DownloadQueue> m_queue;
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<DownloadNotifier> m_notifier;
};

void TestDownloadNotifier::initTestCase() {
    if (!m_bus.isRunning())
        QSKIP(qPrintable(u"no private session bus: "_qs + m_bus.error()));
    for (const QString &name : {u"one"_qs, u"two"_qs, u"three"_qs})
        QVERIFY(m_scenarios.write(name, "file " + name.toUtf8() + ".mp4\nexit 0\n"));
    QVERIFY(m_scenarios.write(u"failing"_qs,
                              "err ERROR: [generic] x: Video <unavailable> & gone\nexit 1\n"));
    QVERIFY(
        m_scenarios.write(u"failing-too"_qs, "err ERROR: [generic] y: Private video\nexit 1\n"));
    m_seam = m_desktop.desktop();
}

void TestDownloadNotifier::init() {
    m_desktop.revealed.clear();
    m_service = std::make_unique<NotificationService>();
    m_queue = std::make_unique<DownloadQueue>();
    m_window = std::make_unique<QWidget>();
    m_notifier = std::make_unique<DownloadNotifier>(*m_queue, *m_window, m_seam);
}

void TestDownloadNotifier::cleanup() {
    m_notifier.reset();
    m_queue.reset();
    m_window.reset();
    QDBusConnection desktop = BusTest::desktopSide(m_bus);
    desktop.unregisterService(u"org.freedesktop.Notifications"_qs);
    desktop.unregisterObject(u"/org/freedesktop/Notifications"_qs);
    m_service.reset();
}

bool TestDownloadNotifier::offer() {
    QDBusConnection desktop = BusTest::desktopSide(m_bus);
    return desktop.registerObject(u"/org/freedesktop/Notifications"_qs, m_service.get(),
                                  QDBusConnection::ExportScriptableSlots) &&
           desktop.registerService(u"org.freedesktop.Notifications"_qs);
}

void TestDownloadNotifier::runBatch(const QStringList &scenarios, bool cancelWaiting) {
    QList<DownloadRequest> requests;
    for (const QString &name : scenarios)
        requests.append({Scenarios::link(name), OutputFormat::video720, false,
                         QUrl::fromLocalFile(m_output.path() + u'/')});
    m_queue->add(requests, {QUrl::fromLocalFile(QStringLiteral(FAKE_YTDLP)), {}, {}});
    if (cancelWaiting)
        for (DownloadJob *job : m_queue->jobs())
            if (std::holds_alternative<DownloadJob::Queued>(job->state()))
                m_queue->cancel(job);
    QTRY_VERIFY(!m_queue->hasActiveJobs());
}

QList<QUrl> TestDownloadNotifier::savedFiles() const {
    QList<QUrl> files;
    for (const DownloadJob *job : m_queue->jobs())
        files.append(job->files());
    return files;
}

void TestDownloadNotifier::invoke(uint id, const QString &action) {
    QDBusMessage signal =
        QDBusMessage::createSignal(u"/org/freedesktop/Notifications"_qs,
                                   u"org.freedesktop.Notifications"_qs, u"ActionInvoked"_qs);
    signal << id << action;
    QVERIFY(BusTest::desktopSide(m_bus).send(signal));
}

void TestDownloadNotifier::oneNoticePerBatch_data() {
    QTest::addColumn<QStringList>("scenarios");
    QTest::addColumn<bool>("cancelWaiting");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("body");

    QTest::newRow("one finished") << QStringList{u"one"_qs} << false << u"1 download finished"_qs
                                  << QString();
    QTest::newRow("three finished") << QStringList{u"one"_qs, u"two"_qs, u"three"_qs} << false
                                    << u"3 downloads finished"_qs << QString();
    QTest::newRow("finished and failed")
        << QStringList{u"one"_qs, u"failing"_qs, u"two"_qs} << false << u"2 finished, 1 failed"_qs
        << u"Video &lt;unavailable&gt; &amp; gone"_qs;
    QTest::newRow("only failed, first failure told")
        << QStringList{u"failing"_qs, u"failing-too"_qs} << false << u"2 downloads failed"_qs
        << u"Video &lt;unavailable&gt; &amp; gone"_qs;
    QTest::newRow("finished and cancelled") << QStringList{u"one"_qs, u"two"_qs, u"three"_qs}
                                            << true << u"2 finished, 1 cancelled"_qs << QString();
}

void TestDownloadNotifier::oneNoticePerBatch() {
    QFETCH(QStringList, scenarios);
    QFETCH(bool, cancelWaiting);
    QFETCH(QString, summary);
    QFETCH(QString, body);
    QVERIFY(offer());
    runBatch(scenarios, cancelWaiting);
    QTRY_COMPARE(m_service->notices.size(), 1);
    const NotificationService::Notice &notice = m_service->notices.front();
    QCOMPARE(notice.app, u"Tovik"_qs);
    QCOMPARE(notice.replaces, 0u);
    QCOMPARE(notice.icon, QStringLiteral(TOVIK_APP_ID));
    QCOMPARE(notice.hints.value(u"desktop-entry"_qs).toString(), QStringLiteral(TOVIK_APP_ID));
    QCOMPARE(notice.summary, summary);
    QCOMPARE(notice.body, body);
    const QStringList reveal{u"show-in-folder"_qs, u"Show in Folder"_qs};
    QCOMPARE(notice.actions, savedFiles().isEmpty() ? QStringList() : reveal);
}

void TestDownloadNotifier::laterBatchReplacesTheNotice() {
    QVERIFY(offer());
    runBatch({u"one"_qs});
    QTRY_COMPARE(m_service->notices.size(), 1);
    runBatch({u"failing"_qs});
    QTRY_COMPARE(m_service->notices.size(), 2);
    QCOMPARE(m_service->notices.at(1).replaces, m_service->ids.at(0));
    QCOMPARE(m_service->notices.at(1).summary, u"1 download failed"_qs);
}

void TestDownloadNotifier::nothingWhileTheWindowIsActive() {
    QVERIFY(offer());
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    runBatch({u"one"_qs});
    m_window->hide();
    QTRY_VERIFY(!m_window->isActiveWindow());
    runBatch({u"failing"_qs});
    // Notices arrive in the order they were sent: had the first batch been told, it would be
    // here before the second.
    QTRY_COMPARE(m_service->notices.size(), 1);
    QCOMPARE(m_service->notices.front().summary, u"1 download failed"_qs);
}

void TestDownloadNotifier::nothingWithoutAService() {
    runBatch({u"one"_qs});
    runBatch({u"two"_qs});
    // A service that comes later is told, and its notice's action is heard.
    QVERIFY(offer());
    runBatch({u"three"_qs});
    QTRY_COMPARE(m_service->notices.size(), 1);
    QCOMPARE(m_service->notices.front().replaces, 0u);
    invoke(m_service->ids.front(), u"show-in-folder"_qs);
    QTRY_COMPARE(m_desktop.revealed.size(), 1);
    QCOMPARE(m_desktop.revealed.front(), m_queue->jobs().front()->files());
}

void TestDownloadNotifier::actionRevealsTheFiles() {
    QVERIFY(offer());
    runBatch({u"one"_qs, u"failing"_qs, u"two"_qs});
    QTRY_COMPARE(m_service->notices.size(), 1);
    // Another notice's action and another action of this one are not ours to answer.
    invoke(m_service->ids.front() + 1, u"show-in-folder"_qs);
    invoke(m_service->ids.front(), u"default"_qs);
    invoke(m_service->ids.front(), u"show-in-folder"_qs);
    QTRY_COMPARE(m_desktop.revealed.size(), 1);
    // All three are in by now; only the last counted.
    QTest::qWait(100);
    QCOMPARE(m_desktop.revealed.size(), 1);
    QList<QUrl> expected = savedFiles();
    QList<QUrl> revealed = m_desktop.revealed.front();
    std::sort(expected.begin(), expected.end());
    std::sort(revealed.begin(), revealed.end());
    QCOMPARE(revealed.size(), 2);
    QCOMPARE(revealed, expected);
}

TOVIK_BUS_TEST_MAIN(TestDownloadNotifier)
#include "tst_downloadnotifier.moc"
