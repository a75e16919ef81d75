#include "GuiTest.h"
#include "IconButton.h"
#include "JobListModel.h"
#include "JobListView.h"
#include "JobRowLayout.h"
#include "LinearProgress.h"
#include "LinkField.h"
#include "MainView.h"
#include "Preferences.h"
#include "RootView.h"
#include "SetupView.h"
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
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStackedWidget>

using namespace GuiTest;

// The setup screen, the main view, the job list and the window that holds them, on the
// fake yt-dlp and a loopback release site.
class TestWindow : public QObject {
    Q_OBJECT

    Scenarios m_scenarios;
    QTemporaryDir m_output;
    RecordingDesktop m_desktop;
    const Desktop m_answers = m_desktop.desktop();
    const QFont m_font = QApplication::font();
    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<ToolManager> m_tools;
    std::unique_ptr<DownloadQueue> m_queue;
    std::unique_ptr<TovikApp> m_app;
    std::unique_ptr<JobListModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    std::unique_ptr<QWidget> m_view;

    // The open context menu's items.
    static QStringList menu() {
        QStringList texts;
        if (const auto *open = qobject_cast<QMenu *>(QApplication::activePopupWidget()))
            for (const QAction *action : open->actions())
                texts.append(action->text());
        return texts;
    }
    DownloadRequest request(const QString &name,
                            OutputFormat format = OutputFormat::video720) const {
        return {Scenarios::link(name), format, false, QUrl::fromLocalFile(m_output.path() + u'/')};
    }
    QList<DownloadJob *> add(const QStringList &names) {
        QList<DownloadRequest> requests;
        for (const QString &name : names)
            requests.append(request(name));
        m_queue->add(requests, m_tools->paths());
        return m_queue->jobs().mid(0, names.size());
    }
    // Builds a view with the application font at the given size, shows and activates it.
    template <typename V, typename... Args> V &show(double points, Args &...args) {
        QFont font = m_font;
        font.setPointSizeF(points);
        QApplication::setFont(points > 0 ? font : m_font);
        m_view = std::make_unique<V>(args...);
        m_view->resize(720, 540);
        m_view->show();
        m_view->activateWindow();
        if (!QTest::qWaitForWindowActive(m_view.get()))
            qFatal("the view does not show");
        return static_cast<V &>(*m_view);
    }
    QUrl server() const { return m_server->url(u"/"_qs); }
    template <typename T = QWidget> T *the(const QString &name) {
        if (T *widget = (m_view ? m_view.get() : &m_app->window())->findChild<T *>(name))
            return widget;
        qFatal("no %s", qPrintable(name));
    }
    static void needTools() { QVERIFY(installFakeTools()); }

    SetupView &setupView(ToolSources sources, double points = 0) {
        m_tools = std::make_unique<ToolManager>(std::move(sources));
        return show<SetupView>(points, *m_tools);
    }
    MainView &mainView(double points = 0) {
        needTools();
        return show<MainView>(points, *m_tools, *m_queue, m_answers);
    }
    LinkField *field() { return the<LinkField>(u"linkField"_qs); }
    void click(const QString &b) { QTest::mouseClick(the<QPushButton>(b), Qt::LeftButton); }

    JobListView &list(double points = 0) {
        needTools();
        m_model = std::make_unique<JobListModel>(*m_queue);
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        return show<JobListView>(points, *m_model, *m_tools, *m_queue, m_answers);
    }
    QModelIndex indexOf(const DownloadJob *job) const {
        return m_model->index(static_cast<int>(m_queue->jobs().indexOf(job)));
    }

    void launch() {
        m_app = std::make_unique<TovikApp>(localSources(server()), m_answers);
        m_app->window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_app->window()));
    }
    // "update reinstall" as far as the menu offers them, each 1 or 0.
    QString offered() const {
        const MainWindow &w = m_app->window();
        return u"%1 %2"_qs.arg(w.updateAction()->isEnabled()).arg(w.reinstallAction()->isEnabled());
    }
    QWidget *content() const { return m_app->window().rootView()->content(); }
    // Lets a running check, installation or update end before the manager goes: in the ready
    // phase the check goes on to ask yt-dlp its version and to update it.
    static void settle(const ToolManager &tools) {
        QTRY_VERIFY(!std::holds_alternative<ToolManager::Installing>(tools.phase()) &&
                    !std::holds_alternative<ToolManager::Checking>(tools.phase()));
        if (std::holds_alternative<ToolManager::Ready>(tools.phase()))
            QTRY_VERIFY(tools.ytdlpVersion() && tools.updateMessage() && !tools.isUpdating());
    }

    // Rows "points" and "row" for each font size (0: the default font) and each row. Layouts
    // are checked at several font sizes: rows that overlapped at one went unnoticed.
    static void table(std::initializer_list<const char *> rows = {""},
                      std::initializer_list<double> sizes = {9, 12, 14}) {
        QTest::addColumn<double>("points");
        QTest::addColumn<QString>("row");
        for (const double points : sizes)
            for (const char *row : rows)
                QTest::newRow(qPrintable(u"%1 %2 pt"_qs.arg(QString::fromUtf8(row)).arg(points)))
                    << points << QString::fromUtf8(row);
    }

private Q_SLOTS:
    void initTestCase() {
        const QByteArray scenarios[] = {
            "hang|hang",
            "quick|exit 0",
            "downloading|out TKT|v|2|5|Big Buck Bunny\nout "
            "TKP|v|downloading|400|1000|NA|1500000|90\nhang",
            "merging|out TKT|v|NA|NA|Sintel\nout TKP|v|downloading|1000|1000|NA|NA|NA\nout "
            "TKP|v|finished|1000|1000|NA|NA|NA\nout TKP|v|finished|100|100|NA|NA|NA\nhang",
            "partly|out TKT|v|1|2|One\nfile List/One.mp4\n"
            "err ERROR: [generic] two: Video unavailable\nexit 1",
            "titled|out TKT|v|1|9|" + QByteArray("Clean_title_with_underscores_").repeated(6) +
                "\nrate 200 30\nhang",
            "failsSoon|out TKT|v|NA|NA|Soon\nsleep 400\nerr ERROR: [generic] x: Unable to download "
            "webpage: HTTP Error 404: Not Found; please report this issue on  https://github.com/"
            "yt-dlp/yt-dlp/issues?q= , filling out the appropriate issue template.\nexit 1",
            "failing|err ERROR: [generic] x: Video unavailable\nexit 1",
            "failsLong|err ERROR: " +
                QByteArray("this video is unavailable because ").repeated(12) + "\nexit 1"};
        for (const QByteArray &scenario : scenarios)
            QVERIFY(m_scenarios.write(QString::fromLatin1(scenario.left(scenario.indexOf('|'))),
                                      scenario.mid(scenario.indexOf('|') + 1) + '\n'));
    }

    void init() {
        QSettings(u"Tovik"_qs, u"Tovik"_qs).clear();
        removeTools();
        m_server = std::make_unique<HttpServer>();
        m_desktop = {};
        m_tools = std::make_unique<ToolManager>(localSources());
        m_queue = std::make_unique<DownloadQueue>();
    }

    void cleanup() {
        m_view.reset();
        QApplication::setFont(m_font);
        m_tester.reset();
        m_model.reset();
        if (m_app)
            settle(m_app->tools());
        m_app.reset();
        // An installation still running would outlive its manager; it ends first.
        QTRY_VERIFY(!std::holds_alternative<ToolManager::Installing>(m_tools->phase()));
        m_queue.reset();
        m_tools.reset();
    }

    // A release whose yt-dlp download takes a while and whose checksum never matches: the
    // screen offers the installation, shows its progress, then the failure.
    void setupInstallsThenShowsTheFailure() {
        SetupView &view = setupView(localSources(server()));
        m_server->route(u"/repos/yt-dlp/yt-dlp/releases/latest"_qs,
                        answer("{\"tag_name\": \"2025\"}"));
        const QByteArray file = Platform::current().ytdlpFile.toUtf8();
        const QString release = u"/yt-dlp/yt-dlp/releases/download/2025/"_qs;
        m_server->route(release + u"SHA2-256SUMS"_qs,
                        answer(QByteArray(64, 'a') + "  " + file + '\n'));
        m_server->route(release + QString::fromUtf8(file),
                        answer(QByteArray(200'000, 'x'), 8'000, std::chrono::milliseconds(20)));
        m_tools->check();
        QTRY_VERIFY(std::holds_alternative<ToolManager::NeedsInstall>(m_tools->phase()));
        // Focus given to the view lands on its button: Space installs.
        view.setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QTRY_COMPARE(the<QLabel>(u"installingStatus"_qs)->text(), u"Installing yt-dlp…"_qs);
        auto *progress = the<LinearProgress>(u"yt-dlpProgress"_qs);
        QTRY_VERIFY(the<QStackedWidget>(u"yt-dlpTrailing"_qs)->currentWidget() == progress &&
                    progress->value() > 0);
        // Assistive technology hears the tool's progress in per cent.
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(progress);
        QCOMPARE(accessible->text(QAccessible::Name), u"Installing yt-dlp"_qs);
        QCOMPARE(accessible->valueInterface()->currentValue().toInt(),
                 qRound(progress->value() * 100));

        QTRY_VERIFY(std::holds_alternative<ToolManager::Failed>(m_tools->phase()));
        // The message with a hint under it; no way back while tools are missing.
        QVERIFY(!the<QLabel>(u"failureMessage"_qs)->text().isEmpty() &&
                the(u"failureHint"_qs)->isVisible() && !the(u"useInstalledButton"_qs)->isVisible());
    }

    // Each tool as "✓" or "○", then its note where one shows: with tools missing, deno alone
    // missing, a system ffmpeg, after a failure offline (with a hint) and one with a long
    // message (a tag that cannot go into an address). Every text and control shows whole,
    // and none overlaps another: the view scrolls rather than squeezing them.
    // "mode|marks and notes"
    void setupMarksAndFits_data() {
        table({"tools missing|○ 37 MB|○ 38 MB|○ 28 MB", "deno missing|✓|○ 38 MB|✓",
               "system ffmpeg|○ 37 MB|○ 38 MB|✓ Using system ffmpeg",
               "offline|○ 37 MB|○ 38 MB|○ 28 MB", "long|○ 37 MB|○ 38 MB|○ 28 MB"});
    }

    void setupMarksAndFits() {
        QFETCH(double, points);
        QFETCH(QString, row);
        const QString mode = row.section(u'|', 0, 0);
        if (mode == u"deno missing"_qs)
            QVERIFY(installFakeTools({u"yt-dlp"_qs, u"ffmpeg"_qs}));
        ToolSources sources = mode == u"long"_qs ? localSources(server()) : localSources();
        if (mode == u"system ffmpeg"_qs) {
            sources.systemFFmpeg = {QStringLiteral(FAKE_YTDLP)};
            sources.platform = Platform::forKind(Platform::Kind::linuxX86_64);
        }
        setupView(sources, points).resize(560, 440);
        m_server->route(u"/repos/yt-dlp/yt-dlp/releases/latest"_qs,
                        answer("{\"tag_name\": \"a/b\"}"));
        m_tools->check();
        if (mode == u"offline"_qs || mode == u"long"_qs) {
            m_tools->install(false);
            QTRY_VERIFY(std::holds_alternative<ToolManager::Failed>(m_tools->phase()));
            QCOMPARE(the(u"failureHint"_qs)->isVisible(), mode == u"offline"_qs);
        }
        QStringList shown;
        for (const QString &tool : {u"yt-dlp"_qs, u"deno"_qs, u"ffmpeg"_qs}) {
            const auto *note = the<QLabel>(tool + u"Note"_qs);
            const bool noted = the<QStackedWidget>(tool + u"Trailing"_qs)->currentWidget() == note;
            const bool present =
                the<SymbolView>(tool + u"Mark"_qs)->symbol() == Symbol::checkmarkCircleFill;
            shown.append(QString(present ? u'✓' : u'○') +
                         (noted ? u' ' + note->text() : QString()));
        }
        QCOMPARE(shown.join(u'|'), row.section(u'|', 1));
        const QWidget *screen = the<QScrollArea>(u"setupScroll"_qs)->widget();
        QTRY_VERIFY2(layoutFault(screen, 12).isEmpty(), qPrintable(layoutFault(screen, 12)));
    }

    // Without a link the button stays off and Return does nothing. Typed with Shift+Return
    // between lines, or dropped (on a line of their own, files left out), the button counts the
    // distinct links; Ctrl+Return or a click queues one job per link and readies the field for
    // the next links. A drop goes to the innermost widget under the point that accepts it,
    // which is the view even over the field.
    void mainStartQueuesOneJobPerLink() {
        mainView();
        auto *download = the<QPushButton>(u"downloadButton"_qs);
        QTest::keyClicks(field(), u"just some words"_qs);
        QTest::keyClick(field(), Qt::Key_Return);
        QVERIFY(!download->isEnabled() && m_queue->jobs().isEmpty());
        field()->clear();
        const QString q = u"https://example.com/quick"_qs, h = u"https://example.com/hang"_qs,
                      c = u"https://example.com/c"_qs;
        QTest::keyClicks(field(), q);
        QTest::keyClick(field(), Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(field(), h);
        const QPoint at = field()->mapTo(m_view.get(), field()->rect().center());
        QWidget *target = m_view->childAt(at);
        while (target && !target->acceptDrops())
            target = target->parentWidget();
        QCOMPARE(target, m_view.get());
        QMimeData data;
        data.setUrls({QUrl(c), QUrl(u"file:///tmp/movie.mp4"_qs)});
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, {});
        QVERIFY(QApplication::sendEvent(target, &enter) && enter.isAccepted() &&
                QApplication::sendEvent(target, &dropped) && dropped.isAccepted());
        QCOMPARE(field()->text() + u' ' + download->text(),
                 q + u'\n' + h + u'\n' + c + u" Download 3"_qs);
        QTest::keyClick(field(), Qt::Key_Return, Qt::ControlModifier);
        field()->setText(q + u' ' + q);
        QTest::mouseClick(download, Qt::LeftButton);
        QStringList links;
        for (const DownloadJob *job : m_queue->jobs())
            links.append(job->request().url.toString());
        QCOMPARE(links, (QStringList{q, q, h, c}));
        QVERIFY(field()->text().isEmpty() && !download->isEnabled() &&
                download->text() == u"Download"_qs && QApplication::focusWidget() == field());
    }

    // Nothing stored, or a stored choice that does not read as its kind, gives the defaults:
    // the best video, no playlists, and a Tovik folder in Movies that is not made yet. Nothing
    // is written while nothing changes; a cancelled choice keeps the folder; the chooser starts
    // in the nearest folder that exists. Choices made with keys and clicks hold in the next
    // view, and Open makes the folder. "stored setting|folder chosen|where the chooser starts"
    void mainDefaultsAndChoices_data() {
        table({"|Made|Made", "format=video4k|Made/Not/Yet|Made", "includePlaylist=maybe|Gone/Away|",
               "outputDirectory=Videos/Tovik|Made|Made"},
              {0});
    }

    void mainDefaultsAndChoices() {
        QFETCH(QString, row);
        const QStringList parts = row.split(u'|');
        const QString home = QDir::homePath(), stored = parts.at(0);
        QSettings settings(u"Tovik"_qs, u"Tovik"_qs);
        if (!stored.isEmpty())
            settings.setValue(stored.section(u'=', 0, 0), stored.section(u'=', 1));
        const QStringList keys = settings.allKeys();
        MainView &view = mainView();
        auto *formats = the<QComboBox>(u"formatPicker"_qs);
        auto *playlist = the<QCheckBox>(u"playlistCheck"_qs);
        QVERIFY(formats->currentText() == u"Video — up to 1080p"_qs && !playlist->isChecked());
        QVERIFY(!QFileInfo::exists(Preferences::defaultOutputPath()));
        QVERIFY(QDir(home).mkpath(u"Made"_qs));
        click(u"changeFolderButton"_qs);
        QVERIFY(QFileInfo(m_desktop.folderStart).isDir() &&
                Preferences::defaultOutputPath().startsWith(m_desktop.folderStart));
        QCOMPARE(settings.allKeys(), keys);

        m_desktop.nextFolder = QDir(home).filePath(parts.at(1));
        view.chooseFolder();
        m_desktop.nextFolder.reset();
        QCOMPARE(the<ElidedLabel>(u"folderPath"_qs)->text(), u"~/"_qs + parts.at(1));
        // Home is abbreviated only as a whole folder.
        QCOMPARE(MainView::displayPath(home + u"2/M/"_qs), home + u"2/M"_qs);
        click(u"changeFolderButton"_qs);
        QCOMPARE(m_desktop.folderStart, QDir::cleanPath(QDir(home).filePath(parts.at(2))));
        formats->setFocus();
        QTest::keyClick(formats, Qt::Key_End);
        QTest::mouseClick(playlist, Qt::LeftButton, {}, QPoint(6, playlist->height() / 2));
        click(u"openFolderButton"_qs);
        const QUrl chosen = QUrl::fromLocalFile(QDir(home).filePath(parts.at(1)) + u'/');
        QVERIFY(QFileInfo(chosen.toLocalFile()).isDir());
        QCOMPARE(m_desktop.opened, QList<QUrl>{chosen});
        MainView &again = mainView();
        field()->setText(u"https://example.com/quick"_qs);
        again.start();
        QCOMPARE(
            m_queue->jobs().front()->request(),
            (DownloadRequest{Scenarios::link(u"quick"_qs), OutputFormat::audio, true, chosen}));
    }

    void mainFooterAndEmptyState_data() { table(); }

    // The footer shows yt-dlp's version once the tools are checked; its texts show whole or
    // cut with an ellipsis, whole in their tooltip. The link field grows to four lines, each
    // shown without scrolling. "Clear Finished" shows while there are ended jobs, the empty
    // state while there are none.
    void mainFooterAndEmptyState() {
        QFETCH(double, points);
        mainView(points).resize(560, 440);
        auto *clear = the(u"clearFinishedButton"_qs);
        auto *version = the<QLabel>(u"ytdlpVersion"_qs);
        m_tools->check();
        QTRY_COMPARE(version->isVisible() ? version->text() : QString(), u"yt-dlp 2024.01.01"_qs);
        int last = 0;
        for (const QString &text : {u"a"_qs, u"a\nb"_qs, u"a\nb\nc\nd"_qs}) {
            field()->setText(text);
            QTRY_VERIFY(field()->height() > last &&
                        field()->height() >= field()->sizeHint().height() &&
                        !field()->verticalScrollBar()->isVisible());
            last = field()->height();
        }
        field()->setText(u"a\nb\nc\nd\ne\nf\ng"_qs);
        QTest::qWait(20);
        QVERIFY(field()->height() == last && field()->verticalScrollBar()->isVisible());
        field()->setText(u"https://example.com/hang https://example.com/quick"_qs);
        click(u"downloadButton"_qs);
        QCOMPARE(the<QStackedWidget>(u"jobsOrEmpty"_qs)->currentWidget()->objectName(),
                 u"jobList"_qs);
        QTRY_VERIFY(clear->isVisible());

        auto *note = the<ElidedLabel>(u"legalNote"_qs);
        QVERIFY2(layoutFault(note->parentWidget(), 4).isEmpty(),
                 qPrintable(layoutFault(note->parentWidget(), 4)));

        click(u"clearFinishedButton"_qs);
        QCOMPARE(m_queue->jobs().size(), 1);
        QTRY_VERIFY(!clear->isVisible());
        settle(*m_tools);
    }

    // The button on the row under the pointer is named by its tooltip and acts on that row's
    // job: it cancels a running job, shows the files of a batch that partly failed and retries
    // a failed one; a finished job has none. Keys act on the current row, shown selected, and a
    // row's menu offers what its job allows.
    void listButtonKeysAndMenu() {
        JobListView &view = list();
        IconButton *button = view.actionButton();
        const auto hover = [&](const QModelIndex &index) {
            QTest::mouseMove(view.viewport(), view.visualRect(index).center());
            QTRY_VERIFY(button->isVisible() || !JobRow::action(*m_model->job(index)));
        };
        const QList<DownloadJob *> jobs =
            add({u"downloading"_qs, u"partly"_qs, u"failsSoon"_qs, u"quick"_qs});
        QTRY_VERIFY(!jobs.at(1)->isActive() && holds<DownloadJob::Failed>(jobs.at(2)) &&
                    holds<DownloadJob::Finished>(jobs.at(3)));
        // Assistive technology hears the progress while there is a bar.
        QTRY_COMPARE(indexOf(jobs.at(0)).data(Qt::AccessibleDescriptionRole).toString(),
                     u"36 % done · 2 of 5 · Video — up to 720p · 1.5 MB/s · 1:30 left"_qs);
        const QStringList tips{u"Cancel"_qs, u"Show in Folder"_qs, u"Retry"_qs, u"-"_qs};
        for (qsizetype i = 0; i < jobs.size(); ++i) {
            hover(indexOf(jobs.at(i)));
            QTRY_COMPARE(button->isVisible() ? button->toolTip() : u"-"_qs, tips.at(i));
            QVERIFY(button->text().isEmpty() && button->accessibleName() == button->toolTip());
        }
        hover(indexOf(jobs.at(1)));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(m_desktop.revealed, QList<QList<QUrl>>{jobs.at(1)->files()});
        // Delete removes an ended job, not a running one; Return leaves a running job alone and
        // retries a failed one; the menu key opens the current row's menu, which for a running
        // job offers its link only.
        view.setCurrentIndex(indexOf(jobs.at(3)));
        QTest::keyClick(&view, Qt::Key_Delete);
        const QModelIndex running = indexOf(jobs.at(0));
        view.setCurrentIndex(running);
        for (const Qt::Key key : {Qt::Key_Delete, Qt::Key_Return, Qt::Key_Menu})
            QTest::keyClick(&view, key);
        QTRY_COMPARE(menu(), QStringList{u"Copy Link"_qs});
        QApplication::activePopupWidget()->close();
        view.setCurrentIndex(indexOf(jobs.at(2)));
        QTest::keyClick(&view, Qt::Key_Return);
        DownloadJob *retried = m_model->job(m_model->index(2));
        QVERIFY(retried != jobs.at(2));

        // A click in the very turn the job under the pointer fails, before the button has
        // caught up, must not retry a job the button offered to cancel.
        QTRY_VERIFY(retried->title());
        hover(indexOf(retried));
        bool clicked = false;
        connect(retried, &DownloadJob::stateChanged, this, [&] {
            if (!holds<DownloadJob::Failed>(retried) || clicked)
                return;
            clicked = true;
            QCOMPARE(button->toolTip(), u"Cancel"_qs);
            QTest::mouseClick(button, Qt::LeftButton);
        });
        QTRY_VERIFY(clicked);

        const QModelIndex failed = indexOf(retried);
        const QPoint at = view.visualRect(failed).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view.viewport()->mapToGlobal(at));
        QApplication::sendEvent(view.viewport(), &event);
        QTRY_COMPARE(menu(), (QStringList{u"Copy Link"_qs, u"Copy Error"_qs, u"Remove"_qs}));
        // The failure whole, in its tooltip and through "Copy Error".
        const QString raw = failed.data(Qt::ToolTipRole).toString();
        QVERIFY(raw.startsWith(u"Unable to download webpage: HTTP Error 404"_qs) &&
                raw.endsWith(u"issue template."_qs));
        const QList<QAction *> actions = QApplication::activePopupWidget()->actions();
        actions.at(1)->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), raw);
        actions.at(2)->trigger();
        QApplication::activePopupWidget()->close();
        QCOMPARE(m_queue->jobs(), (QList<DownloadJob *>{jobs.at(0), jobs.at(1)}));
        hover(running);
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(holds<DownloadJob::Cancelled>(jobs.at(0)));
        QTRY_COMPARE(button->toolTip(), u"Retry"_qs);
    }

    void listRowsStayInsideThemselves_data() { table(); }

    // No part of a row runs into another part or out of the row, at any font size. A long
    // failure takes two lines, the second cut with "…"; underscores in a title are drawn.
    // Progress of one row is announced for that row only, a few times a second.
    void listRowsStayInsideThemselves() {
        QFETCH(double, points);
        JobListView &view = list(points);
        view.resize(560, 900);
        // Ended jobs first, then two running ones and one waiting behind them.
        const QList<DownloadJob *> ended = add({u"partly"_qs, u"quick"_qs, u"failsLong"_qs});
        QTRY_VERIFY(!m_queue->hasActiveJobs());
        const QList<DownloadJob *> running = add({u"hang"_qs, u"merging"_qs, u"titled"_qs});
        QTRY_VERIFY(holds<DownloadJob::Processing>(running.at(1)) && running.at(2)->fraction() > 0);
        QTest::qWait(2 * JobListModel::refreshInterval);

        const QFontMetrics metrics(view.font());
        const QImage shot = view.viewport()->grab().toImage();
        for (int row = 0; row < m_model->rowCount(); ++row) {
            const QModelIndex index = m_model->index(row);
            const DownloadJob *job = m_model->job(index);
            const QRect rect = view.visualRect(index);
            const JobRowLayout parts(*job, view.font(), rect);
            // The title's ink, underscores included, as drawn centred in its line.
            const int baseline = parts.title.top() + (parts.title.height() - metrics.height()) / 2 +
                                 metrics.ascent();
            const QRect ink =
                metrics.boundingRect(parts.titleText).translated(parts.title.left(), baseline);
            QList<QRect> lines = QList{parts.title, parts.bar} + parts.statusLineRects;
            lines.removeIf([](const QRect &line) { return line.isEmpty(); });
            QVERIFY2(rect.height() == parts.rowHeight && ink.bottom() < lines.at(1).top(),
                     qPrintable(JobRow::statusText(*job)));
            for (const QRect &part : lines + QList<QRect>{ink, parts.icon, parts.action})
                QVERIFY(part.isEmpty() || rect.contains(part));
            for (qsizetype i = 0; i + 1 < lines.size(); ++i)
                QVERIFY(lines.at(i).bottom() < lines.at(i + 1).top());
            QVERIFY(job != ended.at(2) ||
                    (parts.statusLines.size() == 2 && parts.statusLines.at(1).endsWith(u"…"_qs)));
            // Underscores are drawn: the title below its baseline has ink, though none of its
            // letters descends.
            if (JobRow::title(*job).contains(u'_')) {
                const int ground = qGray(view.palette().color(QPalette::Base).rgb());
                int inked = 0;
                for (int y = baseline + 1; y <= ink.bottom(); ++y)
                    for (int x = ink.left(); x <= ink.right(); ++x)
                        inked += qGray(shot.pixel(x, y)) < ground - 60 ? 1 : 0;
                QVERIFY(inked >= 3 * parts.titleText.count(u'_'));
            }
        }
        // Two hundred progress lines a second are announced a few times a second, for the
        // changed row only.
        const QModelIndex streaming = indexOf(running.at(2));
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        QTest::qWait(500);
        QVERIFY2(changed.size() >= 2 && changed.size() <= 500 / JobListModel::refreshInterval + 1,
                 qPrintable(QString::number(changed.size())));
        for (const QList<QVariant> &signal : std::as_const(changed))
            QVERIFY(signal.at(0).toModelIndex() == streaming &&
                    signal.at(1).toModelIndex() == streaming);
    }

    // When the list scrolls under a resting pointer, the row that comes under it carries the
    // button, and a click acts on that row's job.
    void listButtonFollowsTheScroll() {
        JobListView &view = list();
        const auto action = [&](const QModelIndex &index) {
            return JobRowLayout(*m_model->job(index), view.font(), view.visualRect(index)).action;
        };
        add(QStringList(10, u"failing"_qs));
        QTRY_VERIFY(!m_queue->hasActiveJobs());
        view.resize(560, 260);
        QTest::qWait(2 * JobListModel::refreshInterval);
        const QPoint pointer = action(m_model->index(0)).center();
        QTest::mouseMove(view.viewport(), pointer);
        QTRY_COMPARE(view.actionButton()->geometry(), action(m_model->index(0)));
        QWheelEvent wheel(pointer, view.viewport()->mapToGlobal(pointer), {}, {0, -120},
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &wheel);
        QModelIndex under;
        QTRY_VERIFY((under = view.indexAt(pointer)).row() > 0 && action(under).contains(pointer) &&
                    view.actionButton()->geometry() == action(under));
        const DownloadJob *shown = m_model->job(under);
        QTest::mouseClick(view.actionButton(), Qt::LeftButton);
        QVERIFY(!m_queue->jobs().contains(shown));
    }

    // The window appears before the tools check builds its view, and the check runs even where
    // the window never paints. The view follows the phase, the menu offers what the phase
    // allows, and links from outside wait for the tools.
    void windowFollowsThePhase() {
        {
            RootView root(*m_tools, *m_queue, m_answers);
            root.setUpdatesEnabled(false);
            root.show();
            QTRY_VERIFY(qobject_cast<SetupView *>(root.content()));
        }
        Preferences preferences;
        preferences.setFormat(OutputFormat::audio);
        preferences.setOutputPath(m_output.path());
        m_app = std::make_unique<TovikApp>(localSources(server()), m_answers);
        QVERIFY(std::holds_alternative<ToolManager::Checking>(m_app->tools().phase()) &&
                !content());
        MainWindow &window = m_app->window();
        QCOMPARE(window.rootView()->findChildren<QWidget *>().size(), 1);
        window.show();
        QTRY_VERIFY(qobject_cast<SetupView *>(content()));
        m_app->open({Scenarios::link(u"hang"_qs).toString(), u"no link here"_qs});
        QVERIFY(m_app->queue().jobs().isEmpty());
        QCOMPARE(offered(), u"0 1"_qs);

        needTools();
        m_app->tools().check();
        QTRY_VERIFY(qobject_cast<MainView *>(content()) && content()->isVisible());
        settle(m_app->tools());
        // The link that came early is queued now, those that arrive in the main view at once;
        // the same link again is a new job. Neither update nor reinstall while jobs are active.
        m_app->open({u"example.com/quick, https://example.com/hang"_qs});
        QList<DownloadRequest> queued;
        for (const DownloadJob *job : m_app->queue().jobs())
            queued.append(job->request());
        const OutputFormat a = OutputFormat::audio;
        QCOMPARE(queued,
                 (QList{request(u"quick"_qs, a), request(u"hang"_qs, a), request(u"hang"_qs, a)}));
        QCOMPARE(offered(), u"0 0"_qs);
        // Icon-only controls are named by their tooltips.
        for (const QAbstractButton *button : window.findChildren<QAbstractButton *>())
            QVERIFY(
                !button->isVisible() || !button->text().isEmpty() ||
                (!button->toolTip().isEmpty() && button->accessibleName() == button->toolTip()));
        for (DownloadJob *job : m_app->queue().jobs())
            m_app->queue().cancel(job);
        QTRY_COMPARE(offered(), u"1 1"_qs);
        // Raising (a second launch) restores a minimised window.
        window.showMinimized();
        QTRY_VERIFY(window.isMinimized());
        m_app->raise();
        QTRY_VERIFY(!window.isMinimized() && window.isVisible());
        // Reinstalling from the main view switches to the setup screen; nothing is served, so
        // the run fails, and the setup screen offers the tools still installed.
        window.reinstallAction()->trigger();
        QVERIFY(qobject_cast<SetupView *>(content()));
        QTRY_VERIFY(std::holds_alternative<ToolManager::Failed>(m_app->tools().phase()));
        click(u"useInstalledButton"_qs);
        QTRY_VERIFY(qobject_cast<MainView *>(content()));
    }

    // Through the menu's Quit, closing the window or a quit from elsewhere (a signal at
    // logout), with downloads running, and the answer: only the last goes without asking. The
    // window is left somewhere first; after a quit the next launch finds it there, or at its
    // default size where the place fits no screen whole or is unreadable.
    // "how|running|answer|where the window is left"
    void windowQuitsAndComesBack_data() {
        table({"Quit|0||kept", "Quit|2||kept", "Quit|1|Quit|maximised",
               "close|0||partly off the screen", "close|2||kept", "close|1|Quit|kept",
               "signal|2||unreadable"},
              {0});
    }

    void windowQuitsAndComesBack() {
        QFETCH(QString, row);
        const QStringList c = row.split(u'|');
        const QString how = c.at(0), left = c.at(3);
        const int running = c.at(1).toInt();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect place =
            QRect(screen.topLeft() + QPoint(30, 20), QSize(640, 500))
                .translated(left.startsWith(u"partly"_qs) ? screen.width() - 100 : 0, 0);
        if (left == u"unreadable"_qs)
            QSettings(u"Tovik"_qs, u"Tovik"_qs)
                .setValue(u"windowGeometry"_qs, QByteArray("not a geometry"));
        needTools();
        launch();
        settle(m_app->tools());
        MainWindow &window = m_app->window();
        window.setGeometry(place);
        if (left == u"maximised"_qs)
            window.showMaximized();
        m_desktop.quitAnswer = !c.at(2).isEmpty();
        // Running, not only queued: each has told its title.
        for (int i = 0; i < running; ++i) {
            m_app->queue().add({request(u"downloading"_qs)}, m_app->tools().paths());
            QTRY_VERIFY(m_app->queue().jobs().front()->title());
        }
        // One more waits behind them; quitting leaves it alone rather than starting it.
        if (how == u"signal"_qs)
            m_app->queue().add({request(u"hang"_qs)}, m_app->tools().paths());
        const DownloadJob *waiting = how == u"signal"_qs ? m_app->queue().jobs().front() : nullptr;
        QAction *quit = window.menuBar()->actions().front()->menu()->actions().last();
        QTimer::singleShot(0, &window, [&] {
            how == u"Quit"_qs    ? quit->trigger()
            : how == u"close"_qs ? (void)window.close()
                                 : qApp->quit();
        });
        // Refused, the application goes on; the timer then ends this wait. Its end is a quit
        // too, which stops the downloads.
        QTimer::singleShot(1000, &window, [] { QCoreApplication::exit(7); });
        const int result = QApplication::exec();
        const bool asked = running > 0 && how != u"signal"_qs,
                   quits = !asked || m_desktop.quitAnswer;
        QCOMPARE(result == 0, quits);
        QVERIFY(how == u"signal"_qs || window.isVisible() != quits);
        QCOMPARE(m_desktop.quitQuestions, asked ? QList{running} : QList<int>());
        for (const DownloadJob *job : m_app->queue().jobs())
            QTRY_VERIFY(job == waiting ? holds<DownloadJob::Queued>(job)
                                       : holds<DownloadJob::Cancelled>(job));
        if (!quits)
            return;
        m_app.reset();
        removeTools();
        launch();
        QCOMPARE(m_app->window().isMaximized(), left == u"maximised"_qs);
        if (screen.contains(place))
            QCOMPARE(m_app->window().normalGeometry(), place);
        else
            QCOMPARE(m_app->window().rootView()->size(), QSize(720, 560));
    }
};

TOVIK_GUI_TEST_MAIN(TestWindow)
#include "tst_window.moc"
