#pragma once

#include <QList>
#include <QString>
#include <optional>

// What the user wants from a link: a video capped at a height, or the audio alone.
// The raw values are persisted in the settings and must never change.
enum class OutputFormat { video1080, video720, video480, audio };

QList<OutputFormat> allOutputFormats();
QString rawValue(OutputFormat format);
std::optional<OutputFormat> outputFormatFromRawValue(const QString &raw);
QString label(OutputFormat format);
// Number of media files downloaded separately for one finished item.
int expectedParts(OutputFormat format);
// Height limit of a video format; none for audio.
std::optional<int> heightCap(OutputFormat format);
