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

// A progressive MP4 (H.264 + AAC) with a key frame every second, so that it can be cut into
// segments of whole seconds. Returns ffmpeg's complaint, or an empty string on success.
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

// A made clip cut, without encoding again, into a DASH presentation in the live profile in
// `folder`: "manifest.mpd" offering one video and one audio representation, each an init segment
// and media segments of `segmentSeconds`, which yt-dlp fetches one by one. Returns ffmpeg's
// complaint, or an empty string.
QString segmentedDash(const QString &clip, const QString &folder, int segmentSeconds);

// A made clip of `size` cut into HLS with fMP4 segments of `segmentSeconds` in `folder`:
// "master.m3u8" names one H.264 variant whose AAC audio is a separate rendition group, as many
// streaming sites serve it. Returns ffmpeg's complaint, or an empty string.
QString hls(const QString &clip, const QString &folder, QSize size, int segmentSeconds);

// An RSS feed titled `title` with one item per (title, enclosure link).
QByteArray feed(const QString &title, const QList<std::pair<QString, QUrl>> &items);

} // namespace MediaFixtures
