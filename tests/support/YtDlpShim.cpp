#include "YtDlpShim.h"

#include <QFile>
#include <QFileInfo>

QString YtDlpShim::realYtDlp() {
    const QString path = u"/usr/bin/yt-dlp"_qs;
    return QFileInfo(path).isExecutable() ? path : QString();
}

QString YtDlpShim::write(const QString &folder, const QString &ytdlp) {
    QFile shim(folder + u"/yt-dlp"_qs);
    if (!shim.open(QIODevice::WriteOnly))
        return {};
    // Each argument is moved to the end of the list, except the first --js-runtimes and the
    // value after it.
    shim.write("#!/bin/sh\n"
               "s=; for a; do shift; if [ \"$s\" = value ]; then s=done; "
               "elif [ -z \"$s\" ] && [ \"$a\" = --js-runtimes ]; then s=value; "
               "else set -- \"$@\" \"$a\"; fi; done; exec '" +
               QFile::encodeName(ytdlp) + "' \"$@\"\n");
    shim.close();
    shim.setPermissions(shim.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return shim.fileName();
}
