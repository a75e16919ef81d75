#include "YtDlpShim.h"

#include <QFile>
#include <QStandardPaths>

QString YtDlpShim::realYtDlp() {
    return QStandardPaths::findExecutable(u"yt-dlp"_qs, {u"/usr/bin"_qs});
}

QString YtDlpShim::write(const QString &folder, const QString &ytdlp) {
    QFile shim(folder + u"/yt-dlp"_qs);
    // Each argument is moved to the end of the list, except the first --js-runtimes and the
    // value after it.
    if (!shim.open(QIODevice::WriteOnly) ||
        shim.write("#!/bin/sh\n"
                   "s=; for a; do shift; if [ \"$s\" = value ]; then s=done; "
                   "elif [ -z \"$s\" ] && [ \"$a\" = --js-runtimes ]; then s=value; "
                   "else set -- \"$@\" \"$a\"; fi; done; exec '" +
                   QFile::encodeName(ytdlp) + "' \"$@\"\n") < 0 ||
        !shim.setPermissions(shim.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser))
        return {};
    return shim.fileName();
}
