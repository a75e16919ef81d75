// How fast 10,000 jobs added at once appear in the main view's job list, and how much memory
// they add. Two of them run (the fake yt-dlp waits), the rest stay queued.
// Goals: listed within 200 ms, at most 50 MB more.
//
//   tovik_bench_ui_joblist [jobs]

#include "DownloadQueue.h"
#include "MainView.h"
#include "ToolManager.h"
#include "UiBench.h"

#include <QApplication>
#include <QListView>
#include <QScrollBar>
#include <cstdio>

namespace {

void spin(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

int main(int argc, char *argv[]) {
    QTemporaryDir home;
    UiBench::useHome(home.path());
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int count = args.size() > 1 ? args.at(1).toInt() : 10'000;
    QTemporaryDir scenarios;
    if (!UiBench::writeScenario(scenarios.path(), u"hang"_qs, "hang\n") ||
        !UiBench::installFakeTools(scenarios.path()))
        return 1;

    ToolManager tools;
    DownloadQueue queue;
    const Desktop desktop = Desktop::system();
    MainView view(tools, queue, desktop);
    view.resize(720, 520);
    view.show();
    spin(500);
    auto *list = view.findChild<QListView *>(u"jobList"_qs);
    UiBench::PaintWatch watch(list->viewport());

    const QList<DownloadRequest> requests(count, {QUrl(u"https://example.com/hang"_qs),
                                                  OutputFormat::video1080, false,
                                                  QUrl::fromLocalFile(home.filePath(u"out/"_qs))});
    const double before = UiBench::residentMegabytes();
    QElapsedTimer clock;
    watch.start();
    clock.start();
    queue.add(requests, tools.paths());
    const double added = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    while (watch.painted() < 0 && clock.elapsed() < 10'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    const double listed = watch.painted();

    // The list lays out the rest in batches after the first screenful.
    int range = -1;
    int stable = 0;
    while (stable < 5 && clock.elapsed() < 20'000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const int now = list->verticalScrollBar()->maximum();
        stable = now == range ? stable + 1 : 0;
        range = now;
    }
    const double laidOut = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    spin(500);
    const double after = UiBench::residentMegabytes();

    std::printf("platform:              %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("jobs added at once:    %d (rows in the list: %d)\n", count,
                list->model()->rowCount());
    std::printf("queue.add returned:    %.1f ms\n", added);
    std::printf("first rows painted:    %.1f ms (goal <= 200 ms)\n", listed);
    std::printf("whole list laid out:   %.1f ms\n", laidOut);
    std::printf("memory:                %.1f MB before, %.1f MB after: +%.1f MB (goal <= 50 MB)\n",
                before, after, after - before);
    return listed >= 0 ? 0 : 1;
}
