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

using namespace GuiTest;
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

template <typename T> bool isPhase(const ToolManager &tools) {
    return std::holds_alternative<T>(tools.phase());
}

// The open context menu's items; with an index, triggers that item, then closes the menu.
QStringList menu(qsizetype trigger = -2) {
    auto *open = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    QStringList texts;
    for (const QAction *action : open ? open->actions() : QList<QAction *>())
        texts.append(action->text());
    if (open && trigger >= 0)
        open->actions().at(trigger)->trigger();
    if (open && trigger >= -1)
        open->close();
    return texts;
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

    template <typename V> V &show(std::unique_ptr<V> view, QSize size, bool active = false) {
        V &shown = *view;
        m_view = std::move(view);
        m_view->resize(size);
        m_view->show();
        if (active)
            m_view->activateWindow();
        if (!QTest::qWaitForWindowExposed(m_view.get()) ||
            (active && !QTest::qWaitForWindowActive(m_view.get())))
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

    SetupView &setupView(ToolSources sources = localSources(), bool active = false) {
        f.start(std::move(sources));
        return show(std::make_unique<SetupView>(*f.tools), {720, 540}, active);
    }
    QWidget *trailing(const QString &tool) {
        return the<QStackedWidget>(tool + u"Trailing"_qs)->currentWidget();
    }

    MainView &mainView(bool active = false) {
        needTools();
        m_view.reset();
        return show(std::make_unique<MainView>(*f.tools, *f.queue, f.answers), {720, 520}, active);
    }
    LinkField *field() { return the<LinkField>(u"linkField"_qs); }
    ProminentButton *download() { return the<ProminentButton>(u"downloadButton"_qs); }
    void click(const QString &button) {
        QTest::mouseClick(the<QPushButton>(button), Qt::LeftButton);
    }
    QString folderShown() { return the<ElidedLabel>(u"folderPath"_qs)->text(); }
    QString requests(const DownloadQueue &queue) {
        QStringList shown;
        for (const DownloadJob *job : queue.jobs()) {
            const DownloadRequest &r = job->request();
            shown.append(u"%1 %2 %3 %4"_qs.arg(r.url.toString(), rawValue(r.format),
                                               r.includePlaylist ? u"list"_qs : u"one"_qs,
                                               r.outputDirectory.toString()));
        }
        return shown.join(u", "_qs);
    }

    JobListView &list(bool active = false) {
        needTools();
        m_model = std::make_unique<JobListModel>(*f.queue);
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        return show(std::make_unique<JobListView>(*m_model, *f.tools, *f.queue, f.answers),
                    {640, 600}, active);
    }
    JobListView &listView() { return static_cast<JobListView &>(*m_view); }
    QModelIndex indexOf(const DownloadJob *job) const {
        for (int row = 0; row < m_model->rowCount(); ++row)
            if (m_model->job(m_model->index(row)) == job)
                return m_model->index(row);
        return {};
    }
    JobRowLayout layout(const QModelIndex &index) {
        return {*m_model->job(index), m_view->font(), listView().visualRect(index)};
    }
    void hover(const QModelIndex &index) {
        QTest::mouseMove(listView().viewport(), listView().visualRect(index).center());
        QTRY_VERIFY(listView().actionButton()->isVisible() ||
                    !JobRow::action(*m_model->job(index)));
    }
    void launch(bool ready = false) {
        if (ready)
            needTools();
        m_app = std::make_unique<TovikApp>(localSources(server()), f.desktop.desktop());
        m_app->window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_app->window()));
        if (ready)
            settle();
    }
    // "update reinstall" as far as the menu offers them.
    QString offered() const {
        const MainWindow &w = m_app->window();
        return QString(w.updateAction()->isEnabled() ? u"update"_qs : u"-"_qs) + u' ' +
               (w.reinstallAction()->isEnabled() ? u"reinstall"_qs : u"-"_qs);
    }
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

    // Layouts are checked at several font sizes: rows that overlapped at one went unnoticed.
    static void fontSizes() {
        QTest::addColumn<double>("points");
        for (const double points : {9.0, 12.0, 14.0})
            QTest::addRow("%g pt", points) << points;
    }

private Q_SLOTS:
    void initTestCase() {
        const QByteArray scenarios[] = {
            "hang|hang",
            "quick|exit 0",
            "first|pids first.pids\nhang",
            "second|pids second.pids\nhang",
            "downloading|out TKT|v|2|5|Big Buck Bunny\nout "
            "TKP|v|downloading|400|1000|NA|1500000|90\nhang",
            "streaming|out TKT|v|NA|NA|Stream\nrate 200 30\nhang",
            "merging|out TKT|v|NA|NA|Sintel\nout TKP|v|downloading|1000|1000|NA|NA|NA\nout "
            "TKP|v|finished|1000|1000|NA|NA|NA\nout TKP|v|finished|100|100|NA|NA|NA\nhang",
            "song|out TKT|v|NA|NA|Song\nfile Song.m4a\nexit 0",
            "partly|out TKT|v|1|2|One\nfile List/One.mp4\n"
            "err ERROR: [generic] two: Video unavailable\nexit 1",
            "playlist|file L/a.mp4\nfile L/b.mp4\nfile L/c.mp4\nfile L/d.mp4",
            "failing|err ERROR: [generic] x: Video unavailable\nexit 1",
            "titled|out TKT|v|1|9|" + QByteArray("Clean_title_with_underscores_").repeated(6) +
                "\nout TKP|v|downloading|10|1000|NA|2000|5000\nhang",
            "failsSoon|out TKT|v|NA|NA|Soon\nsleep 400\nerr ERROR: Video unavailable\nexit 1",
            "failsLongSoon|sleep 400\nerr ERROR: " +
                QByteArray("this video is unavailable because ").repeated(8) + "\nexit 1",
            "raw404|err ERROR: [generic] x: Unable to download webpage: HTTP Error 404: Not "
            "Found; please report this issue on  https://github.com/yt-dlp/yt-dlp/"
            "issues?q= , filling out the appropriate issue template.\nexit 1",
            "long|err ERROR: " + QByteArray("this video is unavailable because ").repeated(20) +
                "\nexit 1"};
        for (const QByteArray &scenario : scenarios) {
            const qsizetype bar = scenario.indexOf('|');
            QVERIFY(f.scenarios.write(QString::fromLatin1(scenario.left(bar)),
                                      scenario.mid(bar + 1) + '\n'));
        }
    }

    void init() {
        QSettings(u"Tovik"_qs, u"Tovik"_qs).clear();
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

    // A release whose yt-dlp download takes a while and whose checksum never matches: the
    // screen offers the installation, shows its progress, then the failure; a failed
    // reinstallation leads back to the tools still installed.
    void setupInstallsThenShowsTheFailure() {
        SetupView &view = setupView(localSources(server()), true);
        QVERIFY(isPhase<ToolManager::Checking>(*f.tools));
        auto *status = the<QStackedWidget>(u"setupStatus"_qs);
        QVERIFY(status->currentWidget()->findChild<Spinner *>()->isVisible());
        m_server->route(u"/repos/yt-dlp/yt-dlp/releases/latest"_qs,
                        answer("{\"tag_name\": \"2025\"}"));
        const QByteArray file = Platform::current().ytdlpFile.toUtf8();
        const QString release = u"/yt-dlp/yt-dlp/releases/download/2025/"_qs;
        m_server->route(release + u"SHA2-256SUMS"_qs,
                        answer(QByteArray(64, 'a') + "  " + file + '\n'));
        m_server->route(release + QString::fromUtf8(file),
                        answer(QByteArray(200'000, 'x'), 8'000, std::chrono::milliseconds(20)));
        f.tools->check();
        auto *install = the<QPushButton>(u"installButton"_qs);
        QCOMPARE(status->currentWidget(), install->parentWidget());
        QCOMPARE(install->text(), u"Download and Install"_qs);
        // Tools are kept in the application-data folder, named as it is on this system.
        const QString explanation = the<QLabel>(u"explanation"_qs)->text().remove(u'\u2060');
        QVERIFY2(explanation.contains(u"stored in ~/.local/share/Tovik."_qs),
                 qPrintable(explanation));
        auto *headline = the<QLabel>(u"headline"_qs);
        const QRect headlineBefore = headline->geometry();
        // Focus given to the view lands on its button: Space installs.
        view.setFocus();
        QCOMPARE(QApplication::focusWidget(), install);
        QTest::keyClick(install, Qt::Key_Space);
        QVERIFY(isPhase<ToolManager::Installing>(*f.tools));
        auto *installing = the<QLabel>(u"installingStatus"_qs);
        QTRY_COMPARE(installing->text(), u"Installing yt-dlp…"_qs);
        QVERIFY(installing->isVisible());
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
        QVERIFY(!message.isEmpty() && the<QLabel>(u"failureMessage"_qs)->isVisible());
        QCOMPARE(the<QLabel>(u"failureMessage"_qs)->text(), message);
        QCOMPARE(trailing(u"yt-dlp"_qs), the<QLabel>(u"yt-dlpNote"_qs));
        // A hint under the message; no way back while tools are missing.
        QVERIFY(the<QLabel>(u"failureHint"_qs)->isVisible());
        QVERIFY(
            the<QLabel>(u"failureHint"_qs)->text().startsWith(u"What arrived did not match"_qs));
        QVERIFY(!the<QPushButton>(u"useInstalledButton"_qs)->isVisible() &&
                the<QPushButton>(u"tryAgainButton"_qs)->isVisible());
        click(u"tryAgainButton"_qs);
        QVERIFY(isPhase<ToolManager::Installing>(*f.tools) && installing->isVisible());
        QTRY_VERIFY(isPhase<ToolManager::Failed>(*f.tools));

        QVERIFY(installFakeTools());
        f.tools->install(true);
        QTRY_VERIFY(isPhase<ToolManager::Failed>(*f.tools));
        QCOMPARE(QApplication::focusWidget(), the<QPushButton>(u"tryAgainButton"_qs));
        click(u"useInstalledButton"_qs);
        QTRY_VERIFY(isPhase<ToolManager::Ready>(*f.tools));
        // Let the version probe and update of the ready phase end before the manager goes.
        QTRY_VERIFY(f.tools->updateMessage() && !f.tools->isUpdating());
    }

    // Each tool as "✓" or "○", then its note where one shows: with tools missing, deno alone
    // missing, a system ffmpeg on Linux or macOS, after a failure offline (with a hint) and
    // one with a long message (a tag that cannot go into an address). Every text and control
    // shows whole, and none overlaps another: the view scrolls rather than squeezing them. A
    // long failure wraps, centred, onto several lines.
    void setupMarksAndFits_data() {
        QTest::addColumn<double>("points");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("shown");
        const QString missing = u"○ 37 MB|○ 38 MB|○ 28 MB"_qs;
        const QStringList rows{u"tools missing:"_qs + missing,
                               u"deno missing:✓|○ 38 MB|✓"_qs,
                               u"linux:○ 37 MB|○ 38 MB|✓ Using system ffmpeg"_qs,
                               u"macOS:○ 37 MB|○ 38 MB|✓ Using Homebrew"_qs,
                               u"offline:"_qs + missing,
                               u"long:"_qs + missing};
        for (const double points : {9.0, 12.0, 14.0})
            for (const QString &row : rows)
                QTest::addRow("%g pt, %s", points, qPrintable(row.section(u':', 0, 0)))
                    << points << row.section(u':', 0, 0) << row.section(u':', 1);
    }

    void setupMarksAndFits() {
        QFETCH(double, points);
        QFETCH(QString, mode);
        if (mode == u"deno missing"_qs)
            QVERIFY(installFakeTools({u"yt-dlp"_qs, u"ffmpeg"_qs}));
        const QTemporaryDir system;
        ToolSources sources = mode == u"long"_qs ? localSources(server()) : localSources();
        if (mode == u"linux"_qs || mode == u"macOS"_qs) {
            sources.systemFFmpeg = {system.filePath(u"ffmpeg"_qs)};
            QVERIFY(writeExecutable(sources.systemFFmpeg.front(), "#!/bin/sh\nexit 0\n"));
            sources.platform = Platform::forKind(mode == u"linux"_qs ? Platform::Kind::linuxX86_64
                                                                     : Platform::Kind::macOSArm64);
        }
        withFontSize(points, [&] { setupView(sources); });
        if (m_server)
            m_server->route(u"/repos/yt-dlp/yt-dlp/releases/latest"_qs,
                            answer("{\"tag_name\": \"a/b\"}"));
        m_view->resize(560, 440);
        f.tools->check();
        if (mode == u"offline"_qs || mode == u"long"_qs) {
            f.tools->install(false);
            QTRY_VERIFY(isPhase<ToolManager::Failed>(*f.tools));
            QCOMPARE(the<QLabel>(u"failureHint"_qs)->isVisible(), mode == u"offline"_qs);
        }
        if (mode == u"long"_qs) {
            auto *message = the<QLabel>(u"failureMessage"_qs);
            QVERIFY(message->wordWrap() && (message->alignment() & Qt::AlignHCenter));
            QVERIFY2(message->width() <= 440 &&
                         message->height() >= 2 * message->fontMetrics().lineSpacing(),
                     qPrintable(message->text()));
        }
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
        QTEST(shown.join(u'|'), "shown");
        QTest::qWait(50);
        const QString fault = layoutFault(the<QScrollArea>(u"setupScroll"_qs)->widget(), 12);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    // Typed with Shift+Return between lines, then started: the button counts the distinct
    // links, and each start queues one job per link and readies the field for the next links.
    void mainStartQueuesOneJobPerLink_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("how");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("queued");
        const QString q = u"https://example.com/quick"_qs, h = u"https://example.com/hang"_qs;
        QTest::newRow("no link, Return")
            << u"just some words"_qs << 1 << u"Download, off"_qs << QString();
        QTest::newRow("one link twice, button") << q + u'\n' + q << 0 << u"Download, on"_qs << q;
        QTest::newRow("two links, Return")
            << q + u'\n' + u'<' + h + u'>' << 1 << u"Download 2, on"_qs << q + u' ' + h;
        QTest::newRow("two links, Ctrl+Return")
            << q + u", "_qs + h << 2 << u"Download 2, on"_qs << q + u' ' + h;
    }

    void mainStartQueuesOneJobPerLink() {
        QFETCH(QString, text);
        QFETCH(int, how);
        QFETCH(QString, queued);
        mainView(true);
        field()->setFocus();
        for (const QString &line : text.split(u'\n')) {
            if (!field()->text().isEmpty())
                QTest::keyClick(field(), Qt::Key_Return, Qt::ShiftModifier);
            QTest::keyClicks(field(), line);
        }
        QCOMPARE(field()->text(), text);
        QTEST(QString(download()->text() + (download()->isEnabled() ? u", on"_qs : u", off"_qs)),
              "label");
        if (how == 0) {
            download()->setFocus();
            QTest::mouseClick(download(), Qt::LeftButton);
        } else {
            QTest::keyClick(field(), Qt::Key_Return,
                            how == 2 ? Qt::ControlModifier : Qt::NoModifier);
        }
        QStringList links;
        for (const DownloadJob *job : f.queue->jobs())
            links.append(job->request().url.toString());
        QCOMPARE(links.join(u' '), queued);
        QCOMPARE(field()->text(), queued.isEmpty() ? text : QString());
        if (queued.isEmpty())
            return;
        QVERIFY(!download()->isEnabled() && download()->text() == u"Download"_qs);
        QCOMPARE(QApplication::focusWidget(), field());
    }

    // Pasted or dropped links are added to the field, blanks, files and other schemes left out.
    // A drop goes where the window sends it: to the innermost widget under the point that
    // accepts it. "onto|links|field before|field after": onto the paste button the links are
    // the clipboard's text ("-": none), elsewhere they are dropped, separated by spaces.
    void mainPasteAndDrop_data() {
        QTest::addColumn<QString>("row");
        const QString a = u"https://example.com/a"_qs, mixed = a + u" file:///tmp/movie.mp4|"_qs;
        QTest::newRow("paste into an empty field") << u"pasteButton|  "_qs + a + u"\n\n||"_qs + a;
        QTest::newRow("paste into a non-empty field")
            << u"pasteButton|\thttps://example.com/b |"_qs + a + u'|' + a +
                   u"\nhttps://example.com/b"_qs;
        QTest::newRow("paste blanks") << u"pasteButton|   \n |x|x\n"_qs;
        QTest::newRow("no text on the clipboard") << u"pasteButton|-|x|x"_qs;
        QTest::newRow("drop onto the empty list") << u"emptyState|"_qs + mixed + u'|' + a;
        QTest::newRow("drop onto the field") << u"linkField|"_qs + mixed + u"z|z\n"_qs + a;
        QTest::newRow("drop onto the folder row") << u"folderPath|"_qs + mixed + u"x|x\n"_qs + a;
        QTest::newRow("drop without web links")
            << u"emptyState|file:///tmp/movie.mp4 ftp://example.com/f|keep|keep"_qs;
    }

    void mainPasteAndDrop() {
        QFETCH(QString, row);
        const QStringList parts = row.split(u'|');
        const QString before = parts.at(2), after = parts.at(3);
        mainView();
        field()->setText(before);
        if (parts.at(0) == u"pasteButton"_qs) {
            if (parts.at(1) == u"-"_qs)
                QGuiApplication::clipboard()->clear();
            else
                QGuiApplication::clipboard()->setText(parts.at(1));
            click(parts.at(0));
        } else {
            QList<QUrl> urls;
            for (const QString &url : parts.at(1).split(u' '))
                urls.append(QUrl(url));
            const QWidget *over = the(parts.at(0));
            const QPoint at = over->mapTo(m_view.get(), over->rect().center());
            QWidget *target = m_view->childAt(at);
            while (target && !target->acceptDrops())
                target = target->parentWidget();
            QCOMPARE(target, m_view.get());
            QMimeData data;
            data.setUrls(urls);
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
            QApplication::sendEvent(target, &enter);
            QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, {});
            QCOMPARE(enter.isAccepted() && QApplication::sendEvent(target, &dropped) &&
                         dropped.isAccepted(),
                     after != before);
        }
        QCOMPARE(field()->text(), after);
        QVERIFY(f.queue->jobs().isEmpty());
    }

    void mainSettingsSurviveARelaunch() {
        mainView();
        auto *formats = the<QComboBox>(u"formatPicker"_qs);
        formats->setFocus();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(formats, Qt::Key_Down);
        QCOMPARE(formats->currentText(), u"Audio only (M4A)"_qs);
        auto *playlist = the<QCheckBox>(u"playlistCheck"_qs);
        QTest::mouseClick(playlist, Qt::LeftButton, {}, QPoint(6, playlist->height() / 2));
        QVERIFY(playlist->isChecked());
        const QString chosen = QDir::home().filePath(u"Deep/er/Chosen"_qs);
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
        QCOMPARE(folderShown(), u"~/Deep/er/Chosen"_qs);
        field()->setText(u"https://example.com/quick"_qs);
        view.start();
        QCOMPARE(requests(*f.queue), u"https://example.com/quick audio list "_qs +
                                         QUrl::fromLocalFile(chosen + u'/').toString());
        const QSettings stored(u"Tovik"_qs, u"Tovik"_qs);
        QCOMPARE(stored.value(u"format"_qs).toString() +
                     stored.value(u"includePlaylist"_qs).toString() +
                     stored.value(u"outputDirectory"_qs).toString(),
                 u"audiotrue"_qs + chosen);
    }

    // Nothing stored, or a stored choice that does not read as its kind, gives the defaults:
    // the best video, no playlists, and a Tovik folder in Movies that is not made yet. Nothing
    // is written while nothing changes; a cancelled choice keeps the folder; the chooser starts
    // in the nearest folder that exists. "stored setting|folder chosen|where the chooser starts"
    void mainDefaultsAndFolderChooser_data() {
        QTest::addColumn<QString>("row");
        for (const char *row :
             {"|Made|Made", "format=video4k|Made/Not/Yet|Made", "includePlaylist=maybe|Gone/Away|",
              "outputDirectory=Videos/Tovik|Made|Made"})
            QTest::newRow(row) << QString::fromLatin1(row);
    }

    void mainDefaultsAndFolderChooser() {
        QFETCH(QString, row);
        const QStringList parts = row.split(u'|');
        const QString home = QDir::homePath(), stored = parts.at(0);
        if (!stored.isEmpty())
            QSettings(u"Tovik"_qs, u"Tovik"_qs)
                .setValue(stored.section(u'=', 0, 0), stored.section(u'=', 1));
        const QStringList keys = QSettings(u"Tovik"_qs, u"Tovik"_qs).allKeys();
        mainView();
        m_view.reset();
        MainView &view = mainView();
        QCOMPARE(the<QComboBox>(u"formatPicker"_qs)->currentText(), u"Video — up to 1080p"_qs);
        QVERIFY(!the<QCheckBox>(u"playlistCheck"_qs)->isChecked());
        const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        QVERIFY(movies.startsWith(home));
        QCOMPARE(Preferences::defaultOutputPath(), movies + u"/Tovik"_qs);
        QCOMPARE(folderShown(), u"~"_qs + movies.mid(home.size()) + u"/Tovik"_qs);
        QVERIFY(!QFileInfo::exists(Preferences::defaultOutputPath()));
        QVERIFY(QDir(home).mkpath(u"Made"_qs));
        const QString before = folderShown();
        click(u"changeFolderButton"_qs);
        QVERIFY(QFileInfo(f.desktop.folderStart).isDir());
        QVERIFY(Preferences::defaultOutputPath().startsWith(f.desktop.folderStart));
        QCOMPARE(folderShown(), before);
        QCOMPARE(QSettings(u"Tovik"_qs, u"Tovik"_qs).allKeys(), keys);

        f.desktop.nextFolder = QDir(home).filePath(parts.at(1));
        view.chooseFolder();
        f.desktop.nextFolder.reset();
        click(u"changeFolderButton"_qs);
        QCOMPARE(f.desktop.folderRequests, 3);
        QCOMPARE(f.desktop.folderStart, QDir::cleanPath(QDir(home).filePath(parts.at(2))));
        QDir(home).rmpath(u"Made"_qs);
        QCOMPARE((QStringList{MainView::displayPath(home), MainView::displayPath(home + u"/M/"_qs),
                              MainView::displayPath(u"/srv/media"_qs)}),
                 (QStringList{u"~"_qs, u"~/M"_qs, u"/srv/media"_qs}));
    }

    void mainFooterAndEmptyState_data() { fontSizes(); }

    // The footer shows yt-dlp's version and update status once the tools are checked; its
    // texts show whole or cut with an ellipsis, whole in their tooltip. "Clear Finished" shows
    // while there are ended jobs, the empty state while there are none.
    void mainFooterAndEmptyState() {
        QFETCH(double, points);
        MainView *view = nullptr;
        withFontSize(points, [&] { view = &mainView(); });
        m_view->resize(560, 440);
        auto *stack = the<QStackedWidget>(u"jobsOrEmpty"_qs);
        auto *clear = the<QPushButton>(u"clearFinishedButton"_qs);
        auto *version = the<QLabel>(u"ytdlpVersion"_qs);
        auto *message = the<ElidedLabel>(u"updateMessage"_qs);
        QCOMPARE(stack->currentWidget()->objectName(), u"emptyState"_qs);
        QVERIFY(!clear->isVisible() && !version->isVisible() && !message->isVisible());
        f.tools->check();
        QTRY_VERIFY(version->isVisible() && message->isVisible());
        QCOMPARE(version->text(), u"yt-dlp 2024.01.01"_qs);
        QTRY_COMPARE(message->text(), u"yt-dlp is up to date."_qs);
        // The link field grows to four lines; every line shows without scrolling once the
        // field has laid itself out.
        field()->setText(u"a"_qs);
        QTRY_VERIFY(field()->height() >= field()->sizeHint().height());
        const int one = field()->height();
        int last = one;
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
        field()->setText(u"https://example.com/hang https://example.com/quick"_qs);
        view->start();
        QCOMPARE(stack->currentWidget()->objectName(), u"jobList"_qs);
        QTRY_VERIFY(clear->isVisible());

        auto *note = the<ElidedLabel>(u"legalNote"_qs);
        const QString fault = layoutFault(note->parentWidget(), 4);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QVERIFY(note->shownText() != note->text());

        QTest::mouseClick(clear, Qt::LeftButton);
        QCOMPARE(f.queue->jobs().size(), 1);
        QTRY_VERIFY(!clear->isVisible());
        f.queue->cancel(f.queue->jobs().front());
        QTRY_VERIFY(clear->isVisible());
        QTest::mouseClick(clear, Qt::LeftButton);
        QCOMPARE(stack->currentWidget()->objectName(), u"emptyState"_qs);
        QTRY_VERIFY(!clear->isVisible());
        QTRY_VERIFY(f.tools->updateMessage() && !f.tools->isUpdating());
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
        QTest::qWait(2 * JobListModel::refreshInterval);
        const QModelIndex streaming = indexOf(jobs.at(2));
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
        QVERIFY(listView().visualRect(streaming).contains(recorder.painted.boundingRect()));
    }

    // One row per status icon colour and per action of the button: text, icon colour, what
    // assistive technology hears, and the button, which is named by its tooltip and acts.
    void listRowShowsItsStateAndActs_data() {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("status");
        QTest::addColumn<Tint>("tint");
        QTest::addColumn<QString>("button");
        const auto row = [](const char *name, const QString &status, Tint tint,
                            const QString &button) {
            QTest::newRow(name) << QString::fromLatin1(name) << status << tint << button;
        };
        row("queued", u"Waiting…"_qs, Tint::secondary, u"Cancel"_qs);
        row("downloading", u"2 of 5 · Video — up to 720p · 1.5 MB/s · 1:30 left"_qs, Tint::accent,
            u"Cancel"_qs);
        row("partly", u"One.mp4 — One item failed: Video unavailable"_qs, Tint::orange,
            u"Show in Folder"_qs);
        row("quick", u"0 files saved"_qs, Tint::green, {});
        row("failing", u"Video unavailable"_qs, Tint::red, u"Retry"_qs);
    }

    void listRowShowsItsStateAndActs() {
        QFETCH(QString, scenario);
        QFETCH(QString, status);
        QFETCH(Tint, tint);
        QFETCH(QString, button);
        list();
        const bool queued = scenario == u"queued"_qs;
        if (queued)
            f.add({u"hang"_qs, u"hang"_qs});
        DownloadJob *job = f.add({queued ? u"hang"_qs : scenario}).front();
        const QModelIndex index = indexOf(job);
        QTRY_COMPARE(JobRow::statusText(*job), status);
        QCOMPARE(index.data(Qt::DisplayRole).toString(), JobRow::title(*job));
        // Assistive technology hears the status, and the progress while there is a bar.
        const QString description = index.data(Qt::AccessibleDescriptionRole).toString();
        QVERIFY2(description.endsWith(status), qPrintable(description));
        QCOMPARE(description.startsWith(u"%1 % done · "_qs.arg(qRound(job->fraction() * 100))),
                 JobRow::showsProgress(*job));
        // The icon's colour where it stands out most from the background is the role's, a
        // translucent one blended with the background.
        const QColor c = ::tint(tint, m_view->palette()),
                     ground = m_view->palette().color(QPalette::Base);
        const float a = c.alphaF();
        const QColor blended = QColor::fromRgbF(c.redF() * a + ground.redF() * (1 - a),
                                                c.greenF() * a + ground.greenF() * (1 - a),
                                                c.blueF() * a + ground.blueF() * (1 - a));
        const auto distance = [](const QColor &p, const QColor &q) {
            return std::max(
                {qAbs(p.red() - q.red()), qAbs(p.green() - q.green()), qAbs(p.blue() - q.blue())});
        };
        QColor shown;
        QTRY_VERIFY2(
            [&] {
                const QImage icon =
                    listView().viewport()->grab().toImage().copy(layout(index).icon);
                shown = ground;
                for (int y = 0; y < icon.height(); ++y)
                    for (int x = 0; x < icon.width(); ++x)
                        if (distance(icon.pixelColor(x, y), ground) > distance(shown, ground))
                            shown = icon.pixelColor(x, y);
                return distance(shown, blended) <= 12;
            }(),
            qPrintable(shown.name() + u" for "_qs + blended.name()));
        IconButton *action = listView().actionButton();
        hover(index);
        QTRY_COMPARE(action->isVisible(), !button.isEmpty());
        if (button.isEmpty())
            return;
        QTRY_COMPARE(action->toolTip(), button);
        QVERIFY(action->text().isEmpty() && action->accessibleName() == button);
        QCOMPARE(action->symbol(), JobRow::actionSymbol(*JobRow::action(*job)));
        QCOMPARE(action->geometry(), layout(index).action);
        const DownloadRequest request = job->request();
        QTest::mouseClick(action, Qt::LeftButton);
        if (button == u"Show in Folder"_qs) {
            QVERIFY(!job->files().isEmpty());
            QCOMPARE(f.desktop.revealed, QList<QList<QUrl>>{job->files()});
        } else if (button == u"Retry"_qs) {
            QVERIFY(f.queue->jobs().size() == 1 && f.queue->jobs().front() != job);
            QCOMPARE(f.queue->jobs().front()->request(), request);
        } else {
            QTRY_VERIFY(holds<DownloadJob::Cancelled>(job));
            QTRY_COMPARE(action->toolTip(), u"Retry"_qs);
        }
    }

    void listKeyboardAndContextMenu() {
        JobListView &view = list(true);
        const QList<DownloadJob *> jobs = f.add({u"hang"_qs, u"raw404"_qs, u"quick"_qs});
        QTRY_VERIFY(holds<DownloadJob::Failed>(jobs.at(1)) &&
                    holds<DownloadJob::Finished>(jobs.at(2)));
        const auto key = [&view, this](const DownloadJob *job, Qt::Key pressed) {
            view.setCurrentIndex(indexOf(job));
            QTest::keyClick(&view, pressed);
        };
        // Tabbing in shows the row the keys will act on as selected.
        view.setCurrentIndex(indexOf(jobs.at(2)));
        view.clearSelection();
        view.clearFocus();
        view.setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(view.selectionModel()->isSelected(indexOf(jobs.at(2))));
        // Delete does nothing without a current row, with one that is not shown selected, or
        // to an active job; it removes an ended one.
        key(nullptr, Qt::Key_Delete);
        view.selectionModel()->setCurrentIndex(indexOf(jobs.at(2)), QItemSelectionModel::Clear);
        QTest::keyClick(&view, Qt::Key_Delete);
        key(jobs.at(0), Qt::Key_Delete);
        QCOMPARE(m_model->rowCount(), 3);
        key(jobs.at(2), Qt::Key_Delete);
        QCOMPARE(m_model->rowCount(), 2);
        // Return retries a failed job and does nothing to a running one.
        key(jobs.at(0), Qt::Key_Return);
        QCOMPARE(m_model->job(m_model->index(0)), jobs.at(0));
        key(jobs.at(1), Qt::Key_Return);
        DownloadJob *retried = m_model->job(m_model->index(1));
        QVERIFY(retried != jobs.at(1));
        // The menu key opens the current row's menu; a running job's offers its link only.
        const QModelIndex running = indexOf(jobs.at(0));
        key(jobs.at(0), Qt::Key_Menu);
        QTRY_COMPARE(menu(), QStringList{u"Copy Link"_qs});
        QGuiApplication::clipboard()->setText(u"something else"_qs);
        menu(0);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"https://example.com/hang"_qs);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        // Without a mouse over the list, the current row carries the action button.
        QTest::mouseMove(&view, QPoint(-10, -10));
        view.setCurrentIndex(running);
        QTRY_COMPARE(view.actionButton()->geometry(), layout(running).action);

        QTRY_VERIFY(holds<DownloadJob::Failed>(retried));
        const QModelIndex failed = indexOf(retried);
        const QPoint at = view.visualRect(failed).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view.viewport()->mapToGlobal(at));
        QApplication::sendEvent(view.viewport(), &event);
        QTRY_COMPARE(menu(), (QStringList{u"Copy Link"_qs, u"Copy Error"_qs, u"Remove"_qs}));
        // The failure whole, in its tooltip and through "Copy Error".
        const QString raw = u"Unable to download webpage: HTTP Error 404: Not Found; please "
                            "report this issue on  https://github.com/yt-dlp/yt-dlp/issues?q= , "
                            "filling out the appropriate issue template."_qs;
        QCOMPARE(failed.data(Qt::ToolTipRole).toString(), raw);
        QCOMPARE(running.data(Qt::ToolTipRole), QVariant());
        qobject_cast<QMenu *>(QApplication::activePopupWidget())->actions().at(1)->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), raw);
        menu(2);
        QCOMPARE(f.queue->jobs(), QList<DownloadJob *>{jobs.at(0)});
    }

    void listRowsStayInsideThemselves_data() { fontSizes(); }

    // No part of a row runs into another part or out of the row, at any font size. A long
    // failure takes two lines, the second cut with "…".
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
            const JobRowLayout parts(*job, font, rect);
            const QString where = u"row %1 (%2)"_qs.arg(row).arg(JobRow::statusText(*job));
            QVERIFY2(rect.height() == parts.rowHeight, qPrintable(where));
            QVERIFY2(row + 1 == m_model->rowCount() ||
                         rect.bottom() < view.visualRect(m_model->index(row + 1)).top(),
                     qPrintable(where));
            // The title's ink, underscores included, as drawn centred in its line.
            const int baseline = parts.title.top() +
                                 (parts.title.height() - titleMetrics.height()) / 2 +
                                 titleMetrics.ascent();
            const QRect titleInk =
                titleMetrics.boundingRect(parts.titleText).translated(parts.title.left(), baseline);
            QList<QRect> lines{parts.title};
            if (!parts.bar.isEmpty())
                lines.append(parts.bar);
            lines += parts.statusLineRects;
            for (const QRect &part : lines + QList<QRect>{titleInk, parts.icon, parts.action})
                QVERIFY2(part.isEmpty() || rect.contains(part), qPrintable(where));
            for (qsizetype i = 0; i + 1 < lines.size(); ++i)
                QVERIFY2(lines.at(i).bottom() < lines.at(i + 1).top(), qPrintable(where));
            QVERIFY2(titleInk.bottom() < lines.at(1).top(), qPrintable(where));
            if (job->request().url == Scenarios::link(u"long"_qs)) {
                QVERIFY(parts.statusLines.size() == 2 && parts.statusLines.at(1).endsWith(u"…"_qs));
                // Painted into a row laid out for an earlier, shorter state, the row keeps to
                // its rectangle: nothing runs into its neighbours.
                QImage image(560, 200, QImage::Format_ARGB32);
                image.fill(Qt::magenta);
                QStyleOptionViewItem option;
                option.initFrom(&view);
                option.rect = QRect(0, 80, 560, 30);
                QPainter painter(&image);
                view.itemDelegate()->paint(&painter, option, index);
                painter.end();
                for (int y = 0; y < image.height(); ++y)
                    for (int x = 0; x < image.width(); ++x)
                        QVERIFY2(option.rect.contains(x, y) ||
                                     image.pixel(x, y) == QColor(Qt::magenta).rgb(),
                                 qPrintable(u"painted at %1,%2"_qs.arg(x).arg(y)));
            }
            // Underscores are drawn: the title below its baseline has ink, though none of its
            // letters descends.
            if (JobRow::title(*job).contains(u'_')) {
                const QImage image = view.viewport()->grab().toImage();
                const int ground = qGray(view.palette().color(QPalette::Base).rgb());
                int inked = 0;
                for (int y = baseline + 1; y <= titleInk.bottom(); ++y)
                    for (int x = titleInk.left(); x <= titleInk.right(); ++x)
                        inked += qGray(image.pixel(x, y)) < ground - 60 ? 1 : 0;
                QVERIFY2(inked >= 3 * parts.titleText.count(u'_'), qPrintable(where));
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
        const QPoint pointer = layout(first).action.center();
        QTest::mouseMove(view.viewport(), pointer);
        QTRY_COMPARE(button->geometry(), layout(first).action);
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
        QTRY_VERIFY(
            (under = view.indexAt(pointer)).isValid() && (under.row() != first.row()) == scrolled &&
            layout(under).action.contains(pointer) && button->geometry() == layout(under).action);
        const DownloadJob *shown = m_model->job(under);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!f.queue->jobs().contains(shown));
        // A click on a row's painted symbol acts too, even where the button is not.
        const QModelIndex other = m_model->index(under.row() == 2 ? 3 : 2);
        const DownloadJob *painted = m_model->job(other);
        QVERIFY(button->geometry() != layout(other).action);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, layout(other).action.center());
        QVERIFY(!f.queue->jobs().contains(painted));
    }

    // The window appears before the tools check builds its view, and the check runs even where
    // the window never paints. The view follows the phase, the menu offers what the phase
    // allows, and links from outside wait for the tools.
    void windowFollowsThePhase() {
        {
            RootView root(*f.tools, *f.queue, f.answers);
            root.setUpdatesEnabled(false);
            root.show();
            QTRY_VERIFY(qobject_cast<SetupView *>(root.content()));
        }
        Preferences preferences;
        preferences.setFormat(OutputFormat::audio);
        preferences.setIncludePlaylist(true);
        preferences.setOutputPath(f.output.path());
        m_app = std::make_unique<TovikApp>(localSources(server()), f.desktop.desktop());
        QVERIFY(isPhase<ToolManager::Checking>(m_app->tools()));
        QCOMPARE(content(), nullptr);
        MainWindow &window = m_app->window();
        QCOMPARE(window.rootView()->findChildren<QWidget *>().size(), 1);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(isPhase<ToolManager::NeedsInstall>(m_app->tools()));
        QVERIFY(qobject_cast<SetupView *>(content()));
        QCOMPARE(window.windowTitle(), u"Tovik"_qs);
        window.resize(300, 200);
        QTRY_VERIFY(window.rootView()->width() >= 560 && window.rootView()->height() >= 440);
        const QList<QAction *> menus = window.menuBar()->actions();
        QStringList items{menus.front()->text()};
        for (const QAction *action : menus.front()->menu()->actions())
            items.append(action->isSeparator() ? u"—"_qs : action->text());
        QCOMPARE(menus.size(), 1);
        QCOMPARE(items.join(u'|'), u"Tovik|About Tovik|Update yt-dlp|Reinstall Tools…|—|Quit"_qs);
        m_app->open({Scenarios::link(u"hang"_qs).toString(), u"no link here"_qs});
        QVERIFY(m_app->queue().jobs().isEmpty());
        QCOMPARE(offered(), u"- reinstall"_qs);
        m_app->tools().install(false);
        QCOMPARE(offered(), u"- -"_qs);
        QTRY_VERIFY(isPhase<ToolManager::Failed>(m_app->tools()));
        QCOMPARE(offered(), u"- reinstall"_qs);

        QVERIFY(installFakeTools());
        m_app->tools().check();
        QTRY_VERIFY(isPhase<ToolManager::Ready>(m_app->tools()));
        QVERIFY(qobject_cast<MainView *>(content())->isVisible());
        settle();
        // The link that came early is queued now, those that arrive in the main view at once;
        // the same link again is a new job. Neither update nor reinstall while jobs are active.
        m_app->open({u"example.com/quick, https://example.com/hang"_qs});
        const QString to =
            u" audio list "_qs + QUrl::fromLocalFile(f.output.path() + u'/').toString();
        QCOMPARE(requests(m_app->queue()),
                 u"https://example.com/quick%1, https://example.com/hang%1, "
                 "https://example.com/hang%1"_qs.arg(to));
        QCOMPARE(offered(), u"- -"_qs);
        // Icon-only controls, the list's action button among them, are named by their tooltips.
        auto *list = window.findChild<JobListView *>();
        QTRY_VERIFY(list->isVisible());
        QTest::mouseMove(list->viewport(), list->visualRect(list->model()->index(1, 0)).center());
        QTRY_VERIFY(list->actionButton()->isVisible());
        int iconOnly = 0;
        for (const QAbstractButton *button : window.findChildren<QAbstractButton *>())
            if (button->isVisible() && button->text().isEmpty()) {
                ++iconOnly;
                QVERIFY(!button->toolTip().isEmpty());
                QCOMPARE(button->accessibleName(), button->toolTip());
            }
        QVERIFY(iconOnly > 0);
        for (DownloadJob *job : m_app->queue().jobs())
            m_app->queue().cancel(job);
        QTRY_VERIFY(!m_app->queue().hasActiveJobs());
        QCOMPARE(offered(), u"update reinstall"_qs);
        // Update not while it runs.
        const QTemporaryDir scripts;
        QVERIFY(writeExecutable(scripts.filePath(u"update"_qs),
                                "sleep 400\nout yt-dlp is up to date\n"));
        qputenv("FAKE_YTDLP_UPDATE", QFile::encodeName(scripts.filePath(u"update"_qs)));
        window.updateAction()->trigger();
        QVERIFY(m_app->tools().isUpdating());
        QCOMPARE(offered(), u"- reinstall"_qs);
        QTRY_VERIFY(!m_app->tools().isUpdating());
        QCOMPARE(offered(), u"update reinstall"_qs);
        // Raising (a second launch) restores a minimised window.
        window.showMinimized();
        QTRY_VERIFY(window.isMinimized());
        m_app->raise();
        QTRY_VERIFY(!window.isMinimized() && window.isVisible());
        // Reinstalling from the main view switches to the setup screen; nothing is served, so
        // the run fails and the setup screen stays.
        window.reinstallAction()->trigger();
        QVERIFY(isPhase<ToolManager::Installing>(m_app->tools()));
        QVERIFY(qobject_cast<SetupView *>(content()));
        QTRY_VERIFY(isPhase<ToolManager::Failed>(m_app->tools()));
        QVERIFY(qobject_cast<SetupView *>(content())->isVisible());
    }

    // Through the menu's Quit, closing the window or a quit from elsewhere (a signal at
    // logout), with downloads running, and the answer. Only the last goes without asking.
    void windowQuitAsksOnlyWhileDownloadsRun_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("running");
        QTest::addColumn<bool>("answer");
        for (const QString &how : {u"Quit"_qs, u"close"_qs})
            for (const auto &[running, answer] : {std::pair{0, false}, {2, false}, {1, true}})
                QTest::addRow("%s, %d running, %s", qPrintable(how), running,
                              answer ? "Quit" : "Cancel")
                    << how << running << answer;
        QTest::newRow("signal, 2 running") << u"signal"_qs << 2 << false;
    }

    void windowQuitAsksOnlyWhileDownloadsRun() {
        QFETCH(QString, how);
        QFETCH(int, running);
        QFETCH(bool, answer);
        launch(true);
        f.desktop.quitAnswer = answer;
        // Running, not only queued: each has written its process ids.
        for (const QString &name : QStringList{u"first"_qs, u"second"_qs}.mid(0, running)) {
            QFile pids(QDir(f.output.path()).filePath(name + u".pids"_qs));
            pids.remove();
            m_app->queue().add({f.request(name)}, m_app->tools().paths());
            QTRY_VERIFY(pids.exists() && pids.size() > 0);
        }
        // One more waits behind them; quitting leaves it alone rather than starting it.
        DownloadJob *waiting = nullptr;
        if (how == u"signal"_qs) {
            m_app->queue().add({f.request(u"hang"_qs)}, m_app->tools().paths());
            waiting = m_app->queue().jobs().front();
        }
        MainWindow &window = m_app->window();
        QAction *quit = window.menuBar()->actions().front()->menu()->actions().last();
        QTimer::singleShot(0, &window, [&] {
            how == u"Quit"_qs    ? quit->trigger()
            : how == u"close"_qs ? (void)window.close()
                                 : qApp->quit();
        });
        // Refused, the application goes on, and so do the downloads; the timer then ends this
        // wait. Its end is a quit too, which stops them.
        bool activeAfterRefusal = false;
        QTimer::singleShot(1000, &window, [&] {
            activeAfterRefusal = m_app->queue().hasActiveJobs();
            QCoreApplication::exit(7);
        });
        const int result = QApplication::exec();
        const bool asked = running > 0 && how != u"signal"_qs, quits = !asked || answer;
        QCOMPARE(result == 0, quits);
        QVERIFY(how == u"signal"_qs || window.isVisible() != quits);
        QCOMPARE(f.desktop.quitQuestions, asked ? QList{running} : QList<int>());
        QVERIFY(quits || activeAfterRefusal);
        for (const DownloadJob *job : m_app->queue().jobs())
            QTRY_VERIFY(job == waiting ? holds<DownloadJob::Queued>(job)
                                       : holds<DownloadJob::Cancelled>(job));
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
            // Quits through the event loop, as the desktop would.
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            QApplication::exec();
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
