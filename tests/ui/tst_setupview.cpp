#include "GuiTest.h"
#include "HttpServer.h"
#include "LinearProgress.h"
#include "Platform.h"
#include "SetupView.h"
#include "Spinner.h"
#include "SymbolView.h"
#include "ToolManager.h"

#include <QAccessible>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>

using namespace GuiTest;
Q_DECLARE_METATYPE(Platform::Kind)

namespace {

const QString tag = u"2025.01.15"_qs;

// A release site whose yt-dlp download takes a while and whose checksum never matches.
void serveMismatchingRelease(HttpServer &server) {
    server.route(u"/repos/yt-dlp/yt-dlp/releases/latest"_qs,
                 answer("{\"tag_name\": \"" + tag.toUtf8() + "\"}"));
    const QString release = u"/yt-dlp/yt-dlp/releases/download/"_qs + tag + u'/';
    const QByteArray file = Platform::current().ytdlpFile.toUtf8();
    server.route(release + u"SHA2-256SUMS"_qs, answer(QByteArray(64, 'a') + "  " + file + '\n'));
    server.route(release + QString::fromUtf8(file),
                 answer(QByteArray(200'000, 'x'), 8'000, std::chrono::milliseconds(20)));
}

} // namespace

class TestSetupView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void checkingShowsASpinner();
    void everyToolMissing();
    void onlyDenoMissing();
    void systemFFmpeg_data();
    void systemFFmpeg();
    void installShowsProgressThenTheFailure();
    void longFailuresWrapCentred();
    void failedReinstallLeadsBackToInstalledTools();
    void fitsTheSmallestWindow_data();
    void fitsTheSmallestWindow();

private:
    void build(ToolSources sources = localSources());
    template <typename T> T *child(const QString &name) {
        T *widget = m_view->findChild<T *>(name);
        if (!widget)
            qFatal("no %s", qPrintable(name));
        return widget;
    }
    QWidget *statusPage() { return child<QStackedWidget>(u"setupStatus"_qs)->currentWidget(); }
    QWidget *trailing(const QString &tool) {
        return child<QStackedWidget>(tool + u"Trailing"_qs)->currentWidget();
    }

    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<ToolManager> m_tools;
    std::unique_ptr<SetupView> m_view;
};

void TestSetupView::init() {
    removeTools();
    m_server = std::make_unique<HttpServer>();
}

void TestSetupView::cleanup() {
    // An installation still running would outlive its manager; let it end first.
    if (m_tools)
        QTRY_VERIFY(!std::holds_alternative<ToolManager::Installing>(m_tools->phase()));
    m_view.reset();
    m_tools.reset();
    m_server.reset();
}

void TestSetupView::build(ToolSources sources) {
    m_tools = std::make_unique<ToolManager>(std::move(sources));
    m_view = std::make_unique<SetupView>(*m_tools);
    m_view->resize(720, 540);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void TestSetupView::checkingShowsASpinner() {
    build();
    QVERIFY(std::holds_alternative<ToolManager::Checking>(m_tools->phase()));
    QVERIFY(statusPage()->findChild<Spinner *>());
    QVERIFY(statusPage()->findChild<Spinner *>()->isVisible());
}

void TestSetupView::everyToolMissing() {
    build();
    m_tools->check();
    QVERIFY(std::holds_alternative<ToolManager::NeedsInstall>(m_tools->phase()));
    const QStringList sizes{u"37 MB"_qs, u"38 MB"_qs, u"28 MB"_qs};
    const QStringList tools{u"yt-dlp"_qs, u"deno"_qs, u"ffmpeg"_qs};
    for (qsizetype i = 0; i < tools.size(); ++i) {
        const auto *mark = child<SymbolView>(tools.at(i) + u"Mark"_qs);
        QCOMPARE(mark->symbol(), Symbol::circle);
        QCOMPARE(mark->role(), Tint::secondary);
        const auto *note = child<QLabel>(tools.at(i) + u"Note"_qs);
        QCOMPARE(trailing(tools.at(i)), note);
        QCOMPARE(note->text(), sizes.at(i));
    }
    auto *install = child<QPushButton>(u"installButton"_qs);
    QCOMPARE(statusPage(), install->parentWidget());
    QVERIFY(install->isVisible());
    QCOMPARE(install->text(), u"Download and Install"_qs);
    // Focus given to the view lands on its button: Space installs.
    m_view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    m_view->setFocus();
    QCOMPARE(QApplication::focusWidget(), install);
    QTest::keyClick(install, Qt::Key_Space);
    QVERIFY(std::holds_alternative<ToolManager::Installing>(m_tools->phase()));
    // Tools are kept in the application-data folder, named as it is on this system.
    const QString explanation = child<QLabel>(u"explanation"_qs)->text().remove(u'\u2060');
#if defined(Q_OS_MACOS)
    QVERIFY(explanation.contains(u"Application Support"_qs));
#else
    QVERIFY2(explanation.contains(u"stored in ~/.local/share/Tovik."_qs), qPrintable(explanation));
#endif
}

void TestSetupView::onlyDenoMissing() {
    QVERIFY(installFakeTools({u"yt-dlp"_qs, u"ffmpeg"_qs}));
    build();
    m_tools->check();
    for (const QString &present : {u"yt-dlp"_qs, u"ffmpeg"_qs}) {
        QCOMPARE(child<SymbolView>(present + u"Mark"_qs)->symbol(), Symbol::checkmarkCircleFill);
        QCOMPARE(child<SymbolView>(present + u"Mark"_qs)->role(), Tint::green);
        QCOMPARE(child<QStackedWidget>(present + u"Trailing"_qs)->currentIndex(), 0);
    }
    QCOMPARE(child<SymbolView>(u"denoMark"_qs)->symbol(), Symbol::circle);
    QCOMPARE(trailing(u"deno"_qs), child<QLabel>(u"denoNote"_qs));
    QCOMPARE(child<QLabel>(u"denoNote"_qs)->text(), u"38 MB"_qs);
}

void TestSetupView::systemFFmpeg_data() {
    QTest::addColumn<Platform::Kind>("platform");
    QTest::addColumn<QString>("text");
    QTest::newRow("Linux") << Platform::Kind::linuxX86_64 << u"Using system ffmpeg"_qs;
    QTest::newRow("macOS") << Platform::Kind::macOSArm64 << u"Using Homebrew"_qs;
}

void TestSetupView::systemFFmpeg() {
    QFETCH(Platform::Kind, platform);
    const QTemporaryDir system;
    const QString ffmpeg = system.filePath(u"ffmpeg"_qs);
    QVERIFY(writeExecutable(ffmpeg, "#!/bin/sh\nexit 0\n"));
    ToolSources sources = localSources(m_server->url(u"/"_qs), {ffmpeg});
    sources.platform = Platform::forKind(platform);
    build(sources);
    m_tools->check();
    QCOMPARE(child<SymbolView>(u"ffmpegMark"_qs)->symbol(), Symbol::checkmarkCircleFill);
    QCOMPARE(trailing(u"ffmpeg"_qs), child<QLabel>(u"ffmpegNote"_qs));
    QTEST(child<QLabel>(u"ffmpegNote"_qs)->text(), "text");
}

void TestSetupView::installShowsProgressThenTheFailure() {
    serveMismatchingRelease(*m_server);
    build(localSources(m_server->url(u"/"_qs)));
    m_tools->check();
    auto *headline = m_view->findChild<QLabel *>(u"headline"_qs);
    QVERIFY(headline);
    const QRect headlineBefore = headline->geometry();

    QTest::mouseClick(child<QPushButton>(u"installButton"_qs), Qt::LeftButton);
    QVERIFY(std::holds_alternative<ToolManager::Installing>(m_tools->phase()));
    auto *status = child<QLabel>(u"installingStatus"_qs);
    QTRY_COMPARE(status->text(), u"Installing yt-dlp…"_qs);
    QVERIFY(status->isVisible());
    auto *progress = child<LinearProgress>(u"yt-dlpProgress"_qs);
    QTRY_COMPARE(trailing(u"yt-dlp"_qs), progress);
    QTRY_VERIFY(progress->value() > 0);
    // Assistive technology sees a progress bar for the tool, with its value in per cent.
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(progress);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::ProgressBar);
    QCOMPARE(accessible->text(QAccessible::Name), u"Installing yt-dlp"_qs);
    QVERIFY(accessible->valueInterface());
    QCOMPARE(accessible->valueInterface()->currentValue().toInt(), qRound(progress->value() * 100));
    QCOMPARE(accessible->valueInterface()->maximumValue().toInt(), 100);
    QCOMPARE(headline->geometry(), headlineBefore);

    QTRY_VERIFY(std::holds_alternative<ToolManager::Failed>(m_tools->phase()));
    const QString message = std::get<ToolManager::Failed>(m_tools->phase()).message;
    QVERIFY(!message.isEmpty());
    QCOMPARE(child<QLabel>(u"failureMessage"_qs)->text(), message);
    QVERIFY(child<QLabel>(u"failureMessage"_qs)->isVisible());
    auto *tryAgain = child<QPushButton>(u"tryAgainButton"_qs);
    QVERIFY(tryAgain->isVisible());
    QCOMPARE(trailing(u"yt-dlp"_qs), child<QLabel>(u"yt-dlpNote"_qs));
    // A hint under the message; no way back while tools are missing.
    QVERIFY(child<QLabel>(u"failureHint"_qs)->isVisible());
    QVERIFY(child<QLabel>(u"failureHint"_qs)->text().startsWith(u"What arrived did not match"_qs));
    QVERIFY(!child<QPushButton>(u"useInstalledButton"_qs)->isVisible());

    QTest::mouseClick(tryAgain, Qt::LeftButton);
    QVERIFY(std::holds_alternative<ToolManager::Installing>(m_tools->phase()));
    QVERIFY(status->isVisible());
}

void TestSetupView::longFailuresWrapCentred() {
    // A tag that cannot go into an address fails the installation with a long message.
    m_server->route(u"/repos/yt-dlp/yt-dlp/releases/latest"_qs, answer("{\"tag_name\": \"a/b\"}"));
    build(localSources(m_server->url(u"/"_qs)));
    m_tools->check();
    m_tools->install(false);
    QTRY_VERIFY(std::holds_alternative<ToolManager::Failed>(m_tools->phase()));
    auto *message = child<QLabel>(u"failureMessage"_qs);
    QVERIFY(message->wordWrap());
    QVERIFY(message->alignment() & Qt::AlignHCenter);
    QVERIFY(message->width() <= 440);
    QVERIFY2(message->height() >= 2 * message->fontMetrics().lineSpacing(),
             qPrintable(message->text()));
}

void TestSetupView::failedReinstallLeadsBackToInstalledTools() {
    QVERIFY(installFakeTools());
    build(localSources(m_server->url(u"/"_qs)));
    m_view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    m_tools->install(true);
    QTRY_VERIFY(std::holds_alternative<ToolManager::Failed>(m_tools->phase()));
    auto *back = child<QPushButton>(u"useInstalledButton"_qs);
    QVERIFY(back->isVisible());
    QCOMPARE(QApplication::focusWidget(), child<QPushButton>(u"tryAgainButton"_qs));
    QTest::mouseClick(back, Qt::LeftButton);
    QTRY_VERIFY(std::holds_alternative<ToolManager::Ready>(m_tools->phase()));
    // Let the version probe and update of the ready phase end before the manager goes.
    QTRY_VERIFY(m_tools->updateMessage() && !m_tools->isUpdating());
}

void TestSetupView::fitsTheSmallestWindow_data() {
    QTest::addColumn<double>("points");
    QTest::addColumn<bool>("failed");
    for (const double points : {9.0, 12.0, 14.0}) {
        QTest::addRow("%g pt, tools missing", points) << points << false;
        QTest::addRow("%g pt, failed", points) << points << true;
    }
}

void TestSetupView::fitsTheSmallestWindow() {
    QFETCH(double, points);
    QFETCH(bool, failed);
    const QFont before = QApplication::font();
    QFont font = before;
    font.setPointSizeF(points);
    QApplication::setFont(font);
    build();
    QApplication::setFont(before);
    m_view->resize(560, 440);
    m_tools->check();
    if (failed) {
        m_tools->install(false);
        QTRY_VERIFY(std::holds_alternative<ToolManager::Failed>(m_tools->phase()));
    }
    QTest::qWait(50);

    // Every text and control shows whole, and none overlaps another: the view scrolls
    // rather than squeezing them.
    const QWidget *content = child<QScrollArea>(u"setupScroll"_qs)->widget();
    QList<const QWidget *> leaves;
    for (const QWidget *widget : content->findChildren<QWidget *>()) {
        const bool leaf = qobject_cast<const QLabel *>(widget) ||
                          qobject_cast<const QAbstractButton *>(widget) ||
                          qobject_cast<const SymbolView *>(widget);
        if (leaf && widget->isVisible())
            leaves.append(widget);
    }
    QVERIFY(leaves.size() >= 12);
    for (const QWidget *widget : std::as_const(leaves)) {
        const QString name =
            widget->objectName() + u' ' + QString::fromLatin1(widget->metaObject()->className());
        const QRect box(widget->mapTo(content, QPoint(0, 0)), widget->size());
        QVERIFY2(content->rect().contains(box), qPrintable(name));
        if (const auto *label = qobject_cast<const QLabel *>(widget)) {
            if (label->wordWrap())
                QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                         qPrintable(name + u": "_qs + label->text()));
            else
                QVERIFY2(label->width() >= label->sizeHint().width() &&
                             label->height() >= label->sizeHint().height(),
                         qPrintable(name + u": "_qs + label->text()));
        } else {
            QVERIFY2(widget->width() >= widget->sizeHint().width() &&
                         widget->height() >= widget->sizeHint().height(),
                     qPrintable(name));
        }
        for (const QWidget *other : std::as_const(leaves)) {
            const QRect otherBox(other->mapTo(content, QPoint(0, 0)), other->size());
            QVERIFY2(other == widget || !otherBox.intersects(box),
                     qPrintable(name + u" overlaps "_qs + other->objectName()));
        }
    }
}

TOVIK_GUI_TEST_MAIN(TestSetupView)
#include "tst_setupview.moc"
