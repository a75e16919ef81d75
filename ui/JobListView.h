#pragma once

#include "Desktop.h"
#include "JobRow.h"

#include <QListView>
#include <QPersistentModelIndex>

class DownloadJob;
class DownloadQueue;
class IconButton;
class JobListModel;
class JobRowDelegate;
class ToolManager;

// The job list. Rows are painted by JobRowDelegate; the row under the mouse (or, without
// one, the current row) carries a real action button, so that it has a tooltip, an
// accessible name and keyboard focus. Keys: Delete removes an ended job, Return retries a
// failed or cancelled one, the menu key opens the row's menu.
class JobListView : public QListView {
    Q_OBJECT

public:
    JobListView(JobListModel &model, ToolManager &tools, DownloadQueue &queue,
                const Desktop &desktop, QWidget *parent = nullptr);

    IconButton *actionButton() const { return m_button; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;

private:
    DownloadJob *jobAt(const QModelIndex &index) const;
    // Opens the context menu of a row at a position in the viewport.
    void openMenu(const QModelIndex &index, const QPoint &position);
    void perform(JobRow::Action action, DownloadJob *job);
    void perform(JobRow::MenuItem item, DownloadJob *job);
    void placeButton();

    JobListModel &m_model;
    ToolManager &m_tools;
    DownloadQueue &m_queue;
    const Desktop &m_desktop;
    JobRowDelegate *m_delegate;
    IconButton *m_button;
    QPersistentModelIndex m_hovered;
    QPersistentModelIndex m_buttonIndex;
};
