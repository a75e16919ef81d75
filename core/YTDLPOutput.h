#pragma once

#include "YTDLPEvent.h"

#include <QStringView>
#include <optional>

// Reads the marker lines that the download templates make yt-dlp print, and its error lines.
namespace YTDLPOutput {
std::optional<YTDLPEvent> parse(QStringView line);
}
