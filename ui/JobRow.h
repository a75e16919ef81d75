#pragma once

#include "Colors.h"
#include "Icons.h"

#include <QList>
#include <QString>
#include <optional>

class DownloadJob;
struct Platform;

// What one row of the job list shows and offers for its job: every text, icon and choice,
// computed without painting so that the delegate and the tests share them.
namespace JobRow {

struct StatusIcon {
    Symbol symbol;
    Tint tint;
    friend bool operator==(const StatusIcon &, const StatusIcon &) = default;
};

enum class Action { cancel, reveal, retry };
enum class MenuItem { copyLink, copyError, remove };

// The job's title once known, otherwise its link.
QString title(const DownloadJob &job);
// Failures in plain words (see ErrorText); the full message is errorMessage().
QString statusText(const DownloadJob &job);
// A failed job's message as it came, for its tooltip and "Copy Error".
std::optional<QString> errorMessage(const DownloadJob &job);
// The status, and the progress while the job works, for assistive technology.
QString accessibleDescription(const DownloadJob &job);
// Failed jobs show their status in red.
bool statusIsError(const DownloadJob &job);
// Downloading and processing jobs show a progress bar.
bool showsProgress(const DownloadJob &job);
StatusIcon statusIcon(const DownloadJob &job);

std::optional<Action> action(const DownloadJob &job);
Symbol actionSymbol(Action action);
QString actionToolTip(Action action, const Platform &platform);

QList<MenuItem> menuItems(const DownloadJob &job);
QString menuItemText(MenuItem item);

} // namespace JobRow
