// Wall time of one DASH download (720p, video and audio merged by ffmpeg) with Debian's
// yt-dlp, run bare with the same argument vector and environment, and through the queue,
// alternately. Goal: the queue adds at most 2 % (ratio <= 1.02).
//
//   bench_queue_wall [rounds]

#include "DownloadQueue.h"
#include "HttpServer.h"
#include "MediaFixtures.h"
#include "ToolRunner.h"
#include "YTDLPCommand.h"
#include "YtDlpShim.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

double seconds(const QElapsedTimer &timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    const auto middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

// The download as a shell would run it: the same program, arguments and environment, output
// read to its end and dropped.
double bare(const DownloadRequest &request, const ToolPaths &tools) {
    QProcess process;
    process.setProgram(tools.ytdlp.toLocalFile());
    process.setArguments(YTDLPCommand::arguments(request, tools));
    process.setProcessEnvironment(ToolRunner::environment(tools));
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process,
                     [&process] { process.readAllStandardOutput(); });
    QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                     [&process] { process.readAllStandardError(); });
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    process.start();
    loop.exec();
    if (process.exitCode() != 0)
        qFatal("the bare download failed");
    return seconds(timer);
}

double queued(const DownloadRequest &request, const ToolPaths &tools) {
    DownloadQueue queue;
    QEventLoop loop;
    QObject::connect(&queue, &DownloadQueue::hasActiveJobsChanged, &loop, [&loop](bool active) {
        if (!active)
            loop.quit();
    });
    QElapsedTimer timer;
    timer.start();
    queue.add({request}, tools);
    loop.exec();
    if (!std::holds_alternative<DownloadJob::Finished>(queue.jobs().first()->state()))
        qFatal("the queued download failed");
    return seconds(timer);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int rounds = args.size() > 1 ? args.at(1).toInt() : 6;
    const QString ytdlp = YtDlpShim::realYtDlp();
    if (ytdlp.isEmpty() || MediaFixtures::ffmpeg().isEmpty()) {
        std::fprintf(stderr, "needs Debian's yt-dlp and ffmpeg\n");
        return 1;
    }

    QTemporaryDir dir;
    QDir(dir.path()).mkpath(u"home"_qs);
    qputenv("HOME", QFile::encodeName(dir.filePath(u"home"_qs)));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath(u"home/.cache"_qs)));
    const QString media = dir.filePath(u"dash"_qs);
    if (const QString problem = MediaFixtures::dash(media, 10); !problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return 1;
    }
    HttpServer server;
    for (const QString &name : QDir(media).entryList(QDir::Files)) {
        QFile file(media + u'/' + name);
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        HttpServer::Response response;
        response.body = file.readAll();
        server.route(u"/dash/"_qs + name, response);
    }
    const ToolPaths tools{QUrl::fromLocalFile(YtDlpShim::write(dir.path(), ytdlp)),
                          QUrl::fromLocalFile(MediaFixtures::ffmpeg()),
                          QUrl::fromLocalFile(dir.filePath(u"deno"_qs))};

    QList<double> bareTimes;
    QList<double> queueTimes;
    for (int round = 0; round < rounds; ++round) {
        const auto request = [&](const char *kind) {
            return DownloadRequest{server.url(u"/dash/manifest.mpd"_qs), OutputFormat::video720,
                                   false,
                                   QUrl::fromLocalFile(dir.filePath(QString::fromLatin1(kind) +
                                                                    QString::number(round)))};
        };
        // Alternate which goes first, so neither always meets a warm or cold cache.
        if (round % 2 == 0) {
            bareTimes.append(bare(request("bare"), tools));
            queueTimes.append(queued(request("queue"), tools));
        } else {
            queueTimes.append(queued(request("queue"), tools));
            bareTimes.append(bare(request("bare"), tools));
        }
        std::printf("round %d: bare %.3f s, queue %.3f s\n", round + 1, bareTimes.last(),
                    queueTimes.last());
        std::fflush(stdout);
    }
    // The fastest round of each is the least disturbed by whatever else the machine does.
    const double fastestBare = *std::min_element(bareTimes.cbegin(), bareTimes.cend());
    const double fastestQueue = *std::min_element(queueTimes.cbegin(), queueTimes.cend());
    std::printf("median: bare %.3f s, queue %.3f s, ratio %.3f\n", median(bareTimes),
                median(queueTimes), median(queueTimes) / median(bareTimes));
    std::printf("fastest: bare %.3f s, queue %.3f s, ratio %.3f (goal <= 1.02)\n", fastestBare,
                fastestQueue, fastestQueue / fastestBare);
    return 0;
}
