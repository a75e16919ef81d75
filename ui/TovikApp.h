#pragma once

#include "Desktop.h"
#include "DownloadQueue.h"
#include "MainWindow.h"
#include "TerminationSignals.h"
#include "ToolManager.h"

#include <QList>
#include <QStringList>
#include <QUrl>

// The program: one tool manager and one download queue for the life of the process, and
// the window that shows them. When the application quits, by the menu or by a termination
// signal, running downloads are stopped and waited for, a few seconds at most, and their
// staging folders removed; those that an earlier Tovik left behind go at the start.
class TovikApp {
public:
    explicit TovikApp(ToolSources sources = ToolSources::production(),
                      Desktop desktop = Desktop::system());

    ToolManager &tools() { return m_tools; }
    DownloadQueue &queue() { return m_queue; }
    MainWindow &window() { return m_window; }
    const Desktop &desktop() const { return m_desktop; }

    // Queues the web links in the texts as pasting them and pressing Download would; until
    // the main view is there (the tools are checked or installed first) they wait.
    void open(const QStringList &texts);
    // Brings the window to the front, out of the dock or task bar if need be.
    void raise();

private:
    void deliverLinks();

    ToolManager m_tools;
    DownloadQueue m_queue;
    Desktop m_desktop;
    MainWindow m_window;
    TerminationSignals m_terminationSignals;
    QList<QUrl> m_waitingLinks;
};
