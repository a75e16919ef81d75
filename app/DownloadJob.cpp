#include "DownloadJob.h"

#include <algorithm>
#include <span>

namespace {

// How one item's progress bar is shared among the media parts yt-dlp downloads for it.
std::span<const double> partWeights(OutputFormat format) {
    static constexpr double audio[] = {1.0};
    static constexpr double video[] = {0.9, 0.1};
    if (format == OutputFormat::audio)
        return audio;
    return video;
}

template <typename T> bool assign(T &field, const T &value) {
    if (field == value)
        return false;
    field = value;
    return true;
}

} // namespace

DownloadJob::DownloadJob(DownloadRequest request, QObject *parent)
    : QObject(parent), m_id(QUuid::createUuid()), m_request(std::move(request)) {}

bool DownloadJob::isActive() const {
    return std::holds_alternative<Queued>(m_state) ||
           std::holds_alternative<Downloading>(m_state) ||
           std::holds_alternative<Processing>(m_state);
}

void DownloadJob::setState(const State &state) {
    if (assign(m_state, state)) {
        Q_EMIT stateChanged();
        Q_EMIT changed();
    }
}

void DownloadJob::setWarning(const std::optional<QString> &warning) {
    if (assign(m_warning, warning)) {
        Q_EMIT warningChanged();
        Q_EMIT changed();
    }
}

void DownloadJob::handle(const YTDLPEvent &event) {
    bool anyChange = false;
    const auto set = [&anyChange](auto &field, const auto &value, auto signal) {
        if (assign(field, value)) {
            anyChange = true;
            signal();
        }
    };
    const auto setTitle = [&](const std::optional<QString> &v) {
        set(m_title, v, [this] { Q_EMIT titleChanged(); });
    };
    const auto setIndex = [&](std::optional<qint64> v) {
        set(m_playlistIndex, v, [this] { Q_EMIT playlistIndexChanged(); });
    };
    const auto setCount = [&](std::optional<qint64> v) {
        set(m_playlistCount, v, [this] { Q_EMIT playlistCountChanged(); });
    };
    const auto setFraction = [&](double v) {
        set(m_fraction, v, [this] { Q_EMIT fractionChanged(); });
    };
    const auto setSpeed = [&](std::optional<double> v) {
        set(m_speed, v, [this] { Q_EMIT speedChanged(); });
    };
    const auto setEta = [&](std::optional<qint64> v) {
        set(m_eta, v, [this] { Q_EMIT etaChanged(); });
    };
    const auto setJobState = [&](const State &v) {
        set(m_state, v, [this] { Q_EMIT stateChanged(); });
    };

    if (const auto *item = std::get_if<YTDLPEvent::Item>(&event.value)) {
        // A playlist's entries all go under the playlist's own title: that is what was asked for.
        setTitle(item->playlistTitle ? *item->playlistTitle : item->title);
        setIndex(item->index);
        setCount(item->count);
        m_partsFinished = 0;
        setFraction(0);
        setJobState(Downloading{});
    } else if (const auto *progress = std::get_if<YTDLPEvent::Progress>(&event.value)) {
        const std::span<const double> weights = partWeights(m_request.format);
        const auto parts = static_cast<qint64>(weights.size());
        const auto current = static_cast<std::size_t>(std::min(parts - 1, m_partsFinished));
        double partFraction = 0;
        if (progress->downloaded && progress->total && *progress->total > 0)
            partFraction =
                static_cast<double>(*progress->downloaded) / static_cast<double>(*progress->total);
        if (progress->finished) {
            ++m_partsFinished;
            if (m_partsFinished >= expectedParts(m_request.format))
                setJobState(Processing{});
        }
        const auto done = static_cast<std::size_t>(std::min(parts, m_partsFinished));
        double base = 0;
        for (std::size_t i = 0; i < done; ++i)
            base += weights[i];
        if (progress->finished) {
            setFraction(std::min(base, 1.0));
            setSpeed(std::nullopt);
            setEta(std::nullopt);
        } else {
            setFraction(std::min(base + partFraction * weights[current], 1.0));
            setSpeed(progress->speed);
            setEta(progress->eta);
        }
    } else if (const auto *file = std::get_if<YTDLPEvent::File>(&event.value)) {
        m_files.append(QUrl::fromLocalFile(file->path));
        anyChange = true;
        Q_EMIT filesChanged();
        setFraction(1.0);
    }
    if (anyChange)
        Q_EMIT changed();
}
