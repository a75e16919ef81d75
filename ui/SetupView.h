#pragma once

#include <QWidget>

class ProminentButton;
class QLabel;
class QPushButton;
class QStackedWidget;
class ToolCard;
class ToolManager;

// The window's content while the tools are not ready: what is needed, what is there, the
// button that installs the rest, the progress of an installation and its failure, with a
// hint at what to do and, when every tool is still in place, a way back to them. The button
// of the moment has the keyboard focus. A window too small for its font scrolls.
class SetupView : public QWidget {
    Q_OBJECT

public:
    explicit SetupView(ToolManager &tools, QWidget *parent = nullptr);

    // Where the tools are kept, as the explanation names it.
    static QString storageSentence(const QString &toolFolder);

private:
    void showPhase();
    void focusButton(QWidget *button);

    ToolManager &m_tools;
    QStackedWidget *m_status;
    QLabel *m_installing;
    QLabel *m_failure;
    QLabel *m_hint;
    ProminentButton *m_install;
    ProminentButton *m_tryAgain;
    QPushButton *m_useInstalled;
};
