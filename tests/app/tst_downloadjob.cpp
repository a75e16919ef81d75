#include "DownloadJob.h"

#include <QSignalSpy>
#include <QTest>
#include <deque>

using State = DownloadJob::State;

namespace {

// One event and what the job shows after it.
struct Step {
    YTDLPEvent event;
    qint64 partsFinished;
    double fraction;
    State state;
};

// How many times each signal of a job came, in the order the class declares them: state,
// title, playlist index, playlist count, fraction, speed, eta, files, warning, changed.
class Spies {
public:
    explicit Spies(const DownloadJob &job) {
        const QMetaObject &meta = DownloadJob::staticMetaObject;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            if (meta.method(i).methodType() == QMetaMethod::Signal)
                m_spies.emplace_back(&job, meta.method(i));
        }
    }
    QString counts() const {
        QStringList list;
        for (const QSignalSpy &spy : m_spies)
            list.append(QString::number(spy.count()));
        return list.join(u' ');
    }

private:
    std::deque<QSignalSpy> m_spies;
};

} // namespace

Q_DECLARE_METATYPE(OutputFormat)
using Steps = QList<Step>;
Q_DECLARE_METATYPE(Steps)

class TestDownloadJob : public QObject {
    Q_OBJECT

    using Number = std::optional<qint64>;

    static YTDLPEvent item(Number index = {}, Number count = {},
                           const QString &title = u"Clip"_qs) {
        return YTDLPEvent::Item{u"id"_qs, index, count, title};
    }
    static YTDLPEvent progress(Number downloaded, Number total,
                               std::optional<double> speed = 2048.0, Number eta = 7) {
        return YTDLPEvent::Progress{u"id"_qs, false, downloaded, total, speed, eta};
    }
    // A report of a download in fragments, its total an estimate as yt-dlp makes them.
    static YTDLPEvent fragment(qint64 downloaded, qint64 estimate, Number index, Number count) {
        return YTDLPEvent::Progress{u"id"_qs, false, downloaded, estimate, 2048.0, 7, index, count};
    }
    static YTDLPEvent finished(std::optional<double> speed = {}, Number eta = {}) {
        return YTDLPEvent::Progress{u"id"_qs, true, 1000, 1000, speed, eta};
    }
    static YTDLPEvent file(const QString &path) { return YTDLPEvent::File{u"id"_qs, path}; }
    static DownloadRequest request(OutputFormat format) {
        return {QUrl(u"https://example.com/v"_qs), format, false, QUrl::fromLocalFile(u"/tmp"_qs)};
    }
    // What a job shows besides its state and fraction, "-" for an empty field: title,
    // playlist index and count, speed, eta, files, parts finished.
    static QString shown(const DownloadJob &job) {
        const auto text = [](const auto &field) {
            return field ? QVariant::fromValue(*field).toString() : u"-"_qs;
        };
        return QStringList{text(job.title()),
                           text(job.playlistIndex()),
                           text(job.playlistCount()),
                           text(job.speed()),
                           text(job.eta()),
                           QString::number(job.files().size()),
                           QString::number(job.m_partsFinished)}
            .join(u' ');
    }

private Q_SLOTS:
    void newJob() {
        const DownloadRequest req = request(OutputFormat::video720);
        DownloadJob a(req);
        DownloadJob b(req);
        QVERIFY(!a.id().isNull());
        QVERIFY(a.id() != b.id());
        QCOMPARE(a.request(), req);
        QVERIFY(a.state() == State(DownloadJob::Queued{}));
        QCOMPARE(shown(a), u"- - - - - 0 0"_qs);
        QCOMPARE(a.fraction(), 0.0);
        QCOMPARE(a.warning(), std::nullopt);
        // Queued, downloading and processing are active; the final states are not.
        const QList<State> states{DownloadJob::Queued{},     DownloadJob::Downloading{},
                                  DownloadJob::Processing{}, DownloadJob::Finished{},
                                  DownloadJob::Cancelled{},  DownloadJob::Failed{u"x"_qs}};
        QString active;
        for (const State &state : states) {
            a.setState(state);
            active += a.isActive() ? u'1' : u'0';
        }
        QCOMPARE(active, u"111000"_qs);
    }

    void course_data() {
        QTest::addColumn<OutputFormat>("format");
        QTest::addColumn<Steps>("steps");
        const State D = DownloadJob::Downloading{};
        const State P = DownloadJob::Processing{};
        const Steps video =
            Steps() << Step{item(), 0, 0.0, D} << Step{progress(400, 1000), 0, 0.36, D}
                    << Step{finished(), 1, 0.9, D} << Step{progress(500, 1000), 1, 0.95, D}
                    << Step{finished(), 2, 1.0, P} << Step{file(u"/tmp/Clip.mp4"_qs), 2, 1.0, P};
        QTest::newRow("video 1080") << OutputFormat::video1080 << video;
        QTest::newRow("video 720") << OutputFormat::video720 << video;
        QTest::newRow("video 480") << OutputFormat::video480 << video;
        QTest::newRow("audio") << OutputFormat::audio
                               << (Steps() << Step{item(), 0, 0.0, D}
                                           << Step{progress(250, 1000), 0, 0.25, D}
                                           << Step{finished(), 1, 1.0, P}
                                           << Step{file(u"/tmp/Clip.m4a"_qs), 1, 1.0, P});
        // A source that offers only a combined file: one part where two are expected.
        QTest::newRow("one combined file")
            << OutputFormat::video720
            << (Steps() << Step{item(), 0, 0.0, D} << Step{progress(500, 1000), 0, 0.45, D}
                        << Step{finished(), 1, 0.9, D}
                        << Step{file(u"/tmp/Clip.mp4"_qs), 1, 1.0, D});
        QTest::newRow("more finished parts than weights, video")
            << OutputFormat::video1080
            << (Steps() << Step{item(), 0, 0.0, D} << Step{finished(), 1, 0.9, D}
                        << Step{finished(), 2, 1.0, P} << Step{progress(500, 1000), 2, 1.0, P}
                        << Step{finished(), 3, 1.0, P} << Step{progress(900, 1000), 3, 1.0, P});
        QTest::newRow("more finished parts than weights, audio")
            << OutputFormat::audio
            << (Steps() << Step{item(), 0, 0.0, D} << Step{finished(), 1, 1.0, P}
                        << Step{progress(10, 1000), 1, 1.0, P} << Step{finished(), 2, 1.0, P});
        QTest::newRow("no total, or a total of 0, shows only the finished parts")
            << OutputFormat::video480
            << (Steps() << Step{item(), 0, 0.0, D} << Step{progress(400, std::nullopt), 0, 0.0, D}
                        << Step{progress(400, 0), 0, 0.0, D} << Step{finished(), 1, 0.9, D}
                        << Step{progress(400, std::nullopt), 1, 0.9, D}
                        << Step{progress(std::nullopt, 1000), 1, 0.9, D}
                        << Step{progress(400, 0), 1, 0.9, D});
        // Numbers as yt-dlp printed them for a DASH source: an init segment of 835 bytes, then
        // media segments of about 46 kB; the estimate is made again after each fragment.
        QTest::newRow("fragments")
            << OutputFormat::video1080
            << (Steps() << Step{item(), 0, 0.0, D} << Step{fragment(835, 3340, 0, 4), 0, 0.0, D}
                        << Step{fragment(835, 3340, 1, 4), 0, 0.225, D}
                        << Step{fragment(20000, 93762, 1, 4), 0, 0.9 * (1 + 19165.0 / 46046) / 4, D}
                        << Step{fragment(46881, 93762, 1, 4), 0, 0.45, D}
                        << Step{fragment(46881, 93762, 2, 4), 0, 0.45, D}
                        << Step{fragment(140000, 140000, 4, 4), 0, 0.9, D}
                        << Step{finished(), 1, 0.9, D}
                        << Step{fragment(765, 6885, 1, 9), 1, 0.9 + 0.1 / 9, D}
                        << Step{fragment(1789, 42939, 1, 9), 1, 0.9 + 0.1 * (1 + 1024.0 / 8777) / 9,
                                D}
                        << Step{finished(), 2, 1.0, P});
        QTest::newRow("fragment numbers that make no sense leave it to the bytes")
            << OutputFormat::video1080
            << (Steps() << Step{item(), 0, 0.0, D} << Step{fragment(300, 1000, 5, 4), 0, 0.27, D}
                        << Step{fragment(400, 1000, 0, 0), 0, 0.36, D}
                        << Step{fragment(500, 1000, -1, 4), 0, 0.45, D}
                        << Step{fragment(600, 1000, 2, std::nullopt), 0, 0.54, D});
        QTest::newRow("a part's bar never moves back")
            << OutputFormat::video720
            << (Steps() << Step{item(), 0, 0.0, D} << Step{progress(800, 1000), 0, 0.72, D}
                        << Step{progress(810, 3000), 0, 0.72, D}
                        << Step{fragment(900, 4000, 1, 4), 0, 0.72, D}
                        << Step{progress(1200, 1000), 0, 0.9, D} << Step{finished(), 1, 0.9, D}
                        << Step{progress(100, 1000), 1, 0.91, D}
                        << Step{progress(-5, 1000), 1, 0.91, D});
        QTest::newRow("a new entry measures its fragments afresh")
            << OutputFormat::audio
            << (Steps() << Step{item(1, 2), 0, 0.0, D} << Step{fragment(100, 400, 1, 4), 0, 0.25, D}
                        << Step{fragment(150, 400, 1, 4), 0, 0.375, D}
                        << Step{item(2, 2), 0, 0.0, D} << Step{fragment(50, 200, 1, 4), 0, 0.25, D}
                        << Step{fragment(75, 200, 1, 4), 0, 0.375, D});
        // The next entry of a playlist starts its bar over, even from processing.
        QTest::newRow("playlist entries")
            << OutputFormat::audio
            << (Steps() << Step{item(1, 2), 0, 0.0, D} << Step{finished(), 1, 1.0, P}
                        << Step{file(u"/tmp/P/One.m4a"_qs), 1, 1.0, P}
                        << Step{item(2, 2), 0, 0.0, D} << Step{progress(300, 1000), 0, 0.3, D});
    }

    void course() {
        QFETCH(OutputFormat, format);
        QFETCH(Steps, steps);
        DownloadJob job(request(format));
        job.setState(DownloadJob::Downloading{});
        for (qsizetype i = 0; i < steps.size(); ++i) {
            job.handle(steps.at(i).event);
            const QByteArray where = "after step " + QByteArray::number(i) + ", fraction " +
                                     QByteArray::number(job.fraction());
            QVERIFY2(job.m_partsFinished == steps.at(i).partsFinished, where.constData());
            QVERIFY2(qFuzzyCompare(1.0 + job.fraction(), 1.0 + steps.at(i).fraction),
                     where.constData());
            QVERIFY2(job.state() == steps.at(i).state, where.constData());
        }
    }

    void fieldsFollowTheEvents() {
        DownloadJob job(request(OutputFormat::video720));
        job.handle(item(1, 3, u"First"_qs));
        job.handle(progress(100, 1000, 512.5, 9));
        QCOMPARE(shown(job), u"First 1 3 512.5 9 0 0"_qs);
        // A finished report clears speed and eta; so does an unknown one in a running report.
        job.handle(finished(4096.0, 3));
        QCOMPARE(shown(job), u"First 1 3 - - 0 1"_qs);
        job.handle(progress(100, 1000, 256.0, 4));
        job.handle(progress(200, 1000, std::nullopt, std::nullopt));
        QCOMPARE(shown(job), u"First 1 3 - - 0 1"_qs);

        // A new entry starts its bar over and keeps speed and eta until the next report.
        job.handle(progress(500, 1000, 300.0, 12));
        job.handle(item(2, 3, u"Second"_qs));
        QCOMPARE(shown(job), u"Second 2 3 300 12 0 0"_qs);
        QCOMPARE(job.fraction(), 0.0);
        // An entry that names its playlist is shown under the playlist's title.
        job.handle(YTDLPEvent::Item{u"id"_qs, 3, 3, u"Third"_qs, u"Talks"_qs});
        QCOMPARE(shown(job), u"Talks 3 3 300 12 0 0"_qs);
        job.handle(item(std::nullopt, std::nullopt, u"NA"_qs));
        QCOMPARE(shown(job), u"NA - - 300 12 0 0"_qs);

        // The same path twice is listed twice.
        Spies spies(job);
        job.handle(file(u"/tmp/a b/Ü.m4a"_qs));
        job.handle(file(u"/tmp/a b/Ü.m4a"_qs));
        const QUrl url = QUrl::fromLocalFile(u"/tmp/a b/Ü.m4a"_qs);
        QCOMPARE(job.files(), (QList<QUrl>{url, url}));
        QCOMPARE(job.files().first().toLocalFile(), u"/tmp/a b/Ü.m4a"_qs);
        QCOMPARE(spies.counts(), u"0 0 0 0 1 0 0 2 0 2"_qs);
    }

    void notifiesOnlyRealChanges() {
        DownloadJob job(request(OutputFormat::video1080));
        Spies spies(job);
        job.handle(item(1, 2));
        // title, index, count and state changed; the fraction was 0 already.
        QCOMPARE(spies.counts(), u"1 1 1 1 0 0 0 0 0 1"_qs);
        job.handle(item(1, 2));
        QCOMPARE(spies.counts(), u"1 1 1 1 0 0 0 0 0 1"_qs);
        job.handle(progress(100, 1000, 50.0, 3));
        QCOMPARE(spies.counts(), u"1 1 1 1 1 1 1 0 0 2"_qs);
        job.handle(progress(100, 1000, 50.0, 3));
        QCOMPARE(spies.counts(), u"1 1 1 1 1 1 1 0 0 2"_qs);
        // Only the speed moved.
        job.handle(progress(100, 1000, 60.0, 3));
        QCOMPARE(spies.counts(), u"1 1 1 1 1 2 1 0 0 3"_qs);
        // An error line changes nothing.
        job.handle(YTDLPEvent::Error{u"Video unavailable"_qs});
        QCOMPARE(spies.counts(), u"1 1 1 1 1 2 1 0 0 3"_qs);
        QCOMPARE(job.fraction(), 0.09);

        job.setState(DownloadJob::Downloading{});
        job.setState(DownloadJob::Failed{u"a"_qs});
        job.setState(DownloadJob::Failed{u"a"_qs});
        QCOMPARE(spies.counts(), u"2 1 1 1 1 2 1 0 0 4"_qs);
        job.setState(DownloadJob::Failed{u"b"_qs});
        job.setWarning(u"One item failed: x"_qs);
        job.setWarning(u"One item failed: x"_qs);
        QCOMPARE(spies.counts(), u"3 1 1 1 1 2 1 0 1 6"_qs);
        job.setWarning(std::nullopt);
        QCOMPARE(spies.counts(), u"3 1 1 1 1 2 1 0 2 7"_qs);

        // Two finished reports for an audio job: processing is entered once.
        DownloadJob audio(request(OutputFormat::audio));
        audio.handle(item());
        QSignalSpy audioState(&audio, &DownloadJob::stateChanged);
        audio.handle(finished());
        audio.handle(finished());
        QCOMPARE(audioState.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDownloadJob)
#include "tst_downloadjob.moc"
