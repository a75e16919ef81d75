#include "ToolCard.h"

#include "Fonts.h"
#include "LinearProgress.h"
#include "SymbolView.h"
#include "TintedLabel.h"

#include <QGridLayout>
#include <QPainter>
#include <QStackedWidget>

namespace {

struct ToolText {
    QString description;
    QString size;
};

ToolText textOf(ToolManager::Tool tool) {
    switch (tool) {
    case ToolManager::Tool::ytdlp:
        return {u"downloads the video"_qs, u"37 MB"_qs};
    case ToolManager::Tool::deno:
        return {u"JavaScript runtime yt-dlp needs for YouTube"_qs, u"38 MB"_qs};
    case ToolManager::Tool::ffmpeg:
        return {u"merges video and audio into one MP4"_qs, u"28 MB"_qs};
    }
    Q_UNREACHABLE();
}

} // namespace

ToolCard::ToolCard(ToolManager &tools, QWidget *parent) : QWidget(parent), m_tools(tools) {
    setFixedWidth(440);
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(16, 14, 16, 14);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(2);
    grid->setColumnStretch(1, 1);
    const QFont caption = Fonts::caption(font());
    const int markSize = QFontMetrics(font()).height();

    int line = 0;
    for (const ToolManager::Tool tool : allTools()) {
        if (line > 0)
            grid->setRowMinimumHeight(line++, 8);
        const ToolText text = textOf(tool);
        auto *mark = new SymbolView(Symbol::circle, Tint::secondary, markSize);
        auto *name = new TintedLabel(rawValue(tool), Tint::primary);
        name->setFont(Fonts::medium(font()));
        auto *description = new TintedLabel(text.description, Tint::secondary);
        description->setFont(caption);
        description->setWordWrap(true);
        auto *progress = new LinearProgress;
        auto *note = new TintedLabel(text.size, Tint::secondary);
        note->setFont(caption);
        note->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto *trailing = new QStackedWidget;
        trailing->addWidget(new QWidget);
        trailing->addWidget(progress);
        trailing->addWidget(note);
        trailing->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

        const QString id = rawValue(tool).toLower();
        mark->setObjectName(id + u"Mark"_qs);
        progress->setObjectName(id + u"Progress"_qs);
        progress->setAccessibleName(u"Installing "_qs + rawValue(tool));
        note->setObjectName(id + u"Note"_qs);
        trailing->setObjectName(id + u"Trailing"_qs);

        grid->addWidget(mark, line, 0, Qt::AlignVCenter);
        grid->addWidget(name, line, 1);
        grid->addWidget(trailing, line, 2, Qt::AlignVCenter | Qt::AlignRight);
        // The trailing item stands beside the name only; the description may use its width.
        grid->addWidget(description, line + 1, 1, 1, 2);
        line += 2;
        m_rows.append({tool, mark, trailing, progress, note, description});
    }
    connect(&tools, &ToolManager::phaseChanged, this, &ToolCard::refresh);
    connect(&tools, &ToolManager::installingToolChanged, this, &ToolCard::refresh);
    connect(&tools, &ToolManager::installProgressChanged, this, &ToolCard::refresh);
    refresh();
}

void ToolCard::refresh() {
    const QList<ToolManager::Tool> missing = m_tools.missingTools();
    for (const Row &row : std::as_const(m_rows)) {
        const bool isMissing = missing.contains(row.tool);
        row.mark->setSymbol(isMissing ? Symbol::circle : Symbol::checkmarkCircleFill,
                            isMissing ? Tint::secondary : Tint::green);
        row.mark->setAccessibleName(isMissing ? u"Missing"_qs : u"Installed"_qs);
        if (m_tools.installingTool() == row.tool) {
            row.progress->setValue(m_tools.installProgress());
            row.trailing->setCurrentWidget(row.progress);
        } else if (row.tool == ToolManager::Tool::ffmpeg && m_tools.usesSystemFFmpeg()) {
            row.note->setText(m_tools.sources().platform.systemFFmpegText);
            row.trailing->setCurrentWidget(row.note);
        } else if (isMissing) {
            row.note->setText(textOf(row.tool).size);
            row.trailing->setCurrentWidget(row.note);
        } else {
            row.trailing->setCurrentIndex(0);
        }
    }
}

void ToolCard::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    // The grid gives a wrapped description its width but not the height for it; a larger
    // font makes a description take two lines.
    for (const Row &row : std::as_const(m_rows)) {
        const int needed = row.description->heightForWidth(row.description->width());
        if (needed > 0 && row.description->minimumHeight() != needed)
            row.description->setMinimumHeight(needed);
    }
}

void ToolCard::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(tint(Tint::quaternaryFill, palette()));
    painter.drawRoundedRect(QRectF(rect()), 10, 10);
}
