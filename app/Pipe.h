#pragma once

#include <QProcess>

// A pipe from a child to Tovik. Both ends are close-on-exec and never take the numbers of the
// standard descriptors, so a child's dup2 onto 1 or 2 cannot meet one of them.
namespace Pipe {

// Fills fds with the reading and the writing end, the reading end non-blocking. False, with
// errno set, when the pipe cannot be made.
bool open(int fds[2]);

// Before start(): in the child, writeEnd becomes descriptor childFd and stays open across
// exec. Pipes are attached in order, each after those whose ends it may overwrite.
void attach(QProcess &process, int writeEnd, int childFd);

} // namespace Pipe
