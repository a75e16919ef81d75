#include "CommandLine.h"

#include <QProcess>
#include <QTest>

Q_DECLARE_METATYPE(CommandLine::Request)

class TestCommandLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parse_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<CommandLine::Request>("request");

        using namespace CommandLine;
        QTest::newRow("nothing") << QStringList() << Request(Open{});
        QTest::newRow("links kept as given")
            << QStringList{u"https://a.com/1"_qs, u"b.com/2 c.com/3"_qs, u"not a link"_qs}
            << Request(Open{{u"https://a.com/1"_qs, u"b.com/2 c.com/3"_qs, u"not a link"_qs}});
        QTest::newRow("help") << QStringList{u"-h"_qs} << Request(Help{});
        QTest::newRow("help among links")
            << QStringList{u"https://a.com/1"_qs, u"--help"_qs} << Request(Help{});
        QTest::newRow("version") << QStringList{u"--version"_qs} << Request(Version{});
        QTest::newRow("help wins over version")
            << QStringList{u"-v"_qs, u"-h"_qs} << Request(Help{});
        QTest::newRow("help wins over an unknown option")
            << QStringList{u"--verbose"_qs, u"--help"_qs} << Request(Help{});
        QTest::newRow("first unknown option named")
            << QStringList{u"https://a.com/1"_qs, u"--verbose"_qs, u"-x"_qs}
            << Request(UnknownOption{u"--verbose"_qs});
        QTest::newRow("single dash is text") << QStringList{u"-"_qs} << Request(Open{{u"-"_qs}});
        QTest::newRow("after the end of options everything is text")
            << QStringList{u"--"_qs, u"--help"_qs, u"-x"_qs, u"--"_qs}
            << Request(Open{{u"--help"_qs, u"-x"_qs, u"--"_qs}});
    }

    void parse() {
        QFETCH(QStringList, arguments);
        QFETCH(CommandLine::Request, request);
        QVERIFY(CommandLine::parse(arguments) == request);
    }

    // The program itself: help and version need no display; a wrong option fails clearly.
    void program_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("error");

        QTest::newRow("help") << QStringList{u"--help"_qs} << 0
                              << u"Usage: tovik [OPTION]... [LINK]..."_qs << QString();
        QTest::newRow("version") << QStringList{u"-v"_qs} << 0 << u"tovik " TOVIK_VERSION ""_qs
                                 << QString();
        QTest::newRow("toolkit option before help")
            << QStringList{u"-platform"_qs, u"xcb"_qs, u"-h"_qs} << 0 << u"  -h, --help"_qs
            << QString();
        QTest::newRow("unknown option")
            << QStringList{u"-platform"_qs, u"offscreen"_qs, u"--fast"_qs, u"a.com/x"_qs} << 2
            << QString() << u"tovik: unknown option '--fast'"_qs;
    }

    void program() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, output);
        QFETCH(QString, error);
        QProcess tovik;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString &name : {u"DISPLAY"_qs, u"WAYLAND_DISPLAY"_qs, u"QT_QPA_PLATFORM"_qs})
            environment.remove(name);
        tovik.setProcessEnvironment(environment);
        tovik.start(QStringLiteral(TOVIK_PROGRAM), arguments);
        QVERIFY(tovik.waitForFinished(30'000));
        QCOMPARE(tovik.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tovik.exitCode(), status);
        const QString printed = QString::fromLocal8Bit(tovik.readAllStandardOutput());
        const QString complained = QString::fromLocal8Bit(tovik.readAllStandardError());
        QVERIFY2(printed.contains(output) && (output.isEmpty() || complained.isEmpty()),
                 qPrintable(printed + complained));
        QVERIFY2(complained.contains(error), qPrintable(complained));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
