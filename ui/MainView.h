#pragma once

#include "Desktop.h"
#include "OutputFormat.h"
#include "Preferences.h"

#include <QWidget>

class DownloadQueue;
class ElidedLabel;
class JobListModel;
class JobListView;
class LinkField;
class ProminentButton;
class QComboBox;
class QCheckBox;
class QStackedWidget;
class ToolManager;

// The window's working view once the tools are ready: links, format, playlist and folder
// choices, the Download button, the job list and the footer. Web links dropped anywhere
// on it are added to the link field.
class MainView : public QWidget {
    Q_OBJECT

public:
    MainView(ToolManager &tools, DownloadQueue &queue, const Desktop &desktop,
             QWidget *parent = nullptr);

    // Queues one download per distinct link in the field and empties it.
    void start();
    // Queues one download per link with the current format, playlist choice and folder.
    void download(const QList<QUrl> &links);
    // Adds the clipboard's text to the field.
    void paste();
    void chooseFolder();
    void openFolder();

    // The folder as the folder row shows it, the home folder written as "~".
    static QString displayPath(const QString &path);
    // Where the folder chooser opens for a folder: the nearest one of it and its parents
    // that exists, or the home folder.
    static QString chooserStart(const QString &path);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void appendToInput(const QString &text);
    void inputChanged();
    void showFolder();
    void showJobsOrEmptyState();
    QUrl outputDirectory() const;

    ToolManager &m_tools;
    DownloadQueue &m_queue;
    const Desktop &m_desktop;
    Preferences m_preferences;
    OutputFormat m_format;
    bool m_includePlaylist;
    QString m_outputPath;

    JobListModel *m_model;
    LinkField *m_input;
    QComboBox *m_formatPicker;
    QCheckBox *m_playlist;
    ProminentButton *m_download;
    ElidedLabel *m_folder;
    QStackedWidget *m_jobsOrEmpty;
    JobListView *m_jobList;
};
