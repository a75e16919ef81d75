#pragma once

#include <QWidget>

class ProminentButton;
class QLabel;
class QStackedWidget;
class ToolCard;
class ToolManager;

// The window's content while the tools are not ready: what is needed, what is there, the
// button that installs the rest, the progress of an installation and its failure.
class SetupView : public QWidget {
    Q_OBJECT

public:
    explicit SetupView(ToolManager &tools, QWidget *parent = nullptr);

private:
    void showPhase();

    ToolManager &m_tools;
    QStackedWidget *m_status;
    QLabel *m_installing;
    QLabel *m_failure;
};
