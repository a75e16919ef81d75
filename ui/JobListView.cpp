#include "JobListView.h"

#include "DownloadQueue.h"
#include "IconButton.h"
#include "JobListModel.h"
#include "JobRowDelegate.h"
#include "JobRowLayout.h"
#include "ToolManager.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QScrollBar>

JobListView::JobListView(JobListModel &model, ToolManager &tools, DownloadQueue &queue,
                         const Desktop &desktop, QWidget *parent)
    : QListView(parent), m_model(model), m_tools(tools), m_queue(queue), m_desktop(desktop),
      m_delegate(new JobRowDelegate(this)), m_button(new IconButton(viewport())) {
    setModel(&model);
    setItemDelegate(m_delegate);
    setAccessibleName(u"Downloads"_qs);
    setFrameShape(QFrame::NoFrame);
    setUniformItemSizes(false);
    setResizeMode(QListView::Adjust);
    setLayoutMode(QListView::Batched);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(12);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setMouseTracking(true);

    m_button->hide();
    // The button acts on the job it was placed for, and only while that job still offers
    // the action it shows; otherwise the click just brings the button up to date.
    connect(m_button, &IconButton::clicked, this, [this] {
        DownloadJob *job = m_buttonJob.data();
        if (job && m_buttonAction && m_queue.jobs().contains(job) &&
            JobRow::action(*job) == m_buttonAction)
            perform(*m_buttonAction, job);
        placeButton();
    });
    // Rows move under a resting mouse when jobs are added or removed.
    connect(&model, &QAbstractItemModel::rowsInserted, this, &JobListView::placeButton,
            Qt::QueuedConnection);
    connect(&model, &QAbstractItemModel::rowsRemoved, this, &JobListView::placeButton,
            Qt::QueuedConnection);
}

DownloadJob *JobListView::jobAt(const QModelIndex &index) const {
    return m_model.job(index);
}

DownloadJob *JobListView::selectedJob() const {
    const QModelIndex current = currentIndex();
    return selectionModel()->isSelected(current) ? jobAt(current) : nullptr;
}

QModelIndex JobListView::actionAt(const QPoint &position) const {
    const QModelIndex index = indexAt(position);
    const DownloadJob *job = jobAt(index);
    if (!job || !JobRow::action(*job))
        return {};
    return JobRowLayout(*job, font(), visualRect(index)).action.contains(position) ? index
                                                                                   : QModelIndex();
}

void JobListView::perform(JobRow::Action action, DownloadJob *job) {
    switch (action) {
    case JobRow::Action::cancel:
        m_queue.cancel(job);
        return;
    case JobRow::Action::reveal:
        m_desktop.revealFiles(job->files());
        return;
    case JobRow::Action::retry:
        m_queue.retry(job, m_tools.paths());
        return;
    }
}

void JobListView::perform(JobRow::MenuItem item, DownloadJob *job) {
    switch (item) {
    case JobRow::MenuItem::copyLink:
        QGuiApplication::clipboard()->clear();
        QGuiApplication::clipboard()->setText(job->request().url.toString(QUrl::FullyEncoded));
        return;
    case JobRow::MenuItem::copyError:
        QGuiApplication::clipboard()->clear();
        QGuiApplication::clipboard()->setText(JobRow::errorMessage(*job).value_or(QString()));
        return;
    case JobRow::MenuItem::remove:
        m_queue.remove(job);
        return;
    }
}

void JobListView::openMenu(const QModelIndex &index, const QPoint &position) {
    DownloadJob *job = jobAt(index);
    if (!job)
        return;
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The menu acts on the job it was opened for, even if the list moves meanwhile.
    const QPointer<DownloadJob> target(job);
    for (const JobRow::MenuItem item : JobRow::menuItems(*job)) {
        menu->addAction(JobRow::menuItemText(item), this, [this, item, target] {
            if (target && m_queue.jobs().contains(target.data()))
                perform(item, target.data());
        });
    }
    menu->popup(viewport()->mapToGlobal(position));
}

void JobListView::contextMenuEvent(QContextMenuEvent *event) {
    const bool byMouse = event->reason() == QContextMenuEvent::Mouse;
    const QModelIndex index = byMouse ? indexAt(event->pos()) : currentIndex();
    if (!index.isValid())
        return;
    setCurrentIndex(index);
    const QPoint at = byMouse ? event->pos() : visualRect(index).bottomLeft();
    openMenu(index, at);
}

void JobListView::keyPressEvent(QKeyEvent *event) {
    DownloadJob *job = selectedJob();
    switch (event->key()) {
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        if (job && !job->isActive()) {
            m_queue.remove(job);
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers() == Qt::NoModifier && job &&
            JobRow::action(*job) == JobRow::Action::retry) {
            m_queue.retry(job, m_tools.paths());
            return;
        }
        break;
    case Qt::Key_Menu:
        if (job) {
            openMenu(currentIndex(), visualRect(currentIndex()).bottomLeft());
            return;
        }
        break;
    default:
        break;
    }
    QListView::keyPressEvent(event);
}

void JobListView::mouseMoveEvent(QMouseEvent *event) {
    QListView::mouseMoveEvent(event);
    placeButton();
}

void JobListView::mousePressEvent(QMouseEvent *event) {
    m_pressedAction = event->button() == Qt::LeftButton
                          ? QPersistentModelIndex(actionAt(event->position().toPoint()))
                          : QPersistentModelIndex();
    QListView::mousePressEvent(event);
}

void JobListView::mouseReleaseEvent(QMouseEvent *event) {
    QListView::mouseReleaseEvent(event);
    const QModelIndex pressed = m_pressedAction;
    m_pressedAction = QPersistentModelIndex();
    if (event->button() != Qt::LeftButton || !pressed.isValid() ||
        actionAt(event->position().toPoint()) != pressed)
        return;
    DownloadJob *job = jobAt(pressed);
    perform(*JobRow::action(*job), job);
    placeButton();
}

void JobListView::focusInEvent(QFocusEvent *event) {
    QListView::focusInEvent(event);
    // The row the keys act on is shown as selected from the moment the list has focus.
    const QModelIndex current = currentIndex();
    if (current.isValid() && !selectionModel()->isSelected(current))
        selectionModel()->select(current, QItemSelectionModel::ClearAndSelect);
}

bool JobListView::viewportEvent(QEvent *event) {
    if (event->type() == QEvent::Leave || event->type() == QEvent::Enter)
        placeButton();
    return QListView::viewportEvent(event);
}

void JobListView::currentChanged(const QModelIndex &current, const QModelIndex &previous) {
    QListView::currentChanged(current, previous);
    placeButton();
}

void JobListView::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                              const QList<int> &roles) {
    // A row that gains or loses its progress bar or a status line changes height, and the
    // list lays out again. Otherwise only the changed rows are repainted, one by one:
    // QListView would repaint the whole list for rows of varying height, or for a span.
    bool resized = false;
    for (int row = topLeft.row(); row <= bottomRight.row() && !resized; ++row) {
        const QModelIndex index = m_model.index(row);
        const QRect shown = visualRect(index);
        resized = shown.isValid() && sizeHintForIndex(index).height() != shown.height();
    }
    if (resized) {
        QListView::dataChanged(topLeft, bottomRight, roles);
        scheduleDelayedItemsLayout();
    } else {
        for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
            QAbstractItemView::dataChanged(m_model.index(row), m_model.index(row), roles);
    }
    placeButton();
}

void JobListView::updateGeometries() {
    QListView::updateGeometries();
    placeButton();
}

void JobListView::scrollContentsBy(int dx, int dy) {
    QListView::scrollContentsBy(dx, dy);
    placeButton();
}

void JobListView::placeButton() {
    // The row under a resting pointer changes when the list scrolls or rows change height.
    const QModelIndex hovered = viewport()->underMouse()
                                    ? indexAt(viewport()->mapFromGlobal(QCursor::pos()))
                                    : QModelIndex();
    const QModelIndex target =
        hovered.isValid() && !m_button->hasFocus() ? hovered : currentIndex();
    DownloadJob *job = jobAt(target);
    const auto action = job ? JobRow::action(*job) : std::nullopt;
    const QModelIndex host = action ? target : QModelIndex();
    if (host != m_buttonIndex) {
        if (m_buttonIndex.isValid())
            update(m_buttonIndex);
        m_buttonIndex = host;
        m_delegate->setLiveButtonIndex(host);
        if (host.isValid())
            update(host);
    }
    m_buttonJob = action ? job : nullptr;
    m_buttonAction = action;
    if (!action) {
        m_button->hide();
        return;
    }
    m_button->setSymbol(JobRow::actionSymbol(*action),
                        JobRow::actionToolTip(*action, m_tools.sources().platform));
    m_button->setGeometry(JobRowLayout(*job, font(), visualRect(host)).action);
    m_button->show();
}
