// Starts Tovik's window against a private home, the fake yt-dlp and a loopback release site,
// walks it through its screens and saves a PNG of each into the folder given as argument.
// scripts/screenshots.sh builds and runs it.

#include "DownloadQueue.h"
#include "GuiTest.h"
#include "HttpServer.h"
#include "JobListView.h"
#include "LinkField.h"
#include "Platform.h"
#include "TovikApp.h"

#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <cstdio>

using namespace GuiTest;

namespace {

const QString tag = u"2025.01.15"_qs;

QByteArray progress(qint64 done, qint64 total, const char *speed, const char *eta) {
    return "out TKP|v|downloading|" + QByteArray::number(done) + '|' + QByteArray::number(total) +
           "|NA|" + speed + '|' + eta + '\n';
}

// Every state a job row can show, each as one fake yt-dlp run.
bool writeScenarios(const Scenarios &scenarios) {
    return scenarios.write(u"waiting"_qs, "hang\n") &&
           scenarios.write(u"downloading"_qs,
                           "out TKT|v|2|5|Big Buck Bunny — Official Trailer (4K)\n" +
                               progress(452, 1000, "1512000", "90") + "hang\n") &&
           scenarios.write(u"processing"_qs, "out TKT|v|NA|NA|Sintel — Open Movie by Blender\n"
                                             "out TKP|v|finished|900|900|NA|NA|NA\n"
                                             "out TKP|v|finished|100|100|NA|NA|NA\nhang\n") &&
           scenarios.write(u"finished"_qs, "out TKT|v|NA|NA|Episode 12 — Interview\n"
                                           "file Episode 12 — Interview.m4a\n") &&
           scenarios.write(u"warning"_qs, "out TKT|v|3|4|\"Lecture series\"|Lecture 3\n"
                                          "file Lectures/Part 1.mp4\nfile Lectures/Part 2.mp4\n"
                                          "file Lectures/Part 3.mp4\n"
                                          "err ERROR: [generic] p4: Video unavailable\nexit 1\n") &&
           scenarios.write(u"cancelled"_qs, "out TKT|v|NA|NA|Cosmos Laundromat\n" +
                                                progress(120, 1000, "830000", "412") + "hang\n") &&
           scenarios.write(u"failed"_qs,
                           "err ERROR: [generic] failed: Unable to download webpage: HTTP Error "
                           "404: Not Found (caused by <HTTPError 404: 'Not Found'>); please "
                           "report this issue on  https://github.com/yt-dlp/yt-dlp/issues?q= , "
                           "filling out the appropriate issue template. Confirm you are on the "
                           "latest version using  yt-dlp -U\nexit 1\n");
}

void serveRelease(HttpServer &server, bool matching) {
    server.route(u"/repos/yt-dlp/yt-dlp/releases/latest"_qs,
                 answer("{\"tag_name\": \"" + tag.toUtf8() + "\"}"));
    const QString release = u"/yt-dlp/yt-dlp/releases/download/"_qs + tag + u'/';
    const QByteArray file = Platform::current().ytdlpFile.toUtf8();
    const QByteArray body(1'000'000, 'x');
    const QByteArray sum = matching
                               ? QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex()
                               : QByteArray(64, '0');
    server.route(release + u"SHA2-256SUMS"_qs, answer(sum + "  " + file + '\n'));
    server.route(release + QString::fromUtf8(file),
                 answer(body, 10'000, std::chrono::milliseconds(40)));
}

bool waitFor(const std::function<bool()> &condition, int timeout = 15'000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeout)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void settle(int milliseconds = 300) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

template <typename T> bool phaseIs(const ToolManager &tools) {
    return std::holds_alternative<T>(tools.phase());
}

// A dark scheme as desktops ship it, with a deep blue highlight that is too dark for text on
// the window's grey.
QPalette darkPalette() {
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(u"Fusion"_qs));
    QPalette palette = fusion->standardPalette();
    const QColor window(0x2b, 0x2b, 0x2e), base(0x1f, 0x1f, 0x22), text(0xec, 0xec, 0xec);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::PlaceholderText, QColor(0x8a, 0x8a, 0x8e));
    palette.setColor(QPalette::Highlight, QColor(0x12, 0x60, 0x8a));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, QColor(0x7a, 0x7a, 0x7e));
    return palette;
}

class Shooter {
public:
    Shooter(QString folder, QString suffix)
        : m_folder(std::move(folder)), m_suffix(std::move(suffix)) {}

    bool shoot(QWidget &window, const QString &name) {
        settle();
        const QString path = QDir(m_folder).filePath(name + m_suffix + u".png"_qs);
        if (!window.grab().save(path)) {
            std::fprintf(stderr, "could not save %s\n", qPrintable(path));
            return false;
        }
        std::printf("%s\n", qPrintable(path));
        return true;
    }

private:
    QString m_folder;
    QString m_suffix;
};

DownloadRequest request(const QString &name, OutputFormat format, const QString &output) {
    return {Scenarios::link(name), format, false, QUrl::fromLocalFile(output + u'/')};
}

// Adds the jobs so that they end up listed in the order given, and waits for their states.
bool showJobs(TovikApp &app, const QStringList &names, const QString &output) {
    DownloadQueue &queue = app.queue();
    const QList<DownloadJob *> existing = queue.jobs();
    for (DownloadJob *job : existing)
        if (job->isActive())
            queue.cancel(job);
    if (!waitFor([&queue] { return !queue.hasActiveJobs(); }))
        return false;
    queue.clearFinished();
    // Each batch goes to the top; the list is built bottom up, one job per batch, and the
    // two that should run start first so that "waiting" really waits.
    for (qsizetype i = names.size() - 1; i >= 0; --i) {
        const QString &name = names.at(i);
        const OutputFormat format =
            name == u"finished"_qs ? OutputFormat::audio : OutputFormat::video720;
        queue.add({request(name, format, output)}, app.tools().paths());
    }
    const auto byName = [&queue](const QString &name) -> DownloadJob * {
        for (DownloadJob *job : queue.jobs())
            if (job->request().url == Scenarios::link(name))
                return job;
        return nullptr;
    };
    if (DownloadJob *job = byName(u"cancelled"_qs)) {
        if (!waitFor([job] { return job->title().has_value(); }))
            return false;
        queue.cancel(job);
    }
    return waitFor([&] {
        for (const QString &name : names) {
            const DownloadJob *job = byName(name);
            if (!job)
                return false;
            const bool wantsRun = name == u"downloading"_qs || name == u"processing"_qs;
            if (wantsRun && !job->title())
                return false;
            if (name == u"processing"_qs &&
                !std::holds_alternative<DownloadJob::Processing>(job->state()))
                return false;
            if (!wantsRun && name != u"waiting"_qs && job->isActive())
                return false;
        }
        return true;
    });
}

} // namespace

int main(int argc, char *argv[]) {
    PrivateHome home;
    QApplication application(argc, argv);
    QApplication::setOrganizationName(u"Tovik"_qs);
    QApplication::setApplicationName(u"Tovik"_qs);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2 || args.size() > 3 ||
        (args.size() == 3 && args.at(2) != u"--dark"_qs && !args.at(2).startsWith(u"--pt="_qs))) {
        std::fprintf(stderr, "usage: %s <folder for the PNGs> [--dark | --pt=<font size>]\n",
                     argv[0]);
        return 2;
    }
    // The whole walk in a dark palette or at another font size, set before any widget exists
    // as a desktop's settings would be.
    QString suffix;
    if (args.size() == 3 && args.at(2) == u"--dark"_qs) {
        QApplication::setPalette(darkPalette());
        suffix = u"-dark"_qs;
    } else if (args.size() == 3) {
        const double points = args.at(2).mid(5).toDouble();
        if (points < 6 || points > 30) {
            std::fprintf(stderr, "font size out of range\n");
            return 2;
        }
        QFont font = QApplication::font();
        font.setPointSizeF(points);
        QApplication::setFont(font);
        suffix = u"-%1pt"_qs.arg(points);
    }
    QDir().mkpath(args.at(1));
    Shooter shooter(args.at(1), suffix);
    Scenarios scenarios;
    if (!writeScenarios(scenarios))
        return 1;
    const QString output = QDir(home.path()).filePath(u"Videos/Tovik"_qs);
    HttpServer server;
    serveRelease(server, false);

    removeTools();
    RecordingDesktop desktop;
    TovikApp app(localSources(server.url(u"/"_qs)), desktop.desktop());
    MainWindow &window = app.window();
    window.show();
    ToolManager &tools = app.tools();

    bool ok = waitFor([&] { return phaseIs<ToolManager::NeedsInstall>(tools); }) &&
              shooter.shoot(window, u"setup-needs-tools"_qs);

    auto *install = window.findChild<QPushButton *>(u"installButton"_qs);
    ok = ok && install;
    if (ok)
        install->click();
    ok = ok && waitFor([&] { return tools.installProgress() > 0.4; }) &&
         shooter.shoot(window, u"setup-installing"_qs);
    ok = ok && waitFor([&] { return phaseIs<ToolManager::Failed>(tools); }) &&
         shooter.shoot(window, u"setup-failed"_qs);

    ok = ok && installFakeTools();
    if (ok)
        tools.check();
    ok = ok && waitFor([&] { return phaseIs<ToolManager::Ready>(tools) && !tools.isUpdating(); });
    ok = ok && shooter.shoot(window, u"main-empty"_qs);

    const QStringList states{u"waiting"_qs, u"downloading"_qs, u"processing"_qs, u"finished"_qs,
                             u"warning"_qs, u"cancelled"_qs,   u"failed"_qs};
    for (const QString &state : states) {
        // A waiting job needs two running ones ahead of it.
        const QStringList shown =
            state == u"waiting"_qs ? QStringList{u"waiting"_qs, u"downloading"_qs, u"processing"_qs}
                                   : QStringList{state};
        ok = ok && showJobs(app, shown, output) && shooter.shoot(window, u"job-"_qs + state);
    }

    ok = ok && showJobs(app, states, output);
    if (auto *field = window.findChild<LinkField *>(u"linkField"_qs))
        field->setText(u"https://example.com/watch?v=intro\nhttps://example.com/watch?v=outro"_qs);
    ok = ok && shooter.shoot(window, u"main-jobs"_qs);

    // A reinstallation that fails while every tool is still in place.
    ok = ok && showJobs(app, {}, output);
    if (ok)
        tools.install(true);
    ok = ok && waitFor([&] { return phaseIs<ToolManager::Failed>(tools); }) &&
         shooter.shoot(window, u"setup-reinstall-failed"_qs);

    if (!ok)
        std::fprintf(stderr, "a screen did not come up in time\n");
    return ok ? 0 : 1;
}
