#pragma once

#include <QString>
#include <QStringList>

// Everything that differs between the platforms Tovik is built for, in one table.
// The row is chosen at build time; tests check every row on any host.
struct Platform {
    enum class Kind { macOSArm64, macOSX86_64, linuxX86_64, linuxAarch64 };

    QString ytdlpFile;        // yt-dlp's file in the release and in SHA2-256SUMS
    QString denoArchive;      // deno's zip; its checksum file adds ".sha256sum"
    QString ffmpegPath;       // path of the latest ffmpeg zip at the provider
    QStringList systemFFmpeg; // where an ffmpeg of the system may already be
    QString systemFFmpegText; // the setup screen's words for such an ffmpeg
    QString revealFilesText;  // the job row's tooltip for showing files

    static Platform forKind(Kind kind);
    static Platform current();
};
