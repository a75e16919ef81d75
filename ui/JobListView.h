#pragma once

#include "Desktop.h"
#include "JobRow.h"

#include <QListView>
#include <QPersistentModelIndex>
#include <QPointer>
#include <optional>

class DownloadJob;
class DownloadQueue;
class IconButton;
class JobListModel;
class JobRowDelegate;
class ToolManager;

// The job list. Rows are painted by JobRowDelegate; the row under the mouse (or, without
// one, the current row) carries a real action button, so that it has a tooltip, an
// accessible name and keyboard focus. The button does what it shows, for the job it shows it
// for, and a click on a row's painted symbol does the same. Keys act on the selected current
// row: Delete removes an ended job, Return retries a failed or cancelled one, the menu key
// opens the row's menu.
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
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;

private:
    DownloadJob *jobAt(const QModelIndex &index) const;
    // The job of the current row when it is also selected, so shown.
    DownloadJob *selectedJob() const;
    // The row whose painted action symbol lies under a viewport position.
    QModelIndex actionAt(const QPoint &position) const;
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
    QPersistentModelIndex m_buttonIndex;
    QPointer<DownloadJob> m_buttonJob;
    std::optional<JobRow::Action> m_buttonAction;
    QPersistentModelIndex m_pressedAction;
};
