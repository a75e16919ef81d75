#pragma once

#include "Platform.h"

#include <QStringList>
#include <QUrl>

// Where the tools come from. Production by default; tests point the hosts at 127.0.0.1
// and the system ffmpeg candidates at files of their own.
struct ToolSources {
    QUrl releaseDownloads;    // serves /<repo>/releases/download/<tag>/<file>
    QUrl api;                 // answers /repos/<repo>/releases/latest
    QUrl ffmpegProvider;      // serves Platform::ffmpegPath, redirecting to a build
    QStringList systemFFmpeg; // checked in order; the first executable one is used
    Platform platform = Platform::current();

    static ToolSources production();
};
