#include "DownloadJob.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <deque>

using State = DownloadJob::State;
Q_DECLARE_METATYPE(OutputFormat)

namespace {

using Number = std::optional<qint64>;

YTDLPEvent item(Number index = {}, Number count = {}, const QString &title = u"Clip"_qs) {
    return YTDLPEvent::Item{u"id"_qs, index, count, title};
}
YTDLPEvent progress(Number downloaded, Number total, std::optional<double> speed = 2048.0,
                    Number eta = 7) {
    return YTDLPEvent::Progress{u"id"_qs, false, downloaded, total, speed, eta};
}
YTDLPEvent finished(std::optional<double> speed = {}, Number eta = {}) {
    return YTDLPEvent::Progress{u"id"_qs, true, 1000, 1000, speed, eta};
}
YTDLPEvent file(const QString &path) {
    return YTDLPEvent::File{u"id"_qs, path};
}
DownloadRequest request(OutputFormat format) {
    return {QUrl(u"https://example.com/v"_qs), format, false, QUrl::fromLocalFile(u"/tmp"_qs)};
}

// What a job shows besides its state and fraction, "-" for an empty field: title, playlist
// index and count, speed, eta, files; then how many times each of its signals
// came, in the order the class declares them: state, title, playlist index, playlist count,
// fraction, speed, eta, files, warning, changed.
class Shown {
public:
    explicit Shown(const DownloadJob &job) : m_job(job) {
        const QMetaObject &meta = DownloadJob::staticMetaObject;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            if (meta.method(i).methodType() == QMetaMethod::Signal)
                m_spies.emplace_back(&job, meta.method(i));
        }
    }
    QString operator()() const {
        const auto text = [](const auto &field) {
            return field ? QVariant::fromValue(*field).toString() : u"-"_qs;
        };
        QStringList list{text(m_job.title()),
                         text(m_job.playlistIndex()),
                         text(m_job.playlistCount()),
                         text(m_job.speed()),
                         text(m_job.eta()),
                         QString::number(m_job.files().size()),
                         u"|"_qs};
        for (const QSignalSpy &spy : m_spies)
            list.append(QString::number(spy.count()));
        return list.join(u' ');
    }

private:
    const DownloadJob &m_job;
    std::deque<QSignalSpy> m_spies;
};

} // namespace

class TestDownloadJob : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Queued, downloading and processing are active; the final states are not.
    void activeStates() {
        DownloadJob job(request(OutputFormat::video720));
        QString active;
        for (const State &state : {State(DownloadJob::Queued{}), State(DownloadJob::Downloading{}),
                                   State(DownloadJob::Processing{}), State(DownloadJob::Finished{}),
                                   State(DownloadJob::Cancelled{}), State(DownloadJob::Failed{})}) {
            job.setState(state);
            active += job.isActive() ? u'1' : u'0';
        }
        QCOMPARE(active, u"111000"_qs);
    }

    // Each step is an event and what the job shows after it: parts finished, the fraction, and
    // "P" once processing. Events: i item, i1/2 item 1 of 2, p400/1000 progress, with "-" for
    // an unknown number, f835/3340@0/4 progress of fragment 0 of 4, F finished, m a file.
    void course_data() {
        QTest::addColumn<OutputFormat>("format");
        QTest::addColumn<QString>("steps");
        const auto row = [](const char *name, OutputFormat format, const char *steps) {
            QTest::newRow(name) << format << QString::fromUtf8(steps);
        };
        row("video", OutputFormat::video1080,
            "i=0:0 p400/1000=0:0.36 F=1:0.9 p500/1000=1:0.95 F=2:1P m=2:1P");
        row("audio", OutputFormat::audio, "i=0:0 p250/1000=0:0.25 F=1:1P m=1:1P");
        // A source that offers only a combined file: one part where two are expected.
        row("one combined file", OutputFormat::video720, "i=0:0 p500/1000=0:0.45 F=1:0.9 m=1:1");
        row("more finished parts than weights", OutputFormat::video1080,
            "i=0:0 F=1:0.9 F=2:1P p500/1000=2:1P F=3:1P p900/1000=3:1P");
        row("no total, or a total of 0, shows only the finished parts", OutputFormat::video480,
            "i=0:0 p400/-=0:0 p400/0=0:0 F=1:0.9 p400/-=1:0.9 p-/1000=1:0.9 p400/0=1:0.9");
        // Numbers as yt-dlp printed them for a DASH source: an init segment of 835 bytes, then
        // media segments of about 46 kB; the estimate is made again after each fragment. The
        // fourth step is at 0.9 * (1 + 19165 / 46046) / 4, the last but one at
        // 0.9 + 0.1 * (1 + 1024 / 8777) / 9.
        row("fragments", OutputFormat::video1080,
            "i=0:0 f835/3340@0/4=0:0 f835/3340@1/4=0:0.225 f20000/93762@1/4=0:0.318648 "
            "f46881/93762@1/4=0:0.45 f46881/93762@2/4=0:0.45 f140000/140000@4/4=0:0.9 F=1:0.9 "
            "f765/6885@1/9=1:0.911111 f1789/42939@1/9=1:0.912407 F=2:1P");
        row("fragment numbers that make no sense leave it to the bytes", OutputFormat::video1080,
            "i=0:0 f300/1000@5/4=0:0.27 f400/1000@0/0=0:0.36 f500/1000@-1/4=0:0.45 "
            "f600/1000@2/-=0:0.54");
        row("a part's bar never moves back", OutputFormat::video720,
            "i=0:0 p800/1000=0:0.72 p810/3000=0:0.72 f900/4000@1/4=0:0.72 p1200/1000=0:0.9 "
            "F=1:0.9 p100/1000=1:0.91 p-5/1000=1:0.91");
        row("a new entry measures its fragments afresh", OutputFormat::audio,
            "i1/2=0:0 f100/400@1/4=0:0.25 f150/400@1/4=0:0.375 i2/2=0:0 f50/200@1/4=0:0.25 "
            "f75/200@1/4=0:0.375");
        // The next entry of a playlist starts its bar over, even from processing.
        row("playlist entries", OutputFormat::audio,
            "i1/2=0:0 F=1:1P m=1:1P i2/2=0:0 p300/1000=0:0.3");
    }

    void course() {
        QFETCH(OutputFormat, format);
        QFETCH(QString, steps);
        DownloadJob job(request(format));
        job.setState(DownloadJob::Downloading{});
        QStringList trace;
        for (const QString &step : steps.split(u' ')) {
            const QString event = step.section(u'=', 0, 0);
            const QStringList n = event.mid(1).split(QRegularExpression(u"[/@]"_qs));
            const auto at = [&n](int i) {
                bool ok = false;
                const qint64 value = n.value(i).toLongLong(&ok);
                return ok ? Number(value) : std::nullopt;
            };
            const QChar kind = event.front();
            job.handle(kind == u'i'   ? item(at(0), at(1))
                       : kind == u'p' ? progress(at(0), at(1))
                       : kind == u'f' ? YTDLPEvent::Progress{u"id"_qs, false, at(0), at(1), 2.0, 7,
                                                             at(2), at(3)}
                       : kind == u'F' ? finished()
                                      : file(u"/tmp/C.mp4"_qs));
            trace.append(event + u'=' + QString::number(job.m_partsFinished) + u':' +
                         QString::number(job.fraction()) +
                         (std::holds_alternative<DownloadJob::Processing>(job.state())
                              ? u"P"_qs
                              : QString()));
        }
        QCOMPARE(trace.join(u' '), steps);
    }

    // Every field follows the events, and each signal comes only when its value really changes.
    void fieldsAndSignals() {
        DownloadJob job(request(OutputFormat::video720));
        const Shown shown(job);
        job.handle(item(1, 2, u"First"_qs));
        job.handle(item(1, 2, u"First"_qs));
        QCOMPARE(shown(), u"First 1 2 - - 0 | 1 1 1 1 0 0 0 0 0 1"_qs);
        job.handle(progress(100, 1000, 50.0, 3));
        job.handle(progress(100, 1000, 50.0, 3));
        QCOMPARE(shown(), u"First 1 2 50 3 0 | 1 1 1 1 1 1 1 0 0 2"_qs);
        // Only the speed moved; an error line changes nothing.
        job.handle(progress(100, 1000, 60.0, 3));
        job.handle(YTDLPEvent::Error{u"Video unavailable"_qs});
        QCOMPARE(shown(), u"First 1 2 60 3 0 | 1 1 1 1 1 2 1 0 0 3"_qs);
        // A finished report clears speed and eta; so does an unknown one in a running report.
        job.handle(finished(4096.0, 3));
        QCOMPARE(shown(), u"First 1 2 - - 0 | 1 1 1 1 2 3 2 0 0 4"_qs);
        job.handle(progress(100, 1000, 256.0, 4));
        job.handle(progress(200, 1000, std::nullopt, std::nullopt));
        QCOMPARE(shown(), u"First 1 2 - - 0 | 1 1 1 1 4 5 4 0 0 6"_qs);
        // A new entry starts its bar over and keeps speed and eta until the next report.
        job.handle(progress(500, 1000, 300.0, 12));
        job.handle(item(2, 2, u"Second"_qs));
        QCOMPARE(shown(), u"Second 2 2 300 12 0 | 1 2 2 1 6 6 5 0 0 8"_qs);
        // An entry that names its playlist is shown under the playlist's title.
        job.handle(YTDLPEvent::Item{u"id"_qs, 3, 3, u"Third"_qs, u"Talks"_qs});
        QCOMPARE(shown(), u"Talks 3 3 300 12 0 | 1 3 3 2 6 6 5 0 0 9"_qs);
        job.handle(item(std::nullopt, std::nullopt, u"NA"_qs));
        QCOMPARE(shown(), u"NA - - 300 12 0 | 1 4 4 3 6 6 5 0 0 10"_qs);
        // The same path twice is listed twice.
        job.handle(file(u"/tmp/a b/Ü.m4a"_qs));
        job.handle(file(u"/tmp/a b/Ü.m4a"_qs));
        const QUrl url = QUrl::fromLocalFile(u"/tmp/a b/Ü.m4a"_qs);
        QCOMPARE(job.files(), (QList<QUrl>{url, url}));
        QCOMPARE(shown(), u"NA - - 300 12 2 | 1 4 4 3 7 6 5 2 0 12"_qs);

        job.setState(DownloadJob::Downloading{});
        job.setState(DownloadJob::Failed{u"a"_qs});
        job.setState(DownloadJob::Failed{u"a"_qs});
        QCOMPARE(shown(), u"NA - - 300 12 2 | 2 4 4 3 7 6 5 2 0 13"_qs);
        job.setState(DownloadJob::Failed{u"b"_qs});
        job.setWarning(u"One item failed: x"_qs);
        job.setWarning(u"One item failed: x"_qs);
        QCOMPARE(shown(), u"NA - - 300 12 2 | 3 4 4 3 7 6 5 2 1 15"_qs);
        job.setWarning(std::nullopt);
        QCOMPARE(shown(), u"NA - - 300 12 2 | 3 4 4 3 7 6 5 2 2 16"_qs);

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
