#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QWidget;

// What the window asks of the desktop: a folder chooser, opening a folder and showing files
// in the file manager. The tests hand in their own answers instead of real dialogs.
struct Desktop {
    // The folder the user chose, starting in the given one; none when cancelled.
    std::function<std::optional<QString>(QWidget *parent, const QString &start)> chooseFolder;
    std::function<void(const QUrl &folder)> openFolder;
    std::function<void(const QList<QUrl> &files)> revealFiles;

    static Desktop system();
};
