#include "JobRowLayout.h"

#include "DownloadJob.h"
#include "Fonts.h"
#include "JobRow.h"
#include "LinearProgress.h"

#include <QFontMetrics>
#include <QTextLayout>

namespace {

QStringList wrapInTwoLines(const QString &text, const QFont &font, int width) {
    const QFontMetrics metrics(font);
    if (metrics.horizontalAdvance(text) <= width)
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

} // namespace

JobRowLayout::JobRowLayout(const DownloadJob &job, const QFont &font, const QRect &row)
    : titleFont(font), statusFont(Fonts::caption(font)) {
    const QFontMetrics titleMetrics(titleFont);
    const QFontMetrics statusMetrics(statusFont);
    const bool hasAction = JobRow::action(job).has_value();

    const int textLeft = row.left() + horizontalPadding + iconBox + spacing;
    int textRight = row.right() - horizontalPadding;
    if (hasAction)
        textRight -= actionSide + minimumGap;
    const int textWidth = std::max(textRight - textLeft + 1, 40);

    titleText = titleMetrics.elidedText(JobRow::title(job), Qt::ElideMiddle, textWidth);
    statusLines = wrapInTwoLines(JobRow::statusText(job), statusFont, textWidth);

    const int titleHeight = titleMetrics.height();
    const int barHeight = JobRow::showsProgress(job) ? qRound(LinearProgress::thickness) : 0;
    const int statusHeight = static_cast<int>(statusLines.size()) * statusMetrics.lineSpacing();
    int content = titleHeight + lineSpacing + statusHeight;
    if (barHeight > 0)
        content += barHeight + lineSpacing;
    height = std::max(content, iconBox) + 2 * verticalPadding;

    const int top = row.top() + (height - content) / 2;
    title = QRect(textLeft, top, textWidth, titleHeight);
    int y = title.bottom() + 1 + lineSpacing;
    if (barHeight > 0) {
        bar = QRect(textLeft, y, textWidth, barHeight);
        y = bar.bottom() + 1 + lineSpacing;
    }
    status = QRect(textLeft, y, textWidth, statusHeight);

    const int iconSide = std::min(iconBox - 2, qRound(titleHeight * 1.35));
    const int middle = row.top() + height / 2;
    icon = QRect(row.left() + horizontalPadding + (iconBox - iconSide) / 2, middle - iconSide / 2,
                 iconSide, iconSide);
    if (hasAction)
        action = QRect(row.right() - horizontalPadding - actionSide + 1, middle - actionSide / 2,
                       actionSide, actionSide);
}
