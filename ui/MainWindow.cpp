#include "MainWindow.h"

#include "DownloadJob.h"
#include "DownloadQueue.h"
#include "Icons.h"
#include "RootView.h"
#include "ToolManager.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>

MainWindow::MainWindow(ToolManager &tools, DownloadQueue &queue, const Desktop &desktop,
                       QWidget *parent)
    : QMainWindow(parent), m_tools(tools), m_queue(queue), m_desktop(desktop),
      m_root(new RootView(tools, queue, desktop)), m_update(new QAction(u"Update yt-dlp"_qs, this)),
      m_reinstall(new QAction(u"Reinstall Tools…"_qs, this)) {
    setObjectName(u"main"_qs);
    setWindowTitle(u"Tovik"_qs);
    setCentralWidget(m_root);

    QMenu *menu = menuBar()->addMenu(u"Tovik"_qs);
    QAction *about = menu->addAction(u"About Tovik"_qs, this, &MainWindow::showAbout);
    about->setMenuRole(QAction::AboutRole);
    m_update->setMenuRole(QAction::ApplicationSpecificRole);
    m_reinstall->setMenuRole(QAction::ApplicationSpecificRole);
    menu->addAction(m_update);
    menu->addAction(m_reinstall);
    menu->addSeparator();
    QAction *quit = menu->addAction(u"Quit"_qs, this, [this] {
        if (mayQuit())
            QApplication::quit();
    });
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);

    // The commands run on by themselves; the menu does not wait for them.
    connect(m_update, &QAction::triggered, this, [this] { m_tools.updateYTDLP(); });
    connect(m_reinstall, &QAction::triggered, this, [this] { m_tools.install(true); });
    connect(&tools, &ToolManager::phaseChanged, this, &MainWindow::updateCommands);
    connect(&tools, &ToolManager::isUpdatingChanged, this, &MainWindow::updateCommands);
    connect(&queue, &DownloadQueue::hasActiveJobsChanged, this, &MainWindow::updateCommands);
    updateCommands();
    // The content gets the default size; a menu bar inside the window comes on top of it.
    const int menuHeight = menuBar()->isNativeMenuBar() ? 0 : menuBar()->sizeHint().height();
    resize(720, 560 + menuHeight);
    qApp->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event) {
    // An application quit closes the window on its way; that close must not ask again.
    if (watched == qApp && event->type() == QEvent::Quit) {
        m_quitting = true;
        // Should something else refuse the quit, the next close asks again.
        QTimer::singleShot(0, this, [this] { m_quitting = false; });
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent *event) {
    if (!m_quitting && !mayQuit()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

bool MainWindow::mayQuit() {
    int running = 0;
    for (const DownloadJob *job : m_queue.jobs())
        running += job->isActive() ? 1 : 0;
    return running == 0 || m_desktop.confirmQuit(this, running);
}

void MainWindow::updateCommands() {
    const bool busy = m_queue.hasActiveJobs();
    const auto &phase = m_tools.phase();
    m_update->setEnabled(std::holds_alternative<ToolManager::Ready>(phase) &&
                         !m_tools.isUpdating() && !busy);
    m_reinstall->setEnabled(!std::holds_alternative<ToolManager::Installing>(phase) && !busy);
}

void MainWindow::showAbout() {
    QMessageBox about(this);
    about.setWindowTitle(u"About Tovik"_qs);
    about.setIconPixmap(Icons::appIcon().pixmap(64, 64));
    about.setText(u"<b>Tovik %1</b>"_qs.arg(QApplication::applicationVersion()));
    about.setInformativeText(u"Saves online videos, or only their audio, with yt-dlp and "
                             "ffmpeg.\n\nOnly download videos you own or have permission to "
                             "save."_qs);
    about.exec();
}
