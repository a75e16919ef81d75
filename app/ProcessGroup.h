#pragma once

#include <QProcess>

// yt-dlp runs ffmpeg as its own child; signalling yt-dlp alone would leave ffmpeg writing on,
// reparented. So a download's child leads a process group of its own, and stopping it signals
// the whole group.
namespace ProcessGroup {

// Call before start(): the child becomes the leader of a new group and, on Linux, receives
// SIGTERM when Tovik itself dies.
void prepare(QProcess &process);

// Sends SIGTERM to every process of the child's group. Does not wait.
void terminate(const QProcess &process);

} // namespace ProcessGroup
