#pragma once

#include "OutputFormat.h"

#include <QUrl>

// One link to fetch, with the user's choices at the moment it was queued.
struct DownloadRequest {
    QUrl url;
    OutputFormat format = OutputFormat::video1080;
    bool includePlaylist = false;
    QUrl outputDirectory; // a file URL of a folder

    friend bool operator==(const DownloadRequest &, const DownloadRequest &) = default;
};
