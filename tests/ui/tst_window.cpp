#include "Colors.h"
#include "ElidedLabel.h"
#include "GuiTest.h"
#include "IconButton.h"
#include "JobListModel.h"
#include "JobListView.h"
#include "JobRow.h"
#include "JobRowLayout.h"
#include "LinearProgress.h"
#include "LinkField.h"
#include "MainView.h"
#include "Platform.h"
#include "Preferences.h"
#include "ProminentButton.h"
#include "RootView.h"
#include "SetupView.h"
#include "Spinner.h"
#include "SymbolView.h"
#include "TovikApp.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTimer>
#include <csignal>

using namespace GuiTest;
Q_DECLARE_METATYPE(OutputFormat)
Q_DECLARE_METATYPE(Platform::Kind)
Q_DECLARE_METATYPE(Tint)

namespace {

// The rectangles that a widget repaints.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QWidget *widget) { widget->installEventFilter(this); }
    QRegion painted;

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
};

QByteArray progressLine(qint64 done, qint64 total, const char *speed, const char *eta) {
    return "out TKP|v|downloading|" + QByteArray::number(done) + '|' + QByteArray::number(total) +
           "|NA|" + speed + '|' + eta + '\n';
}

template <typename T> bool isPhase(const ToolManager &tools) {
    return std::holds_alternative<T>(tools.phase());
}

QStringList openMenu() {
    QStringList texts;
    if (const auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget()))
        for (const QAction *action : menu->actions())
            texts.append(action->text());
    return texts;
}

void triggerAndClose(qsizetype item) {
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    if (item >= 0)
        menu->actions().at(item)->trigger();
    menu->close();
}

// A release site whose yt-dlp download takes a while and whose checksum never matches.
void serveMismatchingRelease(HttpServer &server) {
    server.route(u"/repos/yt-dlp/yt-dlp/releases/latest"_qs, answer("{\"tag_name\": \"2025\"}"));
    const QByteArray file = Platform::current().ytdlpFile.toUtf8();
    const QString release = u"/yt-dlp/yt-dlp/releases/download/2025/"_qs;
    server.route(release + u"SHA2-256SUMS"_qs, answer(QByteArray(64, 'a') + "  " + file + '\n'));
    server.route(release + QString::fromUtf8(file),
                 answer(QByteArray(200'000, 'x'), 8'000, std::chrono::milliseconds(20)));
}

} // namespace

// The setup screen, the main view, the job list and the window that holds them, on the
// fake yt-dlp and a loopback release site.
class TestWindow : public QObject {
    Q_OBJECT

    Fixture f;
    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<TovikApp> m_app;
    std::unique_ptr<JobListModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    std::unique_ptr<QWidget> m_view;

    template <typename V> V &show(std::unique_ptr<V> view, QSize size) {
        V &shown = *view;
        m_view = std::move(view);
        m_view->resize(size);
        m_view->show();
        if (!QTest::qWaitForWindowExposed(m_view.get()))
            qFatal("the view does not show");
        return shown;
    }
    QUrl server() {
        if (!m_server)
            m_server = std::make_unique<HttpServer>();
        return m_server->url(u"/"_qs);
    }
    template <typename T = QWidget> T *the(const QString &name) {
        return child<T>(m_view ? m_view.get() : &m_app->window(), name);
    }
    static void needTools() {
        if (!installFakeTools())
            qFatal("no fake tools");
    }

    // Setup view.
    SetupView &setupView(ToolSources sources = localSources()) {
        f.start(std::move(sources));
        return show(std::make_unique<SetupView>(*f.tools), {720, 540});
    }
    QWidget *statusPage() { return the<QStackedWidget>(u"setupStatus"_qs)->currentWidget(); }
    QWidget *trailing(const QString &tool) {
        return the<QStackedWidget>(tool + u"Trailing"_qs)->currentWidget();
    }

    // Main view.
    MainView &mainView() {
        needTools();
        m_view.reset();
        return show(std::make_unique<MainView>(*f.tools, *f.queue, f.answers), {720, 520});
    }
    LinkField *field() { return the<LinkField>(u"linkField"_qs); }
    ProminentButton *download() { return the<ProminentButton>(u"downloadButton"_qs); }
    void click(const QString &button) {
        QTest::mouseClick(the<QPushButton>(button), Qt::LeftButton);
    }
    // Delivers a drop the way the window does: to the innermost widget under the point that
    // accepts drops. Returns whether the drag was accepted.
    bool drop(const QList<QUrl> &urls, const QString &onto) {
        const QWidget *over = the(onto);
        const QPoint at = over->mapTo(m_view.get(), over->rect().center());
        QWidget *target = m_view->childAt(at);
        while (target && !target->acceptDrops())
            target = target->parentWidget();
        if (target != m_view.get())
            qFatal("the drop does not reach the main view");
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(target, &enter);
        QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, {});
        return enter.isAccepted() && QApplication::sendEvent(target, &dropped) &&
               dropped.isAccepted();
    }

    // Job list.
    JobListView &list() {
        needTools();
        m_model = std::make_unique<JobListModel>(*f.queue);
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        return show(std::make_unique<JobListView>(*m_model, *f.tools, *f.queue, f.answers),
                    {640, 600});
    }
    JobListView &listView() { return static_cast<JobListView &>(*m_view); }
    QModelIndex indexOf(const DownloadJob *job) const {
        for (int row = 0; row < m_model->rowCount(); ++row)
            if (m_model->job(m_model->index(row)) == job)
                return m_model->index(row);
        return {};
    }
    QRect actionRect(const QModelIndex &index) {
        return JobRowLayout(*m_model->job(index), m_view->font(), listView().visualRect(index))
            .action;
    }
    void hover(const QModelIndex &index) {
        QTest::mouseMove(listView().viewport(), listView().visualRect(index).center());
        QTRY_VERIFY(listView().actionButton()->isVisible() ||
                    !JobRow::action(*m_model->job(index)));
    }
    void clickButton() { QTest::mouseClick(listView().actionButton(), Qt::LeftButton); }
    void contextMenuOn(const QModelIndex &index) {
        const QPoint at = listView().visualRect(index).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at,
                                listView().viewport()->mapToGlobal(at));
        QApplication::sendEvent(listView().viewport(), &event);
    }
    // The colour of the row's status icon where it stands out most from the background.
    QColor iconColour(const QModelIndex &index) {
        const QImage image = listView().viewport()->grab().toImage();
        const QRect icon =
            JobRowLayout(*m_model->job(index), m_view->font(), listView().visualRect(index)).icon;
        const QColor ground = m_view->palette().color(QPalette::Base);
        const auto distance = [&ground](const QColor &c) {
            return qAbs(c.red() - ground.red()) + qAbs(c.green() - ground.green()) +
                   qAbs(c.blue() - ground.blue());
        };
        QColor strongest = ground;
        for (int y = icon.top(); y <= icon.bottom(); ++y)
            for (int x = icon.left(); x <= icon.right(); ++x)
                if (distance(image.pixelColor(x, y)) > distance(strongest))
                    strongest = image.pixelColor(x, y);
        return strongest;
    }

    // Window.
    void launch() {
        m_app = std::make_unique<TovikApp>(localSources(server()), f.desktop.desktop());
        m_app->window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_app->window()));
    }
    void launchReady() {
        needTools();
        launch();
        settle();
    }
    bool updateEnabled() const { return m_app->window().updateAction()->isEnabled(); }
    bool reinstallEnabled() const { return m_app->window().reinstallAction()->isEnabled(); }
    QWidget *content() const { return m_app->window().rootView()->content(); }
    // Lets a running check, installation or update end before the application goes: in the
    // ready phase the check goes on to ask yt-dlp its version and to update it.
    void settle() {
        const ToolManager &tools = m_app->tools();
        QTRY_VERIFY(!isPhase<ToolManager::Installing>(tools) &&
                    !isPhase<ToolManager::Checking>(tools));
        if (isPhase<ToolManager::Ready>(tools))
            QTRY_VERIFY(tools.ytdlpVersion() && tools.updateMessage() && !tools.isUpdating());
    }
    // Quits through the event loop, as the desktop would, and returns the exit code.
    static int quitNow() {
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return QApplication::exec();
    }

    // Layouts are checked at several font sizes: rows that overlapped at one went unnoticed.
    static void fontSizes() {
        QTest::addColumn<double>("points");
        for (const double points : {9.0, 12.0, 14.0})
            QTest::addRow("%g pt", points) << points;
    }

private Q_SLOTS:
    void initTestCase() {
        const std::pair<const char *, QByteArray> scenarios[] = {
            {"hang", "hang\n"},
            {"quick", "exit 0\n"},
            {"slow", "sleep 300\nexit 0\n"},
            {"first", "pids first.pids\nhang\n"},
            {"second", "pids second.pids\nhang\n"},
            {"downloading", "out TKT|v|2|5|Big Buck Bunny\n" +
                                progressLine(400, 1000, "1500000", "90") + "hang\n"},
            {"streaming", "out TKT|v|NA|NA|Stream\nrate 200 30\nhang\n"},
            {"merging", "out TKT|v|NA|NA|Sintel\n" + progressLine(1000, 1000, "NA", "NA") +
                            "out TKP|v|finished|1000|1000|NA|NA|NA\n"
                            "out TKP|v|finished|100|100|NA|NA|NA\nhang\n"},
            {"extracting",
             "out TKT|v|NA|NA|Podcast\nout TKP|v|finished|1000|1000|NA|NA|NA\nhang\n"},
            {"song", "out TKT|v|NA|NA|Song\nfile Song.m4a\nexit 0\n"},
            {"partly", "out TKT|v|1|2|One\nfile List/One.mp4\n"
                       "err ERROR: [generic] two: Video unavailable\nexit 1\n"},
            {"playlist", "file L/a.mp4\nfile L/b.mp4\nfile L/c.mp4\nfile L/d.mp4\n"},
            {"failing", "err ERROR: [generic] x: Video unavailable\nexit 1\n"},
            {"titled", "out TKT|v|1|9|" + QByteArray("Clean_title_with_underscores_").repeated(6) +
                           "\n" + progressLine(10, 1000, "2000", "5000") + "hang\n"},
            {"failsSoon",
             "out TKT|v|NA|NA|Soon\nsleep 400\nerr ERROR: Video unavailable\nexit 1\n"},
            {"failsLongSoon", "sleep 400\nerr ERROR: " +
                                  QByteArray("this video is unavailable because ").repeated(8) +
                                  "\nexit 1\n"},
            {"raw404", "err ERROR: [generic] x: Unable to download webpage: HTTP Error 404: Not "
                       "Found; please report this issue on  https://github.com/yt-dlp/yt-dlp/"
                       "issues?q= , filling out the appropriate issue template.\nexit 1\n"},
            {"long", "err ERROR: " + QByteArray("this video is unavailable because ").repeated(20) +
                         "\nexit 1\n"}};
        for (const auto &[name, script] : scenarios)
            QVERIFY(f.scenarios.write(QString::fromLatin1(name), script));
    }

    void init() {
        clearSettings();
        removeTools();
        qunsetenv("FAKE_YTDLP_UPDATE");
        f.start();
    }

    void cleanup() {
        m_view.reset();
        m_tester.reset();
        m_model.reset();
        if (m_app)
            settle();
        m_app.reset();
        f.stop();
        m_server.reset();
    }

    // ---- Setup view ----

    void setupOffersToInstallEveryMissingTool() {
        SetupView &view = setupView();
        QVERIFY(isPhase<ToolManager::Checking>(*f.tools));
        QVERIFY(statusPage()->findChild<Spinner *>()->isVisible());
        f.tools->check();
        QVERIFY(isPhase<ToolManager::NeedsInstall>(*f.tools));
        auto *install = the<QPushButton>(u"installButton"_qs);
        QCOMPARE(statusPage(), install->parentWidget());
        QCOMPARE(install->text(), u"Download and Install"_qs);
        // Focus given to the view lands on its button: Space installs.
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.setFocus();
        QCOMPARE(QApplication::focusWidget(), install);
        QTest::keyClick(install, Qt::Key_Space);
        QVERIFY(isPhase<ToolManager::Installing>(*f.tools));
        // Tools are kept in the application-data folder, named as it is on this system.
        const QString explanation = the<QLabel>(u"explanation"_qs)->text().remove(u'\u2060');
#if defined(Q_OS_MACOS)
        QVERIFY(explanation.contains(u"Application Support"_qs));
#else
        QVERIFY2(explanation.contains(u"stored in ~/.local/share/Tovik."_qs),
                 qPrintable(explanation));
#endif
    }

    // Each tool as "✓" or "○", then its note where one shows.
    void setupMarksEachTool_data() {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<std::optional<Platform::Kind>>("systemFFmpeg");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("every tool missing")
            << QStringList() << std::optional<Platform::Kind>()
            << QStringList{u"○ 37 MB"_qs, u"○ 38 MB"_qs, u"○ 28 MB"_qs};
        QTest::newRow("only deno missing")
            << QStringList{u"yt-dlp"_qs, u"ffmpeg"_qs} << std::optional<Platform::Kind>()
            << QStringList{u"✓"_qs, u"○ 38 MB"_qs, u"✓"_qs};
        QTest::newRow("system ffmpeg on Linux")
            << QStringList() << std::optional(Platform::Kind::linuxX86_64)
            << QStringList{u"○ 37 MB"_qs, u"○ 38 MB"_qs, u"✓ Using system ffmpeg"_qs};
        QTest::newRow("Homebrew's ffmpeg on macOS")
            << QStringList() << std::optional(Platform::Kind::macOSArm64)
            << QStringList{u"○ 37 MB"_qs, u"○ 38 MB"_qs, u"✓ Using Homebrew"_qs};
    }

    void setupMarksEachTool() {
        QFETCH(QStringList, installed);
        QFETCH(std::optional<Platform::Kind>, systemFFmpeg);
        QVERIFY(installed.isEmpty() || installFakeTools(installed));
        const QTemporaryDir system;
        ToolSources sources = localSources();
        if (systemFFmpeg) {
            sources.systemFFmpeg = {system.filePath(u"ffmpeg"_qs)};
            QVERIFY(writeExecutable(sources.systemFFmpeg.front(), "#!/bin/sh\nexit 0\n"));
            sources.platform = Platform::forKind(*systemFFmpeg);
        }
        setupView(sources);
        f.tools->check();
        QStringList shown;
        for (const QString &tool : {u"yt-dlp"_qs, u"deno"_qs, u"ffmpeg"_qs}) {
            const auto *mark = the<SymbolView>(tool + u"Mark"_qs);
            const bool present = mark->symbol() == Symbol::checkmarkCircleFill;
            QCOMPARE(mark->role(), present ? Tint::green : Tint::secondary);
            QVERIFY(present || mark->symbol() == Symbol::circle);
            const auto *note = the<QLabel>(tool + u"Note"_qs);
            shown.append(QString(present ? u'✓' : u'○') +
                         (trailing(tool) == note ? u' ' + note->text() : QString()));
        }
        QTEST(shown, "shown");
    }

    void setupShowsProgressThenTheFailure() {
        setupView(localSources(server()));
        serveMismatchingRelease(*m_server);
        f.tools->check();
        auto *headline = the<QLabel>(u"headline"_qs);
        const QRect headlineBefore = headline->geometry();
        click(u"installButton"_qs);
        QVERIFY(isPhase<ToolManager::Installing>(*f.tools));
        auto *status = the<QLabel>(u"installingStatus"_qs);
        QTRY_COMPARE(status->text(), u"Installing yt-dlp…"_qs);
        QVERIFY(status->isVisible());
        auto *progress = the<LinearProgress>(u"yt-dlpProgress"_qs);
        QTRY_COMPARE(trailing(u"yt-dlp"_qs), progress);
        QTRY_VERIFY(progress->value() > 0);
        // Assistive technology sees a progress bar for the tool, with its value in per cent.
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(progress);
        QCOMPARE(accessible->role(), QAccessible::ProgressBar);
        QCOMPARE(accessible->text(QAccessible::Name), u"Installing yt-dlp"_qs);
        QCOMPARE(accessible->valueInterface()->currentValue().toInt(),
                 qRound(progress->value() * 100));
        QCOMPARE(accessible->valueInterface()->maximumValue().toInt(), 100);
        QCOMPARE(headline->geometry(), headlineBefore);

        QTRY_VERIFY(isPhase<ToolManager::Failed>(*f.tools));
        const QString message = std::get<ToolManager::Failed>(f.tools->phase()).message;
        QVERIFY(!message.isEmpty());
        QCOMPARE(the<QLabel>(u"failureMessage"_qs)->text(), message);
        QVERIFY(the<QLabel>(u"failureMessage"_qs)->isVisible());
        QCOMPARE(trailing(u"yt-dlp"_qs), the<QLabel>(u"yt-dlpNote"_qs));
        // A hint under the message; no way back while tools are missing.
        QVERIFY(the<QLabel>(u"failureHint"_qs)->isVisible());
        QVERIFY(
            the<QLabel>(u"failureHint"_qs)->text().startsWith(u"What arrived did not match"_qs));
        QVERIFY(!the<QPushButton>(u"useInstalledButton"_qs)->isVisible());
        QVERIFY(the<QPushButton>(u"tryAgainButton"_qs)->isVisible());
        click(u"tryAgainButton"_qs);
        QVERIFY(isPhase<ToolManager::Installing>(*f.tools));
        QVERIFY(status->isVisible());
    }

    void setupFailedReinstallLeadsBackToInstalledTools() {
        QVERIFY(installFakeTools());
        SetupView &view = setupView();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        f.tools->install(true);
        QTRY_VERIFY(isPhase<ToolManager::Failed>(*f.tools));
        QVERIFY(the<QPushButton>(u"useInstalledButton"_qs)->isVisible());
        QCOMPARE(QApplication::focusWidget(), the<QPushButton>(u"tryAgainButton"_qs));
        click(u"useInstalledButton"_qs);
        QTRY_VERIFY(isPhase<ToolManager::Ready>(*f.tools));
        // Let the version probe and update of the ready phase end before the manager goes.
        QTRY_VERIFY(f.tools->updateMessage() && !f.tools->isUpdating());
    }

    void setupFitsTheSmallestWindow_data() {
        QTest::addColumn<double>("points");
        QTest::addColumn<QString>("failure");
        for (const double points : {9.0, 12.0, 14.0})
            for (const QString &failure : {QString(), u"offline"_qs, u"long"_qs})
                QTest::addRow("%g pt, %s", points,
                              failure.isEmpty() ? "tools missing" : qPrintable(failure))
                    << points << failure;
    }

    // Every text and control shows whole, and none overlaps another: the view scrolls rather
    // than squeezing them. A long failure wraps, centred, onto several lines.
    void setupFitsTheSmallestWindow() {
        QFETCH(double, points);
        QFETCH(QString, failure);
        // Offline, the failure comes with a hint; a tag that cannot go into an address fails
        // the installation with a long message.
        withFontSize(points, [&] {
            setupView(failure == u"long"_qs ? localSources(server()) : localSources());
        });
        if (m_server)
            m_server->route(u"/repos/yt-dlp/yt-dlp/releases/latest"_qs,
                            answer("{\"tag_name\": \"a/b\"}"));
        m_view->resize(560, 440);
        f.tools->check();
        if (!failure.isEmpty()) {
            f.tools->install(false);
            QTRY_VERIFY(isPhase<ToolManager::Failed>(*f.tools));
            QCOMPARE(the<QLabel>(u"failureHint"_qs)->isVisible(), failure == u"offline"_qs);
        }
        if (failure == u"long"_qs) {
            auto *message = the<QLabel>(u"failureMessage"_qs);
            QVERIFY(message->wordWrap() && (message->alignment() & Qt::AlignHCenter));
            QVERIFY(message->width() <= 440);
            QVERIFY2(message->height() >= 2 * message->fontMetrics().lineSpacing(),
                     qPrintable(message->text()));
        }
        QTest::qWait(50);
        const QWidget *content = the<QScrollArea>(u"setupScroll"_qs)->widget();
        QList<const QWidget *> leaves;
        for (const QWidget *widget : content->findChildren<QWidget *>())
            if ((qobject_cast<const QLabel *>(widget) ||
                 qobject_cast<const QAbstractButton *>(widget) ||
                 qobject_cast<const SymbolView *>(widget)) &&
                widget->isVisible())
                leaves.append(widget);
        QVERIFY(leaves.size() >= 12);
        const QString fault = layoutFault(content, leaves);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    // ---- Main view ----

    // Typed, with Shift+Return between lines.
    void mainLabelCountsDistinctLinks_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("empty") << QString() << u"Download"_qs << false;
        QTest::newRow("no link") << u"just some words"_qs << u"Download"_qs << false;
        QTest::newRow("one link") << u"https://example.com/a"_qs << u"Download"_qs << true;
        QTest::newRow("the same link twice")
            << u"https://example.com/a\nhttps://example.com/a"_qs << u"Download"_qs << true;
        QTest::newRow("three links")
            << u"https://example.com/a\nhttps://example.com/b, <https://example.com/c>"_qs
            << u"Download 3"_qs << true;
    }

    void mainLabelCountsDistinctLinks() {
        QFETCH(QString, text);
        mainView();
        field()->setFocus();
        for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
            if (!field()->text().isEmpty())
                QTest::keyClick(field(), Qt::Key_Return, Qt::ShiftModifier);
            QTest::keyClicks(field(), line);
        }
        QCOMPARE(field()->text(), text);
        QTEST(download()->text(), "label");
        QTEST(download()->isEnabled(), "enabled");
    }

    void mainStartQueuesOneJobPerLink_data() {
        QTest::addColumn<int>("how");
        QTest::addColumn<bool>("links");
        for (const bool links : {true, false}) {
            const char *what = links ? "links" : "no links";
            QTest::addRow("Download button, %s", what) << 0 << links;
            QTest::addRow("Return in the field, %s", what) << 1 << links;
            QTest::addRow("Ctrl+Return, %s", what) << 2 << links;
        }
    }

    void mainStartQueuesOneJobPerLink() {
        QFETCH(int, how);
        QFETCH(bool, links);
        MainView &view = mainView();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        const QString text =
            links ? u"https://example.com/quick https://example.com/hang"_qs : u"no links here"_qs;
        field()->setText(text);
        if (how == 0) {
            download()->setFocus();
            QTest::mouseClick(download(), Qt::LeftButton);
        } else {
            QTest::keyClick(field(), Qt::Key_Return,
                            how == 2 ? Qt::ControlModifier : Qt::NoModifier);
        }
        if (!links) {
            QCOMPARE(field()->text(), text);
            QVERIFY(f.queue->jobs().isEmpty());
            return;
        }
        QList<DownloadRequest> requests;
        for (const DownloadJob *job : f.queue->jobs())
            requests.append(job->request());
        const QUrl folder = QUrl::fromLocalFile(Preferences::defaultOutputPath() + u'/');
        QCOMPARE(requests,
                 (QList<DownloadRequest>{
                     {Scenarios::link(u"quick"_qs), OutputFormat::video1080, false, folder},
                     {Scenarios::link(u"hang"_qs), OutputFormat::video1080, false, folder}}));
        QCOMPARE(field()->text(), QString());
        QVERIFY(!download()->isEnabled());
        QCOMPARE(download()->text(), u"Download"_qs);
        // Ready for the next links, whatever started the downloads.
        QCOMPARE(QApplication::focusWidget(), field());
    }

    void mainPaste_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<std::optional<QString>>("clipboard");
        QTest::addColumn<QString>("after");
        const QString a = u"https://example.com/a"_qs;
        QTest::newRow("into an empty field")
            << QString() << std::optional(u"  https://example.com/a\n\n"_qs) << a;
        QTest::newRow("into a non-empty field")
            << a << std::optional(u"\thttps://example.com/b "_qs)
            << u"https://example.com/a\nhttps://example.com/b"_qs;
        QTest::newRow("blanks into a non-empty field")
            << a << std::optional(u"   \n "_qs) << a + u'\n';
        QTest::newRow("no text on the clipboard") << a << std::optional<QString>() << a;
    }

    void mainPaste() {
        QFETCH(QString, before);
        QFETCH(std::optional<QString>, clipboard);
        mainView();
        field()->setText(before);
        if (clipboard)
            QGuiApplication::clipboard()->setText(*clipboard);
        else
            QGuiApplication::clipboard()->clear();
        click(u"pasteButton"_qs);
        QTEST(field()->text(), "after");
        QVERIFY(f.queue->jobs().isEmpty());
    }

    // Dropped web links are added to the field, files and other schemes left out.
    void mainDrop_data() {
        QTest::addColumn<QString>("onto");
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        const QList<QUrl> mixed{QUrl(u"https://example.com/a"_qs),
                                QUrl::fromLocalFile(u"/tmp/movie.mp4"_qs)};
        QTest::newRow("onto the empty list, empty field")
            << u"emptyState"_qs << mixed << QString() << u"https://example.com/a"_qs;
        QTest::newRow("onto the link field itself")
            << u"linkField"_qs << mixed << u"https://example.com/z"_qs
            << u"https://example.com/z\nhttps://example.com/a"_qs;
        QTest::newRow("onto the folder row")
            << u"folderPath"_qs << mixed << u"x"_qs << u"x\nhttps://example.com/a"_qs;
        QTest::newRow("no web links: refused")
            << u"emptyState"_qs
            << QList<QUrl>{QUrl::fromLocalFile(u"/tmp/movie.mp4"_qs),
                           QUrl(u"ftp://example.com/f"_qs)}
            << u"keep"_qs << u"keep"_qs;
    }

    void mainDrop() {
        QFETCH(QString, onto);
        QFETCH(QList<QUrl>, urls);
        QFETCH(QString, before);
        QFETCH(QString, after);
        mainView();
        field()->setText(before);
        QCOMPARE(drop(urls, onto), after != before);
        QCOMPARE(field()->text(), after);
        QVERIFY(f.queue->jobs().isEmpty());
    }

    void mainLinkFieldGrowsToFourLines_data() {
        fontSizes();
    }

    void mainLinkFieldGrowsToFourLines() {
        QFETCH(double, points);
        mainView();
        QFont font = field()->font();
        font.setPointSizeF(points);
        field()->setFont(font);
        field()->setText(u"a"_qs);
        QTRY_VERIFY(field()->height() >= field()->sizeHint().height());
        const int one = field()->height();
        int last = one;
        // Every line shows without scrolling, at any font size, once the field has laid
        // itself out.
        for (const QString &text : {u"a\nb"_qs, u"a\nb\nc\nd"_qs}) {
            field()->setText(text);
            QTRY_VERIFY(field()->height() > last);
            last = field()->height();
            QTRY_VERIFY(!field()->verticalScrollBar()->isVisible());
        }
        field()->setText(u"a\nb\nc\nd\ne\nf\ng"_qs);
        QTest::qWait(20);
        QCOMPARE(field()->height(), last);
        QVERIFY(field()->verticalScrollBar()->isVisible());
        field()->setText(QString());
        QTRY_COMPARE(field()->height(), one);
    }

    void mainSettingsSurviveARelaunch() {
        // Nothing is written while nothing changes.
        mainView();
        m_view.reset();
        QVERIFY(QSettings(u"Tovik"_qs, u"Tovik"_qs).allKeys().isEmpty());
        mainView();
        auto *formats = the<QComboBox>(u"formatPicker"_qs);
        QStringList entries;
        for (int i = 0; i < formats->count(); ++i)
            entries.append(formats->itemText(i));
        QCOMPARE(entries, (QStringList{u"Video — up to 1080p"_qs, u"Video — up to 720p"_qs,
                                       u"Video — up to 480p"_qs, u"Audio only (M4A)"_qs}));
        formats->setFocus();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(formats, Qt::Key_Down);
        QCOMPARE(formats->currentText(), u"Audio only (M4A)"_qs);
        auto *playlist = the<QCheckBox>(u"playlistCheck"_qs);
        QCOMPARE(playlist->toolTip(), u"When a link points into a playlist, download every "
                                      "video in it into its own folder."_qs);
        QTest::mouseClick(playlist, Qt::LeftButton, {}, QPoint(6, playlist->height() / 2));
        QVERIFY(playlist->isChecked());
        const QString chosen = QDir(home()).filePath(u"Deep/er/Chosen"_qs);
        f.desktop.nextFolder = chosen;
        click(u"changeFolderButton"_qs);
        QCOMPARE(f.desktop.folderRequests, 1);
        // Open makes the folder if it is not there yet.
        click(u"openFolderButton"_qs);
        QVERIFY(QFileInfo(chosen).isDir());
        QCOMPARE(f.desktop.opened, QList<QUrl>{QUrl::fromLocalFile(chosen + u'/')});

        MainView &view = mainView();
        QCOMPARE(the<QComboBox>(u"formatPicker"_qs)->currentText(), u"Audio only (M4A)"_qs);
        QVERIFY(the<QCheckBox>(u"playlistCheck"_qs)->isChecked());
        QCOMPARE(the<ElidedLabel>(u"folderPath"_qs)->text(), u"~/Deep/er/Chosen"_qs);
        field()->setText(u"https://example.com/quick"_qs);
        view.start();
        QCOMPARE(f.queue->jobs().front()->request(),
                 (DownloadRequest{Scenarios::link(u"quick"_qs), OutputFormat::audio, true,
                                  QUrl::fromLocalFile(chosen + u'/')}));
        const QSettings stored(u"Tovik"_qs, u"Tovik"_qs);
        QCOMPARE(stored.value(u"format"_qs).toString(), u"audio"_qs);
        QCOMPARE(stored.value(u"includePlaylist"_qs).toBool(), true);
        QCOMPARE(stored.value(u"outputDirectory"_qs).toString(), chosen);
    }

    // Nothing stored, or a stored choice that does not read as its kind, gives the defaults:
    // the best video, no playlists, and a Tovik folder in Movies that is not made yet.
    void mainDefaults_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("nothing stored") << QString() << QVariant();
        QTest::newRow("unknown format") << u"format"_qs << QVariant(u"video4k"_qs);
        QTest::newRow("playlist neither true nor false")
            << u"includePlaylist"_qs << QVariant(u"maybe"_qs);
        QTest::newRow("relative folder") << u"outputDirectory"_qs << QVariant(u"Videos/Tovik"_qs);
    }

    void mainDefaults() {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        if (!key.isEmpty())
            QSettings(u"Tovik"_qs, u"Tovik"_qs).setValue(key, stored);
        mainView();
        QCOMPARE(the<QComboBox>(u"formatPicker"_qs)->currentText(), u"Video — up to 1080p"_qs);
        QVERIFY(!the<QCheckBox>(u"playlistCheck"_qs)->isChecked());
        const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        QVERIFY(movies.startsWith(home()));
        QCOMPARE(Preferences::defaultOutputPath(), movies + u"/Tovik"_qs);
        QCOMPARE(the<ElidedLabel>(u"folderPath"_qs)->text(),
                 u"~"_qs + movies.mid(home().size()) + u"/Tovik"_qs);
        QVERIFY(!QFileInfo::exists(Preferences::defaultOutputPath()));
    }

    void mainDisplayPathWritesHomeAsTilde_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("shown");
        QTest::newRow("under home") << home() + u"/Movies/Tovik"_qs << u"~/Movies/Tovik"_qs;
        QTest::newRow("home itself") << home() << u"~"_qs;
        QTest::newRow("trailing slash") << home() + u"/Music/"_qs << u"~/Music"_qs;
        QTest::newRow("elsewhere") << u"/srv/media"_qs << u"/srv/media"_qs;
    }

    void mainDisplayPathWritesHomeAsTilde() {
        QFETCH(QString, path);
        QTEST(MainView::displayPath(path), "shown");
    }

    // A cancelled choice keeps the folder; the chooser starts in the nearest folder that exists.
    void mainFolderChooser_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("start");
        QTest::newRow("existing folder") << u"Made"_qs << u"Made"_qs;
        QTest::newRow("missing folder, existing parent") << u"Made/Not/Yet"_qs << u"Made"_qs;
        QTest::newRow("nothing of it exists") << u"Gone/Away"_qs << QString();
    }

    void mainFolderChooser() {
        QFETCH(QString, folder);
        MainView &view = mainView();
        QVERIFY(QDir(home()).mkpath(u"Made"_qs));
        const QString before = the<ElidedLabel>(u"folderPath"_qs)->text();
        // Before anything is chosen, the default folder does not exist yet.
        QVERIFY(!QFileInfo::exists(Preferences::defaultOutputPath()));
        click(u"changeFolderButton"_qs);
        QVERIFY(QFileInfo(f.desktop.folderStart).isDir());
        QVERIFY(Preferences::defaultOutputPath().startsWith(f.desktop.folderStart));
        QCOMPARE(the<ElidedLabel>(u"folderPath"_qs)->text(), before);
        QVERIFY(!QSettings(u"Tovik"_qs, u"Tovik"_qs).contains(u"outputDirectory"_qs));

        f.desktop.nextFolder = QDir(home()).filePath(folder);
        view.chooseFolder();
        f.desktop.nextFolder.reset();
        click(u"changeFolderButton"_qs);
        QCOMPARE(f.desktop.folderRequests, 3);
        QFETCH(QString, start);
        QCOMPARE(f.desktop.folderStart, QDir::cleanPath(QDir(home()).filePath(start)));
        QDir(home()).rmpath(u"Made"_qs);
    }

    void mainEmptyStateAndClearFinished() {
        MainView &view = mainView();
        auto *stack = the<QStackedWidget>(u"jobsOrEmpty"_qs);
        auto *clear = the<QPushButton>(u"clearFinishedButton"_qs);
        QCOMPARE(stack->currentWidget()->objectName(), u"emptyState"_qs);
        QVERIFY(!clear->isVisible());
        field()->setText(u"https://example.com/hang https://example.com/quick"_qs);
        view.start();
        QCOMPARE(stack->currentWidget()->objectName(), u"jobList"_qs);
        QTRY_VERIFY(holds<DownloadJob::Finished>(f.queue->jobs().at(1)));
        QTRY_VERIFY(clear->isVisible());
        QTest::mouseClick(clear, Qt::LeftButton);
        QCOMPARE(f.queue->jobs().size(), 1);
        QTRY_VERIFY(!clear->isVisible());
        f.queue->cancel(f.queue->jobs().front());
        QTRY_VERIFY(clear->isVisible());
        QTest::mouseClick(clear, Qt::LeftButton);
        QVERIFY(f.queue->jobs().isEmpty());
        QCOMPARE(stack->currentWidget()->objectName(), u"emptyState"_qs);
        QTRY_VERIFY(!clear->isVisible());
    }

    void mainFooterFitsTheNarrowestWindow_data() {
        fontSizes();
    }

    // The footer shows yt-dlp's version and update status once the tools are checked; its
    // texts show whole or cut with an ellipsis, whole in their tooltip.
    void mainFooterFitsTheNarrowestWindow() {
        QFETCH(double, points);
        withFontSize(points, [this] { mainView(); });
        m_view->resize(560, 440);
        auto *version = the<QLabel>(u"ytdlpVersion"_qs);
        auto *message = the<ElidedLabel>(u"updateMessage"_qs);
        QVERIFY(!version->isVisible() && !message->isVisible());
        f.tools->check();
        QTRY_VERIFY(version->isVisible() && message->isVisible());
        QCOMPARE(version->text(), u"yt-dlp 2024.01.01"_qs);
        QTRY_COMPARE(message->text(), u"yt-dlp is up to date."_qs);
        f.queue->add({f.request(u"quick"_qs)}, f.tools->paths());
        QTRY_VERIFY(the<QPushButton>(u"clearFinishedButton"_qs)->isVisible());

        auto *note = the<ElidedLabel>(u"legalNote"_qs);
        QList<const QWidget *> items;
        for (const QWidget *item : note->parentWidget()->findChildren<QWidget *>())
            if (item->isVisible())
                items.append(item);
        QCOMPARE(items.size(), 4);
        const QString fault = layoutFault(note->parentWidget(), items);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QVERIFY(note->shownText() != note->text());
        QTRY_VERIFY(f.tools->updateMessage() && !f.tools->isUpdating());
    }

    // ---- Job list ----

    void listFollowsTheQueue() {
        list();
        QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(m_model.get(), &QAbstractItemModel::rowsRemoved);
        const QList<DownloadJob *> first = f.add({u"failing"_qs, u"quick"_qs});
        const QList<DownloadJob *> second = f.add({u"hang"_qs});
        QCOMPARE(inserted.size(), 2);
        QCOMPARE(m_model->rowCount(), 3);
        QCOMPARE(m_model->job(m_model->index(0)), second.at(0));
        QCOMPARE(m_model->index(1).data().toString(), u"https://example.com/failing"_qs);
        QTRY_VERIFY(holds<DownloadJob::Failed>(first.at(0)) &&
                    holds<DownloadJob::Finished>(first.at(1)));
        QTRY_COMPARE(m_model->index(1).data(Qt::AccessibleDescriptionRole).toString(),
                     u"Video unavailable"_qs);
        QTRY_VERIFY(m_model->hasEndedJobs());

        QSignalSpy ended(m_model.get(), &JobListModel::hasEndedJobsChanged);
        f.queue->retry(first.at(0), f.tools->paths());
        QCOMPARE(m_model->rowCount(), 3);
        QVERIFY(m_model->job(m_model->index(1)) != first.at(0));
        QTRY_VERIFY(holds<DownloadJob::Failed>(m_model->job(m_model->index(1))));
        f.queue->remove(f.queue->jobs().at(2));
        QCOMPARE(removed.size(), 1);
        QCOMPARE(m_model->rowCount(), 2);
        f.queue->clearFinished();
        QCOMPARE(m_model->rowCount(), 1);
        QCOMPARE(m_model->job(m_model->index(0)), second.at(0));
        QTRY_VERIFY(!m_model->hasEndedJobs());
        QCOMPARE(ended.last().at(0).toBool(), false);
    }

    // Two hundred progress lines a second are announced a few times a second, for the
    // changed row only, and repaint nothing but that row.
    void listChangesTouchTheChangedRowOnly() {
        list();
        // The last of a batch starts first, two at a time: once the quick job has ended, the
        // stream and one hanging job run, one waits, and no row changes height any more.
        const QList<DownloadJob *> jobs =
            f.add({u"hang"_qs, u"hang"_qs, u"streaming"_qs, u"quick"_qs});
        QTRY_VERIFY(holds<DownloadJob::Finished>(jobs.at(3)) && jobs.at(2)->fraction() > 0 &&
                    holds<DownloadJob::Queued>(jobs.at(0)) !=
                        holds<DownloadJob::Queued>(jobs.at(1)));
        const DownloadJob *stream = jobs.at(2);
        QTest::qWait(2 * JobListModel::refreshInterval);
        const QModelIndex streaming = indexOf(stream);
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        PaintRecorder recorder(listView().viewport());
        QTRY_VERIFY(changed.size() >= 5);
        const auto announced = changed.size();
        QTest::qWait(500);
        QVERIFY2(changed.size() - announced <= 500 / JobListModel::refreshInterval + 1,
                 qPrintable(QString::number(changed.size() - announced)));
        for (const QList<QVariant> &signal : std::as_const(changed))
            QVERIFY(signal.at(0).toModelIndex() == streaming &&
                    signal.at(1).toModelIndex() == streaming);
        const QRect painted = recorder.painted.boundingRect();
        QVERIFY2(listView().visualRect(streaming).contains(painted),
                 qPrintable(u"painted %1,%2 %3×%4 outside the row"_qs.arg(painted.x())
                                .arg(painted.y())
                                .arg(painted.width())
                                .arg(painted.height())));
    }

    void listRowShowsItsStateAndActs_data() {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<OutputFormat>("format");
        QTest::addColumn<QString>("status");
        QTest::addColumn<Tint>("tint");
        QTest::addColumn<QString>("button");
        const auto v = OutputFormat::video720;
        const auto a = OutputFormat::audio;
        const auto row = [](const char *name, const QString &scenario, OutputFormat format,
                            const QString &status, Tint tint, const QString &button) {
            QTest::newRow(name) << scenario << format << status << tint << button;
        };
        row("queued behind two running", u"queued"_qs, v, u"Waiting…"_qs, Tint::secondary,
            u"Cancel"_qs);
        row("starting", u"hang"_qs, v, u"Starting…"_qs, Tint::accent, u"Cancel"_qs);
        row("item 2 of 5 at 1.5 MB/s, 90 s left", u"downloading"_qs, v,
            u"2 of 5 · Video — up to 720p · 1.5 MB/s · 1:30 left"_qs, Tint::accent, u"Cancel"_qs);
        row("merging", u"merging"_qs, v, u"Merging video and audio…"_qs, Tint::accent,
            u"Cancel"_qs);
        row("extracting audio", u"extracting"_qs, a, u"Extracting audio…"_qs, Tint::accent,
            u"Cancel"_qs);
        row("finished audio, one file", u"song"_qs, a, u"Song.m4a"_qs, Tint::green,
            u"Show in Folder"_qs);
        row("finished with a warning", u"partly"_qs, v,
            u"One.mp4 — One item failed: Video unavailable"_qs, Tint::orange, u"Show in Folder"_qs);
        row("finished playlist of four", u"playlist"_qs, v, u"4 files saved"_qs, Tint::green,
            u"Show in Folder"_qs);
        row("finished without files", u"quick"_qs, v, u"0 files saved"_qs, Tint::green, {});
        row("cancelled", u"cancelled"_qs, v, u"Cancelled"_qs, Tint::secondary, u"Retry"_qs);
        row("failed", u"failing"_qs, v, u"Video unavailable"_qs, Tint::red, u"Retry"_qs);
    }

    // Text, icon colour, what assistive technology hears, and the action button, which is
    // named by its tooltip and acts.
    void listRowShowsItsStateAndActs() {
        QFETCH(QString, scenario);
        QFETCH(OutputFormat, format);
        QFETCH(QString, status);
        QFETCH(Tint, tint);
        QFETCH(QString, button);
        list();
        if (scenario == u"queued"_qs)
            f.add({u"hang"_qs, u"hang"_qs});
        const bool cancel = scenario == u"cancelled"_qs;
        const QString run = cancel                     ? u"downloading"_qs
                            : scenario == u"queued"_qs ? u"hang"_qs
                                                       : scenario;
        DownloadJob *job = f.add({run}, format).front();
        const QModelIndex index = indexOf(job);
        IconButton *action = listView().actionButton();
        if (cancel) {
            // Cancelling before yt-dlp runs would only take effect when it exits by itself.
            QTRY_VERIFY(job->title().has_value());
            hover(index);
            clickButton();
        }
        QTRY_COMPARE(JobRow::statusText(*job), status);
        QCOMPARE(index.data(Qt::DisplayRole).toString(), JobRow::title(*job));
        // Assistive technology hears the status, and the progress while there is a bar.
        const QString description = index.data(Qt::AccessibleDescriptionRole).toString();
        QVERIFY2(description.endsWith(status), qPrintable(description));
        QCOMPARE(description.startsWith(u"%1 % done · "_qs.arg(qRound(job->fraction() * 100))),
                 JobRow::showsProgress(*job));
        // Translucent roles show blended with the background.
        const QColor expected = ::tint(tint, m_view->palette());
        const QColor ground = m_view->palette().color(QPalette::Base);
        const float alpha = expected.alphaF();
        const QColor blended =
            QColor::fromRgbF(expected.redF() * alpha + ground.redF() * (1 - alpha),
                             expected.greenF() * alpha + ground.greenF() * (1 - alpha),
                             expected.blueF() * alpha + ground.blueF() * (1 - alpha));
        const auto matches = [&blended](const QColor &shown) {
            return qAbs(shown.red() - blended.red()) <= 12 &&
                   qAbs(shown.green() - blended.green()) <= 12 &&
                   qAbs(shown.blue() - blended.blue()) <= 12;
        };
        QTRY_VERIFY2(matches(iconColour(index)), qPrintable(u"icon painted %1, expected %2"_qs.arg(
                                                     iconColour(index).name(), blended.name())));
        hover(index);
        QTRY_COMPARE(action->isVisible(), !button.isEmpty());
        if (button.isEmpty())
            return;
        QTRY_COMPARE(action->toolTip(), button);
        QVERIFY(action->text().isEmpty());
        QCOMPARE(action->accessibleName(), button);
        QCOMPARE(action->symbol(), JobRow::actionSymbol(*JobRow::action(*job)));
        QCOMPARE(action->geometry(), actionRect(index));
        const DownloadRequest request = job->request();
        clickButton();
        if (button == u"Show in Folder"_qs) {
            QCOMPARE(f.desktop.revealed, QList<QList<QUrl>>{job->files()});
            QVERIFY(!job->files().isEmpty());
        } else if (button == u"Retry"_qs) {
            QCOMPARE(f.queue->jobs().size(), 1);
            QVERIFY(f.queue->jobs().front() != job);
            QCOMPARE(f.queue->jobs().front()->request(), request);
        } else {
            QTRY_VERIFY(holds<DownloadJob::Cancelled>(job));
            QTRY_COMPARE(action->toolTip(), u"Retry"_qs);
        }
    }

    void listContextMenu() {
        list();
        const QList<DownloadJob *> jobs = f.add({u"hang"_qs, u"raw404"_qs});
        QTRY_VERIFY(holds<DownloadJob::Failed>(jobs.at(1)));
        const QModelIndex running = indexOf(jobs.at(0));
        contextMenuOn(running);
        QTRY_COMPARE(openMenu(), QStringList{u"Copy Link"_qs});
        QGuiApplication::clipboard()->setText(u"something else"_qs);
        triggerAndClose(0);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"https://example.com/hang"_qs);
        QTRY_VERIFY(!QApplication::activePopupWidget());

        const QModelIndex failed = indexOf(jobs.at(1));
        contextMenuOn(failed);
        QTRY_COMPARE(openMenu(), (QStringList{u"Copy Link"_qs, u"Copy Error"_qs, u"Remove"_qs}));
        // The row shows the failure in plain words; the tooltip and "Copy Error" give it whole.
        const QString raw = u"Unable to download webpage: HTTP Error 404: Not Found; please "
                            "report this issue on  https://github.com/yt-dlp/yt-dlp/issues?q= , "
                            "filling out the appropriate issue template."_qs;
        QCOMPARE(JobRow::statusText(*jobs.at(1)),
                 u"The site has no page at this link (HTTP 404). Check the link."_qs);
        QCOMPARE(failed.data(Qt::ToolTipRole).toString(), raw);
        QCOMPARE(running.data(Qt::ToolTipRole), QVariant());
        qobject_cast<QMenu *>(QApplication::activePopupWidget())->actions().at(1)->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), raw);
        triggerAndClose(2);
        QCOMPARE(f.queue->jobs(), QList<DownloadJob *>{jobs.at(0)});
    }

    void listKeyboard() {
        JobListView &view = list();
        const QList<DownloadJob *> jobs = f.add({u"hang"_qs, u"failing"_qs, u"quick"_qs});
        QTRY_VERIFY(holds<DownloadJob::Failed>(jobs.at(1)) &&
                    holds<DownloadJob::Finished>(jobs.at(2)));
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        // Tabbing in shows the row the keys will act on as selected.
        view.setCurrentIndex(indexOf(jobs.at(2)));
        view.clearSelection();
        view.clearFocus();
        view.setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(view.selectionModel()->isSelected(indexOf(jobs.at(2))));
        // Delete does nothing without a current row, or with one that is not shown selected.
        view.setCurrentIndex(QModelIndex());
        QTest::keyClick(&view, Qt::Key_Delete);
        view.selectionModel()->setCurrentIndex(indexOf(jobs.at(2)), QItemSelectionModel::Clear);
        QTest::keyClick(&view, Qt::Key_Delete);
        QCOMPARE(m_model->rowCount(), 3);
        // Delete leaves an active job alone and removes an ended one.
        view.setCurrentIndex(indexOf(jobs.at(0)));
        QTest::keyClick(&view, Qt::Key_Delete);
        QCOMPARE(m_model->rowCount(), 3);
        view.setCurrentIndex(indexOf(jobs.at(2)));
        QTest::keyClick(&view, Qt::Key_Delete);
        QCOMPARE(m_model->rowCount(), 2);
        // Return retries a failed job and does nothing to a running one.
        view.setCurrentIndex(indexOf(jobs.at(0)));
        QTest::keyClick(&view, Qt::Key_Return);
        QCOMPARE(m_model->job(m_model->index(0)), jobs.at(0));
        view.setCurrentIndex(indexOf(jobs.at(1)));
        QTest::keyClick(&view, Qt::Key_Return);
        QVERIFY(m_model->job(m_model->index(1)) != jobs.at(1));
        // The menu key opens the current row's menu.
        view.setCurrentIndex(m_model->index(0));
        QTest::keyClick(&view, Qt::Key_Menu);
        QTRY_COMPARE(openMenu(), QStringList{u"Copy Link"_qs});
        triggerAndClose(-1);
        // Without a mouse over the list, the current row carries the action button.
        QTest::mouseMove(&view, QPoint(-10, -10));
        view.setCurrentIndex(m_model->index(0));
        QTRY_COMPARE(view.actionButton()->geometry(), actionRect(m_model->index(0)));
    }

    void listLongFailuresTakeTwoLines() {
        JobListView &view = list();
        const QList<DownloadJob *> jobs = f.add({u"long"_qs, u"failing"_qs});
        QTRY_VERIFY(holds<DownloadJob::Failed>(jobs.at(0)) &&
                    holds<DownloadJob::Failed>(jobs.at(1)));
        const QModelIndex longRow = indexOf(jobs.at(0));
        const QModelIndex shortRow = indexOf(jobs.at(1));
        const JobRowLayout layout(*jobs.at(0), view.font(), view.visualRect(longRow));
        QCOMPARE(layout.statusLines.size(), 2);
        QVERIFY(layout.statusLines.at(1).endsWith(u"…"_qs));
        // The quick height the list lays out with matches the full layout it paints.
        for (const QModelIndex &index : {longRow, shortRow}) {
            const QRect row = view.visualRect(index);
            QCOMPARE(JobRowLayout::height(*m_model->job(index), view.font(), row.width()),
                     JobRowLayout(*m_model->job(index), view.font(), row).rowHeight);
        }
        QTRY_VERIFY(view.visualRect(longRow).height() > view.visualRect(shortRow).height());
        // Painted into a row laid out for an earlier, shorter state, the row keeps to its
        // rectangle: nothing runs into its neighbours.
        QImage image(560, 200, QImage::Format_ARGB32);
        image.fill(Qt::magenta);
        QStyleOptionViewItem option;
        option.initFrom(&view);
        option.rect = QRect(0, 80, 560, 30);
        QPainter painter(&image);
        view.itemDelegate()->paint(&painter, option, longRow);
        painter.end();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (!option.rect.contains(x, y))
                    QVERIFY2(image.pixel(x, y) == QColor(Qt::magenta).rgb(),
                             qPrintable(u"painted at %1,%2"_qs.arg(x).arg(y)));
    }

    void listRowsStayInsideThemselves_data() {
        fontSizes();
    }

    // No part of a row runs into another part or out of the row, at any font size.
    void listRowsStayInsideThemselves() {
        QFETCH(double, points);
        JobListView &view = list();
        QFont font = view.font();
        font.setPointSizeF(points);
        view.setFont(font);
        view.resize(560, 900);
        // Ended jobs first, then two running ones and one waiting behind them.
        const QList<DownloadJob *> ended = f.add(
            {u"song"_qs, u"partly"_qs, u"playlist"_qs, u"quick"_qs, u"failing"_qs, u"long"_qs});
        QTRY_VERIFY(std::none_of(ended.begin(), ended.end(),
                                 [](const DownloadJob *job) { return job->isActive(); }));
        f.add({u"merging"_qs, u"titled"_qs});
        f.add({u"hang"_qs}, OutputFormat::audio);
        const auto runningShown = [this] {
            const QList<DownloadJob *> jobs = f.queue->jobs();
            return std::count_if(jobs.begin(), jobs.end(), [](const DownloadJob *job) {
                return holds<DownloadJob::Processing>(job) || (job->title() && job->fraction() > 0);
            });
        };
        QTRY_COMPARE(runningShown(), 2);
        QTest::qWait(2 * JobListModel::refreshInterval);

        const QFontMetrics titleMetrics(font);
        for (int row = 0; row < m_model->rowCount(); ++row) {
            const QModelIndex index = m_model->index(row);
            const DownloadJob *job = m_model->job(index);
            const QRect rect = view.visualRect(index);
            const JobRowLayout layout(*job, font, rect);
            const QString where = u"row %1 (%2)"_qs.arg(row).arg(JobRow::statusText(*job));
            QVERIFY2(rect.height() == layout.rowHeight, qPrintable(where));
            QVERIFY2(row + 1 == m_model->rowCount() ||
                         rect.bottom() < view.visualRect(m_model->index(row + 1)).top(),
                     qPrintable(where));
            // The title's ink, underscores included, as drawn centred in its line.
            const int baseline = layout.title.top() +
                                 (layout.title.height() - titleMetrics.height()) / 2 +
                                 titleMetrics.ascent();
            const QRect titleInk = titleMetrics.boundingRect(layout.titleText)
                                       .translated(layout.title.left(), baseline);
            QList<QRect> lines{layout.title};
            if (!layout.bar.isEmpty())
                lines.append(layout.bar);
            lines += layout.statusLineRects;
            for (const QRect &part : lines + QList<QRect>{titleInk, layout.icon, layout.action})
                QVERIFY2(part.isEmpty() || rect.contains(part), qPrintable(where));
            for (qsizetype i = 0; i + 1 < lines.size(); ++i)
                QVERIFY2(lines.at(i).bottom() < lines.at(i + 1).top(), qPrintable(where));
            QVERIFY2(titleInk.bottom() < lines.at(1).top(), qPrintable(where));
            // Underscores are drawn: the title below its baseline has ink, though none of its
            // letters descends.
            if (JobRow::title(*job).contains(u'_')) {
                const QImage image = view.viewport()->grab().toImage();
                const int ground = qGray(view.palette().color(QPalette::Base).rgb());
                int inked = 0;
                for (int y = baseline + 1; y <= titleInk.bottom(); ++y)
                    for (int x = titleInk.left(); x <= titleInk.right(); ++x)
                        inked += qGray(image.pixel(x, y)) < ground - 60 ? 1 : 0;
                QVERIFY2(inked >= 3 * layout.titleText.count(u'_'), qPrintable(where));
            }
        }
    }

    void listButtonActsOnWhatItShows_data() {
        QTest::addColumn<QString>("change");
        QTest::newRow("state changes under a resting pointer") << u"state"_qs;
        QTest::newRow("list scrolls under the pointer") << u"scroll"_qs;
        QTest::newRow("a row above changes height") << u"height"_qs;
    }

    void listButtonActsOnWhatItShows() {
        QFETCH(QString, change);
        JobListView &view = list();
        IconButton *button = view.actionButton();
        if (change == u"state"_qs) {
            DownloadJob *job = f.add({u"failsSoon"_qs}).front();
            QTRY_VERIFY(job->title());
            hover(indexOf(job));
            QCOMPARE(button->toolTip(), u"Cancel"_qs);
            // A click in the very turn the job fails, before the button has caught up, must
            // not retry a job the button offered to cancel.
            bool clicked = false;
            const auto connection = connect(job, &DownloadJob::stateChanged, this, [&] {
                if (!holds<DownloadJob::Failed>(job) || clicked)
                    return;
                clicked = true;
                QCOMPARE(button->toolTip(), u"Cancel"_qs);
                QTest::mouseClick(button, Qt::LeftButton);
            });
            QTRY_VERIFY(clicked);
            disconnect(connection);
            QCOMPARE(f.queue->jobs(), QList<DownloadJob *>{job});
            QTRY_COMPARE(button->toolTip(), u"Retry"_qs);
            QTest::mouseClick(button, Qt::LeftButton);
            QVERIFY(f.queue->jobs().front() != job);
            return;
        }
        const QList<DownloadJob *> failing = f.add(QStringList(10, u"failing"_qs));
        QTRY_VERIFY(std::none_of(failing.begin(), failing.end(),
                                 [](const DownloadJob *job) { return job->isActive(); }));
        DownloadJob *above =
            change == u"height"_qs ? f.add({u"failsLongSoon"_qs}).front() : nullptr;
        view.resize(560, 260);
        QTest::qWait(2 * JobListModel::refreshInterval);
        const QModelIndex first = m_model->index(above ? 1 : 0);
        const QPoint pointer = actionRect(first).center();
        QTest::mouseMove(view.viewport(), pointer);
        QTRY_COMPARE(button->geometry(), actionRect(first));
        const bool scrolled = change == u"scroll"_qs;
        if (scrolled) {
            QWheelEvent wheel(pointer, view.viewport()->mapToGlobal(pointer), {}, {0, -120},
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(view.viewport(), &wheel);
            QVERIFY(view.verticalScrollBar()->value() > 0);
        } else {
            QTRY_VERIFY(holds<DownloadJob::Failed>(above));
        }
        // Whatever row now lies under the pointer carries the button, and a click retries it.
        QModelIndex under;
        QTRY_VERIFY((under = view.indexAt(pointer)).isValid() &&
                    (under.row() != first.row()) == scrolled &&
                    actionRect(under).contains(pointer) && button->geometry() == actionRect(under));
        const DownloadJob *shown = m_model->job(under);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!f.queue->jobs().contains(shown));
        // A click on a row's painted symbol acts too, even where the button is not.
        const QModelIndex other = m_model->index(under.row() == 2 ? 3 : 2);
        const DownloadJob *painted = m_model->job(other);
        QVERIFY(button->geometry() != actionRect(other));
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, actionRect(other).center());
        QVERIFY(!f.queue->jobs().contains(painted));
    }

    // ---- Window ----

    void windowAndMenu() {
        launch();
        MainWindow &window = m_app->window();
        QCOMPARE(window.windowTitle(), u"Tovik"_qs);
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
        // Raising (a second launch) restores a minimised window.
        window.showMinimized();
        QTRY_VERIFY(window.isMinimized());
        m_app->raise();
        QTRY_VERIFY(!window.isMinimized() && window.isVisible());
    }

    // The window appears before the tools check builds its view, and the check runs even
    // where the window never paints.
    void windowStaysBlankWhileChecking() {
        m_app = std::make_unique<TovikApp>(localSources(server()), f.desktop.desktop());
        QVERIFY(isPhase<ToolManager::Checking>(m_app->tools()));
        QCOMPARE(content(), nullptr);
        QCOMPARE(m_app->window().rootView()->findChildren<QWidget *>().size(), 1);
        m_app->window().show();
        QTRY_VERIFY(isPhase<ToolManager::NeedsInstall>(m_app->tools()));

        RootView root(*f.tools, *f.queue, f.answers);
        root.setUpdatesEnabled(false);
        root.show();
        QVERIFY(isPhase<ToolManager::Checking>(*f.tools));
        QTRY_VERIFY(isPhase<ToolManager::NeedsInstall>(*f.tools));
        QVERIFY(qobject_cast<SetupView *>(root.content()));
    }

    // The view follows the phase, and the menu offers what the phase allows.
    void windowFollowsThePhase() {
        launch();
        QTRY_VERIFY(isPhase<ToolManager::NeedsInstall>(m_app->tools()));
        QVERIFY(qobject_cast<SetupView *>(content()));
        QVERIFY(!updateEnabled() && reinstallEnabled());
        m_app->tools().install(false);
        QVERIFY(isPhase<ToolManager::Installing>(m_app->tools()));
        QVERIFY(!updateEnabled() && !reinstallEnabled());
        QTRY_VERIFY(isPhase<ToolManager::Failed>(m_app->tools()));
        QVERIFY(!updateEnabled() && reinstallEnabled());

        QVERIFY(installFakeTools());
        m_app->tools().check();
        QTRY_VERIFY(isPhase<ToolManager::Ready>(m_app->tools()));
        QVERIFY(qobject_cast<MainView *>(content())->isVisible());
        settle();
        QVERIFY(updateEnabled() && reinstallEnabled());
        // Not while jobs are active.
        m_app->queue().add({f.request(u"slow"_qs)}, m_app->tools().paths());
        QVERIFY(!updateEnabled() && !reinstallEnabled());
        QTRY_VERIFY(!m_app->queue().hasActiveJobs());
        QVERIFY(updateEnabled() && reinstallEnabled());
        // Update not while it runs.
        const QTemporaryDir scripts;
        QVERIFY(writeExecutable(scripts.filePath(u"update"_qs),
                                "sleep 400\nout yt-dlp is up to date\n"));
        qputenv("FAKE_YTDLP_UPDATE", QFile::encodeName(scripts.filePath(u"update"_qs)));
        m_app->window().updateAction()->trigger();
        QVERIFY(m_app->tools().isUpdating());
        QVERIFY(!updateEnabled() && reinstallEnabled());
        QTRY_VERIFY(!m_app->tools().isUpdating());
        QVERIFY(updateEnabled());
        // Reinstalling from the main view switches to the setup screen; nothing is served, so
        // the run fails and the setup screen stays.
        m_app->window().reinstallAction()->trigger();
        QVERIFY(isPhase<ToolManager::Installing>(m_app->tools()));
        QVERIFY(qobject_cast<SetupView *>(content()));
        QTRY_VERIFY(isPhase<ToolManager::Failed>(m_app->tools()));
        QVERIFY(qobject_cast<SetupView *>(content())->isVisible());
    }

    void windowIconOnlyControlsAreNamedByTheirTooltips() {
        launchReady();
        m_app->queue().add({f.request(u"hang"_qs)}, m_app->tools().paths());
        auto *list = m_app->window().findChild<JobListView *>();
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

    void windowQuitStopsRunningDownloads() {
        launchReady();
        m_app->queue().add({f.request(u"hang"_qs), f.request(u"first"_qs), f.request(u"second"_qs)},
                           m_app->tools().paths());
        const QList<DownloadJob *> jobs = m_app->queue().jobs();
        QList<qint64> pids;
        for (const QString &name : {u"first.pids"_qs, u"second.pids"_qs}) {
            QFile file(QDir(f.output.path()).filePath(name));
            QTRY_VERIFY(file.exists());
            QVERIFY(file.open(QIODevice::ReadOnly));
            pids.append(file.readLine().trimmed().toLongLong());
        }
        quitNow();
        // The waiting job is left alone; the running ones are told to stop and end cancelled.
        QVERIFY(holds<DownloadJob::Queued>(jobs.at(0)));
        QTRY_VERIFY(holds<DownloadJob::Cancelled>(jobs.at(1)) &&
                    holds<DownloadJob::Cancelled>(jobs.at(2)));
        for (const qint64 pid : pids)
            QCOMPARE(::kill(static_cast<pid_t>(pid), 0), -1);
        // A quit from elsewhere (a signal at logout) goes through without asking.
        QCOMPARE(f.desktop.quitQuestions, QList<int>());
    }

    void windowQuitAsksOnlyWhileDownloadsRun_data() {
        QTest::addColumn<bool>("menu");
        QTest::addColumn<int>("running");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QList<int>>("questions");
        QTest::addColumn<bool>("quits");
        const QList<int> none;
        QTest::newRow("Quit, nothing running") << true << 0 << false << none << true;
        QTest::newRow("Quit, two running, Cancel") << true << 2 << false << QList{2} << false;
        QTest::newRow("Quit, one running, Quit") << true << 1 << true << QList{1} << true;
        QTest::newRow("close, nothing running") << false << 0 << false << none << true;
        QTest::newRow("close, two running, Cancel") << false << 2 << false << QList{2} << false;
        QTest::newRow("close, two running, Quit") << false << 2 << true << QList{2} << true;
    }

    void windowQuitAsksOnlyWhileDownloadsRun() {
        QFETCH(bool, menu);
        QFETCH(int, running);
        launchReady();
        QFETCH(bool, answer);
        f.desktop.quitAnswer = answer;
        // Running, not only queued: each has written its process ids.
        for (const QString &name : QStringList{u"first"_qs, u"second"_qs}.mid(0, running)) {
            QFile pids(QDir(f.output.path()).filePath(name + u".pids"_qs));
            pids.remove();
            m_app->queue().add({f.request(name)}, m_app->tools().paths());
            QTRY_VERIFY(pids.exists() && pids.size() > 0);
        }
        MainWindow &window = m_app->window();
        QAction *quit = window.menuBar()->actions().front()->menu()->actions().last();
        QTimer::singleShot(0, &window, [&] { menu ? quit->trigger() : (void)window.close(); });
        // Refused, the application goes on, and so do the downloads; the timer then ends this
        // wait. Its end is a quit too, which stops them.
        bool activeAfterRefusal = false;
        QTimer::singleShot(1000, &window, [&] {
            activeAfterRefusal = m_app->queue().hasActiveJobs();
            QCoreApplication::exit(7);
        });
        const int result = QApplication::exec();
        QTEST(result == 0, "quits");
        QTEST(f.desktop.quitQuestions, "questions");
        QTEST(!window.isVisible(), "quits");
        QVERIFY(result == 0 || activeAfterRefusal == (running > 0));
        QTRY_VERIFY(!m_app->queue().hasActiveJobs());
    }

    void windowLinksFromOutsideWaitForTheTools() {
        Preferences preferences;
        preferences.setFormat(OutputFormat::audio);
        preferences.setIncludePlaylist(true);
        preferences.setOutputPath(f.output.path());
        launch();
        QTRY_VERIFY(isPhase<ToolManager::NeedsInstall>(m_app->tools()));
        m_app->open({Scenarios::link(u"hang"_qs).toString(), u"no link here"_qs});
        QVERIFY(m_app->queue().jobs().isEmpty());
        QVERIFY(installFakeTools());
        m_app->tools().check();
        QTRY_VERIFY(isPhase<ToolManager::Ready>(m_app->tools()));
        // Links that arrive in the main view are queued at once; the same link again is a new job.
        m_app->open({u"example.com/quick, https://example.com/hang"_qs});
        QList<DownloadRequest> requests;
        for (const DownloadJob *job : m_app->queue().jobs())
            requests.append(job->request());
        const auto audio = OutputFormat::audio;
        QCOMPARE(requests, (QList<DownloadRequest>{f.request(u"quick"_qs, audio, true),
                                                   f.request(u"hang"_qs, audio, true),
                                                   f.request(u"hang"_qs, audio, true)}));
    }

    void windowGeometryAcrossLaunches_data() {
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
        QTest::newRow("off every screen")
            << place.translated(screen.width() * 4, screen.height() * 4) << false << QByteArray()
            << QRect();
        QTest::newRow("partly off the screen")
            << place.translated(screen.width() - 100, 0) << false << QByteArray() << QRect();
        QTest::newRow("larger than every screen")
            << QRect(screen.topLeft(), screen.size() * 3) << false << QByteArray() << QRect();
    }

    // The window is left somewhere and Tovik quits; the next launch finds it there, or at its
    // default size on a screen.
    void windowGeometryAcrossLaunches() {
        QFETCH(QRect, left);
        QFETCH(bool, maximised);
        QFETCH(QByteArray, stored);
        QFETCH(QRect, restored);
        if (left.isValid()) {
            launch();
            m_app->window().setGeometry(left);
            if (maximised)
                m_app->window().showMaximized();
            quitNow();
            settle();
            m_app.reset();
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
};

TOVIK_GUI_TEST_MAIN(TestWindow)
#include "tst_window.moc"
