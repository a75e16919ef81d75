#include "JobRowLayout.h"

#include "DownloadJob.h"
#include "Fonts.h"
#include "JobRow.h"
#include "LinearProgress.h"

#include <QFontMetrics>
#include <QTextLayout>

namespace {

bool fitsOnOneLine(const QString &text, const QFontMetrics &metrics, int width) {
    // Most status texts are short enough to fit without measuring them.
    return text.size() * metrics.maxWidth() <= width || metrics.horizontalAdvance(text) <= width;
}

QStringList wrapInTwoLines(const QString &text, const QFont &font, int width) {
    const QFontMetrics metrics(font);
    if (fitsOnOneLine(text, metrics, width))
        return {text};
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    first.setLineWidth(width);
    const int firstLength = first.textLength();
    layout.endLayout();
    const QString rest = text.mid(firstLength);
    return {text.left(firstLength).trimmed(), metrics.elidedText(rest, Qt::ElideRight, width)};
}

int textWidth(const DownloadJob &job, int rowLeft, int rowRight) {
    const int left =
        rowLeft + JobRowLayout::horizontalPadding + JobRowLayout::iconBox + JobRowLayout::spacing;
    int right = rowRight - JobRowLayout::horizontalPadding;
    if (JobRow::action(job))
        right -= JobRowLayout::actionSide + JobRowLayout::minimumGap;
    return std::max(right - left + 1, 40);
}

struct Heights {
    int content;
    int row;
};

Heights heights(bool bar, qsizetype statusLines, const QFontMetrics &title,
                const QFontMetrics &status) {
    int content = title.height() + JobRowLayout::lineSpacing +
                  static_cast<int>(statusLines) * status.lineSpacing();
    if (bar)
        content += qRound(LinearProgress::thickness) + JobRowLayout::lineSpacing;
    return {content, std::max(content, JobRowLayout::iconBox) + 2 * JobRowLayout::verticalPadding};
}

} // namespace

int JobRowLayout::height(const DownloadJob &job, const QFont &font, int width) {
    const QFontMetrics title(font);
    const QFontMetrics status(Fonts::caption(font));
    const bool oneLine =
        fitsOnOneLine(JobRow::statusText(job), status, textWidth(job, 0, width - 1));
    return heights(JobRow::showsProgress(job), oneLine ? 1 : 2, title, status).row;
}

JobRowLayout::JobRowLayout(const DownloadJob &job, const QFont &font, const QRect &row)
    : titleFont(font), statusFont(Fonts::caption(font)) {
    const QFontMetrics titleMetrics(titleFont);
    const QFontMetrics statusMetrics(statusFont);
    const bool hasAction = JobRow::action(job).has_value();
    const int textLeft = row.left() + horizontalPadding + iconBox + spacing;
    const int textWidth = ::textWidth(job, row.left(), row.right());

    titleText = titleMetrics.elidedText(JobRow::title(job), Qt::ElideMiddle, textWidth);
    statusLines = wrapInTwoLines(JobRow::statusText(job), statusFont, textWidth);

    const int titleHeight = titleMetrics.height();
    const bool hasBar = JobRow::showsProgress(job);
    const int barHeight = hasBar ? qRound(LinearProgress::thickness) : 0;
    const Heights sizes = heights(hasBar, statusLines.size(), titleMetrics, statusMetrics);
    rowHeight = sizes.row;

    // Centred in the row as the list laid it out; a row laid out for an earlier state of the
    // job starts at its top, and the delegate clips what does not fit.
    const int top = row.top() + std::max(0, (row.height() - sizes.content) / 2);
    title = QRect(textLeft, top, textWidth, titleHeight);
    int y = title.bottom() + 1 + lineSpacing;
    if (barHeight > 0) {
        bar = QRect(textLeft, y, textWidth, barHeight);
        y = bar.bottom() + 1 + lineSpacing;
    }
    for (qsizetype line = 0; line < statusLines.size(); ++line)
        statusLineRects.append(QRect(textLeft,
                                     y + static_cast<int>(line) * statusMetrics.lineSpacing(),
                                     textWidth, statusMetrics.height()));

    const int iconSide = std::min(iconBox - 2, qRound(titleHeight * 1.5));
    const int middle = row.top() + row.height() / 2;
    icon = QRect(row.left() + horizontalPadding + (iconBox - iconSide) / 2, middle - iconSide / 2,
                 iconSide, iconSide);
    if (hasAction)
        action = QRect(row.right() - horizontalPadding - actionSide + 1, middle - actionSide / 2,
                       actionSide, actionSide);
}
