#include "ToolRunner.h"

#include "LineBuffer.h"

#include <QDir>
#include <QFileInfo>

void ToolRunner::readLines(QProcess &process, QProcess::ProcessChannel channel,
                           std::function<void(const QString &)> onLine) {
    // One buffer per channel, owned by the connections; everything runs on the process's
    // thread, so it needs no lock.
    auto buffer = std::make_shared<LineBuffer>();
    const auto readyRead = channel == QProcess::StandardOutput ? &QProcess::readyReadStandardOutput
                                                               : &QProcess::readyReadStandardError;
    QObject::connect(&process, readyRead, &process, [&process, channel, buffer, onLine] {
        const QByteArray data = channel == QProcess::StandardOutput
                                    ? process.readAllStandardOutput()
                                    : process.readAllStandardError();
        for (const QString &line : buffer->append(data))
            onLine(line);
    });
    QObject::connect(&process, &QProcess::finished, &process, [buffer, onLine] {
        if (const std::optional<QString> last = buffer->flush())
            onLine(*last);
    });
}

QProcessEnvironment ToolRunner::environment(const ToolPaths &tools) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const auto folderOf = [](const QUrl &file) { return QFileInfo(file.toLocalFile()).path(); };
    const QStringList path{folderOf(tools.deno), folderOf(tools.ffmpeg), u"/usr/bin"_qs,
                           u"/bin"_qs,           u"/usr/sbin"_qs,        u"/sbin"_qs};
    env.insert(u"PATH"_qs, path.join(u':'));
    env.insert(u"PYTHONIOENCODING"_qs, u"utf-8"_qs);
    env.insert(u"PYTHONUTF8"_qs, u"1"_qs);
    return env;
}
