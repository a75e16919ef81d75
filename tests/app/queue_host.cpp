// Runs one download through a queue until it is killed. The queue's test kills this process
// with SIGKILL to check that its yt-dlp does not outlive it.
//
//   queue-host <yt-dlp> <link> <output folder>

#include "DownloadQueue.h"

#include <QCoreApplication>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4)
        return 2;
    const ToolPaths tools{QUrl::fromLocalFile(args.at(1)),
                          QUrl::fromLocalFile(u"/usr/bin/ffmpeg"_qs),
                          QUrl::fromLocalFile(u"/usr/bin/deno"_qs)};
    DownloadQueue queue;
    queue.add({DownloadRequest{QUrl(args.at(2)), OutputFormat::video1080, false,
                               QUrl::fromLocalFile(args.at(3))}},
              tools);
    return QCoreApplication::exec();
}
