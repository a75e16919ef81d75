#include "DownloadQueue.h"
#include "ElidedLabel.h"
#include "GuiTest.h"
#include "LinkField.h"
#include "MainView.h"
#include "ProminentButton.h"
#include "ToolManager.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>

using namespace GuiTest;

class TestMainView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void downloadLabelCountsDistinctLinks_data();
    void downloadLabelCountsDistinctLinks();
    void typingUpdatesTheLabel();
    void startQueuesOneJobPerLinkAndClearsTheField_data();
    void startQueuesOneJobPerLinkAndClearsTheField();
    void startWithoutLinksKeepsTheText();
    void paste_data();
    void paste();
    void dropAppendsWebLinksOnly_data();
    void dropAppendsWebLinksOnly();
    void dropWithoutWebLinksIsRefused();
    void linkFieldGrowsToFourLines_data();
    void linkFieldGrowsToFourLines();
    void settingsAreWrittenOnlyWhenChanged();
    void settingsSurviveARelaunch();
    void unreadableSettingsReadAsDefaults_data();
    void unreadableSettingsReadAsDefaults();
    void defaultFolderIsTovikInMovies();
    void displayPathWritesHomeAsTilde_data();
    void displayPathWritesHomeAsTilde();
    void cancelledFolderChoiceKeepsTheFolder();
    void folderChooserStartsInTheNearestFolderThatExists_data();
    void folderChooserStartsInTheNearestFolderThatExists();
    void openCreatesAndOpensTheFolder();
    void emptyStateAndClearFinished();
    void footerShowsVersionAndUpdateStatus();
    void footerFitsTheNarrowestWindow_data();
    void footerFitsTheNarrowestWindow();

private:
    MainView &view() { return *m_view; }
    template <typename T> T *child(const QString &name) {
        T *widget = m_view->findChild<T *>(name);
        if (!widget)
            qFatal("no %s", qPrintable(name));
        return widget;
    }
    LinkField *field() { return child<LinkField>(u"linkField"_qs); }
    ProminentButton *download() { return child<ProminentButton>(u"downloadButton"_qs); }
    void relaunch();
    bool drop(const QList<QUrl> &urls, const QString &onto);

    Scenarios m_scenarios;
    RecordingDesktop m_desktop;
    Desktop m_answers;
    std::unique_ptr<ToolManager> m_tools;
    std::unique_ptr<DownloadQueue> m_queue;
    std::unique_ptr<MainView> m_view;
};

void TestMainView::initTestCase() {
    QVERIFY(installFakeTools());
    QVERIFY(m_scenarios.write(u"quick"_qs, "exit 0\n"));
    QVERIFY(m_scenarios.write(u"hang"_qs, "hang\n"));
}

void TestMainView::init() {
    clearSettings();
    m_desktop = {};
    m_answers = m_desktop.desktop();
    m_tools = std::make_unique<ToolManager>(localSources());
    m_queue = std::make_unique<DownloadQueue>();
    relaunch();
}

void TestMainView::cleanup() {
    m_view.reset();
    m_queue.reset();
    m_tools.reset();
}

void TestMainView::relaunch() {
    m_view.reset();
    m_view = std::make_unique<MainView>(*m_tools, *m_queue, m_answers);
    m_view->resize(720, 520);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void TestMainView::downloadLabelCountsDistinctLinks_data() {
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

void TestMainView::downloadLabelCountsDistinctLinks() {
    QFETCH(QString, text);
    field()->setText(text);
    QTEST(download()->text(), "label");
    QTEST(download()->isEnabled(), "enabled");
}

void TestMainView::typingUpdatesTheLabel() {
    field()->setFocus();
    QTest::keyClicks(field(), u"https://example.com/a"_qs);
    QCOMPARE(download()->text(), u"Download"_qs);
    QVERIFY(download()->isEnabled());
    QTest::keyClick(field(), Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(field(), u"https://example.com/b"_qs);
    QCOMPARE(field()->text(), u"https://example.com/a\nhttps://example.com/b"_qs);
    QCOMPARE(download()->text(), u"Download 2"_qs);
}

void TestMainView::startQueuesOneJobPerLinkAndClearsTheField_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("Download button") << 0;
    QTest::newRow("Return in the field") << 1;
    QTest::newRow("Ctrl+Return") << 2;
}

void TestMainView::startQueuesOneJobPerLinkAndClearsTheField() {
    QFETCH(int, how);
    m_view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    field()->setText(u"https://example.com/quick https://example.com/hang"_qs);
    switch (how) {
    case 0:
        download()->setFocus();
        QTest::mouseClick(download(), Qt::LeftButton);
        break;
    case 1:
        QTest::keyClick(field(), Qt::Key_Return);
        break;
    default:
        QTest::keyClick(field(), Qt::Key_Return, Qt::ControlModifier);
        break;
    }
    const QList<DownloadJob *> jobs = m_queue->jobs();
    QCOMPARE(jobs.size(), 2);
    QCOMPARE(jobs.at(0)->request().url, Scenarios::link(u"quick"_qs));
    QCOMPARE(jobs.at(1)->request().url, Scenarios::link(u"hang"_qs));
    for (const DownloadJob *job : jobs) {
        QCOMPARE(job->request().format, OutputFormat::video1080);
        QCOMPARE(job->request().includePlaylist, false);
        QCOMPARE(job->request().outputDirectory.toLocalFile(),
                 Preferences::defaultOutputPath() + u'/');
    }
    QCOMPARE(field()->text(), QString());
    QVERIFY(!download()->isEnabled());
    QCOMPARE(download()->text(), u"Download"_qs);
    // Ready for the next links, whatever started the downloads.
    QCOMPARE(QApplication::focusWidget(), field());
}

void TestMainView::startWithoutLinksKeepsTheText() {
    field()->setText(u"no links here"_qs);
    QTest::mouseClick(download(), Qt::LeftButton);
    QTest::keyClick(field(), Qt::Key_Return);
    QTest::keyClick(field(), Qt::Key_Return, Qt::ControlModifier);
    view().start();
    QCOMPARE(field()->text(), u"no links here"_qs);
    QVERIFY(m_queue->jobs().isEmpty());
}

void TestMainView::paste_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<std::optional<QString>>("clipboard");
    QTest::addColumn<QString>("after");
    QTest::newRow("into an empty field")
        << QString() << std::optional(u"  https://example.com/a\n\n"_qs)
        << u"https://example.com/a"_qs;
    QTest::newRow("into a non-empty field")
        << u"https://example.com/a"_qs << std::optional(u"\thttps://example.com/b "_qs)
        << u"https://example.com/a\nhttps://example.com/b"_qs;
    QTest::newRow("blanks into a non-empty field")
        << u"https://example.com/a"_qs << std::optional(u"   \n "_qs)
        << u"https://example.com/a\n"_qs;
    QTest::newRow("no text on the clipboard")
        << u"https://example.com/a"_qs << std::optional<QString>() << u"https://example.com/a"_qs;
}

void TestMainView::paste() {
    QFETCH(QString, before);
    QFETCH(std::optional<QString>, clipboard);
    field()->setText(before);
    if (clipboard)
        QGuiApplication::clipboard()->setText(*clipboard);
    else
        QGuiApplication::clipboard()->clear();
    QTest::mouseClick(child<QPushButton>(u"pasteButton"_qs), Qt::LeftButton);
    QTEST(field()->text(), "after");
    QVERIFY(m_queue->jobs().isEmpty());
}

// Delivers a drop the way the window does: to the innermost widget under the point that
// accepts drops. Returns whether the drag was accepted.
bool TestMainView::drop(const QList<QUrl> &urls, const QString &onto) {
    const QWidget *over = m_view->findChild<QWidget *>(onto);
    if (!over || !over->isVisible())
        qFatal("nothing to drop onto");
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
    if (!enter.isAccepted())
        return false;
    QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(target, &dropped);
    return dropped.isAccepted();
}

void TestMainView::dropAppendsWebLinksOnly_data() {
    QTest::addColumn<QString>("onto");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::newRow("onto the empty list, empty field")
        << u"emptyState"_qs << QString() << u"https://example.com/a"_qs;
    QTest::newRow("onto the link field itself")
        << u"linkField"_qs << u"https://example.com/z"_qs
        << u"https://example.com/z\nhttps://example.com/a"_qs;
    QTest::newRow("onto the folder row")
        << u"folderPath"_qs << u"x"_qs << u"x\nhttps://example.com/a"_qs;
}

void TestMainView::dropAppendsWebLinksOnly() {
    QFETCH(QString, onto);
    QFETCH(QString, before);
    field()->setText(before);
    QVERIFY(
        drop({QUrl(u"https://example.com/a"_qs), QUrl::fromLocalFile(u"/tmp/movie.mp4"_qs)}, onto));
    QTEST(field()->text(), "after");
    QVERIFY(m_queue->jobs().isEmpty());
}

void TestMainView::dropWithoutWebLinksIsRefused() {
    field()->setText(u"keep"_qs);
    QVERIFY(!drop({QUrl::fromLocalFile(u"/tmp/movie.mp4"_qs), QUrl(u"ftp://example.com/f"_qs)},
                  u"emptyState"_qs));
    QCOMPARE(field()->text(), u"keep"_qs);
}

void TestMainView::linkFieldGrowsToFourLines_data() {
    QTest::addColumn<double>("points");
    for (const double points : {9.0, 12.0, 14.0})
        QTest::addRow("%g pt", points) << points;
}

void TestMainView::linkFieldGrowsToFourLines() {
    QFETCH(double, points);
    QFont font = field()->font();
    font.setPointSizeF(points);
    field()->setFont(font);
    field()->setText(u"a"_qs);
    QTRY_VERIFY(field()->height() >= field()->sizeHint().height());
    const int one = field()->height();
    field()->setText(u"a\nb"_qs);
    QTRY_VERIFY(field()->height() > one);
    const int two = field()->height();
    // Every line shows without scrolling, at any font size, once the field has laid itself out.
    QTRY_VERIFY(!field()->verticalScrollBar()->isVisible());
    field()->setText(u"a\nb\nc\nd"_qs);
    QTRY_VERIFY(field()->height() > two);
    const int four = field()->height();
    QTRY_VERIFY(!field()->verticalScrollBar()->isVisible());
    field()->setText(u"a\nb\nc\nd\ne\nf\ng"_qs);
    QTest::qWait(20);
    QCOMPARE(field()->height(), four);
    QVERIFY(field()->verticalScrollBar()->isVisible());
    field()->setText(QString());
    QTRY_COMPARE(field()->height(), one);
}

void TestMainView::settingsAreWrittenOnlyWhenChanged() {
    relaunch();
    m_view.reset();
    QVERIFY(QSettings(u"Tovik"_qs, u"Tovik"_qs).allKeys().isEmpty());
}

void TestMainView::settingsSurviveARelaunch() {
    auto *formats = child<QComboBox>(u"formatPicker"_qs);
    QCOMPARE(formats->currentText(), u"Video — up to 1080p"_qs);
    QStringList entries;
    for (int i = 0; i < formats->count(); ++i)
        entries.append(formats->itemText(i));
    QCOMPARE(entries, (QStringList{u"Video — up to 1080p"_qs, u"Video — up to 720p"_qs,
                                   u"Video — up to 480p"_qs, u"Audio only (M4A)"_qs}));
    formats->setFocus();
    QTest::keyClick(formats, Qt::Key_Down);
    QTest::keyClick(formats, Qt::Key_Down);
    QTest::keyClick(formats, Qt::Key_Down);
    QCOMPARE(formats->currentText(), u"Audio only (M4A)"_qs);
    auto *playlist = child<QCheckBox>(u"playlistCheck"_qs);
    QCOMPARE(playlist->toolTip(), u"When a link points into a playlist, download every video "
                                  "in it into its own folder."_qs);
    QTest::mouseClick(playlist, Qt::LeftButton, {}, QPoint(6, playlist->height() / 2));
    QVERIFY(playlist->isChecked());
    const QString chosen = QDir(home()).filePath(u"Chosen"_qs);
    m_desktop.nextFolder = chosen;
    QTest::mouseClick(child<QPushButton>(u"changeFolderButton"_qs), Qt::LeftButton);
    QCOMPARE(m_desktop.folderRequests, 1);

    relaunch();
    QCOMPARE(child<QComboBox>(u"formatPicker"_qs)->currentText(), u"Audio only (M4A)"_qs);
    QVERIFY(child<QCheckBox>(u"playlistCheck"_qs)->isChecked());
    QCOMPARE(child<ElidedLabel>(u"folderPath"_qs)->text(), u"~/Chosen"_qs);
    field()->setText(u"https://example.com/quick"_qs);
    view().start();
    QCOMPARE(m_queue->jobs().size(), 1);
    const DownloadRequest request = m_queue->jobs().front()->request();
    QCOMPARE(request.format, OutputFormat::audio);
    QCOMPARE(request.includePlaylist, true);
    QCOMPARE(request.outputDirectory, QUrl::fromLocalFile(chosen + u'/'));

    const QSettings stored(u"Tovik"_qs, u"Tovik"_qs);
    QCOMPARE(stored.value(u"format"_qs).toString(), u"audio"_qs);
    QCOMPARE(stored.value(u"includePlaylist"_qs).toBool(), true);
    QCOMPARE(stored.value(u"outputDirectory"_qs).toString(), chosen);
}

void TestMainView::unreadableSettingsReadAsDefaults_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("stored");
    QTest::newRow("unknown format") << u"format"_qs << QVariant(u"video4k"_qs);
    QTest::newRow("playlist neither true nor false")
        << u"includePlaylist"_qs << QVariant(u"maybe"_qs);
    QTest::newRow("relative folder") << u"outputDirectory"_qs << QVariant(u"Videos/Tovik"_qs);
}

void TestMainView::unreadableSettingsReadAsDefaults() {
    QFETCH(QString, key);
    QFETCH(QVariant, stored);
    QSettings(u"Tovik"_qs, u"Tovik"_qs).setValue(key, stored);
    relaunch();
    QCOMPARE(child<QComboBox>(u"formatPicker"_qs)->currentText(), u"Video — up to 1080p"_qs);
    QVERIFY(!child<QCheckBox>(u"playlistCheck"_qs)->isChecked());
    QCOMPARE(child<ElidedLabel>(u"folderPath"_qs)->text(),
             MainView::displayPath(Preferences::defaultOutputPath()));
}

void TestMainView::defaultFolderIsTovikInMovies() {
    const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    QVERIFY(movies.startsWith(home()));
    QCOMPARE(Preferences::defaultOutputPath(), movies + u"/Tovik"_qs);
    QCOMPARE(child<ElidedLabel>(u"folderPath"_qs)->text(),
             u"~"_qs + movies.mid(home().size()) + u"/Tovik"_qs);
    QVERIFY(!QFileInfo::exists(Preferences::defaultOutputPath()));
}

void TestMainView::displayPathWritesHomeAsTilde_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("shown");
    QTest::newRow("under home") << home() + u"/Movies/Tovik"_qs << u"~/Movies/Tovik"_qs;
    QTest::newRow("home itself") << home() << u"~"_qs;
    QTest::newRow("trailing slash") << home() + u"/Music/"_qs << u"~/Music"_qs;
    QTest::newRow("elsewhere") << u"/srv/media"_qs << u"/srv/media"_qs;
}

void TestMainView::displayPathWritesHomeAsTilde() {
    QFETCH(QString, path);
    QTEST(MainView::displayPath(path), "shown");
}

void TestMainView::cancelledFolderChoiceKeepsTheFolder() {
    const QString before = child<ElidedLabel>(u"folderPath"_qs)->text();
    m_desktop.nextFolder.reset();
    QTest::mouseClick(child<QPushButton>(u"changeFolderButton"_qs), Qt::LeftButton);
    QCOMPARE(m_desktop.folderRequests, 1);
    QCOMPARE(child<ElidedLabel>(u"folderPath"_qs)->text(), before);
    QVERIFY(!QSettings(u"Tovik"_qs, u"Tovik"_qs).contains(u"outputDirectory"_qs));
}

void TestMainView::folderChooserStartsInTheNearestFolderThatExists_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("start");
    QTest::newRow("existing folder") << u"Made"_qs << u"Made"_qs;
    QTest::newRow("missing folder, existing parent") << u"Made/Not/Yet"_qs << u"Made"_qs;
    QTest::newRow("nothing of it exists") << u"Gone/Away"_qs << QString();
}

void TestMainView::folderChooserStartsInTheNearestFolderThatExists() {
    QFETCH(QString, folder);
    QFETCH(QString, start);
    QVERIFY(QDir(home()).mkpath(u"Made"_qs));
    // Before anything is chosen, the default folder does not exist yet.
    QVERIFY(!QFileInfo::exists(Preferences::defaultOutputPath()));
    view().chooseFolder();
    QVERIFY(QFileInfo(m_desktop.folderStart).isDir());
    QVERIFY(Preferences::defaultOutputPath().startsWith(m_desktop.folderStart));

    m_desktop.nextFolder = QDir(home()).filePath(folder);
    view().chooseFolder();
    m_desktop.nextFolder.reset();
    QTest::mouseClick(child<QPushButton>(u"changeFolderButton"_qs), Qt::LeftButton);
    QCOMPARE(m_desktop.folderStart, QDir::cleanPath(QDir(home()).filePath(start)));
    QDir(home()).rmpath(u"Made"_qs);
}

void TestMainView::openCreatesAndOpensTheFolder() {
    const QString folder = QDir(home()).filePath(u"Deep/er/Folder"_qs);
    m_desktop.nextFolder = folder;
    view().chooseFolder();
    QTest::mouseClick(child<QPushButton>(u"openFolderButton"_qs), Qt::LeftButton);
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(m_desktop.opened, QList<QUrl>{QUrl::fromLocalFile(folder + u'/')});
}

void TestMainView::emptyStateAndClearFinished() {
    auto *stack = child<QStackedWidget>(u"jobsOrEmpty"_qs);
    auto *clear = child<QPushButton>(u"clearFinishedButton"_qs);
    QCOMPARE(stack->currentWidget()->objectName(), u"emptyState"_qs);
    QVERIFY(!clear->isVisible());

    field()->setText(u"https://example.com/hang https://example.com/quick"_qs);
    view().start();
    QCOMPARE(stack->currentWidget()->objectName(), u"jobList"_qs);
    DownloadJob *quick = m_queue->jobs().at(1);
    QTRY_VERIFY(std::holds_alternative<DownloadJob::Finished>(quick->state()));
    QTRY_VERIFY(clear->isVisible());

    QTest::mouseClick(clear, Qt::LeftButton);
    QCOMPARE(m_queue->jobs().size(), 1);
    QTRY_VERIFY(!clear->isVisible());
    m_queue->cancel(m_queue->jobs().front());
    QTRY_VERIFY(clear->isVisible());
    QTest::mouseClick(clear, Qt::LeftButton);
    QVERIFY(m_queue->jobs().isEmpty());
    QCOMPARE(stack->currentWidget()->objectName(), u"emptyState"_qs);
    QTRY_VERIFY(!clear->isVisible());
}

void TestMainView::footerShowsVersionAndUpdateStatus() {
    auto *version = child<QLabel>(u"ytdlpVersion"_qs);
    auto *message = child<ElidedLabel>(u"updateMessage"_qs);
    QVERIFY(!version->isVisible());
    QVERIFY(!message->isVisible());
    m_tools->check();
    QTRY_VERIFY(version->isVisible());
    QCOMPARE(version->text(), u"yt-dlp 2024.01.01"_qs);
    QTRY_COMPARE(message->text(), u"yt-dlp is up to date."_qs);
    QVERIFY(message->isVisible());
}

void TestMainView::footerFitsTheNarrowestWindow_data() {
    QTest::addColumn<double>("points");
    for (const double points : {9.0, 12.0, 14.0})
        QTest::addRow("%g pt", points) << points;
}

void TestMainView::footerFitsTheNarrowestWindow() {
    QFETCH(double, points);
    const QFont before = QApplication::font();
    QFont font = before;
    font.setPointSizeF(points);
    QApplication::setFont(font);
    relaunch();
    QApplication::setFont(before);
    m_view->resize(560, 440);
    m_tools->check();
    QTRY_VERIFY(child<QLabel>(u"ytdlpVersion"_qs)->isVisible() &&
                child<ElidedLabel>(u"updateMessage"_qs)->isVisible());
    m_queue->add({{Scenarios::link(u"quick"_qs), OutputFormat::audio, false,
                   QUrl::fromLocalFile(home() + u'/')}},
                 m_tools->paths());
    QTRY_VERIFY(child<QPushButton>(u"clearFinishedButton"_qs)->isVisible());

    auto *note = child<ElidedLabel>(u"legalNote"_qs);
    const QWidget *footer = note->parentWidget();
    QList<const QWidget *> items;
    for (const QWidget *item : footer->findChildren<QWidget *>())
        if (item->isVisible())
            items.append(item);
    QCOMPARE(items.size(), 4);
    for (const QWidget *item : std::as_const(items)) {
        const QString name = item->objectName();
        QVERIFY2(footer->rect().contains(item->geometry()), qPrintable(name));
        if (const auto *label = qobject_cast<const ElidedLabel *>(item)) {
            // Whole, or cut with an ellipsis and whole in its tooltip.
            const QString shown = label->shownText();
            QVERIFY2(shown == label->text() ||
                         (shown.endsWith(u"…"_qs) && label->toolTip() == label->text()),
                     qPrintable(name + u": "_qs + shown));
            QVERIFY2(item->fontMetrics().horizontalAdvance(shown) <= item->width(),
                     qPrintable(name));
        } else {
            QVERIFY2(item->width() >= item->sizeHint().width(), qPrintable(name));
        }
        QVERIFY2(item->height() >= item->fontMetrics().height(), qPrintable(name));
        for (const QWidget *other : std::as_const(items))
            QVERIFY2(other == item || !other->geometry().intersects(item->geometry()),
                     qPrintable(name + u" overlaps "_qs + other->objectName()));
    }
    QVERIFY(note->shownText() != note->text());
}

TOVIK_GUI_TEST_MAIN(TestMainView)
#include "tst_mainview.moc"
