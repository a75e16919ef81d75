#include "Colors.h"
#include "DownloadQueue.h"
#include "GuiTest.h"
#include "IconButton.h"
#include "JobListModel.h"
#include "JobListView.h"
#include "JobRow.h"
#include "JobRowLayout.h"
#include "ToolManager.h"

#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QWheelEvent>
#include <algorithm>

using namespace GuiTest;

namespace {

// The rectangles that the list repaints.
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

bool holds(const DownloadJob *job, auto state) {
    return std::holds_alternative<decltype(state)>(job->state());
}

QMenu *openPopup() {
    return qobject_cast<QMenu *>(QApplication::activePopupWidget());
}

QStringList texts(const QMenu *menu) {
    QStringList result;
    for (const QAction *action : menu->actions())
        result.append(action->text());
    return result;
}

} // namespace

class TestJobList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void modelFollowsTheQueue();
    void changesAreAnnouncedForTheChangedRowOnly();
    void aChangeRepaintsOnlyItsRow();
    void everyStateShowsItsTextIconAndAction_data();
    void everyStateShowsItsTextIconAndAction();
    void actionButtonCarriesItsTooltipAsAccessibleName();
    void actionButtonsAct();
    void contextMenu();
    void keyboard();
    void longFailuresTakeTwoLines();
    void rowsStayInsideThemselves_data();
    void rowsStayInsideThemselves();
    void buttonActsOnWhatItShows_data();
    void buttonActsOnWhatItShows();

private:
    QList<DownloadJob *> add(const QStringList &names,
                             OutputFormat format = OutputFormat::video720);
    QModelIndex indexOf(const DownloadJob *job) const;
    QColor iconColour(const QModelIndex &index);
    void hover(const QModelIndex &index);
    QRect actionRect(const QModelIndex &index) const;

    Scenarios m_scenarios;
    QTemporaryDir m_output;
    RecordingDesktop m_desktop;
    Desktop m_answers;
    std::unique_ptr<ToolManager> m_tools;
    std::unique_ptr<DownloadQueue> m_queue;
    std::unique_ptr<JobListModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    std::unique_ptr<JobListView> m_view;
};

void TestJobList::initTestCase() {
    QVERIFY(installFakeTools());
    QVERIFY(m_scenarios.write(u"hang"_qs, "hang\n"));
    QVERIFY(m_scenarios.write(u"quick"_qs, "exit 0\n"));
    QVERIFY(m_scenarios.write(u"downloading"_qs, "out TKT|v|2|5|Big Buck Bunny\n" +
                                                     progressLine(400, 1000, "1500000", "90") +
                                                     "hang\n"));
    QVERIFY(m_scenarios.write(u"streaming"_qs, "out TKT|v|NA|NA|Stream\nrate 200 30\nhang\n"));
    QVERIFY(m_scenarios.write(u"merging"_qs, "out TKT|v|NA|NA|Sintel\n" +
                                                 progressLine(1000, 1000, "NA", "NA") +
                                                 "out TKP|v|finished|1000|1000|NA|NA|NA\n"
                                                 "out TKP|v|finished|100|100|NA|NA|NA\nhang\n"));
    QVERIFY(m_scenarios.write(u"extracting"_qs, "out TKT|v|NA|NA|Podcast\n"
                                                "out TKP|v|finished|1000|1000|NA|NA|NA\nhang\n"));
    QVERIFY(m_scenarios.write(u"song"_qs, "out TKT|v|NA|NA|Song\nfile Song.m4a\nexit 0\n"));
    QVERIFY(m_scenarios.write(u"partly"_qs,
                              "out TKT|v|1|2|One\nfile List/One.mp4\n"
                              "err ERROR: [generic] two: Video unavailable\nexit 1\n"));
    QVERIFY(m_scenarios.write(u"playlist"_qs,
                              "file L/a.mp4\nfile L/b.mp4\nfile L/c.mp4\nfile L/d.mp4\n"));
    QVERIFY(
        m_scenarios.write(u"failing"_qs, "err ERROR: [generic] x: Video unavailable\nexit 1\n"));
    QVERIFY(m_scenarios.write(
        u"titled"_qs, "out TKT|v|1|9|" + QByteArray("Clean_title_with_underscores_").repeated(6) +
                          "\n" + progressLine(10, 1000, "2000", "5000") + "hang\n"));
    QVERIFY(m_scenarios.write(u"failsSoon"_qs,
                              "out TKT|v|NA|NA|Soon\nsleep 400\nerr ERROR: Video unavailable\n"
                              "exit 1\n"));
    QVERIFY(m_scenarios.write(
        u"failsLongSoon"_qs,
        "sleep 400\nerr ERROR: " + QByteArray("this video is unavailable because ").repeated(8) +
            "\nexit 1\n"));
    QVERIFY(m_scenarios.write(
        u"raw404"_qs, "err ERROR: [generic] x: Unable to download webpage: HTTP Error 404: Not "
                      "Found; please report this issue on  https://github.com/yt-dlp/yt-dlp/"
                      "issues?q= , filling out the appropriate issue template.\nexit 1\n"));
    QVERIFY(m_scenarios.write(
        u"long"_qs, "err ERROR: " + QByteArray("this video is unavailable because ").repeated(20) +
                        "\nexit 1\n"));
}

void TestJobList::init() {
    m_desktop = {};
    m_answers = m_desktop.desktop();
    m_tools = std::make_unique<ToolManager>(localSources());
    m_queue = std::make_unique<DownloadQueue>();
    m_model = std::make_unique<JobListModel>(*m_queue);
    m_tester = std::make_unique<QAbstractItemModelTester>(
        m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_view = std::make_unique<JobListView>(*m_model, *m_tools, *m_queue, m_answers);
    m_view->resize(640, 600);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void TestJobList::cleanup() {
    m_view.reset();
    m_tester.reset();
    m_model.reset();
    m_queue.reset();
    m_tools.reset();
}

QList<DownloadJob *> TestJobList::add(const QStringList &names, OutputFormat format) {
    QList<DownloadRequest> requests;
    for (const QString &name : names)
        requests.append(
            {Scenarios::link(name), format, false, QUrl::fromLocalFile(m_output.path() + u'/')});
    m_queue->add(requests, m_tools->paths());
    return m_queue->jobs().mid(0, names.size());
}

QModelIndex TestJobList::indexOf(const DownloadJob *job) const {
    for (int row = 0; row < m_model->rowCount(); ++row)
        if (m_model->job(m_model->index(row)) == job)
            return m_model->index(row);
    return {};
}

void TestJobList::hover(const QModelIndex &index) {
    QTest::mouseMove(m_view->viewport(), m_view->visualRect(index).center());
    QTRY_VERIFY(m_view->actionButton()->isVisible() || !JobRow::action(*m_model->job(index)));
}

// The colour of the row's status icon where it stands out most from the background.
QColor TestJobList::iconColour(const QModelIndex &index) {
    const QImage image = m_view->viewport()->grab().toImage();
    const JobRowLayout layout(*m_model->job(index), m_view->font(), m_view->visualRect(index));
    const QColor background = m_view->palette().color(QPalette::Base);
    const auto distance = [&background](const QColor &c) {
        return qAbs(c.red() - background.red()) + qAbs(c.green() - background.green()) +
               qAbs(c.blue() - background.blue());
    };
    QColor strongest = background;
    for (int y = layout.icon.top(); y <= layout.icon.bottom(); ++y)
        for (int x = layout.icon.left(); x <= layout.icon.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (distance(pixel) > distance(strongest))
                strongest = pixel;
        }
    return strongest;
}

void TestJobList::modelFollowsTheQueue() {
    QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(m_model.get(), &QAbstractItemModel::rowsRemoved);
    const QList<DownloadJob *> first = add({u"failing"_qs, u"quick"_qs});
    const QList<DownloadJob *> second = add({u"hang"_qs});
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(m_model->rowCount(), 3);
    QCOMPARE(m_model->job(m_model->index(0)), second.at(0));
    QCOMPARE(m_model->index(1).data().toString(), u"https://example.com/failing"_qs);
    QTRY_VERIFY(holds(first.at(0), DownloadJob::Failed{}) &&
                holds(first.at(1), DownloadJob::Finished{}));
    QTRY_COMPARE(m_model->index(1).data(Qt::AccessibleDescriptionRole).toString(),
                 u"Video unavailable"_qs);
    QTRY_VERIFY(m_model->hasEndedJobs());

    QSignalSpy ended(m_model.get(), &JobListModel::hasEndedJobsChanged);
    m_queue->retry(first.at(0), m_tools->paths());
    QCOMPARE(m_model->rowCount(), 3);
    QVERIFY(m_model->job(m_model->index(1)) != first.at(0));
    QTRY_VERIFY(holds(m_model->job(m_model->index(1)), DownloadJob::Failed{}));

    m_queue->remove(m_queue->jobs().at(2));
    QCOMPARE(removed.size(), 1);
    QCOMPARE(m_model->rowCount(), 2);
    m_queue->clearFinished();
    QCOMPARE(m_model->rowCount(), 1);
    QCOMPARE(m_model->job(m_model->index(0)), second.at(0));
    QTRY_VERIFY(!m_model->hasEndedJobs());
    QVERIFY(!ended.isEmpty());
    QCOMPARE(ended.last().at(0).toBool(), false);
}

void TestJobList::changesAreAnnouncedForTheChangedRowOnly() {
    // The last of a batch starts first: the stream and one hanging job run, one waits.
    const QList<DownloadJob *> jobs = add({u"hang"_qs, u"hang"_qs, u"streaming"_qs});
    QTRY_VERIFY(jobs.at(2)->fraction() > 0);
    QTest::qWait(2 * JobListModel::refreshInterval);
    const QModelIndex streaming = indexOf(jobs.at(2));
    QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
    QTRY_VERIFY(changed.size() >= 5);
    for (const QList<QVariant> &signal : std::as_const(changed)) {
        QCOMPARE(signal.at(0).toModelIndex(), streaming);
        QCOMPARE(signal.at(1).toModelIndex(), streaming);
    }
    // Two hundred progress lines a second are announced a few times a second.
    const int announced = static_cast<int>(changed.size());
    QTest::qWait(500);
    QVERIFY2(changed.size() - announced <= 500 / JobListModel::refreshInterval + 1,
             qPrintable(QString::number(changed.size() - announced)));
}

void TestJobList::aChangeRepaintsOnlyItsRow() {
    const QList<DownloadJob *> jobs = add({u"hang"_qs, u"streaming"_qs, u"quick"_qs});
    const QModelIndex streaming = indexOf(jobs.at(1));
    // Once the quick job has ended, the hanging one runs too and no row changes height.
    QTRY_VERIFY(holds(jobs.at(2), DownloadJob::Finished{}));
    QTRY_VERIFY(holds(jobs.at(0), DownloadJob::Downloading{}));
    QTRY_VERIFY(jobs.at(1)->fraction() > 0);
    QTest::qWait(2 * JobListModel::refreshInterval);
    PaintRecorder recorder(m_view->viewport());
    QTRY_VERIFY(!recorder.painted.isEmpty());
    QTest::qWait(300);
    const QRect row = m_view->visualRect(streaming);
    QVERIFY2(row.contains(recorder.painted.boundingRect()),
             qPrintable(
                 u"painted %1,%2 %3×%4 outside the row"_qs.arg(recorder.painted.boundingRect().x())
                     .arg(recorder.painted.boundingRect().y())
                     .arg(recorder.painted.boundingRect().width())
                     .arg(recorder.painted.boundingRect().height())));
}

void TestJobList::everyStateShowsItsTextIconAndAction_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<OutputFormat>("format");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("status");
    QTest::addColumn<Tint>("tint");
    QTest::addColumn<QString>("tooltip");

    const auto v = OutputFormat::video720;
    QTest::newRow("queued behind two running")
        << u"queued"_qs << v << false << u"Waiting…"_qs << Tint::secondary << u"Cancel"_qs;
    QTest::newRow("starting") << u"hang"_qs << v << false << u"Starting…"_qs << Tint::accent
                              << u"Cancel"_qs;
    QTest::newRow("item 2 of 5 at 1.5 MB/s, 90 s left")
        << u"downloading"_qs << v << false
        << u"2 of 5 · Video — up to 720p · 1.5 MB/s · 1:30 left"_qs << Tint::accent << u"Cancel"_qs;
    QTest::newRow("merging") << u"merging"_qs << v << false << u"Merging video and audio…"_qs
                             << Tint::accent << u"Cancel"_qs;
    QTest::newRow("extracting audio") << u"extracting"_qs << OutputFormat::audio << false
                                      << u"Extracting audio…"_qs << Tint::accent << u"Cancel"_qs;
    QTest::newRow("finished audio, one file")
        << u"song"_qs << OutputFormat::audio << false << u"Song.m4a"_qs << Tint::green
        << u"Show in Folder"_qs;
    QTest::newRow("finished with a warning")
        << u"partly"_qs << v << false << u"One.mp4 — One item failed: Video unavailable"_qs
        << Tint::orange << u"Show in Folder"_qs;
    QTest::newRow("finished playlist of four")
        << u"playlist"_qs << v << false << u"4 files saved"_qs << Tint::green
        << u"Show in Folder"_qs;
    QTest::newRow("finished without files")
        << u"quick"_qs << v << false << u"0 files saved"_qs << Tint::green << QString();
    QTest::newRow("cancelled") << u"downloading"_qs << v << true << u"Cancelled"_qs
                               << Tint::secondary << u"Retry"_qs;
    QTest::newRow("failed") << u"failing"_qs << v << false << u"Video unavailable"_qs << Tint::red
                            << u"Retry"_qs;
}

void TestJobList::everyStateShowsItsTextIconAndAction() {
    QFETCH(QString, scenario);
    QFETCH(OutputFormat, format);
    QFETCH(bool, cancel);
    QFETCH(QString, status);
    QFETCH(Tint, tint);
    QFETCH(QString, tooltip);

    const bool behindOthers = scenario == u"queued"_qs;
    if (behindOthers)
        add({u"hang"_qs, u"hang"_qs});
    DownloadJob *job = add({behindOthers ? u"hang"_qs : scenario}, format).front();
    const QModelIndex index = indexOf(job);
    if (cancel) {
        // Cancelling before yt-dlp runs would only take effect when it exits by itself.
        QTRY_VERIFY(job->title().has_value());
        hover(index);
        QTest::mouseClick(m_view->actionButton(), Qt::LeftButton);
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
    const QColor window = m_view->palette().color(QPalette::Base);
    const float a = expected.alphaF();
    const QColor blended = QColor::fromRgbF(expected.redF() * a + window.redF() * (1 - a),
                                            expected.greenF() * a + window.greenF() * (1 - a),
                                            expected.blueF() * a + window.blueF() * (1 - a));
    const auto matches = [&blended](const QColor &shown) {
        return qAbs(shown.red() - blended.red()) <= 12 &&
               qAbs(shown.green() - blended.green()) <= 12 &&
               qAbs(shown.blue() - blended.blue()) <= 12;
    };
    QTRY_VERIFY2(matches(iconColour(index)), qPrintable(u"icon painted %1, expected %2"_qs.arg(
                                                 iconColour(index).name(), blended.name())));

    hover(index);
    IconButton *button = m_view->actionButton();
    QTRY_COMPARE(button->isVisible(), !tooltip.isEmpty());
    if (!tooltip.isEmpty()) {
        QTRY_COMPARE(button->toolTip(), tooltip);
        QCOMPARE(button->symbol(), JobRow::actionSymbol(*JobRow::action(*job)));
        QCOMPARE(button->geometry(),
                 JobRowLayout(*job, m_view->font(), m_view->visualRect(index)).action);
    }
}

void TestJobList::actionButtonCarriesItsTooltipAsAccessibleName() {
    const QList<DownloadJob *> jobs = add({u"hang"_qs, u"song"_qs, u"failing"_qs});
    QTRY_VERIFY(!jobs.at(1)->isActive() && !jobs.at(2)->isActive());
    for (const DownloadJob *job : jobs) {
        hover(indexOf(job));
        const IconButton *button = m_view->actionButton();
        QVERIFY(button->text().isEmpty());
        QVERIFY(!button->toolTip().isEmpty());
        QCOMPARE(button->accessibleName(), button->toolTip());
    }
}

void TestJobList::actionButtonsAct() {
    const QList<DownloadJob *> jobs = add({u"hang"_qs, u"playlist"_qs, u"failing"_qs});
    QTRY_VERIFY(holds(jobs.at(1), DownloadJob::Finished{}) &&
                holds(jobs.at(2), DownloadJob::Failed{}) &&
                holds(jobs.at(0), DownloadJob::Downloading{}));

    hover(indexOf(jobs.at(1)));
    QTest::mouseClick(m_view->actionButton(), Qt::LeftButton);
    QCOMPARE(m_desktop.revealed.size(), 1);
    QCOMPARE(m_desktop.revealed.front(), jobs.at(1)->files());
    QCOMPARE(jobs.at(1)->files().size(), 4);

    hover(indexOf(jobs.at(2)));
    QTest::mouseClick(m_view->actionButton(), Qt::LeftButton);
    QCOMPARE(m_model->rowCount(), 3);
    DownloadJob *again = m_model->job(m_model->index(2));
    QVERIFY(again != jobs.at(2));
    QCOMPARE(again->request(), jobs.at(2)->request());

    hover(indexOf(jobs.at(0)));
    QCOMPARE(m_view->actionButton()->toolTip(), u"Cancel"_qs);
    QTest::mouseClick(m_view->actionButton(), Qt::LeftButton);
    QTRY_VERIFY(holds(jobs.at(0), DownloadJob::Cancelled{}));
    QTRY_COMPARE(m_view->actionButton()->toolTip(), u"Retry"_qs);
}

void TestJobList::contextMenu() {
    const QList<DownloadJob *> jobs = add({u"hang"_qs, u"raw404"_qs});
    QTRY_VERIFY(holds(jobs.at(1), DownloadJob::Failed{}));

    const QModelIndex running = indexOf(jobs.at(0));
    const QPoint onRunningRow = m_view->visualRect(running).center();
    QContextMenuEvent onRunning(QContextMenuEvent::Mouse, onRunningRow,
                                m_view->viewport()->mapToGlobal(onRunningRow));
    QApplication::sendEvent(m_view->viewport(), &onRunning);
    QTRY_VERIFY(openPopup());
    QCOMPARE(texts(openPopup()), QStringList{u"Copy Link"_qs});
    QGuiApplication::clipboard()->setText(u"something else"_qs);
    openPopup()->actions().front()->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), u"https://example.com/hang"_qs);
    openPopup()->close();
    QTRY_VERIFY(!openPopup());

    const QModelIndex failed = indexOf(jobs.at(1));
    const QPoint onFailedRow = m_view->visualRect(failed).center();
    QContextMenuEvent onFailed(QContextMenuEvent::Mouse, onFailedRow,
                               m_view->viewport()->mapToGlobal(onFailedRow));
    QApplication::sendEvent(m_view->viewport(), &onFailed);
    QTRY_VERIFY(openPopup());
    QCOMPARE(texts(openPopup()), (QStringList{u"Copy Link"_qs, u"Copy Error"_qs, u"Remove"_qs}));
    // The row shows the failure in plain words; the tooltip and "Copy Error" give it whole.
    const QString raw = u"Unable to download webpage: HTTP Error 404: Not Found; please report "
                        "this issue on  https://github.com/yt-dlp/yt-dlp/issues?q= , filling "
                        "out the appropriate issue template."_qs;
    QCOMPARE(JobRow::statusText(*jobs.at(1)),
             u"The site has no page at this link (HTTP 404). Check the link."_qs);
    QCOMPARE(failed.data(Qt::ToolTipRole).toString(), raw);
    QCOMPARE(running.data(Qt::ToolTipRole), QVariant());
    openPopup()->actions().at(1)->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), raw);
    openPopup()->actions().at(2)->trigger();
    openPopup()->close();
    QCOMPARE(m_queue->jobs(), QList<DownloadJob *>{jobs.at(0)});
}

void TestJobList::keyboard() {
    const QList<DownloadJob *> jobs = add({u"hang"_qs, u"failing"_qs, u"quick"_qs});
    QTRY_VERIFY(holds(jobs.at(1), DownloadJob::Failed{}) &&
                holds(jobs.at(2), DownloadJob::Finished{}));
    m_view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));

    // Tabbing in shows the row the keys will act on as selected.
    m_view->setCurrentIndex(indexOf(jobs.at(2)));
    m_view->clearSelection();
    m_view->clearFocus();
    m_view->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(m_view->selectionModel()->isSelected(indexOf(jobs.at(2))));

    // Delete does nothing without a current row, or with one that is not shown selected.
    m_view->setCurrentIndex(QModelIndex());
    QTest::keyClick(m_view.get(), Qt::Key_Delete);
    m_view->selectionModel()->setCurrentIndex(indexOf(jobs.at(2)), QItemSelectionModel::Clear);
    QTest::keyClick(m_view.get(), Qt::Key_Delete);
    QCOMPARE(m_model->rowCount(), 3);

    // Delete leaves an active job alone and removes an ended one.
    m_view->setCurrentIndex(indexOf(jobs.at(0)));
    QTest::keyClick(m_view.get(), Qt::Key_Delete);
    QCOMPARE(m_model->rowCount(), 3);
    m_view->setCurrentIndex(indexOf(jobs.at(2)));
    QTest::keyClick(m_view.get(), Qt::Key_Delete);
    QCOMPARE(m_model->rowCount(), 2);

    // Return retries a failed job and does nothing to a running one.
    m_view->setCurrentIndex(indexOf(jobs.at(0)));
    QTest::keyClick(m_view.get(), Qt::Key_Return);
    QCOMPARE(m_model->job(m_model->index(0)), jobs.at(0));
    m_view->setCurrentIndex(indexOf(jobs.at(1)));
    QTest::keyClick(m_view.get(), Qt::Key_Return);
    QVERIFY(m_model->job(m_model->index(1)) != jobs.at(1));

    // The menu key opens the current row's menu.
    m_view->setCurrentIndex(m_model->index(0));
    QTest::keyClick(m_view.get(), Qt::Key_Menu);
    QTRY_VERIFY(openPopup());
    QCOMPARE(texts(openPopup()), QStringList{u"Copy Link"_qs});
    openPopup()->close();

    // Without a mouse over the list, the current row carries the action button.
    QTest::mouseMove(m_view.get(), QPoint(-10, -10));
    m_view->setCurrentIndex(m_model->index(0));
    QTRY_COMPARE(
        m_view->actionButton()->geometry(),
        JobRowLayout(*jobs.at(0), m_view->font(), m_view->visualRect(m_model->index(0))).action);
}

void TestJobList::longFailuresTakeTwoLines() {
    const QList<DownloadJob *> jobs = add({u"long"_qs, u"failing"_qs});
    QTRY_VERIFY(holds(jobs.at(0), DownloadJob::Failed{}) &&
                holds(jobs.at(1), DownloadJob::Failed{}));
    const QModelIndex longRow = indexOf(jobs.at(0));
    const QModelIndex shortRow = indexOf(jobs.at(1));
    const JobRowLayout layout(*jobs.at(0), m_view->font(), m_view->visualRect(longRow));
    QCOMPARE(layout.statusLines.size(), 2);
    QVERIFY(layout.statusLines.at(1).endsWith(u"…"_qs));
    // The quick height the list lays out with matches the full layout it paints.
    for (const QModelIndex &index : {longRow, shortRow}) {
        const QRect row = m_view->visualRect(index);
        QCOMPARE(JobRowLayout::height(*m_model->job(index), m_view->font(), row.width()),
                 JobRowLayout(*m_model->job(index), m_view->font(), row).rowHeight);
    }
    QTRY_VERIFY(m_view->visualRect(longRow).height() > m_view->visualRect(shortRow).height());

    // Painted into a row laid out for an earlier, shorter state, the row keeps to its
    // rectangle: nothing runs into its neighbours.
    QImage image(560, 200, QImage::Format_ARGB32);
    image.fill(Qt::magenta);
    QStyleOptionViewItem option;
    option.initFrom(m_view.get());
    option.rect = QRect(0, 80, 560, 30);
    QPainter painter(&image);
    m_view->itemDelegate()->paint(&painter, option, longRow);
    painter.end();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!option.rect.contains(x, y))
                QVERIFY2(image.pixel(x, y) == QColor(Qt::magenta).rgb(),
                         qPrintable(u"painted at %1,%2"_qs.arg(x).arg(y)));
}

QRect TestJobList::actionRect(const QModelIndex &index) const {
    return JobRowLayout(*m_model->job(index), m_view->font(), m_view->visualRect(index)).action;
}

void TestJobList::rowsStayInsideThemselves_data() {
    QTest::addColumn<double>("points");
    for (const double points : {9.0, 12.0, 14.0})
        QTest::addRow("%g pt", points) << points;
}

void TestJobList::rowsStayInsideThemselves() {
    QFETCH(double, points);
    QFont font = m_view->font();
    font.setPointSizeF(points);
    m_view->setFont(font);
    m_view->resize(560, 900);
    // Ended jobs first, then two running ones and one waiting behind them.
    const QList<DownloadJob *> ended =
        add({u"song"_qs, u"partly"_qs, u"playlist"_qs, u"quick"_qs, u"failing"_qs, u"long"_qs});
    QTRY_VERIFY(std::none_of(ended.begin(), ended.end(),
                             [](const DownloadJob *job) { return job->isActive(); }));
    add({u"merging"_qs, u"titled"_qs});
    add({u"hang"_qs}, OutputFormat::audio);
    const auto runningShown = [this] {
        const QList<DownloadJob *> jobs = m_queue->jobs();
        return std::count_if(jobs.begin(), jobs.end(), [](const DownloadJob *job) {
            return holds(job, DownloadJob::Processing{}) || (job->title() && job->fraction() > 0);
        });
    };
    QTRY_COMPARE(runningShown(), 2);
    QTest::qWait(2 * JobListModel::refreshInterval);

    const QFontMetrics titleMetrics(font);
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const QModelIndex index = m_model->index(row);
        const DownloadJob *job = m_model->job(index);
        const QRect rect = m_view->visualRect(index);
        const JobRowLayout layout(*job, font, rect);
        const QString where = u"row %1 (%2)"_qs.arg(row).arg(JobRow::statusText(*job));
        QVERIFY2(rect.height() == layout.rowHeight, qPrintable(where));
        if (row + 1 < m_model->rowCount())
            QVERIFY2(rect.bottom() < m_view->visualRect(m_model->index(row + 1)).top(),
                     qPrintable(where));
        // The title's ink, underscores included, as drawn centred in its line.
        const int baseline = layout.title.top() +
                             (layout.title.height() - titleMetrics.height()) / 2 +
                             titleMetrics.ascent();
        const QRect titleInk =
            titleMetrics.boundingRect(layout.titleText).translated(layout.title.left(), baseline);
        QList<QRect> parts{layout.title, titleInk, layout.icon};
        parts += layout.statusLineRects;
        if (!layout.bar.isEmpty())
            parts.append(layout.bar);
        if (!layout.action.isEmpty())
            parts.append(layout.action);
        for (const QRect &part : std::as_const(parts))
            QVERIFY2(rect.contains(part), qPrintable(where));
        QList<QRect> lines{layout.title};
        if (!layout.bar.isEmpty())
            lines.append(layout.bar);
        lines += layout.statusLineRects;
        for (qsizetype i = 0; i + 1 < lines.size(); ++i)
            QVERIFY2(lines.at(i).bottom() < lines.at(i + 1).top(), qPrintable(where));
        QVERIFY2(titleInk.bottom() < lines.at(1).top(), qPrintable(where));
        // Underscores are drawn: the title below its baseline has ink, though none of its
        // letters descends.
        if (JobRow::title(*job).contains(u'_')) {
            const QImage image = m_view->viewport()->grab().toImage();
            const QColor ground = m_view->palette().color(QPalette::Base);
            int inked = 0;
            for (int y = baseline + 1; y <= titleInk.bottom(); ++y)
                for (int x = titleInk.left(); x <= titleInk.right(); ++x)
                    inked += qGray(image.pixel(x, y)) < qGray(ground.rgb()) - 60 ? 1 : 0;
            QVERIFY2(inked >= 3 * layout.titleText.count(u'_'), qPrintable(where));
        }
    }
}

void TestJobList::buttonActsOnWhatItShows_data() {
    QTest::addColumn<QString>("change");
    QTest::newRow("state changes under a resting pointer") << u"state"_qs;
    QTest::newRow("list scrolls under the pointer") << u"scroll"_qs;
    QTest::newRow("a row above changes height") << u"height"_qs;
}

void TestJobList::buttonActsOnWhatItShows() {
    QFETCH(QString, change);
    IconButton *button = m_view->actionButton();
    if (change == u"state"_qs) {
        DownloadJob *job = add({u"failsSoon"_qs}).front();
        QTRY_VERIFY(job->title());
        hover(indexOf(job));
        QCOMPARE(button->toolTip(), u"Cancel"_qs);
        // A click in the very turn the job fails, before the button has caught up, must not
        // retry a job the button offered to cancel.
        bool clicked = false;
        const auto connection = connect(job, &DownloadJob::stateChanged, this, [&] {
            if (!holds(job, DownloadJob::Failed{}) || clicked)
                return;
            clicked = true;
            QCOMPARE(button->toolTip(), u"Cancel"_qs);
            QTest::mouseClick(button, Qt::LeftButton);
        });
        QTRY_VERIFY(clicked);
        disconnect(connection);
        QCOMPARE(m_queue->jobs(), QList<DownloadJob *>{job});
        QTRY_COMPARE(button->toolTip(), u"Retry"_qs);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(m_queue->jobs().front() != job);
        return;
    }

    const QList<DownloadJob *> failing = add(QStringList(10, u"failing"_qs));
    QTRY_VERIFY(std::all_of(failing.begin(), failing.end(),
                            [](const DownloadJob *job) { return !job->isActive(); }));
    DownloadJob *above = nullptr;
    if (change == u"height"_qs)
        above = add({u"failsLongSoon"_qs}).front();
    m_view->resize(560, 260);
    QTest::qWait(2 * JobListModel::refreshInterval);
    const QModelIndex first = m_model->index(above ? 1 : 0);
    const QPoint pointer = actionRect(first).center();
    QTest::mouseMove(m_view->viewport(), pointer);
    QTRY_COMPARE(button->geometry(), actionRect(first));

    if (change == u"scroll"_qs) {
        QWheelEvent wheel(pointer, m_view->viewport()->mapToGlobal(pointer), {}, {0, -120},
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(m_view->viewport(), &wheel);
        QVERIFY(m_view->verticalScrollBar()->value() > 0);
    } else {
        QTRY_VERIFY(holds(above, DownloadJob::Failed{}));
    }
    // Whatever row now lies under the pointer carries the button, and a click retries it.
    QModelIndex under;
    const bool scrolled = change == u"scroll"_qs;
    QTRY_VERIFY((under = m_view->indexAt(pointer)).isValid() &&
                (under.row() != first.row()) == scrolled && actionRect(under).contains(pointer) &&
                button->geometry() == actionRect(under));
    const DownloadJob *shown = m_model->job(under);
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!m_queue->jobs().contains(shown));

    // A click on a row's painted symbol acts too, even where the button is not.
    const QModelIndex other = m_model->index(under.row() == 2 ? 3 : 2);
    const DownloadJob *painted = m_model->job(other);
    QVERIFY(button->geometry() != actionRect(other));
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, actionRect(other).center());
    QVERIFY(!m_queue->jobs().contains(painted));
}

TOVIK_GUI_TEST_MAIN(TestJobList)
#include "tst_joblist.moc"
