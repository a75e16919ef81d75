#include "BusTest.h"
#include "DownloadQueue.h"
#include "LauncherProgress.h"

#include <QDBusConnection>
#include <QElapsedTimer>

using namespace GuiTest;

namespace {

// Plays a dock: records every launcher update on the bus.
class Dock : public QObject {
    Q_OBJECT

public:
    struct Update {
        QString app;
        QVariantMap properties;
        qint64 at;
    };
    QList<Update> updates;
    QElapsedTimer clock;

    bool listen(QDBusConnection bus) {
        clock.start();
        return bus.connect(QString(), QString(), u"com.canonical.Unity.LauncherEntry"_qs,
                           u"Update"_qs, this, SLOT(update(QString, QVariantMap)));
    }
    // The last update shows this many active jobs and this much progress.
    bool shows(qint64 count, double progress) const {
        if (updates.isEmpty())
            return false;
        const QVariantMap &last = updates.back().properties;
        return last.value(u"count-visible"_qs).toBool() &&
               last.value(u"progress-visible"_qs).toBool() &&
               last.value(u"count"_qs).toLongLong() == count &&
               std::abs(last.value(u"progress"_qs).toDouble() - progress) < 0.001;
    }
    bool cleared() const {
        return !updates.isEmpty() &&
               !updates.back().properties.value(u"count-visible"_qs).toBool() &&
               !updates.back().properties.value(u"progress-visible"_qs).toBool();
    }

private Q_SLOTS:
    void update(const QString &app, const QVariantMap &properties) {
        updates.append({app, properties, clock.elapsed()});
    }
};

QByteArray progress(int percent) {
    return "out TKT|v|NA|NA|Title\nout TKP|v|downloading|" + QByteArray::number(percent) +
           "|100|NA|NA|NA\n";
}

} // namespace

class TestLauncherProgress : public QObject {
    Q_OBJECT

public:
    explicit TestLauncherProgress(const SessionBus &bus) : m_bus(bus) {}

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void countAndProgress_data();
    void countAndProgress();
    void atMostFourUpdatesASecond();
    void clearedWhenTovikEnds();

private:
    void add(const QStringList &scenarios);

    const SessionBus &m_bus;
    Scenarios m_scenarios;
    QTemporaryDir m_output;
    std::unique_ptr<Dock> m_dock;
    std::unique_ptr<DownloadQueue> m_queue;
    std::unique_ptr<LauncherProgress> m_launcher;
};

void TestLauncherProgress::initTestCase() {
    if (!m_bus.isRunning())
        QSKIP(qPrintable(u"no private session bus: "_qs + m_bus.error()));
    QVERIFY(m_scenarios.write(u"half"_qs, progress(50) + "hang\n"));
    QVERIFY(m_scenarios.write(u"fifth"_qs, progress(20) + "hang\n"));
    QVERIFY(m_scenarios.write(u"done"_qs, progress(100) + "exit 0\n"));
    QVERIFY(m_scenarios.write(u"busy"_qs, "out TKT|v|NA|NA|Busy\nrate 500 2\nexit 0\n"));
}

void TestLauncherProgress::init() {
    m_dock = std::make_unique<Dock>();
    QVERIFY(m_dock->listen(BusTest::desktopSide(m_bus)));
    m_queue = std::make_unique<DownloadQueue>();
    m_launcher = std::make_unique<LauncherProgress>(*m_queue);
}

void TestLauncherProgress::cleanup() {
    m_launcher.reset();
    m_queue.reset();
    m_dock.reset();
}

void TestLauncherProgress::add(const QStringList &scenarios) {
    QList<DownloadRequest> requests;
    for (const QString &name : scenarios)
        requests.append({Scenarios::link(name), OutputFormat::audio, false,
                         QUrl::fromLocalFile(m_output.path() + u'/')});
    m_queue->add(requests, {QUrl::fromLocalFile(QStringLiteral(FAKE_YTDLP)), {}, {}});
}

void TestLauncherProgress::countAndProgress_data() {
    QTest::addColumn<QStringList>("scenarios");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<double>("progress");

    QTest::newRow("one half way") << QStringList{u"half"_qs} << qint64{1} << 0.5;
    QTest::newRow("two running") << QStringList{u"half"_qs, u"fifth"_qs} << qint64{2} << 0.35;
    QTest::newRow("an ended job counts as done")
        << QStringList{u"half"_qs, u"done"_qs} << qint64{1} << 0.75;
    QTest::newRow("a waiting job counts as not begun")
        << QStringList{u"half"_qs, u"half"_qs, u"half"_qs} << qint64{3} << 1.0 / 3;
}

void TestLauncherProgress::countAndProgress() {
    QFETCH(QStringList, scenarios);
    QFETCH(qint64, count);
    QFETCH(double, progress);
    add(scenarios);
    QTRY_VERIFY(m_dock->shows(count, progress));
    for (DownloadJob *job : m_queue->jobs())
        m_queue->cancel(job);
    QTRY_VERIFY(m_dock->cleared());
    for (const Dock::Update &update : std::as_const(m_dock->updates))
        QCOMPARE(update.app, u"application://org.tovik.Tovik.desktop"_qs);
    // Nothing is shown twice in a row, and the bar never runs backwards within the batch.
    for (qsizetype i = 1; i < m_dock->updates.size() - 1; ++i) {
        const QVariantMap &before = m_dock->updates.at(i - 1).properties;
        const QVariantMap &after = m_dock->updates.at(i).properties;
        QVERIFY(before != after);
        QVERIFY(after.value(u"progress"_qs).toDouble() >= before.value(u"progress"_qs).toDouble());
    }
}

void TestLauncherProgress::atMostFourUpdatesASecond() {
    // A thousand progress lines in two seconds.
    add({u"busy"_qs});
    QTRY_VERIFY_WITH_TIMEOUT(m_dock->cleared(), 20'000);
    const qint64 span = m_dock->updates.back().at - m_dock->updates.front().at;
    const qsizetype shown = m_dock->updates.size() - 1;
    QVERIFY2(shown >= 3, qPrintable(QString::number(shown)));
    QVERIFY2(shown <= span / LauncherProgress::interval + 2,
             qPrintable(u"%1 updates in %2 ms"_qs.arg(shown).arg(span)));
}

void TestLauncherProgress::clearedWhenTovikEnds() {
    add({u"half"_qs});
    QTRY_VERIFY(m_dock->shows(1, 0.5));
    m_launcher.reset();
    QTRY_VERIFY(m_dock->cleared());
}

TOVIK_BUS_TEST_MAIN(TestLauncherProgress)
#include "tst_launcherprogress.moc"
