#pragma once

#include "Desktop.h"

#include <QWidget>

class DownloadQueue;
class QStackedLayout;
class ToolManager;

// The window's content, chosen by the tool phase: blank while checking, the setup screen
// while tools are missing, installing or failed, the main view when ready. A view is built
// when its phase begins and discarded when it ends. The tool check starts once this
// content has been painted for the first time, so that the window appears at once.
class RootView : public QWidget {
    Q_OBJECT

public:
    RootView(ToolManager &tools, DownloadQueue &queue, const Desktop &desktop,
             QWidget *parent = nullptr);

    // The view currently shown: none (checking), a SetupView or a MainView.
    QWidget *content() const { return m_content; }

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    enum class Screen { blank, setup, main };
    void followPhase();
    void startCheck();

    ToolManager &m_tools;
    DownloadQueue &m_queue;
    const Desktop &m_desktop;
    QStackedLayout *m_layout;
    QWidget *m_content = nullptr;
    Screen m_screen = Screen::blank;
    bool m_checked = false;
};
