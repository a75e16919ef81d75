#pragma once

#include "ToolPaths.h"

#include <QCoro/QCoroTask>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

// The one way Tovik runs external programs.
namespace ToolRunner {

struct CaptureResult {
    int status = -1; // the exit code, or the signal number when the child was killed
    QString output;  // standard output and standard error, interleaved as they arrived
};

// Runs the program to its end and returns its status and combined output. Throws
// PlatformError only when the program cannot be started; a non-zero status is a result.
// Without an environment the child inherits Tovik's own. The child's input is empty. There
// is no time limit.
QCoro::Task<CaptureResult> capture(const QUrl &program, const QStringList &arguments,
                                   std::optional<QProcessEnvironment> environment = {});

// The environment for yt-dlp and the tools it starts: the deno and ffmpeg folders first on a
// fixed PATH, Python told to speak UTF-8, everything else inherited.
QProcessEnvironment environment(const ToolPaths &tools);

// Unpacks a zip archive into a folder (created if missing), off the main thread, keeping
// the archive's tree and the entries' permission bits. Refuses, before writing anything,
// entries that would land outside the folder and archives that unpack to more than 2 GiB.
// Throws ToolError::Unzip with the archive's file name on any failure.
QCoro::Task<> unzip(const QUrl &archive, const QUrl &into);

// Puts a copy of an executable at the destination with permissions 0755, off the main thread.
// The copy is written to a temporary file in the destination's folder, made executable and
// renamed over the destination, so the destination only ever holds the old file or the
// complete new one, whatever file system the source is on. A symbolic link or a read-only file at
// the destination is replaced, never written through. Throws PlatformError when reading, writing or
// renaming fails; the destination is then as it was.
QCoro::Task<> installExecutable(const QUrl &source, const QUrl &destination);

// The SHA-256 of a file as 64 lower-case hex digits, read in 1 MiB chunks off the main
// thread. Throws PlatformError when the file cannot be opened or read.
QCoro::Task<QString> sha256(const QUrl &file);

} // namespace ToolRunner
