#include "JobRowDelegate.h"

#include "Colors.h"
#include "DownloadJob.h"
#include "Icons.h"
#include "JobListModel.h"
#include "JobRow.h"
#include "JobRowLayout.h"
#include "LinearProgress.h"

#include <QAbstractItemView>
#include <QPainter>

namespace {

DownloadJob *jobAt(const QModelIndex &index) {
    return index.data(JobListModel::JobRole).value<DownloadJob *>();
}

int rowWidth(const QStyleOptionViewItem &option) {
    if (const auto *view = qobject_cast<const QAbstractItemView *>(option.widget))
        return view->viewport()->width();
    return option.rect.width();
}

} // namespace

QSize JobRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const {
    const DownloadJob *job = jobAt(index);
    if (!job)
        return {};
    // The list stretches rows to its width; a narrow hint keeps it from scrolling sideways.
    return {JobRowLayout::iconBox, JobRowLayout::height(*job, option.font, rowWidth(option))};
}

void JobRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                           const QModelIndex &index) const {
    const DownloadJob *job = jobAt(index);
    if (!job)
        return;
    const JobRowLayout layout(*job, option.font, option.rect);
    const QPalette &palette = option.palette;
    painter->save();
    painter->setClipRect(option.rect);
    painter->setRenderHint(QPainter::Antialiasing);

    if (option.state & QStyle::State_Selected) {
        QColor fill = tint(Tint::accent, palette);
        const bool focused =
            option.state & QStyle::State_HasFocus || (option.widget && option.widget->hasFocus());
        fill.setAlphaF(focused ? (isDark(palette) ? 0.32f : 0.18f) : 0.10f);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawRoundedRect(QRectF(option.rect).adjusted(4, 1, -4, -1), 6, 6);
    } else if (index.row() + 1 < index.model()->rowCount()) {
        QColor line = tint(Tint::primary, palette);
        line.setAlphaF(isDark(palette) ? 0.14f : 0.09f);
        painter->fillRect(
            QRect(layout.title.left(), option.rect.bottom(),
                  option.rect.right() - JobRowLayout::horizontalPadding - layout.title.left() + 1,
                  1),
            line);
    }

    const JobRow::StatusIcon status = JobRow::statusIcon(*job);
    Icons::paint(*painter, layout.icon, status.symbol, tint(status.tint, palette));

    painter->setFont(layout.titleFont);
    painter->setPen(tint(Tint::primary, palette));
    // An underscore may reach below the font's descent; the row's own clip still holds.
    painter->drawText(layout.title, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                      layout.titleText);

    if (!layout.bar.isEmpty())
        LinearProgress::paint(*painter, layout.bar, job->fraction(), palette);

    painter->setFont(layout.statusFont);
    painter->setPen(tint(JobRow::statusIsError(*job) ? Tint::red : Tint::secondary, palette));
    for (qsizetype line = 0; line < layout.statusLines.size(); ++line)
        painter->drawText(layout.statusLineRects.at(line),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                          layout.statusLines.at(line));

    if (const auto action = JobRow::action(*job); action && index != m_liveButton) {
        Icons::paint(*painter, QRectF(layout.action).adjusted(3, 3, -3, -3),
                     JobRow::actionSymbol(*action), tint(Tint::secondary, palette));
    }
    painter->restore();
}
