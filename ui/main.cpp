#include "CommandLine.h"
#include "Icons.h"
#include "TovikApp.h"
#include "URLInput.h"

#include <QApplication>
#include <cstdio>

#if defined(Q_OS_LINUX)
#include "DownloadNotifier.h"
#include "LauncherProgress.h"
#include "SingleInstance.h"
#endif

namespace {

void print(std::FILE *stream, const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

QStringList arguments(int argc, char *argv[]) {
    QStringList list;
    for (int i = 1; i < argc; ++i)
        list.append(QString::fromLocal8Bit(argv[i]));
    return list;
}

// Answers --help and --version; none when the window is wanted.
std::optional<int> answerAtOnce(const CommandLine::Request &request) {
    if (std::holds_alternative<CommandLine::Help>(request)) {
        print(stdout, CommandLine::helpText());
        return 0;
    }
    if (std::holds_alternative<CommandLine::Version>(request)) {
        print(stdout, CommandLine::versionText(QStringLiteral(TOVIK_VERSION)));
        return 0;
    }
    if (const auto *unknown = std::get_if<CommandLine::UnknownOption>(&request)) {
        print(stderr,
              u"tovik: unknown option '%1'\nTry 'tovik --help' for more information.\n"_qs.arg(
                  unknown->option));
        return 2;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[]) {
    // Help and version are answered before the application connects to a display, so they
    // work without one. Options the toolkit knows (such as -platform) are left to it and
    // looked at again once it has taken them.
    const CommandLine::Request early = CommandLine::parse(arguments(argc, argv));
    if (!std::holds_alternative<CommandLine::UnknownOption>(early))
        if (const auto status = answerAtOnce(early))
            return *status;

    QApplication application(argc, argv);
    QApplication::setOrganizationName(u"Tovik"_qs);
    QApplication::setApplicationName(u"Tovik"_qs);
    QApplication::setApplicationVersion(QStringLiteral(TOVIK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(TOVIK_APP_ID));
    QApplication::setWindowIcon(Icons::appIcon());

    const CommandLine::Request request = CommandLine::parse(QCoreApplication::arguments().mid(1));
    if (const auto status = answerAtOnce(request))
        return *status;
    const QStringList links = std::get<CommandLine::Open>(request).links;
    for (const QString &text : links)
        if (URLInput::extract(text).isEmpty())
            print(stderr, u"tovik: no web link in '%1'\n"_qs.arg(text));

#if defined(Q_OS_LINUX)
    SingleInstance instance;
    if (instance.role() == SingleInstance::Role::later) {
        if (instance.handOver(links))
            return 0;
        print(stderr, u"tovik: the Tovik already running did not answer; starting another\n"_qs);
    }
#endif

    TovikApp tovik;
#if defined(Q_OS_LINUX)
    DownloadNotifier notifier(tovik.queue(), tovik.window(), tovik.desktop());
    LauncherProgress launcher(tovik.queue());
    instance.deliverTo(tovik);
#endif
    tovik.open(links);
    tovik.window().show();
    return QApplication::exec();
}
