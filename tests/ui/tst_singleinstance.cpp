#include "BusTest.h"
#include "SingleInstance.h"
#include "TovikApp.h"

#include <QProcess>

using namespace GuiTest;

class TestSingleInstance : public QObject {
    Q_OBJECT

public:
    explicit TestSingleInstance(const SessionBus &bus) : m_bus(bus) {}

private Q_SLOTS:
    void initTestCase();
    void laterStartHandsOverItsLinks_data();
    void laterStartHandsOverItsLinks();
    void everyStartIsAloneWithoutABus();

private:
    const SessionBus &m_bus;
    Scenarios m_scenarios;
    HttpServer m_server;
    RecordingDesktop m_desktop;
};

void TestSingleInstance::initTestCase() {
    if (!m_bus.isRunning())
        QSKIP(qPrintable(u"no private session bus: "_qs + m_bus.error()));
    QVERIFY(m_scenarios.write(u"hang"_qs, "hang\n"));
    QVERIFY(m_scenarios.write(u"other"_qs, "hang\n"));
    QVERIFY(m_scenarios.write(u"quick"_qs, "exit 0\n"));
    QVERIFY(installFakeTools());
}

void TestSingleInstance::laterStartHandsOverItsLinks_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("queued");
    QTest::addColumn<QByteArray>("token");

    QTest::newRow("one link") << QStringList{u"https://example.com/hang"_qs}
                              << QStringList{u"https://example.com/hang"_qs} << QByteArray();
    QTest::newRow("links as pasted")
        << QStringList{u"example.com/hang, https://example.com/other"_qs, u"no link"_qs,
                       u"https://example.com/hang"_qs}
        << QStringList{u"https://example.com/hang"_qs, u"https://example.com/other"_qs}
        << QByteArray("token-1");
    QTest::newRow("no link only raises") << QStringList() << QStringList() << QByteArray("token-2");
}

void TestSingleInstance::laterStartHandsOverItsLinks() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, queued);
    QFETCH(QByteArray, token);
    qunsetenv("XDG_ACTIVATION_TOKEN");
    SingleInstance first;
    QCOMPARE(first.role(), SingleInstance::Role::first);
    TovikApp tovik(localSources(m_server.url(u"/"_qs)), m_desktop.desktop());
    first.deliverTo(tovik);
    tovik.window().showMinimized();
    QTRY_VERIFY(std::holds_alternative<ToolManager::Ready>(tovik.tools().phase()));
    QTRY_VERIFY(tovik.window().isMinimized());

    QProcess later;
    later.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!token.isEmpty())
        environment.insert(u"XDG_ACTIVATION_TOKEN"_qs, QString::fromLatin1(token));
    later.setProcessEnvironment(environment);
    later.start(QStringLiteral(TOVIK_PROGRAM), arguments);
    // The later start waits for the first to answer, which needs this event loop.
    QTRY_COMPARE_WITH_TIMEOUT(later.state(), QProcess::NotRunning, 20'000);
    QCOMPARE(later.exitStatus(), QProcess::NormalExit);
    QCOMPARE(later.exitCode(), 0);

    QTRY_VERIFY(!tovik.window().isMinimized());
    // The compositor's permission to come to the front is passed on to the window.
    QCOMPARE(qgetenv("XDG_ACTIVATION_TOKEN"), token);
    QStringList links;
    for (const DownloadJob *job : tovik.queue().jobs())
        links.append(job->request().url.toString());
    QCOMPARE(links, queued);
    QTRY_VERIFY(tovik.tools().ytdlpVersion() && !tovik.tools().isUpdating());
}

void TestSingleInstance::everyStartIsAloneWithoutABus() {
    SingleInstance first;
    QCOMPARE(first.role(), SingleInstance::Role::first);
    TovikApp tovik(localSources(m_server.url(u"/"_qs)), m_desktop.desktop());
    first.deliverTo(tovik);

    QProcess alone;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_qs, u"unix:path=/nonexistent/bus"_qs);
    alone.setProcessEnvironment(environment);
    alone.start(QStringLiteral(TOVIK_PROGRAM), {u"https://example.com/quick"_qs});
    QVERIFY(alone.waitForStarted());
    // It keeps a window of its own instead of handing over and ending.
    QVERIFY(!alone.waitForFinished(2000));
    QVERIFY(tovik.queue().jobs().isEmpty());
    alone.terminate();
    QVERIFY(alone.waitForFinished());
}

TOVIK_BUS_TEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
