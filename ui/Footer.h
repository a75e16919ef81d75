#pragma once

#include <QWidget>

class ElidedLabel;
class JobListModel;
class LinkButton;
class QLabel;
class DownloadQueue;
class ToolManager;

// The main view's bottom line: the legal note, the yt-dlp update status and version, and
// "Clear Finished" while any job has ended.
class Footer : public QWidget {
    Q_OBJECT

public:
    Footer(ToolManager &tools, DownloadQueue &queue, const JobListModel &jobs,
           QWidget *parent = nullptr);

private:
    void showToolStatus();

    ToolManager &m_tools;
    ElidedLabel *m_updateMessage;
    QLabel *m_version;
};
