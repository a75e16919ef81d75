#pragma once

#include "Desktop.h"
#include "DownloadQueue.h"
#include "MainWindow.h"
#include "TerminationSignals.h"
#include "ToolManager.h"

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

private:
    ToolManager m_tools;
    DownloadQueue m_queue;
    Desktop m_desktop;
    MainWindow m_window;
    TerminationSignals m_terminationSignals;
};
