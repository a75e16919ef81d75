#include "TovikApp.h"

#include "Preferences.h"
#include "StagingFolder.h"

#include <QCoreApplication>

TovikApp::TovikApp(ToolSources sources, Desktop desktop)
    : m_tools(std::move(sources)), m_desktop(std::move(desktop)),
      m_window(m_tools, m_queue, m_desktop) {
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &m_queue,
                     &DownloadQueue::shutDown);
    // What a Tovik that did not end in order left in the output folder.
    StagingFolder::removeAbandoned(Preferences().outputPath());
}
