#include "DownloadNotifier.h"

#include "DownloadQueue.h"

#include <QCoreApplication>
#include <QCoro/QCoroDBusPendingCall>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QPointer>
#include <QWidget>

namespace {

const QString service = u"org.freedesktop.Notifications"_qs;
const QString path = u"/org/freedesktop/Notifications"_qs;
const QString showAction = u"show-in-folder"_qs;

// "3 downloads finished", "2 finished, 1 failed", …
QString summary(int finished, int failed, int cancelled) {
    const std::pair<int, QString> counts[] = {
        {finished, u"finished"_qs}, {failed, u"failed"_qs}, {cancelled, u"cancelled"_qs}};
    QStringList parts;
    QString outcome;
    for (const auto &[count, word] : counts) {
        if (count > 0) {
            parts.append(QString::number(count) + u' ' + word);
            outcome = word;
        }
    }
    if (parts.size() != 1)
        return parts.join(u", "_qs);
    const int total = finished + failed + cancelled;
    return u"%1 %2 %3"_qs.arg(QString::number(total), total == 1 ? u"download"_qs : u"downloads"_qs,
                              outcome);
}

} // namespace

DownloadNotifier::DownloadNotifier(DownloadQueue &queue, const QWidget &window,
                                   const Desktop &desktop, QObject *parent)
    : QObject(parent), m_window(window), m_desktop(desktop), m_batch(queue) {
    connect(&m_batch, &JobBatch::ended, this, &DownloadNotifier::batchEnded);
    // Running downloads end cancelled when Tovik quits; that is no news.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
            [this] { m_quitting = true; });
}

void DownloadNotifier::batchEnded() {
    if (m_quitting || m_window.isActiveWindow())
        return;
    int finished = 0;
    int cancelled = 0;
    QStringList failures;
    QList<QUrl> files;
    for (const DownloadJob *job : m_batch.jobs()) {
        if (std::holds_alternative<DownloadJob::Finished>(job->state())) {
            ++finished;
            files.append(job->files());
        } else if (const auto *failed = std::get_if<DownloadJob::Failed>(&job->state())) {
            failures.append(failed->message);
        } else if (std::holds_alternative<DownloadJob::Cancelled>(job->state())) {
            ++cancelled;
        }
    }
    if (finished + failures.size() + cancelled == 0)
        return;
    m_next = Notice{summary(finished, static_cast<int>(failures.size()), cancelled),
                    failures.isEmpty() ? QString() : failures.front(), files};
    if (!m_sending)
        send();
}

QCoro::Task<> DownloadNotifier::send() {
    const QPointer<DownloadNotifier> alive(this);
    m_sending = true;
    // Listening costs a round trip on the bus; start-up does not pay it, the first notice does,
    // before it can be clicked.
    if (!m_listening)
        m_listening = QDBusConnection::sessionBus().connect(
            service, path, service, u"ActionInvoked"_qs, this, SLOT(actionInvoked(uint, QString)));
    while (m_next) {
        const Notice notice = *std::exchange(m_next, std::nullopt);
        QStringList actions;
        if (!notice.files.isEmpty())
            actions << showAction << u"Show in Folder"_qs;
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, service, u"Notify"_qs);
        const QString appId = QStringLiteral(TOVIK_APP_ID);
        call << u"Tovik"_qs << m_shown << appId << notice.summary << notice.body.toHtmlEscaped()
             << actions << QVariantMap{{u"desktop-entry"_qs, appId}} << -1;
        const QDBusPendingReply<uint> reply =
            co_await QDBusConnection::sessionBus().asyncCall(call);
        if (!alive)
            co_return;
        // Without a notification service there is nobody to tell; that is no error.
        if (reply.isError())
            continue;
        m_shown = reply.value();
        m_shownFiles = notice.files;
    }
    m_sending = false;
}

void DownloadNotifier::actionInvoked(uint id, const QString &action) {
    if (id == m_shown && action == showAction && !m_shownFiles.isEmpty())
        m_desktop.revealFiles(m_shownFiles);
}
