#pragma once

#include "DownloadRequest.h"
#include "ToolPaths.h"

#include <QStringList>

// The complete argument vector of one yt-dlp download run (without the program itself).
namespace YTDLPCommand {
QStringList arguments(const DownloadRequest &request, const ToolPaths &tools);
}
