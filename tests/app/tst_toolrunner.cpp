#include "PlatformError.h"
#include "TaskRunner.h"
#include "ToolRunner.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QUrl shell = QUrl::fromLocalFile(u"/bin/sh"_qs);

// Restores one variable of Tovik's own environment when the test ends.
class EnvironmentGuard {
public:
    explicit EnvironmentGuard(const char *name)
        : m_name(name), m_value(qgetenv(name)), m_set(qEnvironmentVariableIsSet(name)) {}
    ~EnvironmentGuard() {
        if (m_set)
            qputenv(m_name, m_value);
        else
            qunsetenv(m_name);
    }
    EnvironmentGuard(const EnvironmentGuard &) = delete;
    EnvironmentGuard &operator=(const EnvironmentGuard &) = delete;

private:
    const char *m_name;
    QByteArray m_value;
    bool m_set;
};

const ToolPaths someTools{
    .ytdlp = QUrl::fromLocalFile(u"/home/someone/.local/share/Tovik/bin/yt-dlp"_qs),
    .ffmpeg = QUrl::fromLocalFile(u"/opt/ff mpeg/bin/ffmpeg"_qs),
    .deno = QUrl::fromLocalFile(u"/home/someone/.local/share/Tovik/bin/deno"_qs),
};
const QString someToolsPath =
    u"/home/someone/.local/share/Tovik/bin:/opt/ff mpeg/bin:/usr/bin:/bin:/usr/sbin:/sbin"_qs;

} // namespace

class TestToolRunner : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void capture_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        QTest::newRow("both channels in order")
            << u"echo one; echo two >&2; echo three"_qs << 0 << u"one\ntwo\nthree\n"_qs;
        QTest::newRow("standard error only") << u"echo oops >&2"_qs << 0 << u"oops\n"_qs;
        QTest::newRow("status 3 is a result") << u"echo partial; exit 3"_qs << 3 << u"partial\n"_qs;
        QTest::newRow("killed by a signal") << u"kill -9 $$"_qs << 9 << QString();
        QTest::newRow("nothing trimmed") << u"printf '  a  \\n\\n'"_qs << 0 << u"  a  \n\n"_qs;
        QTest::newRow("ill-formed UTF-8 replaced") << u"printf 'x\\377y'"_qs << 0 << u"x\uFFFDy"_qs;
        QTest::newRow("input is empty, not waited for")
            << u"cat; echo done"_qs << 0 << u"done\n"_qs;
    }

    void capture() {
        QFETCH(QString, script);
        QFETCH(int, status);
        QFETCH(QString, output);
        const auto outcome = runTask(ToolRunner::capture(shell, {u"-c"_qs, script}));
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.error);
        QCOMPARE(outcome.value->status, status);
        QCOMPARE(outcome.value->output, output);
    }

    void captureKeepsTheLoopTurning() {
        // A few hundred milliseconds of shell arithmetic.
        const auto outcome = runTask(ToolRunner::capture(
            shell, {u"-c"_qs, u"i=0; while [ $i -lt 200000 ]; do i=$((i+1)); done; echo $i"_qs}));
        QVERIFY(outcome.finished);
        QCOMPARE(outcome.value->output, u"200000\n"_qs);
        QVERIFY2(outcome.loopTurns > 5, qPrintable(QString::number(outcome.loopTurns)));
    }

    void capturesRunSideBySide() {
        auto first = ToolRunner::capture(shell, {u"-c"_qs, u"echo first"_qs});
        auto second = ToolRunner::capture(shell, {u"-c"_qs, u"echo second >&2; exit 1"_qs});
        auto third = ToolRunner::capture(shell, {u"-c"_qs, u"echo third"_qs});
        const auto thirdOutcome = runTask(std::move(third));
        const auto secondOutcome = runTask(std::move(second));
        const auto firstOutcome = runTask(std::move(first));
        QCOMPARE(firstOutcome.value->output, u"first\n"_qs);
        QCOMPARE(secondOutcome.value->output, u"second\n"_qs);
        QCOMPARE(secondOutcome.value->status, 1);
        QCOMPARE(thirdOutcome.value->output, u"third\n"_qs);
    }

    void captureInheritsWithoutEnvironment() {
        EnvironmentGuard guard("TOVIK_TEST_MARK");
        qputenv("TOVIK_TEST_MARK", "inherited");
        const auto outcome =
            runTask(ToolRunner::capture(shell, {u"-c"_qs, u"printf %s \"$TOVIK_TEST_MARK\""_qs}));
        QCOMPARE(outcome.value->output, u"inherited"_qs);
    }

    void captureThrowsWhenTheProgramCannotStart_data() {
        QTest::addColumn<QString>("program");
        QTest::newRow("missing") << u"missing-program"_qs;
        QTest::newRow("not executable") << u"plain-file"_qs;
        QTest::newRow("a folder") << u"folder"_qs;
    }

    void captureThrowsWhenTheProgramCannotStart() {
        QFETCH(QString, program);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile plain(dir.filePath(u"plain-file"_qs));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("#!/bin/sh\necho should not run\n");
        plain.close();
        QVERIFY(QDir(dir.path()).mkdir(u"folder"_qs));

        const auto outcome =
            runTask(ToolRunner::capture(QUrl::fromLocalFile(dir.filePath(program)), {}),
                    std::chrono::seconds(5));
        QVERIFY(outcome.finished);
        const std::optional<PlatformError> error = outcome.errorAs<PlatformError>();
        QVERIFY(error);
        QVERIFY(!error->message().isEmpty());
    }

    void environmentPath_data() {
        QTest::addColumn<std::optional<QByteArray>>("inherited");
        QTest::newRow("usual") << std::optional<QByteArray>("/usr/local/bin:/usr/bin:/bin");
        QTest::newRow("empty") << std::optional<QByteArray>("");
        QTest::newRow("unset") << std::optional<QByteArray>();
        QTest::newRow("already holding the tools")
            << std::optional<QByteArray>("/home/someone/.local/share/Tovik/bin:/opt/ff mpeg/bin");
        QTest::newRow("odd") << std::optional<QByteArray>(":::/tmp/x y:\xc3\xa9:");
    }

    void environmentPath() {
        QFETCH(std::optional<QByteArray>, inherited);
        EnvironmentGuard guard("PATH");
        if (inherited)
            qputenv("PATH", *inherited);
        else
            qunsetenv("PATH");
        const auto outcome = runTask(ToolRunner::capture(
            shell, {u"-c"_qs, u"printf %s \"$PATH\""_qs}, ToolRunner::environment(someTools)));
        QVERIFY(outcome.finished);
        QCOMPARE(outcome.value->output, someToolsPath);
    }

    // The child sees Tovik's environment with PATH and the two Python variables set, and
    // nothing else changed.
    void environmentInheritsEverythingElse() {
        EnvironmentGuard mark("TOVIK_TEST_MARK");
        EnvironmentGuard encoding("PYTHONIOENCODING");
        EnvironmentGuard utf8("PYTHONUTF8");
        qputenv("TOVIK_TEST_MARK", "kept = as it was");
        qputenv("PYTHONIOENCODING", "latin-1");
        qputenv("PYTHONUTF8", "0");

        QProcessEnvironment expected = QProcessEnvironment::systemEnvironment();
        expected.insert(u"PATH"_qs, someToolsPath);
        expected.insert(u"PYTHONIOENCODING"_qs, u"utf-8"_qs);
        expected.insert(u"PYTHONUTF8"_qs, u"1"_qs);

        const auto outcome =
            runTask(ToolRunner::capture(QUrl::fromLocalFile(u"/usr/bin/env"_qs), {u"-0"_qs},
                                        ToolRunner::environment(someTools)));
        QVERIFY(outcome.finished);
        QCOMPARE(outcome.value->status, 0);
        QStringList seen = outcome.value->output.split(QChar(0), Qt::SkipEmptyParts);
        QStringList wanted = expected.toStringList();
        seen.sort();
        wanted.sort();
        QCOMPARE(seen, wanted);
    }
};

QTEST_GUILESS_MAIN(TestToolRunner)
#include "tst_toolrunner.moc"
