#pragma once

#include "DownloadRequest.h"

#include <QString>
#include <optional>

// A hidden folder of Tovik's own inside a job's output folder, where the job's yt-dlp does
// all its work. yt-dlp takes any file of the name it is about to write for its own earlier
// download: it would report a user's file as the result, extract audio from a user's video and
// then delete that video, or leave a half-written file under its final name when stopped.
// Here it only ever meets its own files, and each finished file is moved out, beside the
// folder, under a name no other file has: nothing in the output folder is ever replaced.
//
// The folder is named after the request, so that a retry finds the partial downloads of the
// run before; a marker file inside tells it apart from the user's folders, and a lock on the
// marker tells whether a run is using it. Two runs of one request never share one.
class StagingFolder {
public:
    // Claims the request's staging folder, making it when needed; the claim lasts as long as
    // this object. When no folder can be claimed, path() is empty and errorString() says why.
    explicit StagingFolder(const DownloadRequest &request);
    ~StagingFolder();
    StagingFolder(const StagingFolder &) = delete;
    StagingFolder &operator=(const StagingFolder &) = delete;

    QString path() const { return m_path; }
    QString errorString() const { return m_errorString; }

    // Moves a finished file out of the staging folder into the output folder, keeping its
    // sub-folder, under its own name or the first free one with " (1)", " (2)", … before the
    // extension; returns where the file is now. A file that cannot be moved out stays where it
    // is, and so does the folder: then errorString() says why. Nothing when the file is not a
    // file inside this folder; errorString() says that too.
    std::optional<QString> moveOut(const QString &reported);
    // After a run that did not finish: every file but the partial downloads goes, so that a
    // retry resumes those and never takes a half-written file for a finished one.
    void keepOnlyPartialDownloads();
    // Removes the folder with everything in it.
    void remove();

    // Removes a staging folder that no run claims. Anything without Tovik's marker is left
    // alone.
    static void removeUnclaimed(const QString &path);
    // Removes the unclaimed staging folders in an output folder: those of runs that did not
    // end in order.
    static void removeAbandoned(const QString &outputFolder);

private:
    // Notes in the marker a file that must stay.
    void keep(const QString &relative);

    QString m_outputFolder;
    QString m_path;
    int m_marker = -1; // open and locked while claimed
    QString m_errorString;
};
