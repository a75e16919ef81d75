#include "MediaFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace {

QString run(const QStringList &arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(MediaFixtures::ffmpeg(),
                  QStringList{u"-hide_banner"_qs, u"-loglevel"_qs, u"error"_qs, u"-y"_qs} +
                      arguments);
    if (!process.waitForFinished(120'000)) {
        process.kill();
        process.waitForFinished();
        return u"ffmpeg did not finish: "_qs + process.errorString();
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return u"ffmpeg failed: "_qs + QString::fromUtf8(process.readAll());
    return {};
}

QStringList testPattern(QSize size, int seconds) {
    return {u"-f"_qs, u"lavfi"_qs, u"-i"_qs,
            u"testsrc=size=%1x%2:rate=25:duration=%3"_qs.arg(size.width())
                .arg(size.height())
                .arg(seconds)};
}

QStringList tone(int seconds) {
    return {u"-f"_qs, u"lavfi"_qs, u"-i"_qs, u"sine=frequency=440:duration=%1"_qs.arg(seconds)};
}

const QStringList h264{u"-c:v"_qs,      u"libx264"_qs,  u"-preset"_qs,
                       u"ultrafast"_qs, u"-pix_fmt"_qs, u"yuv420p"_qs};
// The test pattern runs at 25 frames a second.
const QStringList keyFrameEverySecond{u"-g"_qs, u"25"_qs};
const QStringList aac{u"-c:a"_qs, u"aac"_qs, u"-b:a"_qs, u"64k"_qs};

} // namespace

QString MediaFixtures::ffmpeg() {
    for (const QString &candidate : {u"/usr/bin/ffmpeg"_qs, u"/usr/local/bin/ffmpeg"_qs}) {
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return {};
}

QString MediaFixtures::clip(const QString &fileName, QSize size, int seconds) {
    return run(testPattern(size, seconds) + tone(seconds) + h264 + keyFrameEverySecond + aac +
               QStringList{u"-shortest"_qs, fileName});
}

QString MediaFixtures::mp3Audio(const QString &fileName, int seconds) {
    return run(tone(seconds) + QStringList{u"-ac"_qs, u"1"_qs, u"-ar"_qs, u"32000"_qs, u"-c:a"_qs,
                                           u"libmp3lame"_qs, u"-b:a"_qs, u"32k"_qs, fileName});
}

QString MediaFixtures::dash(const QString &folder, int seconds) {
    struct Representation {
        int height;
        int width;
        const char *codecs;
        int bandwidth;
    };
    const Representation videos[] = {{480, 854, "avc1.42c01e", 300'000},
                                     {720, 1280, "avc1.42c01f", 600'000},
                                     {1080, 1920, "avc1.42c028", 1'200'000}};
    QDir().mkpath(folder);
    QByteArray representations;
    for (const Representation &video : videos) {
        const QString name = u"v%1.mp4"_qs.arg(video.height);
        if (const QString problem = run(testPattern({video.width, video.height}, seconds) + h264 +
                                        QStringList{u"-an"_qs, folder + u'/' + name});
            !problem.isEmpty())
            return problem;
        representations +=
            "<Representation id=\"v" + QByteArray::number(video.height) + "\" codecs=\"" +
            video.codecs + "\" bandwidth=\"" + QByteArray::number(video.bandwidth) + "\" width=\"" +
            QByteArray::number(video.width) + "\" height=\"" + QByteArray::number(video.height) +
            "\"><BaseURL>" + name.toUtf8() + "</BaseURL></Representation>\n";
    }
    if (const QString problem = run(tone(seconds) + aac + QStringList{folder + u"/a.m4a"_qs});
        !problem.isEmpty())
        return problem;

    QFile manifest(folder + u"/manifest.mpd"_qs);
    if (!manifest.open(QIODevice::WriteOnly))
        return manifest.errorString();
    manifest.write("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                   "<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" "
                   "profiles=\"urn:mpeg:dash:profile:isoff-on-demand:2011\" type=\"static\" "
                   "mediaPresentationDuration=\"PT" +
                   QByteArray::number(seconds) +
                   "S\" minBufferTime=\"PT2S\">\n<Period>\n"
                   "<AdaptationSet contentType=\"video\" mimeType=\"video/mp4\">\n" +
                   representations +
                   "</AdaptationSet>\n"
                   "<AdaptationSet contentType=\"audio\" mimeType=\"audio/mp4\">\n"
                   "<Representation id=\"a\" codecs=\"mp4a.40.2\" bandwidth=\"64000\" "
                   "audioSamplingRate=\"44100\"><BaseURL>a.m4a</BaseURL></Representation>\n"
                   "</AdaptationSet>\n</Period>\n</MPD>\n");
    return {};
}

QString MediaFixtures::segmentedDash(const QString &clip, const QString &folder,
                                     int segmentSeconds) {
    QDir().mkpath(folder);
    return run({u"-i"_qs, clip, u"-map"_qs, u"0"_qs, u"-c"_qs, u"copy"_qs, u"-f"_qs, u"dash"_qs,
                u"-seg_duration"_qs, QString::number(segmentSeconds),
                folder + u"/manifest.mpd"_qs});
}

QString MediaFixtures::hls(const QString &clip, const QString &folder, QSize size,
                           int segmentSeconds) {
    QDir().mkpath(folder);
    // One media playlist per stream; the master playlist below ties them together.
    for (const auto &[name, stream] :
         {std::pair{u"video"_qs, u"0:v"_qs}, {u"audio"_qs, u"0:a"_qs}}) {
        if (const QString problem =
                run({u"-i"_qs, clip, u"-map"_qs, stream, u"-c"_qs, u"copy"_qs, u"-f"_qs, u"hls"_qs,
                     u"-hls_time"_qs, QString::number(segmentSeconds), u"-hls_playlist_type"_qs,
                     u"vod"_qs, u"-hls_segment_type"_qs, u"fmp4"_qs, u"-hls_fmp4_init_filename"_qs,
                     name + u"-init.mp4"_qs, u"-hls_segment_filename"_qs,
                     folder + u'/' + name + u"-%d.m4s"_qs, folder + u'/' + name + u".m3u8"_qs});
            !problem.isEmpty())
            return problem;
    }
    QFile master(folder + u"/master.m3u8"_qs);
    if (!master.open(QIODevice::WriteOnly))
        return master.errorString();
    // ffmpeg leaves out the codecs when it copies streams; yt-dlp needs them to tell the
    // variant's H.264 video from the audio.
    master.write("#EXTM3U\n#EXT-X-VERSION:7\n"
                 "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"audio\",NAME=\"Tone\",DEFAULT=YES,"
                 "AUTOSELECT=YES,URI=\"audio.m3u8\"\n"
                 "#EXT-X-STREAM-INF:BANDWIDTH=1200000,RESOLUTION=" +
                 QByteArray::number(size.width()) + 'x' + QByteArray::number(size.height()) +
                 ",CODECS=\"avc1.42c028,mp4a.40.2\",AUDIO=\"audio\"\nvideo.m3u8\n");
    return {};
}

QByteArray MediaFixtures::feed(const QString &title, const QList<std::pair<QString, QUrl>> &items) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
                     "<title>" +
                     title.toHtmlEscaped().toUtf8() +
                     "</title><link>http://127.0.0.1/</link><description>Generated</description>\n";
    int number = 0;
    for (const auto &[itemTitle, link] : items) {
        xml += "<item><title>" + itemTitle.toHtmlEscaped().toUtf8() + "</title><guid>item" +
               QByteArray::number(++number) + "</guid><enclosure url=\"" +
               link.toString(QUrl::FullyEncoded).toHtmlEscaped().toUtf8() +
               "\" type=\"video/mp4\" length=\"1\"/></item>\n";
    }
    return xml + "</channel></rss>\n";
}
