#include "TovikApp.h"

#include <QCoreApplication>

TovikApp::TovikApp(ToolSources sources, Desktop desktop)
    : m_tools(std::move(sources)), m_desktop(std::move(desktop)),
      m_window(m_tools, m_queue, m_desktop) {
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &m_queue,
                     &DownloadQueue::shutDown);
}
