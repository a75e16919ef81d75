#include "RootView.h"

#include "MainView.h"
#include "SetupView.h"
#include "ToolManager.h"

#include <QStackedLayout>
#include <QTimer>

RootView::RootView(ToolManager &tools, DownloadQueue &queue, const Desktop &desktop,
                   QWidget *parent)
    : QWidget(parent), m_tools(tools), m_queue(queue), m_desktop(desktop),
      m_layout(new QStackedLayout(this)) {
    setMinimumSize(560, 440);
    m_layout->addWidget(new QWidget);
    connect(&tools, &ToolManager::phaseChanged, this, &RootView::followPhase);
    followPhase();
}

void RootView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    // A window that is never painted (shown minimised, say) still gets its tools checked.
    QTimer::singleShot(250, this, &RootView::startCheck);
}

void RootView::paintEvent(QPaintEvent *event) {
    QWidget::paintEvent(event);
    if (!m_checked)
        QTimer::singleShot(0, this, &RootView::startCheck);
}

void RootView::startCheck() {
    if (m_checked)
        return;
    m_checked = true;
    // Runs on by itself; the phase it settles is followed through phaseChanged.
    m_tools.check();
}

void RootView::followPhase() {
    const Screen screen = std::visit(
        [](const auto &phase) {
            using P = std::decay_t<decltype(phase)>;
            if constexpr (std::is_same_v<P, ToolManager::Checking>)
                return Screen::blank;
            else if constexpr (std::is_same_v<P, ToolManager::Ready>)
                return Screen::main;
            else
                return Screen::setup;
        },
        m_tools.phase());
    if (screen == m_screen)
        return;
    m_screen = screen;
    delete m_content;
    m_content = nullptr;
    if (screen == Screen::setup)
        m_content = new SetupView(m_tools);
    else if (screen == Screen::main)
        m_content = new MainView(m_tools, m_queue, m_desktop);
    if (m_content) {
        m_layout->addWidget(m_content);
        m_layout->setCurrentWidget(m_content);
        m_content->setFocus();
    } else {
        m_layout->setCurrentIndex(0);
    }
}
