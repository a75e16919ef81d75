#include "ToolManager.h"

#include "Checksums.h"
#include "FileDownload.h"
#include "PlatformError.h"
#include "ToolError.h"
#include "ToolRunner.h"
#include "WorkFolder.h"

#include <QCoreApplication>
#include <QCoro/QCoroNetworkReply>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QThreadPool>
#include <exception>
#include <memory>
#include <type_traits>

namespace {

const auto lastUpdateKey = u"lastYTDLPUpdateCheck"_qs;
constexpr qint64 updateInterval = 86'400; // seconds

QSettings settings() {
    return QSettings(u"Tovik"_qs, u"Tovik"_qs);
}

bool isExecutableFile(const QString &path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// Thrown where an installation resumes after its manager was destroyed: it unwinds the
// installation, and with it the work folder, without touching the manager.
class Abandoned : public std::exception {
public:
    const char *what() const noexcept override { return "The tool manager went away."; }
};

// A host's address with the given path; the path is taken literally, so every character
// that has a meaning in a URL ("?", "#", "%") is escaped.
QUrl at(const QUrl &host, const QString &path) {
    QUrl url = host;
    QString base = host.path();
    while (base.endsWith(u'/'))
        base.chop(1);
    url.setPath(base + path, QUrl::DecodedMode);
    return url;
}

// A tag goes into the download path as one segment, so it must not be empty, climb, or
// carry a "/" or control characters.
bool isUsableTag(const QString &tag) {
    if (tag.isEmpty() || tag == u"." || tag == u"..")
        return false;
    return std::none_of(tag.cbegin(), tag.cend(),
                        [](QChar c) { return c == u'/' || c.category() == QChar::Other_Control; });
}

QStringList nonEmptyLines(const QString &text) {
    static const QRegularExpression breaks(u"[\\n\\v\\f\\r\\x{85}\\x{2028}\\x{2029}]"_qs);
    return text.split(breaks, Qt::SkipEmptyParts);
}

} // namespace

QList<ToolManager::Tool> allTools() {
    return {ToolManager::Tool::ytdlp, ToolManager::Tool::deno, ToolManager::Tool::ffmpeg};
}

QString rawValue(ToolManager::Tool tool) {
    switch (tool) {
    case ToolManager::Tool::ytdlp:
        return u"yt-dlp"_qs;
    case ToolManager::Tool::deno:
        return u"Deno"_qs;
    case ToolManager::Tool::ffmpeg:
        return u"ffmpeg"_qs;
    }
    Q_UNREACHABLE();
}

std::optional<ToolManager::Tool> toolFromRawValue(const QString &raw) {
    for (const ToolManager::Tool tool : allTools()) {
        if (rawValue(tool) == raw)
            return tool;
    }
    return std::nullopt;
}

ToolManager::ToolManager(ToolSources sources, QObject *parent)
    : QObject(parent), m_sources(std::move(sources)),
      m_binDirectory(QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
                         .filePath(u"Tovik/bin"_qs)) {}

ToolManager::~ToolManager() {
    if (m_workFolders.isEmpty())
        return;
    // An installation may never be resumed to clean up after itself, at quit for one. Its
    // hashing, unpacking and copying run in the global pool and finish first, so that
    // nothing writes into the folder once it is gone.
    QThreadPool::globalInstance()->waitForDone();
    for (WorkFolder *folder : std::as_const(m_workFolders))
        folder->remove();
}

template <typename T>
void ToolManager::assign(T &field, const T &value, void (ToolManager::*changed)()) {
    if (field == value)
        return;
    field = value;
    Q_EMIT(this->*changed)();
}

void ToolManager::setInstallingTool(std::optional<Tool> tool) {
    assign(m_installingTool, tool, &ToolManager::installingToolChanged);
}

void ToolManager::setInstallProgress(double fraction) {
    assign(m_installProgress, fraction, &ToolManager::installProgressChanged);
}

void ToolManager::setYtdlpVersion(const std::optional<QString> &version) {
    assign(m_ytdlpVersion, version, &ToolManager::ytdlpVersionChanged);
}

void ToolManager::setIsUpdating(bool updating) {
    assign(m_isUpdating, updating, &ToolManager::isUpdatingChanged);
}

void ToolManager::setUpdateMessage(const QString &message) {
    assign(m_updateMessage, std::optional(message), &ToolManager::updateMessageChanged);
}

const std::optional<QUrl> &ToolManager::systemFFmpeg() const {
    if (!m_systemFFmpeg) {
        const auto found = std::find_if(m_sources.systemFFmpeg.cbegin(),
                                        m_sources.systemFFmpeg.cend(), isExecutableFile);
        m_systemFFmpeg = found == m_sources.systemFFmpeg.cend()
                             ? std::nullopt
                             : std::optional(QUrl::fromLocalFile(*found));
    }
    return *m_systemFFmpeg;
}

ToolPaths ToolManager::paths() const {
    const QDir bin(m_binDirectory);
    return {QUrl::fromLocalFile(bin.filePath(u"yt-dlp"_qs)),
            systemFFmpeg().value_or(QUrl::fromLocalFile(bin.filePath(u"ffmpeg"_qs))),
            QUrl::fromLocalFile(bin.filePath(u"deno"_qs))};
}

QList<ToolManager::Tool> ToolManager::missingTools() const {
    const ToolPaths tools = paths();
    const auto location = [&tools](Tool tool) {
        switch (tool) {
        case Tool::ytdlp:
            return tools.ytdlp;
        case Tool::deno:
            return tools.deno;
        case Tool::ffmpeg:
            return tools.ffmpeg;
        }
        Q_UNREACHABLE();
    };
    QList<Tool> missing;
    for (const Tool tool : allTools()) {
        if (!isExecutableFile(location(tool).toLocalFile()))
            missing.append(tool);
    }
    return missing;
}

bool ToolManager::usesSystemFFmpeg() const {
    return systemFFmpeg().has_value();
}

QCoro::Task<> ToolManager::check() {
    setPhase(Checking{});
    WorkFolder::removeStale();
    QDir().mkpath(m_binDirectory); // a failure shows as missing tools
    if (!missingTools().isEmpty()) {
        setPhase(NeedsInstall{});
        co_return;
    }
    setPhase(Ready{});
    // A manager destroyed while yt-dlp answers is left alone when the answer comes.
    const QPointer<ToolManager> alive(this);
    const std::optional<QString> version = co_await currentVersion();
    if (!alive)
        co_return;
    setYtdlpVersion(version);
    co_await updateIfDue();
}

QCoro::Task<std::optional<ToolRunner::CaptureResult>> ToolManager::runYTDLP(QString argument) {
    // Bound before the first suspension: the coroutine keeps them alive across it.
    const ToolPaths tools = paths();
    const QStringList arguments{argument};
    const QProcessEnvironment environment = ToolRunner::environment(tools);
    try {
        co_return co_await ToolRunner::capture(tools.ytdlp, arguments, environment);
    } catch (const std::exception &) {
        co_return std::nullopt;
    }
}

QCoro::Task<std::optional<QString>> ToolManager::currentVersion() {
    const std::optional<ToolRunner::CaptureResult> result = co_await runYTDLP(u"--version"_qs);
    const QString version = result ? result->output.trimmed() : QString();
    if (!result || result->status != 0 || version.isEmpty())
        co_return std::nullopt;
    co_return version;
}

QCoro::Task<> ToolManager::finishSetup() {
    const QPointer<ToolManager> alive(this);
    const std::optional<QString> version = co_await currentVersion();
    if (!alive)
        co_return;
    setYtdlpVersion(version);
    if (!version) {
        setPhase(Failed{ToolError(ToolError::NotRunnable{rawValue(Tool::ytdlp)}).message()});
        co_return;
    }
    setPhase(Ready{});
    co_await updateIfDue();
}

QCoro::Task<> ToolManager::install(bool reinstall) {
    setPhase(Installing{});
    QList<Tool> chosen;
    if (reinstall) {
        for (const Tool tool : allTools()) {
            if (tool != Tool::ffmpeg || !usesSystemFFmpeg())
                chosen.append(tool);
        }
    } else {
        chosen = missingTools();
    }
    const QPointer<ToolManager> alive(this);
    for (const Tool tool : chosen) {
        setInstallingTool(tool);
        setInstallProgress(0);
        std::optional<QString> failure;
        try {
            co_await install(tool);
        } catch (const std::exception &error) {
            // ToolError and PlatformError carry their message as UTF-8.
            failure = QString::fromUtf8(error.what());
        }
        if (!alive)
            co_return;
        if (failure) {
            setInstallingTool(std::nullopt);
            setPhase(Failed{*failure});
            co_return;
        }
    }
    setInstallingTool(std::nullopt);
    co_await finishSetup();
}

template <typename T> QCoro::Task<T> ToolManager::step(QCoro::Task<T> task) {
    const QPointer<ToolManager> alive(this);
    if constexpr (std::is_void_v<T>) {
        co_await std::move(task);
        if (!alive)
            throw Abandoned();
    } else {
        T value = co_await std::move(task);
        if (!alive)
            throw Abandoned();
        co_return value;
    }
}

QCoro::Task<> ToolManager::install(Tool tool) {
    const QPointer<ToolManager> alive(this);
    WorkFolder work;
    m_workFolders.append(&work);
    std::exception_ptr failure;
    try {
        switch (tool) {
        case Tool::ytdlp:
            co_await installYTDLP(work.dir());
            break;
        case Tool::deno:
            co_await installDeno(work.dir());
            break;
        case Tool::ffmpeg:
            co_await installFFmpeg(work.dir());
            break;
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (alive)
        m_workFolders.removeOne(&work);
    if (failure)
        std::rethrow_exception(failure);
}

QCoro::Task<> ToolManager::installYTDLP(QDir work) {
    const QString repository = u"yt-dlp/yt-dlp"_qs;
    const QString file = m_sources.platform.ytdlpFile;
    const QString tag = co_await step(latestTag(repository));
    const QString release = u'/' + repository + u"/releases/download/" + tag + u'/';
    const QUrl sums = at(m_sources.releaseDownloads, release + u"SHA2-256SUMS");
    const QString expected = co_await step(publishedChecksum(sums, file, Tool::ytdlp));
    const QUrl source = at(m_sources.releaseDownloads, release + file);
    const QUrl downloaded = QUrl::fromLocalFile(work.filePath(u"yt-dlp"_qs));
    co_await step(download(source, downloaded));
    co_await step(verify(downloaded, expected, Tool::ytdlp));
    co_await step(ToolRunner::installExecutable(downloaded, paths().ytdlp));
}

QCoro::Task<> ToolManager::installDeno(QDir work) {
    const QString repository = u"denoland/deno"_qs;
    const QString archive = m_sources.platform.denoArchive;
    const QString tag = co_await step(latestTag(repository));
    const QString release = u'/' + repository + u"/releases/download/" + tag + u'/';
    const QUrl sums = at(m_sources.releaseDownloads, release + archive + u".sha256sum");
    const QString expected = co_await step(publishedChecksum(sums, archive, Tool::deno));
    const QUrl source = at(m_sources.releaseDownloads, release + archive);
    const QUrl downloaded = QUrl::fromLocalFile(work.filePath(archive));
    co_await step(download(source, downloaded));
    co_await step(verify(downloaded, expected, Tool::deno));
    co_await step(ToolRunner::unzip(downloaded, QUrl::fromLocalFile(work.path())));
    co_await step(ToolRunner::installExecutable(QUrl::fromLocalFile(work.filePath(u"deno"_qs)),
                                                paths().deno));
}

QCoro::Task<> ToolManager::installFFmpeg(QDir work) {
    const QString archive = u"ffmpeg.zip"_qs;
    const QUrl source = at(m_sources.ffmpegProvider, m_sources.platform.ffmpegPath);
    const QUrl downloaded = QUrl::fromLocalFile(work.filePath(archive));
    const QUrl final = co_await step(download(source, downloaded));
    // The provider publishes the checksum beside the build it redirected to.
    const QUrl sums = QUrl::fromEncoded(final.toEncoded() + ".sha256");
    const QString expected = co_await step(publishedChecksum(sums, archive, Tool::ffmpeg));
    co_await step(verify(downloaded, expected, Tool::ffmpeg));
    co_await step(ToolRunner::unzip(downloaded, QUrl::fromLocalFile(work.path())));
    co_await step(ToolRunner::installExecutable(
        QUrl::fromLocalFile(work.filePath(u"ffmpeg"_qs)),
        QUrl::fromLocalFile(QDir(m_binDirectory).filePath(u"ffmpeg"_qs))));
}

QCoro::Task<QString> ToolManager::publishedChecksum(QUrl sums, QString file, Tool tool) {
    const QString list = co_await text(sums);
    const std::optional<QString> expected = Checksums::sha256(file, list);
    if (!expected)
        throw ToolError(ToolError::NoChecksum{rawValue(tool)});
    co_return *expected;
}

QCoro::Task<> ToolManager::verify(QUrl file, QString expected, Tool tool) {
    const QString actual = co_await ToolRunner::sha256(file);
    if (actual != expected)
        throw ToolError(ToolError::ChecksumMismatch{rawValue(tool)});
}

QCoro::Task<QUrl> ToolManager::download(QUrl source, QUrl destination) {
    // Progress may arrive on any thread; it is applied on the main thread, and only while
    // the manager still exists.
    QPointer<ToolManager> self(this);
    const auto progress = [self](double fraction) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, fraction] {
            if (self)
                self->setInstallProgress(fraction);
        });
    };
    const QUrl final = co_await FileDownload::fetch(source, destination, progress);
    co_return final;
}

QCoro::Task<QString> ToolManager::latestTag(QString repository) {
    const QUrl address = at(m_sources.api, u"/repos/" + repository + u"/releases/latest");
    const QString body = co_await text(address);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        throw PlatformError(u"The latest release of " + repository + u" could not be read: " +
                            error.errorString() + u'.');
    const QJsonValue tag = document.object().value(u"tag_name");
    if (!document.isObject() || !tag.isString())
        throw PlatformError(u"The latest release of " + repository + u" names no tag.");
    if (!isUsableTag(tag.toString()))
        throw PlatformError(u"The latest release of " + repository +
                            u" has a tag that cannot be used in an address.");
    co_return tag.toString();
}

QCoro::Task<QString> ToolManager::text(QUrl address) {
    // A network manager of its own: the reply belongs to this coroutine only and stays valid
    // when the ToolManager goes away while the request runs.
    QNetworkAccessManager network;
    QNetworkRequest request(address);
    request.setTransferTimeout(); // Qt's default: 30 s without data ends the request
    const std::unique_ptr<QNetworkReply> reply(network.get(request));
    co_await reply.get();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
        throw ToolError(ToolError::Http{status.toInt(), address});
    if (reply->error() != QNetworkReply::NoError)
        throw PlatformError(reply->errorString());
    co_return QString::fromUtf8(reply->readAll());
}

QCoro::Task<> ToolManager::updateIfDue() {
    const QVariant stored = settings().value(lastUpdateKey);
    const QDateTime last =
        stored.metaType().id() == QMetaType::QDateTime ? stored.toDateTime() : QDateTime();
    if (!last.isValid() || last.secsTo(QDateTime::currentDateTimeUtc()) > updateInterval)
        co_await updateYTDLP();
}

QCoro::Task<> ToolManager::updateYTDLP() {
    if (m_isUpdating)
        co_return;
    setIsUpdating(true);
    setUpdateMessage(u"Checking for yt-dlp updates\u2026"_qs);
    const QPointer<ToolManager> alive(this);
    const std::optional<ToolRunner::CaptureResult> result = co_await runYTDLP(u"-U"_qs);
    if (!alive)
        co_return;
    if (!result || result->status != 0) {
        const QStringList lines = result ? nonEmptyLines(result->output) : QStringList();
        setUpdateMessage(u"Update failed: " +
                         (lines.isEmpty() ? u"yt-dlp did not run."_qs : lines.last()));
        setIsUpdating(false);
        co_return;
    }
    settings().setValue(lastUpdateKey, QDateTime::currentDateTimeUtc());
    const std::optional<QString> newVersion = co_await currentVersion();
    if (!alive)
        co_return;
    if (const std::optional<QString> version = newVersion)
        setYtdlpVersion(version);
    if (result->output.contains(u"Updated yt-dlp"))
        setUpdateMessage(u"Updated to " + m_ytdlpVersion.value_or(u"the latest version"_qs) + u'.');
    else
        setUpdateMessage(u"yt-dlp is up to date."_qs);
    setIsUpdating(false);
}
