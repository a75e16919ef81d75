#pragma once

#include "DownloadJob.h"

#include <memory>

// Puts download jobs into any state for the user-interface tests, through the same event
// handling the job runner uses where it can.
class TestJobs {
public:
    static std::unique_ptr<DownloadJob> make(OutputFormat format = OutputFormat::video720,
                                             const QString &link = u"https://example.com/v"_qs) {
        return std::make_unique<DownloadJob>(
            DownloadRequest{QUrl(link), format, false, QUrl::fromLocalFile(u"/tmp/out/"_qs)});
    }
    static void handle(DownloadJob &job, const YTDLPEvent &event) { job.handle(event); }
    static void setState(DownloadJob &job, const DownloadJob::State &state) { job.setState(state); }
    static void setWarning(DownloadJob &job, const QString &warning) { job.setWarning(warning); }
    // yt-dlp never reports a playlist position without a title; the row must cope anyway.
    static void setPlaylist(DownloadJob &job, qint64 index, qint64 count) {
        job.m_playlistIndex = index;
        job.m_playlistCount = count;
    }
};
