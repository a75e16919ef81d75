#include "GuiTest.h"
#include "HttpServer.h"
#include "IconButton.h"
#include "JobListView.h"
#include "MainView.h"
#include "Preferences.h"
#include "RootView.h"
#include "SetupView.h"
#include "TovikApp.h"

#include <QAbstractButton>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <csignal>

using namespace GuiTest;

namespace {

template <typename T> bool isPhase(const ToolManager &tools) {
    return std::holds_alternative<T>(tools.phase());
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void windowAndMenu();
    void staysBlankWhileChecking();
    void checksToolsOfAWindowNeverPainted();
    void rootViewFollowsThePhase();
    void iconOnlyControlsAreNamedByTheirTooltips();
    void commandsInEachPhase();
    void commandsWhileJobsAreActive();
    void updateIsDisabledWhileItRuns();
    void quittingStopsRunningDownloads();
    void quitAsksOnlyWhileDownloadsRun_data();
    void quitAsksOnlyWhileDownloadsRun();
    void linksFromOutsideWaitForTheTools();
    void raiseRestoresAMinimisedWindow();
    void geometryAcrossLaunches_data();
    void geometryAcrossLaunches();

private:
    void launch();
    bool updateEnabled() const { return m_app->window().updateAction()->isEnabled(); }
    bool reinstallEnabled() const { return m_app->window().reinstallAction()->isEnabled(); }
    QWidget *content() const { return m_app->window().rootView()->content(); }
    void settle();

    Scenarios m_scenarios;
    QTemporaryDir m_output;
    HttpServer m_server;
    RecordingDesktop m_desktop;
    std::unique_ptr<TovikApp> m_app;
};

void TestMainWindow::initTestCase() {
    QVERIFY(m_scenarios.write(u"hang"_qs, "hang\n"));
    QVERIFY(m_scenarios.write(u"first"_qs, "pids first.pids\nhang\n"));
    QVERIFY(m_scenarios.write(u"second"_qs, "pids second.pids\nhang\n"));
    QVERIFY(m_scenarios.write(u"quick"_qs, "sleep 300\nexit 0\n"));
}

void TestMainWindow::init() {
    m_desktop = {};
    clearSettings();
    removeTools();
    qunsetenv("FAKE_YTDLP_UPDATE");
}

void TestMainWindow::cleanup() {
    if (m_app)
        settle();
    m_app.reset();
}

// Lets a running check, installation or update end before the application goes: in the
// ready phase the check goes on to ask yt-dlp its version and to update it.
void TestMainWindow::settle() {
    const ToolManager &tools = m_app->tools();
    QTRY_VERIFY(!isPhase<ToolManager::Installing>(tools) && !isPhase<ToolManager::Checking>(tools));
    if (isPhase<ToolManager::Ready>(tools))
        QTRY_VERIFY(tools.ytdlpVersion() && tools.updateMessage() && !tools.isUpdating());
}

void TestMainWindow::launch() {
    m_app = std::make_unique<TovikApp>(localSources(m_server.url(u"/"_qs)), m_desktop.desktop());
    m_app->window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_app->window()));
}

void TestMainWindow::windowAndMenu() {
    launch();
    MainWindow &window = m_app->window();
    QCOMPARE(window.windowTitle(), u"Tovik"_qs);
    QCOMPARE(window.objectName(), u"main"_qs);
    // The default size is the content's; the menu bar comes on top.
    QCOMPARE(window.centralWidget()->size(), QSize(720, 560));
    window.resize(300, 200);
    QTRY_VERIFY(window.rootView()->width() >= 560 && window.rootView()->height() >= 440);

    const QList<QAction *> menus = window.menuBar()->actions();
    QCOMPARE(menus.size(), 1);
    QCOMPARE(menus.front()->text(), u"Tovik"_qs);
    QStringList items;
    for (const QAction *action : menus.front()->menu()->actions())
        items.append(action->isSeparator() ? u"—"_qs : action->text());
    QCOMPARE(items, (QStringList{u"About Tovik"_qs, u"Update yt-dlp"_qs, u"Reinstall Tools…"_qs,
                                 u"—"_qs, u"Quit"_qs}));
}

void TestMainWindow::staysBlankWhileChecking() {
    m_app = std::make_unique<TovikApp>(localSources(m_server.url(u"/"_qs)), m_desktop.desktop());
    QVERIFY(isPhase<ToolManager::Checking>(m_app->tools()));
    QCOMPARE(content(), nullptr);
    QVERIFY(m_app->window().rootView()->findChildren<QWidget *>().size() == 1);
    m_app->window().show();
    QTRY_VERIFY(isPhase<ToolManager::NeedsInstall>(m_app->tools()));
}

void TestMainWindow::checksToolsOfAWindowNeverPainted() {
    ToolManager tools(localSources(m_server.url(u"/"_qs)));
    DownloadQueue queue;
    const Desktop desktop = m_desktop.desktop();
    RootView root(tools, queue, desktop);
    root.setUpdatesEnabled(false);
    root.show();
    QVERIFY(isPhase<ToolManager::Checking>(tools));
    QTRY_VERIFY(isPhase<ToolManager::NeedsInstall>(tools));
    QVERIFY(qobject_cast<SetupView *>(root.content()));
}

void TestMainWindow::rootViewFollowsThePhase() {
    launch();
    QTRY_VERIFY(isPhase<ToolManager::NeedsInstall>(m_app->tools()));
    QVERIFY(qobject_cast<SetupView *>(content()));

    QVERIFY(installFakeTools());
    m_app->tools().check();
    QTRY_VERIFY(isPhase<ToolManager::Ready>(m_app->tools()));
    auto *main = qobject_cast<MainView *>(content());
    QVERIFY(main);
    QVERIFY(main->isVisible());

    // Reinstalling from the main view switches to the setup screen; nothing is served, so
    // the run fails and the setup screen stays.
    settle();
    m_app->window().reinstallAction()->trigger();
    QVERIFY(isPhase<ToolManager::Installing>(m_app->tools()));
    QVERIFY(qobject_cast<SetupView *>(content()));
    QTRY_VERIFY(isPhase<ToolManager::Failed>(m_app->tools()));
    QVERIFY(qobject_cast<SetupView *>(content()));
    QVERIFY(content()->isVisible());
}

void TestMainWindow::iconOnlyControlsAreNamedByTheirTooltips() {
    QVERIFY(installFakeTools());
    launch();
    QTRY_VERIFY(isPhase<ToolManager::Ready>(m_app->tools()));
    const QUrl folder = QUrl::fromLocalFile(m_output.path() + u'/');
    m_app->queue().add({{Scenarios::link(u"hang"_qs), OutputFormat::video720, false, folder}},
                       m_app->tools().paths());
    auto *list = m_app->window().findChild<JobListView *>();
    QVERIFY(list);
    QTRY_VERIFY(list->isVisible());
    QTest::mouseMove(list->viewport(), list->visualRect(list->model()->index(0, 0)).center());
    QTRY_VERIFY(list->actionButton()->isVisible());

    int iconOnly = 0;
    for (const QAbstractButton *button : m_app->window().findChildren<QAbstractButton *>()) {
        if (!button->isVisible() || !button->text().isEmpty())
            continue;
        ++iconOnly;
        QVERIFY(!button->toolTip().isEmpty());
        QCOMPARE(button->accessibleName(), button->toolTip());
    }
    QVERIFY(iconOnly > 0);
}

void TestMainWindow::commandsInEachPhase() {
    launch();
    QTRY_VERIFY(isPhase<ToolManager::NeedsInstall>(m_app->tools()));
    QVERIFY(!updateEnabled());
    QVERIFY(reinstallEnabled());

    m_app->tools().install(false);
    QVERIFY(isPhase<ToolManager::Installing>(m_app->tools()));
    QVERIFY(!updateEnabled());
    QVERIFY(!reinstallEnabled());

    QTRY_VERIFY(isPhase<ToolManager::Failed>(m_app->tools()));
    QVERIFY(!updateEnabled());
    QVERIFY(reinstallEnabled());

    QVERIFY(installFakeTools());
    m_app->tools().check();
    QTRY_VERIFY(isPhase<ToolManager::Ready>(m_app->tools()));
    settle();
    QVERIFY(updateEnabled());
    QVERIFY(reinstallEnabled());
}

void TestMainWindow::commandsWhileJobsAreActive() {
    QVERIFY(installFakeTools());
    launch();
    QTRY_VERIFY(isPhase<ToolManager::Ready>(m_app->tools()));
    settle();
    const QUrl folder = QUrl::fromLocalFile(m_output.path() + u'/');
    m_app->queue().add({{Scenarios::link(u"quick"_qs), OutputFormat::video720, false, folder}},
                       m_app->tools().paths());
    QVERIFY(!updateEnabled());
    QVERIFY(!reinstallEnabled());
    QTRY_VERIFY(!m_app->queue().hasActiveJobs());
    QVERIFY(updateEnabled());
    QVERIFY(reinstallEnabled());
}

void TestMainWindow::updateIsDisabledWhileItRuns() {
    const QTemporaryDir scripts;
    QFile slow(scripts.filePath(u"update"_qs));
    QVERIFY(slow.open(QIODevice::WriteOnly));
    slow.write("sleep 400\nout yt-dlp is up to date\n");
    slow.close();
    qputenv("FAKE_YTDLP_UPDATE", QFile::encodeName(slow.fileName()));
    QVERIFY(installFakeTools());
    launch();
    QTRY_VERIFY(isPhase<ToolManager::Ready>(m_app->tools()));
    settle();
    m_app->window().updateAction()->trigger();
    QVERIFY(m_app->tools().isUpdating());
    QVERIFY(!updateEnabled());
    QVERIFY(reinstallEnabled());
    QTRY_VERIFY(!m_app->tools().isUpdating());
    QVERIFY(updateEnabled());
}

void TestMainWindow::quittingStopsRunningDownloads() {
    QVERIFY(installFakeTools());
    launch();
    QTRY_VERIFY(isPhase<ToolManager::Ready>(m_app->tools()));
    settle();
    const QUrl folder = QUrl::fromLocalFile(m_output.path() + u'/');
    const auto request = [&folder](const QString &name) {
        return DownloadRequest{Scenarios::link(name), OutputFormat::video720, false, folder};
    };
    m_app->queue().add({request(u"hang"_qs), request(u"first"_qs), request(u"second"_qs)},
                       m_app->tools().paths());
    const QList<DownloadJob *> jobs = m_app->queue().jobs();
    QList<qint64> pids;
    for (const QString &name : {u"first.pids"_qs, u"second.pids"_qs}) {
        QFile file(QDir(m_output.path()).filePath(name));
        QTRY_VERIFY(file.exists());
        QVERIFY(file.open(QIODevice::ReadOnly));
        pids.append(file.readLine().trimmed().toLongLong());
    }

    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QApplication::exec();

    // The waiting job is left alone; the running ones are told to stop and end cancelled.
    QVERIFY(std::holds_alternative<DownloadJob::Queued>(jobs.at(0)->state()));
    QTRY_VERIFY(std::holds_alternative<DownloadJob::Cancelled>(jobs.at(1)->state()));
    QTRY_VERIFY(std::holds_alternative<DownloadJob::Cancelled>(jobs.at(2)->state()));
    for (const qint64 pid : pids)
        QCOMPARE(::kill(static_cast<pid_t>(pid), 0), -1);
    // A quit from elsewhere (a signal at logout) goes through without asking.
    QCOMPARE(m_desktop.quitQuestions, QList<int>());
}

void TestMainWindow::quitAsksOnlyWhileDownloadsRun_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("running");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QList<int>>("questions");
    QTest::addColumn<bool>("quits");
    const QList<int> none;
    QTest::newRow("Quit, nothing running") << u"menu"_qs << 0 << false << none << true;
    QTest::newRow("Quit, two running, Cancel") << u"menu"_qs << 2 << false << QList{2} << false;
    QTest::newRow("Quit, one running, Quit") << u"menu"_qs << 1 << true << QList{1} << true;
    QTest::newRow("close, nothing running") << u"close"_qs << 0 << false << none << true;
    QTest::newRow("close, two running, Cancel") << u"close"_qs << 2 << false << QList{2} << false;
    QTest::newRow("close, two running, Quit") << u"close"_qs << 2 << true << QList{2} << true;
}

void TestMainWindow::quitAsksOnlyWhileDownloadsRun() {
    QFETCH(QString, how);
    QFETCH(int, running);
    QFETCH(bool, answer);
    QVERIFY(installFakeTools());
    launch();
    QTRY_VERIFY(isPhase<ToolManager::Ready>(m_app->tools()));
    settle();
    m_desktop.quitAnswer = answer;
    // Running, not only queued: each has written its process ids.
    const QUrl folder = QUrl::fromLocalFile(m_output.path() + u'/');
    const QStringList names{u"first"_qs, u"second"_qs};
    for (int i = 0; i < running; ++i) {
        QFile pids(QDir(m_output.path()).filePath(names.at(i) + u".pids"_qs));
        pids.remove();
        m_app->queue().add({{Scenarios::link(names.at(i)), OutputFormat::video720, false, folder}},
                           m_app->tools().paths());
        QTRY_VERIFY(pids.exists() && pids.size() > 0);
    }
    MainWindow &window = m_app->window();
    QAction *quit = window.menuBar()->actions().front()->menu()->actions().last();
    QTimer::singleShot(0, &window, [&] {
        if (how == u"menu"_qs)
            quit->trigger();
        else
            window.close();
    });
    // Refused, the application goes on, and so do the downloads; the timer then ends this
    // wait. Its end is a quit too, which stops them.
    bool activeAfterRefusal = false;
    QTimer::singleShot(1000, &window, [&] {
        activeAfterRefusal = m_app->queue().hasActiveJobs();
        QCoreApplication::exit(7);
    });
    const int result = QApplication::exec();
    QTEST(result == 0, "quits");
    QTEST(m_desktop.quitQuestions, "questions");
    QTEST(!window.isVisible(), "quits");
    if (result != 0)
        QCOMPARE(activeAfterRefusal, running > 0);
    QTRY_VERIFY(!m_app->queue().hasActiveJobs());
}

void TestMainWindow::linksFromOutsideWaitForTheTools() {
    Preferences preferences;
    preferences.setFormat(OutputFormat::audio);
    preferences.setIncludePlaylist(true);
    preferences.setOutputPath(m_output.path());
    launch();
    QTRY_VERIFY(isPhase<ToolManager::NeedsInstall>(m_app->tools()));
    m_app->open({Scenarios::link(u"hang"_qs).toString(), u"no link here"_qs});
    QVERIFY(m_app->queue().jobs().isEmpty());

    QVERIFY(installFakeTools());
    m_app->tools().check();
    QTRY_VERIFY(isPhase<ToolManager::Ready>(m_app->tools()));
    // Links that arrive in the main view are queued at once; the same link again is a new job.
    m_app->open({u"example.com/quick, https://example.com/hang"_qs});
    const QUrl folder = QUrl::fromLocalFile(m_output.path() + u'/');
    const auto request = [&folder](const QString &name) {
        return DownloadRequest{Scenarios::link(name), OutputFormat::audio, true, folder};
    };
    QList<DownloadRequest> requests;
    for (const DownloadJob *job : m_app->queue().jobs())
        requests.append(job->request());
    QCOMPARE(requests, (QList<DownloadRequest>{request(u"quick"_qs), request(u"hang"_qs),
                                               request(u"hang"_qs)}));
}

void TestMainWindow::raiseRestoresAMinimisedWindow() {
    launch();
    m_app->window().showMinimized();
    QTRY_VERIFY(m_app->window().isMinimized());
    m_app->raise();
    QTRY_VERIFY(!m_app->window().isMinimized());
    QVERIFY(m_app->window().isVisible());
}

void TestMainWindow::geometryAcrossLaunches_data() {
    QTest::addColumn<QRect>("left");
    QTest::addColumn<bool>("maximised");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QRect>("restored");

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect place(screen.topLeft() + QPoint(30, 20), QSize(640, 500));
    QTest::newRow("nothing stored") << QRect() << false << QByteArray() << QRect();
    QTest::newRow("unreadable") << QRect() << false << QByteArray("not a geometry") << QRect();
    QTest::newRow("kept") << place << false << QByteArray() << place;
    QTest::newRow("kept maximised") << place << true << QByteArray() << place;
    QTest::newRow("off every screen") << place.translated(screen.width() * 4, screen.height() * 4)
                                      << false << QByteArray() << QRect();
    QTest::newRow("partly off the screen")
        << place.translated(screen.width() - 100, 0) << false << QByteArray() << QRect();
    QTest::newRow("larger than every screen")
        << QRect(screen.topLeft(), screen.size() * 3) << false << QByteArray() << QRect();
}

// The window is left somewhere and Tovik quits; the next launch finds it there, or at its
// default size on a screen.
void TestMainWindow::geometryAcrossLaunches() {
    QFETCH(QRect, left);
    QFETCH(bool, maximised);
    QFETCH(QByteArray, stored);
    QFETCH(QRect, restored);
    if (left.isValid()) {
        launch();
        m_app->window().setGeometry(left);
        if (maximised)
            m_app->window().showMaximized();
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QApplication::exec();
        cleanup();
    } else if (!stored.isEmpty()) {
        QSettings(u"Tovik"_qs, u"Tovik"_qs).setValue(u"windowGeometry"_qs, stored);
    }

    launch();
    QCOMPARE(m_app->window().isMaximized(), maximised);
    const QRect geometry = m_app->window().normalGeometry();
    if (restored.isValid())
        QCOMPARE(geometry, restored);
    else
        QCOMPARE(m_app->window().rootView()->size(), QSize(720, 560));
    const QList<QScreen *> screens = QGuiApplication::screens();
    QVERIFY(std::any_of(screens.cbegin(), screens.cend(), [&geometry](const QScreen *screen) {
        return screen->availableGeometry().contains(geometry);
    }));
}

TOVIK_GUI_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
