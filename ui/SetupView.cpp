#include "SetupView.h"

#include "Fonts.h"
#include "ProminentButton.h"
#include "Spinner.h"
#include "SymbolView.h"
#include "TintedLabel.h"
#include "ToolCard.h"
#include "ToolManager.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

enum Page { checkingPage, needsInstallPage, installingPage, readyPage, failedPage };
constexpr int textWidth = 440;

// A wrapping label as wide as its text, up to a limit, so that a short text sits close to
// what stands beside it and a long one wraps into centred lines.
void fitToText(QLabel *label, int limit) {
    label->setFixedWidth(
        std::min(label->fontMetrics().horizontalAdvance(label->text()) + 2, limit));
}

QWidget *centred(QWidget *content) {
    auto *page = new QWidget;
    auto *layout = new QHBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content, 0, Qt::AlignHCenter | Qt::AlignTop);
    return page;
}

} // namespace

SetupView::SetupView(ToolManager &tools, QWidget *parent)
    : QWidget(parent), m_tools(tools), m_status(new QStackedWidget),
      m_installing(new TintedLabel(QString(), Tint::secondary)),
      m_failure(new TintedLabel(QString(), Tint::red)) {
    auto *symbol = new SymbolView(Symbol::arrowDownCircle, Tint::accent,
                                  qRound(QFontMetrics(font()).height() * 3.4));
    auto *headline = new TintedLabel(u"Tovik needs three free tools"_qs, Tint::primary);
    headline->setObjectName(u"headline"_qs);
    headline->setFont(Fonts::title2(font()));
    headline->setAlignment(Qt::AlignCenter);
    auto *card = new ToolCard(tools);
    auto *explanation = new TintedLabel(
        u"They are downloaded from their official sources, checked against the published "
        "checksums, and stored in Application Support. yt-dlp keeps itself up to date."_qs,
        Tint::secondary);
    explanation->setFont(Fonts::callout(font()));
    explanation->setWordWrap(true);
    explanation->setAlignment(Qt::AlignCenter);
    fitToText(explanation, textWidth);

    auto *install = new ProminentButton(u"Download and Install"_qs, ProminentButton::Size::large);
    install->setObjectName(u"installButton"_qs);
    auto *tryAgain = new ProminentButton(u"Try Again"_qs, ProminentButton::Size::regular);
    tryAgain->setObjectName(u"tryAgainButton"_qs);
    m_installing->setObjectName(u"installingStatus"_qs);
    m_failure->setObjectName(u"failureMessage"_qs);
    m_failure->setWordWrap(true);
    m_failure->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_failure->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *failure = new QWidget;
    auto *failureLine = new QHBoxLayout;
    failureLine->setSpacing(6);
    failureLine->addStretch();
    const int lineHeight = QFontMetrics(font()).height();
    failureLine->addWidget(
        new SymbolView(Symbol::exclamationmarkTriangleFill, Tint::red, lineHeight), 0,
        Qt::AlignTop);
    failureLine->addWidget(m_failure);
    failureLine->addStretch();
    auto *failureColumn = new QVBoxLayout(failure);
    failureColumn->setContentsMargins(0, 0, 0, 0);
    failureColumn->setSpacing(10);
    failureColumn->addLayout(failureLine);
    failureColumn->addWidget(tryAgain, 0, Qt::AlignHCenter);

    m_status->addWidget(centred(new Spinner));
    m_status->addWidget(centred(install));
    m_status->addWidget(centred(m_installing));
    m_status->addWidget(new QWidget);
    m_status->addWidget(failure);
    m_status->setObjectName(u"setupStatus"_qs);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->setSpacing(20);
    layout->addStretch();
    layout->addWidget(symbol, 0, Qt::AlignHCenter);
    layout->addWidget(headline);
    layout->addWidget(card, 0, Qt::AlignHCenter);
    layout->addWidget(explanation, 0, Qt::AlignHCenter);
    layout->addWidget(m_status);
    layout->addStretch();

    // The installation runs on by itself; the button does not wait for it.
    const auto startInstall = [this] { m_tools.install(false); };
    connect(install, &ProminentButton::clicked, this, startInstall);
    connect(tryAgain, &ProminentButton::clicked, this, startInstall);
    connect(&tools, &ToolManager::phaseChanged, this, &SetupView::showPhase);
    connect(&tools, &ToolManager::installingToolChanged, this, &SetupView::showPhase);
    showPhase();
}

void SetupView::showPhase() {
    std::visit(
        [this](const auto &phase) {
            using P = std::decay_t<decltype(phase)>;
            if constexpr (std::is_same_v<P, ToolManager::Checking>) {
                m_status->setCurrentIndex(checkingPage);
            } else if constexpr (std::is_same_v<P, ToolManager::NeedsInstall>) {
                m_status->setCurrentIndex(needsInstallPage);
            } else if constexpr (std::is_same_v<P, ToolManager::Installing>) {
                const auto tool = m_tools.installingTool();
                m_installing->setText(u"Installing "_qs + (tool ? rawValue(*tool) : QString()) +
                                      u"…"_qs);
                m_status->setCurrentIndex(installingPage);
            } else if constexpr (std::is_same_v<P, ToolManager::Ready>) {
                m_status->setCurrentIndex(readyPage);
            } else {
                m_failure->setText(phase.message);
                fitToText(m_failure, textWidth);
                m_status->setCurrentIndex(failedPage);
            }
        },
        m_tools.phase());
}
