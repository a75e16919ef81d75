#pragma once

#include "DownloadRequest.h"
#include "YTDLPEvent.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QUrl>
#include <QUuid>
#include <optional>
#include <variant>

// One request on its way through the queue: waiting, running as one yt-dlp process, and
// ending finished, failed or cancelled. Lives on the main thread; every field notifies its
// own signal, and changed(), only when its value really changes.
class DownloadJob : public QObject {
    Q_OBJECT
    Q_PROPERTY(QUuid id READ id CONSTANT)
    Q_PROPERTY(DownloadRequest request READ request CONSTANT)
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(std::optional<QString> title READ title NOTIFY titleChanged)
    Q_PROPERTY(std::optional<qint64> playlistIndex READ playlistIndex NOTIFY playlistIndexChanged)
    Q_PROPERTY(std::optional<qint64> playlistCount READ playlistCount NOTIFY playlistCountChanged)
    Q_PROPERTY(double fraction READ fraction NOTIFY fractionChanged)
    Q_PROPERTY(std::optional<double> speed READ speed NOTIFY speedChanged)
    Q_PROPERTY(std::optional<qint64> eta READ eta NOTIFY etaChanged)
    Q_PROPERTY(QList<QUrl> files READ files NOTIFY filesChanged)
    Q_PROPERTY(std::optional<QString> warning READ warning NOTIFY warningChanged)
    Q_PROPERTY(bool isActive READ isActive NOTIFY stateChanged)

public:
    struct Queued {
        friend bool operator==(const Queued &, const Queued &) = default;
    };
    struct Downloading {
        friend bool operator==(const Downloading &, const Downloading &) = default;
    };
    struct Processing {
        friend bool operator==(const Processing &, const Processing &) = default;
    };
    struct Finished {
        friend bool operator==(const Finished &, const Finished &) = default;
    };
    struct Cancelled {
        friend bool operator==(const Cancelled &, const Cancelled &) = default;
    };
    struct Failed {
        QString message;
        friend bool operator==(const Failed &, const Failed &) = default;
    };
    using State = std::variant<Queued, Downloading, Processing, Finished, Cancelled, Failed>;

    explicit DownloadJob(DownloadRequest request, QObject *parent = nullptr);

    QUuid id() const { return m_id; }
    const DownloadRequest &request() const { return m_request; }
    const State &state() const { return m_state; }
    const std::optional<QString> &title() const { return m_title; }
    std::optional<qint64> playlistIndex() const { return m_playlistIndex; }
    std::optional<qint64> playlistCount() const { return m_playlistCount; }
    double fraction() const { return m_fraction; }
    std::optional<double> speed() const { return m_speed; }
    std::optional<qint64> eta() const { return m_eta; }
    const QList<QUrl> &files() const { return m_files; }
    const std::optional<QString> &warning() const { return m_warning; }
    // Queued, downloading or processing.
    bool isActive() const;

Q_SIGNALS:
    void stateChanged();
    void titleChanged();
    void playlistIndexChanged();
    void playlistCountChanged();
    void fractionChanged();
    void speedChanged();
    void etaChanged();
    void filesChanged();
    void warningChanged();
    // Once after every change of the fields above, however many one event touched.
    void changed();

private:
    // The queue and its job run drive the job; nothing else writes it.
    friend class DownloadQueue;
    friend class TestDownloadJob;
    friend class TestDownloadQueue;
    // Lets the user-interface tests put a job into any state.
    friend class TestJobs;

    void handle(const YTDLPEvent &event);
    // How much of the part being downloaded a report shows done, from 0 to 1.
    double reportedShare(const YTDLPEvent::Progress &progress);
    void setState(const State &state);
    void setWarning(const std::optional<QString> &warning);

    QUuid m_id;
    DownloadRequest m_request;
    State m_state;
    std::optional<QString> m_title;
    std::optional<qint64> m_playlistIndex;
    std::optional<qint64> m_playlistCount;
    double m_fraction = 0;
    std::optional<double> m_speed;
    std::optional<qint64> m_eta;
    QList<QUrl> m_files;
    std::optional<QString> m_warning;
    QPointer<QProcess> m_process;
    // The staging folder of the last run, kept for a retry until the job goes.
    QString m_stagingPath;
    bool m_cancelRequested = false;
    qint64 m_partsFinished = 0;
    // The part being downloaded: the highest share reported so far, the fragment of the latest
    // report and the bytes downloaded when that fragment began.
    double m_partShare = 0;
    std::optional<qint64> m_fragmentIndex;
    std::optional<qint64> m_fragmentStart;
};
