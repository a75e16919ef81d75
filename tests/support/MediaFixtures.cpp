#include "MediaFixtures.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace {

const QString h264 = u" -c:v libx264 -preset ultrafast -pix_fmt yuv420p"_qs;
const QString aac = u" -c:a aac -b:a 64k"_qs;

// ffmpeg's inputs: a test pattern of `size` at 25 frames a second (none for an empty size),
// and a tone.
QString sources(QSize size, int seconds) {
    const QString video = u" -f lavfi -i testsrc=size=%1x%2:rate=25:duration=%3"_qs;
    return (size.isEmpty() ? QString() : video.arg(size.width()).arg(size.height()).arg(seconds)) +
           u" -f lavfi -i sine=frequency=440:duration=%1"_qs.arg(seconds);
}

const auto quoted = [](const QString &fileName) { return QString(u" \""_qs + fileName + u'"'); };

// Runs ffmpeg once per command line (file names in double quotes), up to the first that fails;
// then writes `text` into `fileName`, if any.
QString run(const QStringList &commands, const QString &fileName = {}, const QString &text = {}) {
    for (const QString &command : commands) {
        QProcess process; // kills ffmpeg when it has not finished in time
        process.start(
            MediaFixtures::ffmpeg(),
            QProcess::splitCommand(QString(u"-hide_banner -loglevel error -y"_qs + command)));
        if (!process.waitForFinished(120'000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0)
            return u"ffmpeg failed: "_qs + process.errorString() + u"; "_qs +
                   QString::fromUtf8(process.readAllStandardError());
    }
    QFile file(fileName);
    if (!fileName.isEmpty() && (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0))
        return file.errorString();
    return {};
}

} // namespace

QString MediaFixtures::ffmpeg() {
    return QStandardPaths::findExecutable(u"ffmpeg"_qs, {u"/usr/bin"_qs, u"/usr/local/bin"_qs});
}

QString MediaFixtures::clip(const QString &fileName, QSize size, int seconds) {
    const QString mp3 = u" -ac 1 -ar 32000 -c:a libmp3lame -b:a 32k"_qs;
    return run({sources(size, seconds) +
                (size.isEmpty() ? mp3 : h264 + u" -g 25"_qs + aac + u" -shortest"_qs) +
                quoted(fileName)});
}

QString MediaFixtures::dash(const QString &folder, int seconds) {
    QDir().mkpath(folder);
    QStringList commands{sources({}, seconds) + aac + quoted(folder + u"/a.m4a"_qs)};
    for (const QSize size : {QSize(854, 480), QSize(1280, 720), QSize(1920, 1080)})
        commands.append(sources(size, seconds) + h264 + u" -an"_qs +
                        quoted(folder + u"/v%1.mp4"_qs.arg(size.height())));
    return run(commands, folder + u"/manifest.mpd"_qs, uR"(<?xml version="1.0" encoding="utf-8"?>
<MPD xmlns="urn:mpeg:dash:schema:mpd:2011" type="static" minBufferTime="PT2S" profiles="urn:mpeg:dash:profile:isoff-on-demand:2011" mediaPresentationDuration="PT%1S"><Period>
<AdaptationSet contentType="video" mimeType="video/mp4">
<Representation id="v480" codecs="avc1.42c01e" bandwidth="300000" width="854" height="480"><BaseURL>v480.mp4</BaseURL></Representation>
<Representation id="v720" codecs="avc1.42c01f" bandwidth="600000" width="1280" height="720"><BaseURL>v720.mp4</BaseURL></Representation>
<Representation id="v1080" codecs="avc1.42c028" bandwidth="1200000" width="1920" height="1080"><BaseURL>v1080.mp4</BaseURL></Representation>
</AdaptationSet>
<AdaptationSet contentType="audio" mimeType="audio/mp4"><Representation id="a" codecs="mp4a.40.2" bandwidth="64000" audioSamplingRate="44100"><BaseURL>a.m4a</BaseURL></Representation></AdaptationSet></Period></MPD>
)"_qs.arg(seconds));
}

QString MediaFixtures::fragmented(const QString &clip, const QString &folder, QSize size,
                                  int segmentSeconds) {
    QDir(folder).mkpath(u"segments"_qs);
    QDir(folder).mkpath(u"hls"_qs);
    const QString input = u" -i"_qs + quoted(clip), hls = folder + u"/hls/"_qs;
    QStringList commands{input +
                         u" -map 0 -c copy -f dash -seg_duration %1"_qs.arg(segmentSeconds) +
                         quoted(folder + u"/segments/manifest.mpd"_qs)};
    // One HLS media playlist per stream; the master playlist ties them together. ffmpeg leaves
    // out the codecs when it copies streams; yt-dlp needs them to tell the variant's H.264 video
    // from the audio.
    for (const QString &name : {u"video"_qs, u"audio"_qs}) {
        commands.append(
            input +
            u" -map 0:%1 -c copy -f hls -hls_time %2 -hls_playlist_type vod "
            "-hls_segment_type fmp4 -hls_fmp4_init_filename %3-init.mp4 "
            "-hls_segment_filename"_qs.arg(name.first(1), QString::number(segmentSeconds), name) +
            quoted(hls + name + u"-%d.m4s"_qs) + quoted(hls + name + u".m3u8"_qs));
    }
    return run(commands, hls + u"master.m3u8"_qs, uR"(#EXTM3U
#EXT-X-VERSION:7
#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="audio",NAME="Tone",DEFAULT=YES,AUTOSELECT=YES,URI="audio.m3u8"
#EXT-X-STREAM-INF:BANDWIDTH=1200000,RESOLUTION=%1x%2,CODECS="avc1.42c028,mp4a.40.2",AUDIO="audio"
video.m3u8
)"_qs.arg(QString::number(size.width()), QString::number(size.height())));
}

QString MediaFixtures::feed(const QString &fileName, const QString &title, const QUrl &base,
                            const QString &items) {
    QString xml = uR"(<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0"><channel><title>%1</title><link>http://127.0.0.1/</link><description>Generated</description>)"_qs
                      .arg(title.toHtmlEscaped());
    int number = 0;
    for (const QString &item : items.split(u' ')) {
        const QUrl link = base.resolved(QUrl(item.section(u'=', 1)));
        xml += uR"(
<item><title>%1</title><guid>item%2</guid><enclosure url="%3" type="video/mp4" length="1"/></item>)"_qs
                   .arg(item.section(u'=', 0, 0).toHtmlEscaped(), QString::number(++number),
                        link.toString(QUrl::FullyEncoded).toHtmlEscaped());
    }
    return run({}, fileName, xml + u"\n</channel></rss>\n"_qs);
}
