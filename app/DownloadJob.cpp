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

double DownloadJob::reportedShare(const YTDLPEvent::Progress &progress) {
    const std::optional<qint64> &index = progress.fragmentIndex;
    const std::optional<qint64> &count = progress.fragmentCount;
    // yt-dlp's total for a download in fragments is an estimate that it makes again after every
    // fragment, from those seen so far: a share of it jumps back. The fragments themselves only
    // move forward. An index past the count (HLS leaves its init segment out of the count) says
    // nothing certain; the bytes decide then.
    if (!index || !count || *count <= 0 || *index < 0 || *index > *count) {
        if (!progress.downloaded || !progress.total || *progress.total <= 0)
            return 0;
        return std::clamp(static_cast<double>(*progress.downloaded) /
                              static_cast<double>(*progress.total),
                          0.0, 1.0);
    }
    if (index != m_fragmentIndex) {
        m_fragmentIndex = index;
        m_fragmentStart = progress.downloaded;
    }
    // The estimate scales the bytes up to the end of the current fragment to all fragments;
    // scaled back, it says where the current fragment ends.
    double current = 0;
    if (progress.downloaded && progress.total && m_fragmentStart) {
        const auto start = static_cast<double>(*m_fragmentStart);
        const double end = static_cast<double>(*progress.total) *
                           (static_cast<double>(*index) + 1) / static_cast<double>(*count);
        if (end > start)
            current = std::clamp(
                (static_cast<double>(*progress.downloaded) - start) / (end - start), 0.0, 1.0);
    }
    return std::min((static_cast<double>(*index) + current) / static_cast<double>(*count), 1.0);
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
    // The next part, or the first of a new item, starts from nothing.
    const auto startPart = [this] {
        m_partShare = 0;
        m_fragmentIndex.reset();
        m_fragmentStart.reset();
    };

    if (const auto *item = std::get_if<YTDLPEvent::Item>(&event.value)) {
        setTitle(item->title);
        setIndex(item->index);
        setCount(item->count);
        m_partsFinished = 0;
        startPart();
        setFraction(0);
        setJobState(Downloading{});
    } else if (const auto *progress = std::get_if<YTDLPEvent::Progress>(&event.value)) {
        const std::span<const double> weights = partWeights(m_request.format);
        const auto parts = static_cast<qint64>(weights.size());
        const auto current = static_cast<std::size_t>(std::min(parts - 1, m_partsFinished));
        if (progress->finished) {
            ++m_partsFinished;
            if (m_partsFinished >= expectedParts(m_request.format))
                setJobState(Processing{});
            startPart();
        } else {
            // A part's bar never moves back, whatever a report says.
            m_partShare = std::max(m_partShare, reportedShare(*progress));
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
            setFraction(std::min(base + m_partShare * weights[current], 1.0));
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
