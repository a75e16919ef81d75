// What the window adds to the cost of following two downloads that print 1,000 progress lines
// per second each: the same run once without a window (the bare queue and jobs) and once with
// the main view showing both rows. Children's CPU time is not counted. A third run measures
// how late events reach the main thread while the rows update.
// Goals: the window adds at most 1 % of one core; no event waits longer than 16 ms.
//
//   tovik_bench_ui_progress [seconds]

#include "DownloadQueue.h"
#include "MainView.h"
#include "ToolManager.h"
#include "UiBench.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double cpu = 0;
    double wall = 0;
    double worstDelay = 0; // ms
    qint64 delays = 0;
};

// Posts a timestamp to the main thread every 2 ms and notes how long each took to arrive.
class Watchdog {
public:
    explicit Watchdog(Run &run) : m_run(run), m_thread([this] { post(); }) {}
    ~Watchdog() {
        m_stop = true;
        m_thread.join();
    }

private:
    void post() {
        while (!m_stop) {
            const Clock::time_point sent = Clock::now();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [run = &m_run, sent] {
                    const double delay =
                        std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
                    run->worstDelay = std::max(run->worstDelay, delay);
                    ++run->delays;
                },
                Qt::QueuedConnection);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    Run &m_run;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

Run follow(bool window, bool watch, const QString &output) {
    ToolManager tools;
    DownloadQueue queue;
    const Desktop desktop = Desktop::system();
    std::unique_ptr<MainView> view;
    if (window) {
        view = std::make_unique<MainView>(tools, queue, desktop);
        view->resize(720, 520);
        view->show();
        QEventLoop settle;
        QTimer::singleShot(500, &settle, &QEventLoop::quit);
        settle.exec();
    }
    const auto request = [&output](const QString &name) {
        return DownloadRequest{QUrl(u"https://example.com/"_qs + name + u"/progress"_qs),
                               OutputFormat::video1080, false, QUrl::fromLocalFile(output)};
    };
    QEventLoop loop;
    QObject::connect(&queue, &DownloadQueue::hasActiveJobsChanged, &loop, [&loop](bool active) {
        if (!active)
            loop.quit();
    });
    Run run;
    std::unique_ptr<Watchdog> watchdog;
    if (watch)
        watchdog = std::make_unique<Watchdog>(run);
    QElapsedTimer wall;
    wall.start();
    const double cpu = UiBench::cpuSeconds();
    queue.add({request(u"A"_qs), request(u"B"_qs)}, tools.paths());
    loop.exec();
    run.cpu = UiBench::cpuSeconds() - cpu;
    run.wall = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    watchdog.reset();
    QCoreApplication::processEvents();
    for (const DownloadJob *job : queue.jobs())
        if (!std::holds_alternative<DownloadJob::Finished>(job->state()))
            std::fprintf(stderr, "a job did not finish\n");
    return run;
}

} // namespace

int main(int argc, char *argv[]) {
    QTemporaryDir home;
    UiBench::useHome(home.path());
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int seconds = args.size() > 1 ? args.at(1).toInt() : 10;
    QTemporaryDir scenarios;
    if (!UiBench::writeScenario(scenarios.path(), u"progress"_qs,
                                "out TKT|fake|NA|NA|Bench\nrate 1000 " +
                                    QByteArray::number(seconds) + '\n') ||
        !UiBench::installFakeTools(scenarios.path()))
        return 1;
    const QString output = home.filePath(u"out/"_qs);

    const Run bare = follow(false, false, output);
    const Run shown = follow(true, false, output);
    const Run watched = follow(true, true, output);
    const auto share = [](const Run &run) { return 100.0 * run.cpu / run.wall; };

    std::printf("platform:             %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("progress lines:       1000 per second for %d s in each of 2 jobs\n", seconds);
    std::printf("without a window:     %.3f s CPU in %.2f s = %.2f %% of one core\n", bare.cpu,
                bare.wall, share(bare));
    std::printf("with the main view:   %.3f s CPU in %.2f s = %.2f %% of one core\n", shown.cpu,
                shown.wall, share(shown));
    std::printf("the window adds:      %.2f %% of one core (goal <= 1 %%)\n",
                share(shown) - share(bare));
    std::printf("main-thread delay:    worst %.1f ms over %lld events (goal <= 16 ms)\n",
                watched.worstDelay, static_cast<long long>(watched.delays));
    return 0;
}
