// Runs one download through a queue, as Tovik would, for tests that need a Tovik process of
// its own: to end it with a signal while its yt-dlp runs, or to start it without standard
// descriptors. Quits like Tovik on SIGTERM, SIGINT and SIGHUP. Exits when the job has ended:
// 0 when it finished with a file, else 1.
//
//   queue-host <yt-dlp> <link> <output folder> <format>

#include "DownloadQueue.h"
#include "TerminationSignals.h"

#include <QCoreApplication>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const std::optional<OutputFormat> format = outputFormatFromRawValue(args.value(4));
    if (args.size() != 5 || !format)
        return 2;
    DownloadQueue queue;
    const TerminationSignals terminationSignals;
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &queue, &DownloadQueue::shutDown);
    QObject::connect(&queue, &DownloadQueue::hasActiveJobsChanged, &app, [&queue](bool active) {
        const DownloadJob *job = queue.jobs().first();
        const bool saved =
            std::holds_alternative<DownloadJob::Finished>(job->state()) && !job->files().isEmpty();
        if (!active)
            QCoreApplication::exit(saved ? 0 : 1);
    });
    queue.add({DownloadRequest{QUrl(args.at(2)), *format, false, QUrl::fromLocalFile(args.at(3))}},
              {QUrl::fromLocalFile(args.at(1)), QUrl::fromLocalFile(u"/usr/bin/ffmpeg"_qs),
               QUrl::fromLocalFile(u"/usr/bin/deno"_qs)});
    return QCoreApplication::exec();
}
