#include "OutputPipe.h"

#include <QSignalSpy>
#include <QTest>
#include <unistd.h>

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
        // Lines of varying length fill the pipes faster than the event loop drains them, so
        // reads end in the middle of lines and the child blocks on full pipes.
        QStringList out, err;
        QString pad;
        for (int i = 1; i <= 1000; ++i) {
            out.append(u"out "_qs + QString::number(i) + u' ' + pad);
            err.append(u"err "_qs + QString::number(i));
            pad =
                pad.size() + QString::number(i).size() > 700 ? QString() : pad + QString::number(i);
        }
        QTest::newRow("a thousand lines on each channel lose nothing") << uR"(i=1; pad=''
while [ $i -le 1000 ]; do
  printf 'out %d %s\n' $i "$pad"
  printf 'err %d\n' $i >&2
  pad="$pad$i"; [ ${#pad} -gt 700 ] && pad=''
  i=$((i+1))
done)"_qs << out << err;
    }

    // Runs the script with a pipe on each output channel until the child has exited.
    void lines() {
        QFETCH(QString, script);
        QStringList out, err;
        OutputPipe outPipe([&](QStringView line) { out.append(line.toString()); });
        OutputPipe errPipe([&](QStringView line) { err.append(line.toString()); });
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        outPipe.attach(process, STDOUT_FILENO);
        errPipe.attach(process, STDERR_FILENO);
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(u"/bin/sh"_qs, {u"-c"_qs, script});
        outPipe.closeChildEnd();
        errPipe.closeChildEnd();
        QVERIFY(finished.wait(30000));
        outPipe.finish();
        errPipe.finish();
        QTEST(out, "out");
        QTEST(err, "err");
    }
};

QTEST_GUILESS_MAIN(TestOutputPipe)
#include "tst_outputpipe.moc"
