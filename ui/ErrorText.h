#pragma once

#include <QString>
#include <optional>

// Failure messages as the window shows them. yt-dlp's messages are written for its command
// line: they name options, ask for bug reports and quote Python exceptions. The full text
// stays available (tooltip, "Copy Error"); these are the words shown in its place.
namespace ErrorText {

// A download's failure message in plain words: known failures rephrased, advice aimed at
// the command line and bug-report requests left out.
QString forDownload(const QString &message);

// What the user can do about a failed tool installation, when the message tells.
std::optional<QString> setupHint(const QString &message);

} // namespace ErrorText
