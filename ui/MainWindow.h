#pragma once

#include "Desktop.h"

#include <QMainWindow>

class DownloadQueue;
class QAction;
class RootView;
class ToolManager;

// The one window, "Tovik", with its menu: About, "Update yt-dlp", "Reinstall Tools…", Quit.
// The two tool commands are enabled only when they cannot collide with an installation,
// an update or a running download. Quit and closing the window ask first while downloads
// run; a quit that comes from elsewhere (a signal at logout) does not ask.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(ToolManager &tools, DownloadQueue &queue, const Desktop &desktop,
               QWidget *parent = nullptr);

    RootView *rootView() const { return m_root; }
    QAction *updateAction() const { return m_update; }
    QAction *reinstallAction() const { return m_reinstall; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateCommands();
    void showAbout();
    // True when nothing runs or the user agrees to stop what does.
    bool mayQuit();

    ToolManager &m_tools;
    DownloadQueue &m_queue;
    const Desktop &m_desktop;
    bool m_quitting = false;
    RootView *m_root;
    QAction *m_update;
    QAction *m_reinstall;
};
