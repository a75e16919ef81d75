#include "SetupView.h"

#include "ErrorText.h"
#include "Fonts.h"
#include "MainView.h"
#include "ProminentButton.h"
#include "Spinner.h"
#include "SymbolView.h"
#include "TintedLabel.h"
#include "ToolCard.h"
#include "ToolManager.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

enum Page { checkingPage, needsInstallPage, installingPage, readyPage, failedPage };
constexpr int textWidth = 440;

// A wrapping label as wide as its text, or as its widest line once wrapped at the limit, so
// that what stands beside it (the failure's symbol) sits close to the text.
void fitToText(QLabel *label, int limit) {
    const QRect wrapped = label->fontMetrics().boundingRect(QRect(0, 0, limit, 100'000),
                                                            Qt::TextWordWrap, label->text());
    const int width = std::min(wrapped.width() + 2, limit);
    label->setFixedWidth(width);
    // A centred box layout gives the label its width but not always the height for it.
    label->setMinimumHeight(label->heightForWidth(width));
}

QWidget *centred(QWidget *content) {
    auto *page = new QWidget;
    auto *layout = new QHBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content, 0, Qt::AlignHCenter | Qt::AlignTop);
    return page;
}

TintedLabel *wrappedLabel(Tint role) {
    auto *label = new TintedLabel(QString(), role);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    return label;
}

} // namespace

SetupView::SetupView(ToolManager &tools, QWidget *parent)
    : QWidget(parent), m_tools(tools), m_status(new QStackedWidget),
      m_installing(new TintedLabel(QString(), Tint::secondary)), m_failure(wrappedLabel(Tint::red)),
      m_hint(wrappedLabel(Tint::secondary)),
      m_install(new ProminentButton(u"Download and Install"_qs, ProminentButton::Size::large)),
      m_tryAgain(new ProminentButton(u"Try Again"_qs, ProminentButton::Size::regular)),
      m_useInstalled(new QPushButton(u"Use Installed Tools"_qs)) {
    auto *symbol = new SymbolView(Symbol::arrowDownCircle, Tint::accent,
                                  qRound(QFontMetrics(font()).height() * 3.4));
    auto *headline = new TintedLabel(u"Tovik needs three free tools"_qs, Tint::primary);
    headline->setObjectName(u"headline"_qs);
    headline->setFont(Fonts::title2(font()));
    headline->setAlignment(Qt::AlignCenter);
    auto *card = new ToolCard(tools);
    card->setObjectName(u"toolCard"_qs);
    auto *explanation = wrappedLabel(Tint::secondary);
    explanation->setObjectName(u"explanation"_qs);
    explanation->setText(storageSentence(QFileInfo(tools.binDirectory()).path()));
    explanation->setFont(Fonts::callout(font()));
    fitToText(explanation, textWidth);

    m_install->setObjectName(u"installButton"_qs);
    m_tryAgain->setObjectName(u"tryAgainButton"_qs);
    m_useInstalled->setObjectName(u"useInstalledButton"_qs);
    m_installing->setObjectName(u"installingStatus"_qs);
    m_failure->setObjectName(u"failureMessage"_qs);
    m_failure->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_hint->setObjectName(u"failureHint"_qs);
    m_hint->setFont(Fonts::callout(font()));

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
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addStretch();
    buttons->addWidget(m_useInstalled);
    buttons->addWidget(m_tryAgain);
    buttons->addStretch();
    auto *failureColumn = new QVBoxLayout(failure);
    failureColumn->setContentsMargins(0, 0, 0, 0);
    failureColumn->setSpacing(10);
    failureColumn->addLayout(failureLine);
    failureColumn->addWidget(m_hint, 0, Qt::AlignHCenter);
    failureColumn->addLayout(buttons);

    m_status->addWidget(centred(new Spinner));
    m_status->addWidget(centred(m_install));
    m_status->addWidget(centred(m_installing));
    m_status->addWidget(new QWidget);
    m_status->addWidget(failure);
    m_status->setObjectName(u"setupStatus"_qs);

    auto *content = new QWidget;
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(32, 32, 32, 32);
    column->setSpacing(20);
    column->addStretch();
    column->addWidget(symbol, 0, Qt::AlignHCenter);
    column->addWidget(headline);
    column->addWidget(card, 0, Qt::AlignHCenter);
    column->addWidget(explanation, 0, Qt::AlignHCenter);
    column->addWidget(m_status);
    column->addStretch();

    auto *scroll = new QScrollArea;
    scroll->setObjectName(u"setupScroll"_qs);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);

    // The installation runs on by itself; the button does not wait for it.
    const auto startInstall = [this] { m_tools.install(false); };
    connect(m_install, &ProminentButton::clicked, this, startInstall);
    connect(m_tryAgain, &ProminentButton::clicked, this, startInstall);
    // Every tool is still there after a failed reinstallation: checking them leads back to
    // the main view.
    connect(m_useInstalled, &QPushButton::clicked, this, [this] { m_tools.check(); });
    connect(&tools, &ToolManager::phaseChanged, this, &SetupView::showPhase);
    connect(&tools, &ToolManager::installingToolChanged, this, &SetupView::showPhase);
    showPhase();
}

QString SetupView::storageSentence(const QString &toolFolder) {
#if defined(Q_OS_MACOS)
    Q_UNUSED(toolFolder)
    const QString place = u"Application Support"_qs;
#else
    // Word joiners after the slashes keep the path on one line.
    const QString place = MainView::displayPath(toolFolder).replace(u'/', u"/\u2060"_qs);
#endif
    return u"They are downloaded from their official sources, checked against the published "
           "checksums, and stored in %1. yt-dlp keeps itself up to date."_qs.arg(place);
}

void SetupView::focusButton(QWidget *button) {
    setFocusProxy(button);
    const QWidget *focused = QApplication::focusWidget();
    if (button && (!focused || focused == this || isAncestorOf(focused)))
        button->setFocus(Qt::OtherFocusReason);
}

void SetupView::showPhase() {
    QWidget *button = nullptr;
    std::visit(
        [this, &button](const auto &phase) {
            using P = std::decay_t<decltype(phase)>;
            if constexpr (std::is_same_v<P, ToolManager::Checking>) {
                m_status->setCurrentIndex(checkingPage);
            } else if constexpr (std::is_same_v<P, ToolManager::NeedsInstall>) {
                m_status->setCurrentIndex(needsInstallPage);
                button = m_install;
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
                const std::optional<QString> hint = ErrorText::setupHint(phase.message);
                m_hint->setText(hint.value_or(QString()));
                fitToText(m_hint, textWidth);
                m_hint->setVisible(hint.has_value());
                m_useInstalled->setVisible(m_tools.missingTools().isEmpty());
                m_status->setCurrentIndex(failedPage);
                button = m_tryAgain;
            }
        },
        m_tools.phase());
    focusButton(button);
}
