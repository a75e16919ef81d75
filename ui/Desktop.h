#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QWidget;

// What the window asks of the desktop: a folder chooser, opening a folder, showing files in
// the file manager and asking before a quit stops running downloads. The tests hand in their
// own answers instead of real dialogs.
struct Desktop {
    // The folder the user chose, starting in the given one; none when cancelled.
    std::function<std::optional<QString>(QWidget *parent, const QString &start)> chooseFolder;
    std::function<void(const QUrl &folder)> openFolder;
    std::function<void(const QList<QUrl> &files)> revealFiles;
    // Whether to quit although the given number of downloads (at least one) is running.
    std::function<bool(QWidget *parent, int running)> confirmQuit;

    static Desktop system();
};
