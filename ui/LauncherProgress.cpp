#include "LauncherProgress.h"

#include "DownloadQueue.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <cmath>

LauncherProgress::LauncherProgress(DownloadQueue &queue, QObject *parent)
    : QObject(parent), m_batch(queue) {
    m_timer.setInterval(interval);
    connect(&m_timer, &QTimer::timeout, this, &LauncherProgress::publish);
    connect(&m_batch, &JobBatch::started, this, [this] {
        publish();
        m_timer.start();
    });
    connect(&m_batch, &JobBatch::ended, this, &LauncherProgress::clear);
}

LauncherProgress::~LauncherProgress() {
    if (m_shown)
        clear();
}

void LauncherProgress::publish() {
    // A job that has ended counts as done, so the bar never runs backwards within a batch.
    const QList<DownloadJob *> jobs = m_batch.jobs();
    qint64 active = 0;
    double done = 0;
    for (const DownloadJob *job : jobs) {
        if (job->isActive()) {
            ++active;
            done += std::clamp(job->fraction(), 0.0, 1.0);
        } else {
            done += 1;
        }
    }
    const double progress = jobs.isEmpty() ? 0 : done / static_cast<double>(jobs.size());
    // A hundredth is the finest step a launcher's bar shows.
    if (m_shown && m_shown->count == active && std::abs(m_shown->progress - progress) < 0.01)
        return;
    m_shown = Shown{active, progress};
    send({{u"count"_qs, active},
          {u"count-visible"_qs, true},
          {u"progress"_qs, progress},
          {u"progress-visible"_qs, true}});
}

void LauncherProgress::clear() {
    m_timer.stop();
    m_shown.reset();
    send({{u"count"_qs, qint64{0}},
          {u"count-visible"_qs, false},
          {u"progress"_qs, 0.0},
          {u"progress-visible"_qs, false}});
}

void LauncherProgress::send(const QVariantMap &properties) {
    QDBusMessage update =
        QDBusMessage::createSignal(u"/org/tovik/Tovik/LauncherEntry"_qs,
                                   u"com.canonical.Unity.LauncherEntry"_qs, u"Update"_qs);
    update << u"application://" TOVIK_APP_ID ".desktop"_qs << properties;
    QDBusConnection::sessionBus().send(update);
}
