#include "OutputPipe.h"

#include <QSignalSpy>
#include <QTest>
#include <unistd.h>

namespace {

struct ReadLines {
    QStringList out;
    QStringList err;
};

// Runs a shell script with a pipe on each output channel until the child has exited.
ReadLines readLinesOf(const QString &script) {
    ReadLines lines;
    OutputPipe out([&](QStringView line) { lines.out.append(line.toString()); });
    OutputPipe err([&](QStringView line) { lines.err.append(line.toString()); });
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    out.attach(process, STDOUT_FILENO);
    err.attach(process, STDERR_FILENO);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(u"/bin/sh"_qs, {u"-c"_qs, script});
    out.closeChildEnd();
    err.closeChildEnd();
    if (!finished.wait(30000))
        qWarning("the child did not finish");
    out.finish();
    err.finish();
    return lines;
}

} // namespace

class TestOutputPipe : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void lines_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("out");
        QTest::addColumn<QStringList>("err");
        QTest::newRow("last line unterminated")
            << u"printf 'a\\nb'"_qs << QStringList{u"a"_qs, u"b"_qs} << QStringList{};
        QTest::newRow("no output") << u"true"_qs << QStringList{} << QStringList{};
        QTest::newRow("empty lines kept")
            << u"printf '\\n\\nx\\n\\n'"_qs << QStringList{{}, {}, u"x"_qs, {}} << QStringList{};
        QTest::newRow("carriage returns dropped")
            << u"printf 'a\\r\\nb\\r\\n'"_qs << QStringList{u"a"_qs, u"b"_qs} << QStringList{};
        QTest::newRow("ill-formed UTF-8 replaced")
            << u"printf 'caf\\303\\251 \\377!\\n'"_qs << QStringList{u"café \uFFFD!"_qs}
            << QStringList{};
        QTest::newRow("channels kept apart")
            << u"echo one; echo two >&2; echo three; printf four >&2"_qs
            << QStringList{u"one"_qs, u"three"_qs} << QStringList{u"two"_qs, u"four"_qs};
    }

    void lines() {
        QFETCH(QString, script);
        const ReadLines lines = readLinesOf(script);
        QTEST(lines.out, "out");
        QTEST(lines.err, "err");
    }

    // Lines of varying length fill the pipes faster than the event loop drains them, so
    // reads end in the middle of lines and the child blocks on full pipes.
    void losesNothing() {
        const QString script = uR"(i=1; pad=''
while [ $i -le 1000 ]; do
  printf 'out %d %s\n' $i "$pad"
  printf 'err %d\n' $i >&2
  pad="$pad$i"; [ ${#pad} -gt 700 ] && pad=''
  i=$((i+1))
done)"_qs;
        const ReadLines lines = readLinesOf(script);
        QCOMPARE(lines.out.size(), 1000);
        QCOMPARE(lines.err.size(), 1000);
        QString pad;
        for (int i = 1; i <= 1000; ++i) {
            QCOMPARE(lines.out[i - 1], u"out "_qs + QString::number(i) + u' ' + pad);
            QCOMPARE(lines.err[i - 1], u"err "_qs + QString::number(i));
            pad += QString::number(i);
            if (pad.size() > 700)
                pad.clear();
        }
    }
};

QTEST_GUILESS_MAIN(TestOutputPipe)
#include "tst_outputpipe.moc"
