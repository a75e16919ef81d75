#pragma once

#include "ToolPaths.h"
#include "ToolRunner.h"
#include "ToolSources.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <optional>
#include <variant>

class WorkFolder;

// Finds, installs, verifies and updates yt-dlp, deno and ffmpeg, and carries the setup
// phase that decides between the setup screen and the main view. One per process, on the
// main thread; every field notifies only when its value really changes.
class ToolManager : public QObject {
    Q_OBJECT

public:
    enum class Tool { ytdlp, deno, ffmpeg };

    struct Checking {
        friend bool operator==(const Checking &, const Checking &) = default;
    };
    struct NeedsInstall {
        friend bool operator==(const NeedsInstall &, const NeedsInstall &) = default;
    };
    struct Installing {
        friend bool operator==(const Installing &, const Installing &) = default;
    };
    struct Ready {
        friend bool operator==(const Ready &, const Ready &) = default;
    };
    struct Failed {
        QString message;
        friend bool operator==(const Failed &, const Failed &) = default;
    };
    using Phase = std::variant<Checking, NeedsInstall, Installing, Ready, Failed>;

    explicit ToolManager(ToolSources sources = ToolSources::production(),
                         QObject *parent = nullptr);
    // Removes the work folders of installations still waiting on one of their steps.
    ~ToolManager() override;

    const Phase &phase() const { return m_phase; }
    std::optional<Tool> installingTool() const { return m_installingTool; }
    double installProgress() const { return m_installProgress; }
    const std::optional<QString> &ytdlpVersion() const { return m_ytdlpVersion; }
    bool isUpdating() const { return m_isUpdating; }
    const std::optional<QString> &updateMessage() const { return m_updateMessage; }

    // "Tovik/bin" under the application-data folder; fixed at construction.
    QString binDirectory() const { return m_binDirectory; }
    ToolPaths paths() const;
    QList<Tool> missingTools() const;
    bool usesSystemFFmpeg() const;
    const ToolSources &sources() const { return m_sources; }

    // Settles the phase at start-up: ready when every tool is executable, else needsInstall.
    // Removes the work folders that installations killed on the way left behind.
    QCoro::Task<> check();
    // Installs the missing tools, or with reinstall all of them (but a system ffmpeg).
    QCoro::Task<> install(bool reinstall);
    // Lets yt-dlp update itself; a call while one runs does nothing.
    QCoro::Task<> updateYTDLP();

Q_SIGNALS:
    void phaseChanged();
    void installingToolChanged();
    void installProgressChanged();
    void ytdlpVersionChanged();
    void isUpdatingChanged();
    void updateMessageChanged();

private:
    template <typename T> void assign(T &field, const T &value, void (ToolManager::*changed)());
    void setPhase(const Phase &phase) { assign(m_phase, phase, &ToolManager::phaseChanged); }
    void setInstallingTool(std::optional<Tool> tool);
    void setInstallProgress(double fraction);
    void setYtdlpVersion(const std::optional<QString> &version);
    void setIsUpdating(bool updating);
    void setUpdateMessage(const QString &message);

    // The first executable system ffmpeg candidate, looked up once, at the first use.
    const std::optional<QUrl> &systemFFmpeg() const;

    // yt-dlp run with one argument; none when it cannot be started.
    QCoro::Task<std::optional<ToolRunner::CaptureResult>> runYTDLP(QString argument);
    QCoro::Task<std::optional<QString>> currentVersion();
    QCoro::Task<> finishSetup();
    QCoro::Task<> updateIfDue();

    // Coroutines take their arguments by value: they outlive the caller's expression.
    // An installation awaits each of its steps through step(), which throws instead of
    // returning when the manager was destroyed meanwhile.
    template <typename T> QCoro::Task<T> step(QCoro::Task<T> task);
    QCoro::Task<> install(Tool tool);
    QCoro::Task<> installYTDLP(QDir work);
    QCoro::Task<> installDeno(QDir work);
    QCoro::Task<> installFFmpeg(QDir work);
    QCoro::Task<QString> publishedChecksum(QUrl sums, QString file, Tool tool);
    QCoro::Task<> verify(QUrl file, QString expected, Tool tool);
    QCoro::Task<QUrl> download(QUrl source, QUrl destination);
    QCoro::Task<QString> latestTag(QString repository);
    static QCoro::Task<QString> text(QUrl address);

    ToolSources m_sources;
    QString m_binDirectory;
    Phase m_phase = Checking{};
    std::optional<Tool> m_installingTool;
    double m_installProgress = 0;
    std::optional<QString> m_ytdlpVersion;
    bool m_isUpdating = false;
    std::optional<QString> m_updateMessage;
    mutable std::optional<std::optional<QUrl>> m_systemFFmpeg;
    QList<WorkFolder *> m_workFolders; // of the installations in progress, in their coroutines
};

QList<ToolManager::Tool> allTools();
QString rawValue(ToolManager::Tool tool);
std::optional<ToolManager::Tool> toolFromRawValue(const QString &raw);
