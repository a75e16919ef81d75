// Time from starting the program to its first painted window (blank while the tools are
// checked) and to the main view painted in it, and its memory once it idles in the main view.
// The program starts itself again as the child that builds the window the way main() does;
// the fake tools make the tools check succeed. Launches alternate between a window alone and
// one that also claims the single-instance name, notifies and shows launcher progress on a
// private session bus, as main() does on Linux; while the latter idles, later starts hand
// over to it and end, and their time from start to end is measured too.
// Goals: first paint within 300 ms, at most 60 MB resident when idle; the session bus adds
// at most 20 ms.
//
//   tovik_bench_ui_startup [launches]

#include "DownloadNotifier.h"
#include "LauncherProgress.h"
#include "RootView.h"
#include "SessionBus.h"
#include "SingleInstance.h"
#include "TovikApp.h"
#include "UiBench.h"

#include <QApplication>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

// Prints "painted" after the window's first paint, "content" after the first paint of the
// main view, and its memory after two idle seconds in the main view.
class Reporter : public QObject {
public:
    explicit Reporter(TovikApp &tovik) : m_tovik(tovik) {
        QApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *object, QEvent *event) override {
        if (event->type() != QEvent::Paint)
            return false;
        if (!m_painted && object == &m_tovik.window()) {
            m_painted = true;
            say("painted");
        }
        const bool ready = std::holds_alternative<ToolManager::Ready>(m_tovik.tools().phase());
        if (!m_content && ready && object == m_tovik.window().rootView()->content()) {
            m_content = true;
            say("content");
            QTimer::singleShot(2000, QCoreApplication::instance(), [] {
                std::printf("idle %.1f\n", UiBench::residentMegabytes());
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    static void say(const char *line) {
        std::printf("%s\n", line);
        std::fflush(stdout);
    }

    TovikApp &m_tovik;
    bool m_painted = false;
    bool m_content = false;
};

int child(int argc, char *argv[], bool session) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(u"Tovik"_qs);
    QApplication::setApplicationName(u"Tovik"_qs);
    if (!session) {
        TovikApp tovik;
        Reporter reporter(tovik);
        tovik.window().show();
        return QApplication::exec();
    }
    QElapsedTimer clock;
    clock.start();
    SingleInstance instance;
    if (instance.role() == SingleInstance::Role::later)
        return instance.handOver({}) ? 0 : 1;
    qint64 spent = clock.nsecsElapsed();
    TovikApp tovik;
    clock.restart();
    DownloadNotifier notifier(tovik.queue(), tovik.window(), tovik.desktop());
    LauncherProgress launcher(tovik.queue());
    instance.deliverTo(tovik);
    spent += clock.nsecsElapsed();
    std::printf("session %.3f\n", static_cast<double>(spent) / 1e6);
    Reporter reporter(tovik);
    tovik.window().show();
    return QApplication::exec();
}

bool readLine(QProcess &process, const QByteArray &expected) {
    while (!process.canReadLine())
        if (!process.waitForReadyRead(10'000))
            return false;
    return process.readLine().trimmed() == expected;
}

struct Figures {
    QList<double> painted;
    QList<double> content;
    QList<double> idle;
    QList<double> handOver;
    // Time spent in the session bus's part of start-up, measured inside the program.
    QList<double> sessionCost;
};

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

double worst(const QList<double> &values) {
    return values.isEmpty() ? -1 : *std::max_element(values.cbegin(), values.cend());
}

// One launch; with the session, later starts hand over to it while it idles.
bool launch(const QString &program, bool session, Figures &figures) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    process.start(program, {session ? u"--child-session"_qs : u"--child"_qs});
    if (session) {
        while (!process.canReadLine())
            if (!process.waitForReadyRead(10'000))
                return false;
        figures.sessionCost.append(process.readLine().trimmed().mid(8).toDouble());
    }
    if (!readLine(process, "painted")) {
        std::fprintf(stderr, "the window was not painted\n");
        return false;
    }
    figures.painted.append(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    if (!readLine(process, "content")) {
        std::fprintf(stderr, "the main view was not painted\n");
        return false;
    }
    figures.content.append(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    for (int i = 0; session && i < 3; ++i) {
        QProcess later;
        later.setProcessChannelMode(QProcess::ForwardedChannels);
        clock.restart();
        later.start(program, {u"--child-session"_qs});
        if (!later.waitForFinished(10'000) || later.exitCode() != 0) {
            std::fprintf(stderr, "a later start did not hand over\n");
            return false;
        }
        figures.handOver.append(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    if (!process.waitForFinished(20'000))
        return false;
    figures.idle.append(process.readAll().trimmed().mid(5).toDouble());
    return true;
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc > 1 && QByteArray(argv[1]).startsWith("--child"))
        return child(argc, argv, QByteArray(argv[1]) == "--child-session");

    const int launches = argc > 1 ? QByteArray(argv[1]).toInt() : 5;
    QTemporaryDir home;
    UiBench::useHome(home.path());
    QTemporaryDir scenarios;
    if (!UiBench::installFakeTools(scenarios.path()))
        return 1;
    const SessionBus bus;
    if (!bus.isRunning())
        std::fprintf(stderr, "no private session bus (%s): the session figures are left out\n",
                     qPrintable(bus.error()));
    const QString program = QString::fromLocal8Bit(argv[0]);
    Figures alone;
    Figures session;
    for (int i = 0; i < launches; ++i) {
        if (!launch(program, false, alone) || (bus.isRunning() && !launch(program, true, session)))
            return 1;
    }
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool x11 = qEnvironmentVariableIsSet("DISPLAY");
    std::printf("platform:             %s\n",
                !platform.isEmpty() ? platform.constData() : (x11 ? "xcb" : "default"));
    std::printf("launches:             %d of each\n", launches);
    std::printf("first painted window: median %.0f ms, worst %.0f ms (goal <= 300 ms)\n",
                median(alone.painted), worst(alone.painted));
    std::printf("main view painted:    median %.0f ms, worst %.0f ms\n", median(alone.content),
                worst(alone.content));
    std::printf("idle in the main view: %.1f MB resident (goal <= 60 MB)\n", worst(alone.idle));
    if (!bus.isRunning())
        return 0;
    std::printf("with the session bus (single instance, notices, launcher progress):\n");
    std::printf("  first painted window: median %.0f ms, worst %.0f ms; %+.0f ms\n",
                median(session.painted), worst(session.painted),
                median(session.painted) - median(alone.painted));
    std::printf("  main view painted:    median %.0f ms, worst %.0f ms; %+.0f ms\n",
                median(session.content), worst(session.content),
                median(session.content) - median(alone.content));
    std::printf("  claiming the name and setting up notices and launcher: median %.1f ms, "
                "worst %.1f ms (goal <= 20 ms)\n",
                median(session.sessionCost), worst(session.sessionCost));
    std::printf("  idle in the main view: %.1f MB resident\n", worst(session.idle));
    std::printf("  later start handing over, start to end: median %.0f ms, worst %.0f ms\n",
                median(session.handOver), worst(session.handOver));
    return 0;
}
