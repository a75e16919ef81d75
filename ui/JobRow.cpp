#include "JobRow.h"

#include "DownloadJob.h"
#include "ErrorText.h"
#include "Platform.h"

#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <cmath>

namespace {

template <typename T> bool is(const DownloadJob &job) {
    return std::holds_alternative<T>(job.state());
}

QString playlistPrefix(const DownloadJob &job) {
    if (!job.playlistCount())
        return {};
    return QString::number(job.playlistIndex().value_or(0)) + u" of "_qs +
           QString::number(*job.playlistCount()) + u" · "_qs;
}

// A speed that is not a finite number of bytes in range has no text.
std::optional<QString> speedText(std::optional<double> speed) {
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (!speed || !std::isfinite(*speed) || *speed >= limit || *speed < -limit)
        return std::nullopt;
    const auto bytes = static_cast<qint64>(*speed);
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat) + u"/s"_qs;
}

std::optional<QString> etaText(std::optional<qint64> eta) {
    if (!eta || *eta < 1)
        return std::nullopt;
    return u"%1:%2 left"_qs.arg(*eta / 60).arg(*eta % 60, 2, 10, QLatin1Char('0'));
}

QString downloadingText(const DownloadJob &job) {
    QStringList parts{label(job.request().format)};
    if (const auto speed = speedText(job.speed()))
        parts.append(*speed);
    if (const auto eta = etaText(job.eta()))
        parts.append(*eta);
    return playlistPrefix(job) + parts.join(u" · "_qs);
}

QString finishedText(const DownloadJob &job) {
    const QList<QUrl> &files = job.files();
    QString text = files.size() == 1 ? QFileInfo(files.front().toLocalFile()).fileName()
                                     : QString::number(files.size()) + u" files saved"_qs;
    if (job.warning())
        text += u" — "_qs + *job.warning();
    return text;
}

} // namespace

QString JobRow::title(const DownloadJob &job) {
    return job.title() ? *job.title() : job.request().url.toString(QUrl::FullyEncoded);
}

QString JobRow::statusText(const DownloadJob &job) {
    return std::visit(
        [&job](const auto &state) -> QString {
            using S = std::decay_t<decltype(state)>;
            if constexpr (std::is_same_v<S, DownloadJob::Queued>)
                return u"Waiting…"_qs;
            else if constexpr (std::is_same_v<S, DownloadJob::Downloading>)
                return job.title() ? downloadingText(job) : u"Starting…"_qs;
            else if constexpr (std::is_same_v<S, DownloadJob::Processing>)
                return playlistPrefix(job) + (job.request().format == OutputFormat::audio
                                                  ? u"Extracting audio…"_qs
                                                  : u"Merging video and audio…"_qs);
            else if constexpr (std::is_same_v<S, DownloadJob::Finished>)
                return finishedText(job);
            else if constexpr (std::is_same_v<S, DownloadJob::Cancelled>)
                return u"Cancelled"_qs;
            else
                return ErrorText::forDownload(state.message);
        },
        job.state());
}

std::optional<QString> JobRow::errorMessage(const DownloadJob &job) {
    if (const auto *failed = std::get_if<DownloadJob::Failed>(&job.state()))
        return failed->message;
    return std::nullopt;
}

QString JobRow::accessibleDescription(const DownloadJob &job) {
    if (!showsProgress(job))
        return statusText(job);
    return u"%1 % done · "_qs.arg(qRound(std::clamp(job.fraction(), 0.0, 1.0) * 100)) +
           statusText(job);
}

bool JobRow::statusIsError(const DownloadJob &job) {
    return is<DownloadJob::Failed>(job);
}

bool JobRow::showsProgress(const DownloadJob &job) {
    return is<DownloadJob::Downloading>(job) || is<DownloadJob::Processing>(job);
}

JobRow::StatusIcon JobRow::statusIcon(const DownloadJob &job) {
    return std::visit(
        [&job](const auto &state) -> StatusIcon {
            using S = std::decay_t<decltype(state)>;
            if constexpr (std::is_same_v<S, DownloadJob::Queued>)
                return {Symbol::clock, Tint::secondary};
            else if constexpr (std::is_same_v<S, DownloadJob::Downloading>)
                return {Symbol::arrowDownCircle, Tint::accent};
            else if constexpr (std::is_same_v<S, DownloadJob::Processing>)
                return {Symbol::gearshape2, Tint::accent};
            else if constexpr (std::is_same_v<S, DownloadJob::Finished>)
                return job.warning() ? StatusIcon{Symbol::exclamationmarkCircleFill, Tint::orange}
                                     : StatusIcon{Symbol::checkmarkCircleFill, Tint::green};
            else if constexpr (std::is_same_v<S, DownloadJob::Cancelled>)
                return {Symbol::xmarkCircle, Tint::secondary};
            else
                return {Symbol::exclamationmarkTriangleFill, Tint::red};
        },
        job.state());
}

std::optional<JobRow::Action> JobRow::action(const DownloadJob &job) {
    if (job.isActive())
        return Action::cancel;
    if (!is<DownloadJob::Finished>(job))
        return Action::retry;
    if (!job.files().isEmpty())
        return Action::reveal;
    return std::nullopt;
}

Symbol JobRow::actionSymbol(Action action) {
    switch (action) {
    case Action::cancel:
        return Symbol::xmarkCircleFill;
    case Action::reveal:
        return Symbol::magnifyingglassCircleFill;
    case Action::retry:
        return Symbol::arrowClockwiseCircleFill;
    }
    Q_UNREACHABLE();
}

QString JobRow::actionToolTip(Action action, const Platform &platform) {
    switch (action) {
    case Action::cancel:
        return u"Cancel"_qs;
    case Action::reveal:
        return platform.revealFilesText;
    case Action::retry:
        return u"Retry"_qs;
    }
    Q_UNREACHABLE();
}

QList<JobRow::MenuItem> JobRow::menuItems(const DownloadJob &job) {
    if (job.isActive())
        return {MenuItem::copyLink};
    if (is<DownloadJob::Failed>(job))
        return {MenuItem::copyLink, MenuItem::copyError, MenuItem::remove};
    return {MenuItem::copyLink, MenuItem::remove};
}

QString JobRow::menuItemText(MenuItem item) {
    switch (item) {
    case MenuItem::copyLink:
        return u"Copy Link"_qs;
    case MenuItem::copyError:
        return u"Copy Error"_qs;
    case MenuItem::remove:
        return u"Remove"_qs;
    }
    Q_UNREACHABLE();
}
