// What the guard adds to starting a child: runs a program to its end many times, directly
// and below the guard, alternating, and prints the medians and the guard's share. The program
// is yt-dlp --version (what a download pays for starting yt-dlp), and /bin/true, where the
// guard's own cost is all there is to see.
//
//   tovik_bench_guard [yt-dlp]   (default: the yt-dlp on PATH)

#include "ProcessGuard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>

namespace {

double millisecondsToRun(const QString &program, const QStringList &arguments, bool guarded) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    if (guarded) {
        ProcessGuard guard(process, program, arguments);
        process.start();
        guard.closeChildEnd();
        process.waitForFinished(-1);
    } else {
        process.start(program, arguments);
        process.waitForFinished(-1);
    }
    const double elapsed = double(timer.nsecsElapsed()) / 1e6;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
    return elapsed;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

void compare(const char *name, const QString &program, const QStringList &arguments, int rounds) {
    QList<double> direct, guarded;
    for (int i = 0; i < rounds; ++i) {
        direct.append(millisecondsToRun(program, arguments, false));
        guarded.append(millisecondsToRun(program, arguments, true));
    }
    const double bare = median(direct);
    const double below = median(guarded);
    std::printf("%-20s %4d rounds  direct %8.2f ms  below the guard %8.2f ms  "
                "difference %+6.2f ms (%+.1f %%)\n",
                name, rounds, bare, below, below - bare, (below - bare) / bare * 100);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QString ytdlp =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStandardPaths::findExecutable(u"yt-dlp"_qs);
    compare("/bin/true", u"/bin/true"_qs, {}, 200);
    if (ytdlp.isEmpty())
        std::printf("no yt-dlp found: its row is left out\n");
    else
        compare("yt-dlp --version", ytdlp, {u"--version"_qs}, 30);
    return 0;
}
