#pragma once

#include <QSize>
#include <QString>
#include <QUrl>

// Media for the real-tool tests and benchmarks, generated with ffmpeg at run time: a few
// seconds of test pattern and tone, small enough to make in about a second. Each maker returns
// ffmpeg's complaint, or an empty string on success.
namespace MediaFixtures {

// The ffmpeg that makes the media, or an empty string when there is none.
QString ffmpeg();

// A progressive MP4 (H.264 + AAC) with a key frame every second, so that it can be cut into
// segments of whole seconds. Of an empty size, an MP4 holding nothing but MP3 audio, mono:
// quick to make even when long, while extracting M4A audio from it makes ffmpeg re-encode,
// which keeps ffmpeg busy for a while.
QString clip(const QString &fileName, QSize size, int seconds);

// A DASH presentation in the on-demand profile in `folder`: "manifest.mpd" offering H.264
// video-only representations at 480, 720 and 1080 lines ("v480.mp4", ...) and one AAC audio
// representation ("a.m4a"), each one whole file. yt-dlp fetches such representations over
// plain HTTP with their sizes known.
QString dash(const QString &folder, int seconds);

// A made clip of `size` cut, without encoding again, into segments of `segmentSeconds` that
// yt-dlp fetches one by one, in `folder`: a DASH presentation in the live profile
// ("segments/manifest.mpd": one video and one audio representation, each an init segment and
// media segments), and HLS with fMP4 segments ("hls/master.m3u8": one H.264 variant whose AAC
// audio is a separate rendition group, as many streaming sites serve it).
QString fragmented(const QString &clip, const QString &folder, QSize size, int segmentSeconds);

// An RSS feed titled `title` with one item per "title=link" in `items` (separated by spaces),
// the links resolved against `base`.
QString feed(const QString &fileName, const QString &title, const QUrl &base, const QString &items);

} // namespace MediaFixtures
