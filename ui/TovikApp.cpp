#include "TovikApp.h"

#include "MainView.h"
#include "Preferences.h"
#include "RootView.h"
#include "StagingFolder.h"
#include "URLInput.h"
#include "WindowGeometry.h"

#include <QCoreApplication>

TovikApp::TovikApp(ToolSources sources, Desktop desktop)
    : m_tools(std::move(sources)), m_desktop(std::move(desktop)),
      m_window(m_tools, m_queue, m_desktop) {
    WindowGeometry::restore(m_window);
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &m_window,
                     [this] { WindowGeometry::save(m_window); });
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &m_queue,
                     &DownloadQueue::shutDown);
    // What a Tovik that did not end in order left in the output folder.
    StagingFolder::removeAbandoned(Preferences().outputPath());
    // Connected after the root view's own handler, so the main view exists when this runs.
    QObject::connect(&m_tools, &ToolManager::phaseChanged, &m_window, [this] { deliverLinks(); });
}

void TovikApp::open(const QStringList &texts) {
    m_waitingLinks.append(URLInput::extract(texts.join(u'\n')));
    deliverLinks();
}

void TovikApp::deliverLinks() {
    auto *main = qobject_cast<MainView *>(m_window.rootView()->content());
    if (!main || m_waitingLinks.isEmpty())
        return;
    main->download(std::exchange(m_waitingLinks, {}));
}

void TovikApp::raise() {
    m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
}
