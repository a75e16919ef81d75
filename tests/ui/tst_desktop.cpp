#include "BusTest.h"
#include "Desktop.h"

#include <QDesktopServices>

using namespace GuiTest;

namespace {

// Plays the desktop's file manager and records what it was asked to show.
class FileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QList<QStringList> shown;

public Q_SLOTS:
    Q_SCRIPTABLE void ShowItems(const QStringList &uris, const QString &) { shown.append(uris); }
};

// Stands in for the desktop's opener of file URLs.
class Opener : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT

public:
    explicit TestDesktop(const SessionBus &bus) : m_bus(bus) {}

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void revealFiles_data();
    void revealFiles();

private:
    const SessionBus &m_bus;
    Opener m_opener;
};

void TestDesktop::initTestCase() {
    if (!m_bus.isRunning())
        QSKIP(qPrintable(u"no private session bus: "_qs + m_bus.error()));
    QDesktopServices::setUrlHandler(u"file"_qs, &m_opener, "open");
}

void TestDesktop::cleanupTestCase() {
    QDesktopServices::unsetUrlHandler(u"file"_qs);
}

void TestDesktop::revealFiles_data() {
    QTest::addColumn<bool>("fileManager");
    QTest::addColumn<QList<QUrl>>("files");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QList<QUrl>>("opened");

    const QList<QUrl> files{QUrl::fromLocalFile(u"/tmp/out/Über uns.mp4"_qs),
                            QUrl::fromLocalFile(u"/tmp/out/List/2 - #2 100%.m4a"_qs)};
    QTest::newRow("selected in the file manager")
        << true << files
        << QStringList{u"file:///tmp/out/%C3%9Cber%20uns.mp4"_qs,
                       u"file:///tmp/out/List/2%20-%20%232%20100%25.m4a"_qs}
        << QList<QUrl>();
    QTest::newRow("without a file manager the first file's folder opens")
        << false << files << QStringList() << QList<QUrl>{QUrl::fromLocalFile(u"/tmp/out"_qs)};
    QTest::newRow("nothing to show") << true << QList<QUrl>() << QStringList() << QList<QUrl>();
}

void TestDesktop::revealFiles() {
    QFETCH(bool, fileManager);
    QFETCH(QList<QUrl>, files);
    QFETCH(QStringList, shown);
    QFETCH(QList<QUrl>, opened);
    FileManager manager;
    QDBusConnection desktop = BusTest::desktopSide(m_bus);
    if (fileManager) {
        QVERIFY(desktop.registerObject(u"/org/freedesktop/FileManager1"_qs, &manager,
                                       QDBusConnection::ExportScriptableSlots));
        QVERIFY(desktop.registerService(u"org.freedesktop.FileManager1"_qs));
    }
    m_opener.opened.clear();

    Desktop::system().revealFiles(files);
    // Either answer ends the wait; the other must not have come as well.
    QTRY_VERIFY(!manager.shown.isEmpty() || !m_opener.opened.isEmpty() || files.isEmpty());
    QTest::qWait(100);
    QCOMPARE(manager.shown.isEmpty() ? QStringList() : manager.shown.front(), shown);
    QCOMPARE(manager.shown.size(), shown.isEmpty() ? 0 : 1);
    QCOMPARE(m_opener.opened, opened);

    desktop.unregisterService(u"org.freedesktop.FileManager1"_qs);
    desktop.unregisterObject(u"/org/freedesktop/FileManager1"_qs);
}

TOVIK_BUS_TEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
