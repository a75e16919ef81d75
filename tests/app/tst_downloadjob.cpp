#include "DownloadJob.h"

#include <QSignalSpy>
#include <QTest>

using State = DownloadJob::State;

namespace {

YTDLPEvent item(std::optional<qint64> index = {}, std::optional<qint64> count = {},
                const QString &title = u"Clip"_qs) {
    return YTDLPEvent::Item{u"id"_qs, index, count, title};
}

YTDLPEvent progress(std::optional<qint64> downloaded, std::optional<qint64> total,
                    std::optional<double> speed = 2048.0, std::optional<qint64> eta = 7) {
    return YTDLPEvent::Progress{u"id"_qs, false, downloaded, total, speed, eta};
}

// A report of a download in fragments, its total an estimate as yt-dlp makes them.
YTDLPEvent fragment(qint64 downloaded, qint64 estimate, std::optional<qint64> index,
                    std::optional<qint64> count) {
    return YTDLPEvent::Progress{u"id"_qs, false, downloaded, estimate, 2048.0, 7, index, count};
}

YTDLPEvent finished(std::optional<double> speed = {}, std::optional<qint64> eta = {}) {
    return YTDLPEvent::Progress{u"id"_qs, true, 1000, 1000, speed, eta};
}

YTDLPEvent file(const QString &path) {
    return YTDLPEvent::File{u"id"_qs, path};
}

// One event and what the job shows after it.
struct Step {
    YTDLPEvent event;
    qint64 partsFinished;
    double fraction;
    State state;
};

DownloadRequest request(OutputFormat format) {
    return {QUrl(u"https://example.com/v"_qs), format, false, QUrl::fromLocalFile(u"/tmp"_qs)};
}

// Every signal of a job, to check which fields announced a change.
struct Spies {
    explicit Spies(DownloadJob &job)
        : state(&job, &DownloadJob::stateChanged), title(&job, &DownloadJob::titleChanged),
          playlistIndex(&job, &DownloadJob::playlistIndexChanged),
          playlistCount(&job, &DownloadJob::playlistCountChanged),
          fraction(&job, &DownloadJob::fractionChanged), speed(&job, &DownloadJob::speedChanged),
          eta(&job, &DownloadJob::etaChanged), files(&job, &DownloadJob::filesChanged),
          warning(&job, &DownloadJob::warningChanged), changed(&job, &DownloadJob::changed) {}

    QList<qsizetype> counts() const {
        return {state.count(),    title.count(),  playlistIndex.count(), playlistCount.count(),
                fraction.count(), speed.count(),  eta.count(),           files.count(),
                warning.count(),  changed.count()};
    }

    QSignalSpy state, title, playlistIndex, playlistCount, fraction, speed, eta, files, warning,
        changed;
};

} // namespace

Q_DECLARE_METATYPE(OutputFormat)
Q_DECLARE_METATYPE(QList<Step>)

class TestDownloadJob : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void newJob();
    void isActive_data();
    void isActive();
    void course_data();
    void course();
    void finishedReportClearsSpeedAndEta();
    void newPlaylistEntry();
    void itemWithoutPositionClearsIt();
    void samePathTwice();
    void errorChangesNothing();
    void notifiesOnlyRealChanges();
    void stateAndWarningNotifyOnlyOnChange();

private:
    static qint64 partsFinished(const DownloadJob &job) { return job.m_partsFinished; }
};

void TestDownloadJob::newJob() {
    const DownloadRequest req = request(OutputFormat::video720);
    DownloadJob a(req);
    DownloadJob b(req);
    QVERIFY(!a.id().isNull());
    QVERIFY(a.id() != b.id());
    QCOMPARE(a.request(), req);
    QVERIFY(a.state() == State(DownloadJob::Queued{}));
    QCOMPARE(a.title(), std::nullopt);
    QCOMPARE(a.playlistIndex(), std::nullopt);
    QCOMPARE(a.playlistCount(), std::nullopt);
    QCOMPARE(a.fraction(), 0.0);
    QCOMPARE(a.speed(), std::nullopt);
    QCOMPARE(a.eta(), std::nullopt);
    QVERIFY(a.files().isEmpty());
    QCOMPARE(a.warning(), std::nullopt);
    QCOMPARE(partsFinished(a), 0);
}

void TestDownloadJob::isActive_data() {
    QTest::addColumn<State>("state");
    QTest::addColumn<bool>("active");
    QTest::newRow("queued") << State(DownloadJob::Queued{}) << true;
    QTest::newRow("downloading") << State(DownloadJob::Downloading{}) << true;
    QTest::newRow("processing") << State(DownloadJob::Processing{}) << true;
    QTest::newRow("finished") << State(DownloadJob::Finished{}) << false;
    QTest::newRow("cancelled") << State(DownloadJob::Cancelled{}) << false;
    QTest::newRow("failed") << State(DownloadJob::Failed{u"x"_qs}) << false;
}

void TestDownloadJob::isActive() {
    QFETCH(State, state);
    QFETCH(bool, active);
    DownloadJob job(request(OutputFormat::audio));
    job.setState(state);
    QCOMPARE(job.isActive(), active);
}

void TestDownloadJob::course_data() {
    QTest::addColumn<OutputFormat>("format");
    QTest::addColumn<QList<Step>>("steps");

    const State downloading = DownloadJob::Downloading{};
    const State processing = DownloadJob::Processing{};
    const QList<Step> videoCourse{
        {item(), 0, 0.0, downloading},     {progress(400, 1000), 0, 0.36, downloading},
        {finished(), 1, 0.9, downloading}, {progress(500, 1000), 1, 0.95, downloading},
        {finished(), 2, 1.0, processing},  {file(u"/tmp/Clip.mp4"_qs), 2, 1.0, processing},
    };
    QTest::newRow("video 1080") << OutputFormat::video1080 << videoCourse;
    QTest::newRow("video 720") << OutputFormat::video720 << videoCourse;
    QTest::newRow("video 480") << OutputFormat::video480 << videoCourse;

    QTest::newRow("audio") << OutputFormat::audio
                           << QList<Step>{
                                  {item(), 0, 0.0, downloading},
                                  {progress(250, 1000), 0, 0.25, downloading},
                                  {finished(), 1, 1.0, processing},
                                  {file(u"/tmp/Clip.m4a"_qs), 1, 1.0, processing},
                              };

    // A source that offers only a combined file: one part where two are expected.
    QTest::newRow("one combined file") << OutputFormat::video720
                                       << QList<Step>{
                                              {item(), 0, 0.0, downloading},
                                              {progress(500, 1000), 0, 0.45, downloading},
                                              {finished(), 1, 0.9, downloading},
                                              {file(u"/tmp/Clip.mp4"_qs), 1, 1.0, downloading},
                                          };

    QTest::newRow("more finished parts than weights, video")
        << OutputFormat::video1080
        << QList<Step>{
               {item(), 0, 0.0, downloading},    {finished(), 1, 0.9, downloading},
               {finished(), 2, 1.0, processing}, {progress(500, 1000), 2, 1.0, processing},
               {finished(), 3, 1.0, processing}, {progress(900, 1000), 3, 1.0, processing},
           };
    QTest::newRow("more finished parts than weights, audio")
        << OutputFormat::audio
        << QList<Step>{
               {item(), 0, 0.0, downloading},
               {finished(), 1, 1.0, processing},
               {progress(10, 1000), 1, 1.0, processing},
               {finished(), 2, 1.0, processing},
           };

    QTest::newRow("no total, or a total of 0, shows only the finished parts")
        << OutputFormat::video480
        << QList<Step>{
               {item(), 0, 0.0, downloading},
               {progress(400, std::nullopt), 0, 0.0, downloading},
               {progress(400, 0), 0, 0.0, downloading},
               {finished(), 1, 0.9, downloading},
               {progress(400, std::nullopt), 1, 0.9, downloading},
               {progress(std::nullopt, 1000), 1, 0.9, downloading},
               {progress(400, 0), 1, 0.9, downloading},
           };

    // Numbers as yt-dlp printed them for a DASH source: an init segment of 835 bytes, then media
    // segments of about 46 kB; the estimate is made again after each fragment.
    QTest::newRow("fragments")
        << OutputFormat::video1080
        << QList<Step>{
               {item(), 0, 0.0, downloading},
               {fragment(835, 3340, 0, 4), 0, 0.0, downloading},
               {fragment(835, 3340, 1, 4), 0, 0.225, downloading},
               {fragment(20000, 93762, 1, 4), 0, 0.9 * (1 + 19165.0 / 46046) / 4, downloading},
               {fragment(46881, 93762, 1, 4), 0, 0.45, downloading},
               {fragment(46881, 93762, 2, 4), 0, 0.45, downloading},
               {fragment(140000, 140000, 4, 4), 0, 0.9, downloading},
               {finished(), 1, 0.9, downloading},
               {fragment(765, 6885, 1, 9), 1, 0.9 + 0.1 / 9, downloading},
               {fragment(1789, 42939, 1, 9), 1, 0.9 + 0.1 * (1 + 1024.0 / 8777) / 9, downloading},
               {finished(), 2, 1.0, processing},
           };
    QTest::newRow("fragment numbers that make no sense leave it to the bytes")
        << OutputFormat::video1080
        << QList<Step>{
               {item(), 0, 0.0, downloading},
               {fragment(300, 1000, 5, 4), 0, 0.27, downloading},
               {fragment(400, 1000, 0, 0), 0, 0.36, downloading},
               {fragment(500, 1000, -1, 4), 0, 0.45, downloading},
               {fragment(600, 1000, 2, std::nullopt), 0, 0.54, downloading},
           };
    QTest::newRow("a part's bar never moves back")
        << OutputFormat::video720
        << QList<Step>{
               {item(), 0, 0.0, downloading},
               {progress(800, 1000), 0, 0.72, downloading},
               {progress(810, 3000), 0, 0.72, downloading},
               {fragment(900, 4000, 1, 4), 0, 0.72, downloading},
               {progress(1200, 1000), 0, 0.9, downloading},
               {finished(), 1, 0.9, downloading},
               {progress(100, 1000), 1, 0.91, downloading},
               {progress(-5, 1000), 1, 0.91, downloading},
           };
    QTest::newRow("a new entry measures its fragments afresh")
        << OutputFormat::audio
        << QList<Step>{
               {item(1, 2), 0, 0.0, downloading},
               {fragment(100, 400, 1, 4), 0, 0.25, downloading},
               {fragment(150, 400, 1, 4), 0, 0.375, downloading},
               {item(2, 2), 0, 0.0, downloading},
               {fragment(50, 200, 1, 4), 0, 0.25, downloading},
               {fragment(75, 200, 1, 4), 0, 0.375, downloading},
           };

    // The next entry of a playlist starts its bar over, even from processing.
    QTest::newRow("playlist entries") << OutputFormat::audio
                                      << QList<Step>{
                                             {item(1, 2), 0, 0.0, downloading},
                                             {finished(), 1, 1.0, processing},
                                             {file(u"/tmp/P/One.m4a"_qs), 1, 1.0, processing},
                                             {item(2, 2), 0, 0.0, downloading},
                                             {progress(300, 1000), 0, 0.3, downloading},
                                         };
}

void TestDownloadJob::course() {
    QFETCH(OutputFormat, format);
    QFETCH(QList<Step>, steps);
    DownloadJob job(request(format));
    job.setState(DownloadJob::Downloading{});
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const Step &step = steps.at(i);
        job.handle(step.event);
        const QByteArray where = "after step " + QByteArray::number(i) + ", fraction " +
                                 QByteArray::number(job.fraction());
        QVERIFY2(partsFinished(job) == step.partsFinished, where.constData());
        QVERIFY2(qFuzzyCompare(1.0 + job.fraction(), 1.0 + step.fraction), where.constData());
        QVERIFY2(job.state() == step.state, where.constData());
    }
}

void TestDownloadJob::finishedReportClearsSpeedAndEta() {
    DownloadJob job(request(OutputFormat::video1080));
    job.handle(item());
    job.handle(progress(100, 1000, 512.5, 9));
    QCOMPARE(job.speed(), 512.5);
    QCOMPARE(job.eta(), 9);
    job.handle(finished(4096.0, 3));
    QCOMPARE(job.speed(), std::nullopt);
    QCOMPARE(job.eta(), std::nullopt);
    // An unknown speed or eta in a running report clears the field as well.
    job.handle(progress(100, 1000, 256.0, 4));
    job.handle(progress(200, 1000, std::nullopt, std::nullopt));
    QCOMPARE(job.speed(), std::nullopt);
    QCOMPARE(job.eta(), std::nullopt);
}

void TestDownloadJob::newPlaylistEntry() {
    DownloadJob job(request(OutputFormat::video720));
    job.handle(item(1, 3, u"First"_qs));
    job.handle(finished());
    job.handle(progress(500, 1000, 300.0, 12));
    QCOMPARE(partsFinished(job), 1);

    job.handle(item(2, 3, u"Second"_qs));
    QCOMPARE(job.title(), u"Second"_qs);
    QCOMPARE(job.playlistIndex(), 2);
    QCOMPARE(job.playlistCount(), 3);
    QCOMPARE(job.fraction(), 0.0);
    QCOMPARE(partsFinished(job), 0);
    QCOMPARE(job.speed(), 300.0);
    QCOMPARE(job.eta(), 12);
}

void TestDownloadJob::itemWithoutPositionClearsIt() {
    DownloadJob job(request(OutputFormat::audio));
    job.handle(item(4, 9));
    QCOMPARE(job.playlistIndex(), 4);
    QCOMPARE(job.playlistCount(), 9);
    job.handle(item(std::nullopt, std::nullopt, u"NA"_qs));
    QCOMPARE(job.playlistIndex(), std::nullopt);
    QCOMPARE(job.playlistCount(), std::nullopt);
    QCOMPARE(job.title(), u"NA"_qs);
}

void TestDownloadJob::samePathTwice() {
    DownloadJob job(request(OutputFormat::audio));
    QSignalSpy filesChanged(&job, &DownloadJob::filesChanged);
    job.handle(file(u"/tmp/a b/Ü.m4a"_qs));
    job.handle(file(u"/tmp/a b/Ü.m4a"_qs));
    const QUrl url = QUrl::fromLocalFile(u"/tmp/a b/Ü.m4a"_qs);
    QCOMPARE(job.files(), (QList<QUrl>{url, url}));
    QCOMPARE(filesChanged.count(), 2);
    QCOMPARE(job.files().first().toLocalFile(), u"/tmp/a b/Ü.m4a"_qs);
}

void TestDownloadJob::errorChangesNothing() {
    DownloadJob job(request(OutputFormat::video1080));
    job.handle(item(1, 2));
    job.handle(progress(10, 100));
    Spies spies(job);
    job.handle(YTDLPEvent::Error{u"Video unavailable"_qs});
    QCOMPARE(spies.counts(), QList<qsizetype>(10, 0));
    QCOMPARE(job.fraction(), 0.09);
    QCOMPARE(job.title(), u"Clip"_qs);
    QCOMPARE(partsFinished(job), 0);
}

void TestDownloadJob::notifiesOnlyRealChanges() {
    DownloadJob job(request(OutputFormat::video1080));
    Spies spies(job);

    job.handle(item(1, 2));
    // title, index, count and state changed; the fraction was 0 already.
    QCOMPARE(spies.counts(), (QList<qsizetype>{1, 1, 1, 1, 0, 0, 0, 0, 0, 1}));

    job.handle(item(1, 2));
    QCOMPARE(spies.changed.count(), 1);

    job.handle(progress(100, 1000, 50.0, 3));
    QCOMPARE(spies.counts(), (QList<qsizetype>{1, 1, 1, 1, 1, 1, 1, 0, 0, 2}));
    job.handle(progress(100, 1000, 50.0, 3));
    QCOMPARE(spies.changed.count(), 2);

    // Only the speed moved.
    job.handle(progress(100, 1000, 60.0, 3));
    QCOMPARE(spies.counts(), (QList<qsizetype>{1, 1, 1, 1, 1, 2, 1, 0, 0, 3}));
}

void TestDownloadJob::stateAndWarningNotifyOnlyOnChange() {
    DownloadJob job(request(OutputFormat::audio));
    Spies spies(job);
    job.setState(DownloadJob::Queued{});
    QCOMPARE(spies.state.count(), 0);
    job.setState(DownloadJob::Processing{});
    job.setState(DownloadJob::Processing{});
    QCOMPARE(spies.state.count(), 1);
    job.setState(DownloadJob::Failed{u"a"_qs});
    job.setState(DownloadJob::Failed{u"a"_qs});
    QCOMPARE(spies.state.count(), 2);
    job.setState(DownloadJob::Failed{u"b"_qs});
    QCOMPARE(spies.state.count(), 3);

    // Two finished reports for an audio job: processing is entered once.
    DownloadJob audio(request(OutputFormat::audio));
    audio.handle(item());
    QSignalSpy audioState(&audio, &DownloadJob::stateChanged);
    audio.handle(finished());
    audio.handle(finished());
    QCOMPARE(audioState.count(), 1);

    job.setWarning(u"One item failed: x"_qs);
    job.setWarning(u"One item failed: x"_qs);
    QCOMPARE(spies.warning.count(), 1);
    job.setWarning(std::nullopt);
    QCOMPARE(spies.warning.count(), 2);
    QCOMPARE(spies.changed.count(), 5);
}

QTEST_GUILESS_MAIN(TestDownloadJob)
#include "tst_downloadjob.moc"
