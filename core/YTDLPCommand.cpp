#include "YTDLPCommand.h"

namespace {

// A playlist entry lands in "<playlist title>/<n> - <title>.<ext>", a single video in
// "./<title>.<ext>" (the base folder). A "/" inside a "&{}" replacement would be sanitised by
// yt-dlp, so the folder comes from the "|" default instead. The number keeps entries of the
// same title apart: yt-dlp would take the second for the first, already downloaded.
const auto outputTemplate = QStringLiteral(
    "%(playlist_title|.)s/%(playlist_index|)s%(playlist_index& - |)s%(title)s.%(ext)s");

// Fragmented downloads (HLS, segmented DASH) also say which fragment they are at; others print
// "NA" for both fragment fields.
const auto progressTemplate =
    QStringLiteral("download:TKP|%(info.id)s|%(progress.status)s|%(progress.downloaded_bytes)s|"
                   "%(progress.total_bytes)s|%(progress.total_bytes_estimate)s|%(progress.speed)s|"
                   "%(progress.eta)s|%(progress.fragment_index)s|%(progress.fragment_count)s");
const auto itemTemplate =
    QStringLiteral("video:TKT|%(id)s|%(playlist_index)s|%(playlist_count)s|%(title)s");
const auto fileTemplate = QStringLiteral("after_move:TKF|%(id)s|%(filepath)s");

QStringList formatGroup(OutputFormat format) {
    const std::optional<int> height = heightCap(format);
    if (!height) {
        // "/b" lets a source that only offers combined audio+video still yield its audio.
        return {QStringLiteral("-f"), QStringLiteral("ba[ext=m4a]/ba/b"), QStringLiteral("-x"),
                QStringLiteral("--audio-format"), QStringLiteral("m4a")};
    }
    // The second alternative covers HLS, whose separate AAC audio is labelled "mp4".
    const QString h = QString::number(*height);
    const QString selector = u"bv*[vcodec^=avc1][height<=" + h + u"]+ba[ext=m4a]/" +
                             u"bv*[vcodec^=avc1][height<=" + h + u"]+ba/" + u"b[ext=mp4][height<=" +
                             h + u"]/b[ext=mp4]";
    return {QStringLiteral("-f"), selector, QStringLiteral("--merge-output-format"),
            QStringLiteral("mp4")};
}

} // namespace

QStringList YTDLPCommand::arguments(const DownloadRequest &request, const ToolPaths &tools) {
    QStringList args{
        QStringLiteral("--ignore-config"),
        QStringLiteral("--no-colors"),
        QStringLiteral("--newline"),
        QStringLiteral("--progress"),
        QStringLiteral("--no-simulate"),
        QStringLiteral("--no-mtime"),
        QStringLiteral("--socket-timeout"),
        QStringLiteral("30"),
        QStringLiteral("--js-runtimes"),
        u"deno:" + tools.deno.toLocalFile(),
        QStringLiteral("--ffmpeg-location"),
        tools.ffmpeg.toLocalFile(),
        QStringLiteral("-P"),
        request.outputDirectory.toLocalFile(),
        QStringLiteral("-o"),
        outputTemplate,
        QStringLiteral("--progress-template"),
        progressTemplate,
        QStringLiteral("--print"),
        itemTemplate,
        QStringLiteral("--print"),
        fileTemplate,
        request.includePlaylist ? QStringLiteral("--yes-playlist")
                                : QStringLiteral("--no-playlist"),
    };
    args += formatGroup(request.format);
    args += QStringLiteral("--");
    args += request.url.toString(QUrl::FullyEncoded);
    return args;
}
