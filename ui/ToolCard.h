#pragma once

#include "ToolManager.h"

#include <QWidget>

class LinearProgress;
class QLabel;
class QStackedWidget;
class SymbolView;

// The setup screen's card: one row per tool with its mark, name, description and, on the
// right, its install progress, the system-ffmpeg note or its download size.
class ToolCard : public QWidget {
    Q_OBJECT

public:
    explicit ToolCard(ToolManager &tools, QWidget *parent = nullptr);

    // Re-reads which tools are missing; that list itself announces no change.
    void refresh();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Row {
        ToolManager::Tool tool;
        SymbolView *mark;
        QStackedWidget *trailing;
        LinearProgress *progress;
        QLabel *note;
        QLabel *description;
    };

    ToolManager &m_tools;
    QList<Row> m_rows;
};
