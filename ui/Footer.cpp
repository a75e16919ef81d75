#include "Footer.h"

#include "DownloadQueue.h"
#include "ElidedLabel.h"
#include "Fonts.h"
#include "JobListModel.h"
#include "LinkButton.h"
#include "TintedLabel.h"
#include "ToolManager.h"

#include <QHBoxLayout>

Footer::Footer(ToolManager &tools, DownloadQueue &queue, const JobListModel &jobs, QWidget *parent)
    : QWidget(parent), m_tools(tools),
      m_updateMessage(new ElidedLabel(Tint::secondary, Qt::ElideRight)),
      m_version(new TintedLabel(QString(), Tint::tertiary)) {
    setFont(Fonts::caption(font()));
    // In a narrow window the texts end in "…" and show in full as their tooltips.
    auto *note = new ElidedLabel(Tint::secondary, Qt::ElideRight);
    note->setText(u"Only download videos you own or have permission to save."_qs);
    note->setObjectName(u"legalNote"_qs);
    auto *clear = new LinkButton(u"Clear Finished"_qs);
    m_updateMessage->setObjectName(u"updateMessage"_qs);
    m_version->setObjectName(u"ytdlpVersion"_qs);
    clear->setObjectName(u"clearFinishedButton"_qs);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 8, 16, 8);
    layout->setSpacing(12);
    // The notice is shown whole where it fits; the update message, which can be long, takes
    // what space is left, though never less than a few words, and without one the rest sits
    // at the right.
    m_updateMessage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_updateMessage->setMinimumWidth(fontMetrics().averageCharWidth() * 16);
    layout->addWidget(note);
    layout->addWidget(m_updateMessage, 1);
    layout->addStretch();
    layout->addWidget(m_version);
    layout->addWidget(clear);

    connect(clear, &LinkButton::clicked, &queue, &DownloadQueue::clearFinished);
    clear->setVisible(jobs.hasEndedJobs());
    connect(&jobs, &JobListModel::hasEndedJobsChanged, clear, &LinkButton::setVisible);
    connect(&tools, &ToolManager::updateMessageChanged, this, &Footer::showToolStatus);
    connect(&tools, &ToolManager::ytdlpVersionChanged, this, &Footer::showToolStatus);
    showToolStatus();
}

void Footer::showToolStatus() {
    const auto &message = m_tools.updateMessage();
    m_updateMessage->setText(message.value_or(QString()));
    m_updateMessage->setVisible(message.has_value());
    const auto &version = m_tools.ytdlpVersion();
    m_version->setText(version ? u"yt-dlp "_qs + *version : QString());
    m_version->setVisible(version.has_value());
}
