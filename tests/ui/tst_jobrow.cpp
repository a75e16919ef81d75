#include "JobRow.h"
#include "TestJobs.h"

#include <QTest>
#include <functional>
#include <limits>

using Drive = std::function<void(DownloadJob &)>;
using MenuItems = QList<JobRow::MenuItem>;
Q_DECLARE_METATYPE(Drive)
Q_DECLARE_METATYPE(OutputFormat)
Q_DECLARE_METATYPE(Symbol)
Q_DECLARE_METATYPE(Tint)
Q_DECLARE_METATYPE(std::optional<JobRow::Action>)

namespace {

YTDLPEvent item(std::optional<qint64> index = {}, std::optional<qint64> count = {},
                const QString &title = u"Clip"_qs) {
    return YTDLPEvent::Item{u"id"_qs, index, count, title};
}

YTDLPEvent progress(std::optional<double> speed, std::optional<qint64> eta) {
    return YTDLPEvent::Progress{u"id"_qs, false, 400, 1000, speed, eta};
}

YTDLPEvent partDone() {
    return YTDLPEvent::Progress{u"id"_qs, true, 1000, 1000, {}, {}};
}

YTDLPEvent file(const QString &path) {
    return YTDLPEvent::File{u"id"_qs, path};
}

Drive events(QList<YTDLPEvent> list, std::optional<DownloadJob::State> end = {}) {
    return [list, end](DownloadJob &job) {
        for (const YTDLPEvent &event : list)
            TestJobs::handle(job, event);
        if (end)
            TestJobs::setState(job, *end);
    };
}

Drive finishedWithWarning(QList<YTDLPEvent> list, const QString &warning) {
    return [list, warning](DownloadJob &job) {
        events(list, DownloadJob::Finished{})(job);
        TestJobs::setWarning(job, warning);
    };
}

} // namespace

class TestJobRow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void status_data();
    void status();
    void actionsAndMenu_data();
    void actionsAndMenu();
    void titleIsTheLinkUntilKnown();
};

void TestJobRow::status_data() {
    QTest::addColumn<OutputFormat>("format");
    QTest::addColumn<Drive>("drive");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Symbol>("symbol");
    QTest::addColumn<Tint>("tint");
    QTest::addColumn<bool>("bar");
    QTest::addColumn<bool>("error");

    const auto v720 = OutputFormat::video720;
    const auto audio = OutputFormat::audio;
    const auto downloading = Symbol::arrowDownCircle;
    const Drive starting = [](DownloadJob &job) {
        TestJobs::setState(job, DownloadJob::Downloading{});
    };
    const Drive startingInPlaylist = [](DownloadJob &job) {
        TestJobs::setState(job, DownloadJob::Downloading{});
        TestJobs::setPlaylist(job, 3, 12);
    };

    QTest::newRow("queued") << v720 << Drive([](DownloadJob &) {}) << u"Waiting…"_qs
                            << Symbol::clock << Tint::secondary << false << false;
    QTest::newRow("started, no title yet")
        << v720 << starting << u"Starting…"_qs << downloading << Tint::accent << true << false;
    QTest::newRow("started inside a playlist, no title yet")
        << v720 << startingInPlaylist << u"Starting…"_qs << downloading << Tint::accent << true
        << false;
    QTest::newRow("playlist item 2 of 5 at 1.5 MB/s, 90 s left")
        << v720 << events({item(2, 5), progress(1.5e6, 90)})
        << u"2 of 5 · Video — up to 720p · 1.5 MB/s · 1:30 left"_qs << downloading << Tint::accent
        << true << false;
    QTest::newRow("playlist count without index")
        << v720 << events({item({}, 4), progress({}, {})}) << u"0 of 4 · Video — up to 720p"_qs
        << downloading << Tint::accent << true << false;
    QTest::newRow("eta 0 has no time part")
        << v720 << events({item(), progress(2.3e6, 0)}) << u"Video — up to 720p · 2.3 MB/s"_qs
        << downloading << Tint::accent << true << false;
    QTest::newRow("no speed part without a speed")
        << v720 << events({item(), progress({}, 75)}) << u"Video — up to 720p · 1:15 left"_qs
        << downloading << Tint::accent << true << false;
    QTest::newRow("label alone") << OutputFormat::video1080 << events({item(), progress({}, {})})
                                 << u"Video — up to 1080p"_qs << downloading << Tint::accent << true
                                 << false;
    QTest::newRow("minutes beyond an hour")
        << OutputFormat::video480 << events({item(), progress({}, 3725)})
        << u"Video — up to 480p · 62:05 left"_qs << downloading << Tint::accent << true << false;
    QTest::newRow("speed truncated to whole bytes")
        << audio << events({item(), progress(999.9, {})}) << u"Audio only (M4A) · 999 bytes/s"_qs
        << downloading << Tint::accent << true << false;
    QTest::newRow("infinite speed left out")
        << v720 << events({item(), progress(std::numeric_limits<double>::infinity(), 5)})
        << u"Video — up to 720p · 0:05 left"_qs << downloading << Tint::accent << true << false;
    QTest::newRow("speed beyond 64 bits left out")
        << v720 << events({item(), progress(1e30, {})}) << u"Video — up to 720p"_qs << downloading
        << Tint::accent << true << false;
    QTest::newRow("merging, in a playlist") << v720 << events({item(3, 12), partDone(), partDone()})
                                            << u"3 of 12 · Merging video and audio…"_qs
                                            << Symbol::gearshape2 << Tint::accent << true << false;
    QTest::newRow("extracting audio")
        << audio << events({item(), partDone()}) << u"Extracting audio…"_qs << Symbol::gearshape2
        << Tint::accent << true << false;
    QTest::newRow("finished audio, one file")
        << audio
        << events({item(2, 5), partDone(), file(u"/tmp/out/Song.m4a"_qs)}, DownloadJob::Finished{})
        << u"Song.m4a"_qs << Symbol::checkmarkCircleFill << Tint::green << false << false;
    QTest::newRow("finished with a warning")
        << audio
        << finishedWithWarning({item(), partDone(), file(u"/tmp/out/Song.m4a"_qs)},
                               u"One item failed: Video unavailable"_qs)
        << u"Song.m4a — One item failed: Video unavailable"_qs << Symbol::exclamationmarkCircleFill
        << Tint::orange << false << false;
    QTest::newRow("finished playlist of four")
        << v720
        << events({item(4, 4), file(u"/tmp/out/L/a.mp4"_qs), file(u"/tmp/out/L/b.mp4"_qs),
                   file(u"/tmp/out/L/c.mp4"_qs), file(u"/tmp/out/L/d.mp4"_qs)},
                  DownloadJob::Finished{})
        << u"4 files saved"_qs << Symbol::checkmarkCircleFill << Tint::green << false << false;
    QTest::newRow("finished without files")
        << v720 << events({}, DownloadJob::Finished{}) << u"0 files saved"_qs
        << Symbol::checkmarkCircleFill << Tint::green << false << false;
    QTest::newRow("cancelled inside a playlist")
        << v720 << events({item(2, 5), progress(1e6, 3)}, DownloadJob::Cancelled{})
        << u"Cancelled"_qs << Symbol::xmarkCircle << Tint::secondary << false << false;
    QTest::newRow("failed") << v720
                            << events(
                                   {item(1, 3)},
                                   DownloadJob::Failed{u"Could not start yt-dlp: No such file"_qs})
                            << u"Could not start yt-dlp: No such file"_qs
                            << Symbol::exclamationmarkTriangleFill << Tint::red << false << true;
}

void TestJobRow::status() {
    QFETCH(OutputFormat, format);
    QFETCH(Drive, drive);
    const auto job = TestJobs::make(format);
    drive(*job);

    QTEST(JobRow::statusText(*job), "text");
    const JobRow::StatusIcon icon = JobRow::statusIcon(*job);
    QTEST(icon.symbol, "symbol");
    QTEST(icon.tint, "tint");
    QTEST(JobRow::showsProgress(*job), "bar");
    QTEST(JobRow::statusIsError(*job), "error");
}

void TestJobRow::actionsAndMenu_data() {
    QTest::addColumn<Drive>("drive");
    QTest::addColumn<std::optional<JobRow::Action>>("action");
    QTest::addColumn<Symbol>("symbol");
    QTest::addColumn<bool>("removable");

    using A = JobRow::Action;
    const Drive nothing = [](DownloadJob &) {};
    QTest::newRow("queued") << nothing << std::optional(A::cancel) << Symbol::xmarkCircleFill
                            << false;
    QTest::newRow("downloading") << events({item(), progress(1, 1)}) << std::optional(A::cancel)
                                 << Symbol::xmarkCircleFill << false;
    QTest::newRow("processing") << events({item(), partDone(), partDone()})
                                << std::optional(A::cancel) << Symbol::xmarkCircleFill << false;
    QTest::newRow("finished with files")
        << events({file(u"/tmp/a.mp4"_qs)}, DownloadJob::Finished{}) << std::optional(A::reveal)
        << Symbol::magnifyingglassCircleFill << true;
    QTest::newRow("finished with a warning and files")
        << finishedWithWarning({file(u"/tmp/a.mp4"_qs)}, u"2 items failed."_qs)
        << std::optional(A::reveal) << Symbol::magnifyingglassCircleFill << true;
    QTest::newRow("finished without files")
        << events({}, DownloadJob::Finished{}) << std::optional<A>() << Symbol::circle << true;
    QTest::newRow("cancelled") << events({}, DownloadJob::Cancelled{}) << std::optional(A::retry)
                               << Symbol::arrowClockwiseCircleFill << true;
    QTest::newRow("failed") << events({}, DownloadJob::Failed{u"Nope"_qs})
                            << std::optional(A::retry) << Symbol::arrowClockwiseCircleFill << true;
}

void TestJobRow::actionsAndMenu() {
    QFETCH(Drive, drive);
    QFETCH(std::optional<JobRow::Action>, action);
    QFETCH(Symbol, symbol);
    QFETCH(bool, removable);
    const auto job = TestJobs::make();
    drive(*job);

    QCOMPARE(JobRow::action(*job), action);
    if (action)
        QCOMPARE(JobRow::actionSymbol(*action), symbol);
    // A failed job's message can be copied whole.
    MenuItems expected{JobRow::MenuItem::copyLink};
    if (std::holds_alternative<DownloadJob::Failed>(job->state()))
        expected.append(JobRow::MenuItem::copyError);
    if (removable)
        expected.append(JobRow::MenuItem::remove);
    QCOMPARE(JobRow::menuItems(*job), expected);
}

void TestJobRow::titleIsTheLinkUntilKnown() {
    const auto job =
        TestJobs::make(OutputFormat::video720, u"https://example.com/watch?v=a%20b"_qs);
    QCOMPARE(JobRow::title(*job), u"https://example.com/watch?v=a%20b"_qs);
    TestJobs::setState(*job, DownloadJob::Downloading{});
    QCOMPARE(JobRow::title(*job), u"https://example.com/watch?v=a%20b"_qs);
    TestJobs::handle(*job, item(1, 2, u"Café at night"_qs));
    QCOMPARE(JobRow::title(*job), u"Café at night"_qs);
}

QTEST_GUILESS_MAIN(TestJobRow)
#include "tst_jobrow.moc"
