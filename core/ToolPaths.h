#pragma once

#include <QUrl>

// Where the three external programs live, as file URLs.
struct ToolPaths {
    QUrl ytdlp;
    QUrl ffmpeg;
    QUrl deno;

    friend bool operator==(const ToolPaths &, const ToolPaths &) = default;
};
