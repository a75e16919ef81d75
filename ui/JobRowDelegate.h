#pragma once

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

// Paints one job row: status icon, title, progress bar, status text and action symbol.
// The row whose action is currently a real button (see JobListView) is painted without it.
class JobRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    void setLiveButtonIndex(const QModelIndex &index) { m_liveButton = index; }

private:
    QPersistentModelIndex m_liveButton;
};
