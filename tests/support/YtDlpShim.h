#pragma once

#include <QString>

// Debian's yt-dlp predates the --js-runtimes option that every download passes; the shim
// drops that one option pair and runs the real program with everything else unchanged.
namespace YtDlpShim {

// Debian's yt-dlp, or an empty string when it is not installed.
QString realYtDlp();

// Writes the shim into `folder` and returns its path, or an empty string on failure.
QString write(const QString &folder, const QString &ytdlp);

} // namespace YtDlpShim
