#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QUrl>
#include <utility>

// Media for the real-tool tests and benchmarks, generated with ffmpeg at run time: a few
// seconds of test pattern and tone, small enough to make in about a second.
namespace MediaFixtures {

// The ffmpeg that makes the media, or an empty string when there is none.
QString ffmpeg();

// A progressive MP4 (H.264 + AAC). Returns ffmpeg's complaint, or an empty string on success.
QString clip(const QString &fileName, QSize size, int seconds);

// A DASH presentation in the on-demand profile in `folder`: "manifest.mpd" offering H.264
// video-only representations at 480, 720 and 1080 lines ("v480.mp4", ...) and one AAC audio
// representation ("a.m4a"), each one whole file. yt-dlp fetches such representations over
// plain HTTP with their sizes known. Returns ffmpeg's complaint, or an empty string.
QString dash(const QString &folder, int seconds);

// An MP4 holding nothing but MP3 audio, mono: quick to make even when long, while
// extracting M4A audio from it makes ffmpeg re-encode, which keeps ffmpeg busy for a while.
// Returns ffmpeg's complaint, or an empty string.
QString mp3Audio(const QString &fileName, int seconds);

// An RSS feed titled `title` with one item per (title, enclosure link).
QByteArray feed(const QString &title, const QList<std::pair<QString, QUrl>> &items);

} // namespace MediaFixtures
