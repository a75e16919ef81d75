// Time from starting the program to its first painted window (blank while the tools are
// checked) and to the main view painted in it, and its memory once it idles in the main view.
// The program starts itself again as the child that builds the window the way main() does;
// the fake tools make the tools check succeed.
// Goals: first paint within 300 ms, at most 60 MB resident when idle.
//
//   tovik_bench_ui_startup [launches]

#include "RootView.h"
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

int child(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(u"Tovik"_qs);
    QApplication::setApplicationName(u"Tovik"_qs);
    TovikApp tovik;
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

} // namespace

int main(int argc, char *argv[]) {
    if (argc > 1 && QByteArray(argv[1]) == "--child")
        return child(argc, argv);

    const int launches = argc > 1 ? QByteArray(argv[1]).toInt() : 5;
    QTemporaryDir home;
    UiBench::useHome(home.path());
    QTemporaryDir scenarios;
    if (!UiBench::installFakeTools(scenarios.path()))
        return 1;
    QList<double> painted;
    QList<double> content;
    QList<double> idle;
    for (int i = 0; i < launches; ++i) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer clock;
        clock.start();
        process.start(QString::fromLocal8Bit(argv[0]), {u"--child"_qs});
        if (!readLine(process, "painted")) {
            std::fprintf(stderr, "the window was not painted\n");
            return 1;
        }
        painted.append(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        if (!readLine(process, "content")) {
            std::fprintf(stderr, "the main view was not painted\n");
            return 1;
        }
        content.append(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        if (!process.waitForFinished(20'000))
            return 1;
        const QByteArray line = process.readAll().trimmed();
        idle.append(line.mid(5).toDouble());
    }
    std::sort(painted.begin(), painted.end());
    std::sort(content.begin(), content.end());
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool x11 = qEnvironmentVariableIsSet("DISPLAY");
    std::printf("platform:             %s\n",
                !platform.isEmpty() ? platform.constData() : (x11 ? "xcb" : "default"));
    std::printf("launches:             %d\n", launches);
    std::printf("first painted window: median %.0f ms, worst %.0f ms (goal <= 300 ms)\n",
                painted.at(painted.size() / 2), painted.back());
    std::printf("main view painted:    median %.0f ms, worst %.0f ms\n",
                content.at(content.size() / 2), content.back());
    std::printf("idle in the main view: %.1f MB resident (goal <= 60 MB)\n",
                *std::max_element(idle.cbegin(), idle.cend()));
    return 0;
}
