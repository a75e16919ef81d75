// CPU time Tovik's own process spends reading yt-dlp's progress: two fake yt-dlp jobs print
// 1,000 progress lines per second each for 10 seconds through the queue. Children's CPU time
// is not counted. Goal: at most 1 % of one core.
//
//   bench_queue_cpu [seconds]

#include "DownloadQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {

double ownCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int seconds = args.size() > 1 ? args.at(1).toInt() : 10;
    constexpr int linesPerSecond = 1000;

    QTemporaryDir dir;
    QDir(dir.path()).mkpath(u"scenarios"_qs);
    QFile scenario(dir.filePath(u"scenarios/progress"_qs));
    if (!scenario.open(QIODevice::WriteOnly))
        return 1;
    scenario.write("out TKT|fake|NA|NA|Bench\nrate " + QByteArray::number(linesPerSecond) + ' ' +
                   QByteArray::number(seconds) + '\n');
    scenario.close();
    qputenv("FAKE_YTDLP_SCENARIOS", QFile::encodeName(dir.filePath(u"scenarios"_qs)));

    const ToolPaths tools{QUrl::fromLocalFile(QString::fromUtf8(FAKE_YTDLP)),
                          QUrl::fromLocalFile(u"/usr/bin/ffmpeg"_qs),
                          QUrl::fromLocalFile(u"/usr/bin/deno"_qs)};
    const auto request = [&dir](const QString &name) {
        return DownloadRequest{QUrl(u"https://example.invalid/"_qs + name + u"/progress"_qs),
                               OutputFormat::video1080, false,
                               QUrl::fromLocalFile(dir.filePath(u"out"_qs))};
    };

    DownloadQueue queue;
    qint64 progressChanges = 0;
    QObject::connect(&queue, &DownloadQueue::jobsInserted, &queue, [&](int first, int last) {
        for (int row = first; row <= last; ++row)
            QObject::connect(queue.jobs().at(row), &DownloadJob::fractionChanged, &queue,
                             [&progressChanges] { ++progressChanges; });
    });
    QObject::connect(&queue, &DownloadQueue::hasActiveJobsChanged, &app, [](bool active) {
        if (!active)
            QCoreApplication::quit();
    });

    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = ownCpuSeconds();
    queue.add({request(u"A"_qs), request(u"B"_qs)}, tools);
    QCoreApplication::exec();
    const double cpu = ownCpuSeconds() - cpuBefore;
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;

    for (const DownloadJob *job : queue.jobs()) {
        if (!std::holds_alternative<DownloadJob::Finished>(job->state())) {
            std::fprintf(stderr, "a job did not finish\n");
            return 1;
        }
    }
    std::printf("progress lines:   %d per second for %d s in each of 2 jobs\n", linesPerSecond,
                seconds);
    std::printf("fraction changes: %lld\n", static_cast<long long>(progressChanges));
    std::printf("wall time:        %.2f s\n", elapsed);
    std::printf("Tovik CPU time:   %.3f s = %.2f %% of one core (goal <= 1 %%)\n", cpu,
                100.0 * cpu / elapsed);
    return 0;
}
