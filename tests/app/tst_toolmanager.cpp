#include "ReleaseSite.h"
#include "TaskRunner.h"
#include "ToolManager.h"
#include "ZipBuilder.h"

#include <QCoro/QCoroNetworkReply>
#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QUuid>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <vector>

using Tool = ToolManager::Tool;
using Tools = QList<Tool>;
// Spoils one part of the published release site.
using Damage = std::function<void(ReleaseSite &)>;
// One path of the release site.
using Route = std::function<QString(const ReleaseSite &)>;

Q_DECLARE_METATYPE(Tool)
Q_DECLARE_METATYPE(Damage)
Q_DECLARE_METATYPE(Route)
Q_DECLARE_METATYPE(Platform::Kind)

namespace {

const QString updateKey = u"lastYTDLPUpdateCheck"_qs;

// Runs a task to its end in an event loop; fails the test after the time-out.
#define AWAIT(task) QVERIFY(runTask(task).finished)

QSettings tovikSettings() {
    return QSettings(u"Tovik"_qs, u"Tovik"_qs);
}

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &data,
               QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner |
                                                QFile::ExeOwner) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(data), data.size());
    file.close();
    QVERIFY(file.setPermissions(permissions));
}

QByteArray fakeYtdlp() {
    return contents(QStringLiteral(FAKE_YTDLP));
}

// What the installed fake yt-dlp does, as scenarios of the fake's commands.
struct Script {
    QByteArray version = "out 2025.01.15";                       // for --version
    QByteArray update = "out yt-dlp is up to date (2025.01.15)"; // for -U
    // When set, -U replaces the program by one whose --version prints this.
    QByteArray updateTo;
};

// Holds the global thread pool's only thread, so that the installation's next hashing,
// unpacking or copying waits in the queue behind it. Gives the thread back when it goes.
class PoolGate {
public:
    PoolGate() : m_threads(QThreadPool::globalInstance()->maxThreadCount()) {
        QThreadPool::globalInstance()->setMaxThreadCount(1);
    }
    PoolGate(const PoolGate &) = delete;
    PoolGate &operator=(const PoolGate &) = delete;
    ~PoolGate() {
        m_open.release(m_closed - m_opened);
        QThreadPool::globalInstance()->waitForDone();
        QThreadPool::globalInstance()->setMaxThreadCount(m_threads);
    }

    // Queues a gate behind whatever waits already; it holds the thread once it runs.
    void close() {
        ++m_closed;
        QThreadPool::globalInstance()->start([this] {
            ++m_started;
            m_open.acquire();
        });
    }
    // Lets the gates go one at a time, in order.
    void open() {
        ++m_opened;
        m_open.release();
    }
    int started() const { return m_started; }

private:
    int m_threads;
    int m_closed = 0;
    int m_opened = 0;
    std::atomic<int> m_started = 0;
    QSemaphore m_open;
};

// Turns the event loop one round at a time until the condition holds, for at most 10 s.
bool turnUntil(const std::function<bool()> &condition) {
    QTimer wake; // so that a round without events ends too
    wake.start(std::chrono::milliseconds(20));
    const QDeadlineTimer deadline(std::chrono::seconds(10));
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

dev_t deviceOf(const QString &path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_dev : 0;
}

bool isExecutableFile(const QString &path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

QString failure(const ToolManager &manager) {
    const auto *failed = std::get_if<ToolManager::Failed>(&manager.phase());
    return failed ? failed->message : u"(not failed)"_qs;
}

} // namespace

class TestToolManager : public QObject {
    Q_OBJECT

    QTemporaryDir m_suite;
    std::unique_ptr<QTemporaryDir> m_account;
    std::unique_ptr<ReleaseSite> m_site;

    QString home() const { return m_account->filePath(u"home"_qs); }
    QString temporary() const { return m_account->filePath(u"tmp"_qs); }
    QString bin() const { return home() + u"/.qttest/share/Tovik/bin"; }
    QString tool(const QString &name) const { return bin() + u'/' + name; }
    QStringList candidates() const {
        return {m_account->filePath(u"opt/ffmpeg"_qs), m_account->filePath(u"local/ffmpeg"_qs)};
    }

    std::unique_ptr<ToolManager> manager() {
        return std::make_unique<ToolManager>(m_site->sources(candidates()));
    }

    // Work folders an installation left behind in the temporary directory.
    QStringList workFolders(const QString &folder = {}) const {
        return QDir(folder.isEmpty() ? temporary() : folder)
            .entryList({u"Tovik-*"_qs}, QDir::AllEntries | QDir::Hidden);
    }

    // The tools whose main file was requested, in request order.
    Tools downloads() const {
        Tools tools;
        for (const QString &path : m_site->requests()) {
            if (path == m_site->ytdlpFilePath())
                tools.append(Tool::ytdlp);
            else if (path == m_site->denoArchivePath())
                tools.append(Tool::deno);
            else if (path == m_site->ffmpegLatestPath())
                tools.append(Tool::ffmpeg);
        }
        return tools;
    }

    void installAllTools() {
        writeFile(tool(u"yt-dlp"_qs), fakeYtdlp());
        writeFile(tool(u"deno"_qs), "deno");
        writeFile(tool(u"ffmpeg"_qs), "ffmpeg");
    }

    void script(const Script &s) {
        const QString version = m_account->filePath(u"version.scenario"_qs);
        const QString newVersion = m_account->filePath(u"new-version.scenario"_qs);
        const QString update = m_account->filePath(u"update.scenario"_qs);
        writeFile(version, s.version + '\n');
        QByteArray updateScenario = s.update + '\n';
        if (!s.updateTo.isEmpty()) {
            writeFile(newVersion, "out " + s.updateTo + '\n');
            updateScenario += "replace " + newVersion.toUtf8() + ' ' + version.toUtf8() + '\n';
        }
        writeFile(update, updateScenario);
        qputenv("FAKE_YTDLP_VERSION_SCENARIO", version.toUtf8());
        qputenv("FAKE_YTDLP_UPDATE", update.toUtf8());
    }

    // A lock file as a process leaves it when it is killed while holding the lock.
    void writeLockOfGoneProcess(const QString &file) {
        QProcess gone;
        gone.start(u"/bin/true"_qs, {});
        QVERIFY(gone.waitForStarted());
        const qint64 pid = gone.processId();
        QVERIFY(gone.waitForFinished());
        QByteArray record;
        {
            QLockFile lock(file);
            QVERIFY(lock.tryLock(0));
            record = contents(file);
        }
        // The record starts with the holder's process ID.
        writeFile(file, QByteArray::number(pid) + record.mid(record.indexOf('\n')),
                  QFile::ReadOwner | QFile::WriteOwner);
    }

    void storeLastUpdate(const QVariant &value) {
        if (value.isValid())
            tovikSettings().setValue(updateKey, value);
        else
            tovikSettings().remove(updateKey);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_suite.isValid());
        QStandardPaths::setTestModeEnabled(true);
        const QString config = m_suite.filePath(u"config"_qs);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
    }

    // Every test starts as a fresh account: its own home, temporary directory and site.
    void init() {
        m_account = std::make_unique<QTemporaryDir>(m_suite.filePath(u"account-XXXXXX"_qs));
        QVERIFY(m_account->isValid());
        QVERIFY(QDir().mkpath(home()));
        QVERIFY(QDir().mkpath(temporary()));
        qputenv("HOME", home().toUtf8());
        qputenv("TMPDIR", temporary().toUtf8());
        tovikSettings().clear();
        script({});
        m_site = std::make_unique<ReleaseSite>(Platform::current(), fakeYtdlp());
        m_site->publish();
    }

    void cleanup() {
        m_site.reset();
        m_account.reset();
    }

    void tools() {
        QCOMPARE(allTools(), (Tools{Tool::ytdlp, Tool::deno, Tool::ffmpeg}));
        QCOMPARE(rawValue(Tool::ytdlp), u"yt-dlp"_qs);
        QCOMPARE(rawValue(Tool::deno), u"Deno"_qs);
        QCOMPARE(rawValue(Tool::ffmpeg), u"ffmpeg"_qs);
        for (const Tool t : allTools())
            QCOMPARE(toolFromRawValue(rawValue(t)), std::optional(t));
        QCOMPARE(toolFromRawValue(u"deno"_qs), std::nullopt);
        QCOMPARE(toolFromRawValue(u"ffmpeg "_qs), std::nullopt);
    }

    void freshAccount() {
        const auto m = manager();
        QCOMPARE(m->binDirectory(), bin());
        QVERIFY(!QFileInfo::exists(bin())); // construction creates nothing
        QCOMPARE(m->phase(), ToolManager::Phase(ToolManager::Checking{}));
        QSignalSpy phases(m.get(), &ToolManager::phaseChanged);
        AWAIT(m->check());
        QVERIFY(QFileInfo(bin()).isDir());
        QCOMPARE(m->missingTools(), (Tools{Tool::ytdlp, Tool::deno, Tool::ffmpeg}));
        QCOMPARE(m->phase(), ToolManager::Phase(ToolManager::NeedsInstall{}));
        QCOMPARE(phases.count(), 1);
        QCOMPARE(m->ytdlpVersion(), std::nullopt);
        QCOMPARE(m->updateMessage(), std::nullopt);
        QCOMPARE(m->paths().ytdlp, QUrl::fromLocalFile(tool(u"yt-dlp"_qs)));
        QCOMPARE(m->paths().deno, QUrl::fromLocalFile(tool(u"deno"_qs)));
        QCOMPARE(m->paths().ffmpeg, QUrl::fromLocalFile(tool(u"ffmpeg"_qs)));
        QVERIFY(!m->usesSystemFFmpeg());
        QVERIFY(m_site->requests().isEmpty());
    }

    void toolFolderCannotBeCreated() {
        writeFile(home() + u"/.qttest/share/Tovik", "a file where the folder belongs");
        const auto m = manager();
        AWAIT(m->check());
        QCOMPARE(m->missingTools(), (Tools{Tool::ytdlp, Tool::deno, Tool::ffmpeg}));
        QCOMPARE(m->phase(), ToolManager::Phase(ToolManager::NeedsInstall{}));
    }

    void missingTools_data() {
        QTest::addColumn<QFile::Permissions>("ytdlp");
        QTest::addColumn<QFile::Permissions>("deno");
        QTest::addColumn<QFile::Permissions>("ffmpeg");
        QTest::addColumn<Tools>("missing");
        const QFile::Permissions absent{};
        const QFile::Permissions plain = QFile::ReadOwner | QFile::WriteOwner;
        const QFile::Permissions executable = plain | QFile::ExeOwner;
        QTest::newRow("none") << absent << absent << absent
                              << Tools{Tool::ytdlp, Tool::deno, Tool::ffmpeg};
        QTest::newRow("all") << executable << executable << executable << Tools{};
        QTest::newRow("yt-dlp without execute permission")
            << plain << executable << executable << Tools{Tool::ytdlp};
        QTest::newRow("only deno")
            << absent << executable << absent << Tools{Tool::ytdlp, Tool::ffmpeg};
        QTest::newRow("ffmpeg not executable, deno absent")
            << executable << absent << plain << Tools{Tool::deno, Tool::ffmpeg};
    }

    void missingTools() {
        QFETCH(QFile::Permissions, ytdlp);
        QFETCH(QFile::Permissions, deno);
        QFETCH(QFile::Permissions, ffmpeg);
        const std::pair<QString, QFile::Permissions> files[] = {
            {u"yt-dlp"_qs, ytdlp}, {u"deno"_qs, deno}, {u"ffmpeg"_qs, ffmpeg}};
        for (const auto &[name, permissions] : files) {
            if (permissions)
                writeFile(tool(name), "#!/bin/sh\n", permissions);
        }
        const auto m = manager();
        QTEST(m->missingTools(), "missing");
    }

    void aFolderIsNoTool() {
        QVERIFY(QDir().mkpath(tool(u"deno"_qs)));
        writeFile(tool(u"yt-dlp"_qs), fakeYtdlp());
        writeFile(tool(u"ffmpeg"_qs), "ffmpeg");
        QCOMPARE(manager()->missingTools(), Tools{Tool::deno});
    }

    void systemFFmpeg_data() {
        QTest::addColumn<QFile::Permissions>("first");
        QTest::addColumn<QFile::Permissions>("second");
        QTest::addColumn<int>("chosen"); // index into the candidates, -1 for none
        const QFile::Permissions absent{};
        const QFile::Permissions plain = QFile::ReadOwner | QFile::WriteOwner;
        const QFile::Permissions executable = plain | QFile::ExeOwner;
        QTest::newRow("none") << absent << absent << -1;
        QTest::newRow("both: the first wins") << executable << executable << 0;
        QTest::newRow("only the second") << absent << executable << 1;
        QTest::newRow("first not executable") << plain << executable << 1;
        QTest::newRow("neither executable") << plain << plain << -1;
    }

    void systemFFmpeg() {
        QFETCH(QFile::Permissions, first);
        QFETCH(QFile::Permissions, second);
        QFETCH(int, chosen);
        if (first)
            writeFile(candidates()[0], "system ffmpeg", first);
        if (second)
            writeFile(candidates()[1], "system ffmpeg", second);
        const auto m = manager();
        QCOMPARE(m->usesSystemFFmpeg(), chosen >= 0);
        const QString expected = chosen >= 0 ? candidates()[chosen] : tool(u"ffmpeg"_qs);
        QCOMPARE(m->paths().ffmpeg, QUrl::fromLocalFile(expected));
        QCOMPARE(m->missingTools().contains(Tool::ffmpeg), chosen < 0);
    }

    // The lookup happens once; an ffmpeg that appears later is noticed at the next start.
    void systemFFmpegIsLookedUpOnce() {
        const auto m = manager();
        QVERIFY(!m->usesSystemFFmpeg());
        writeFile(candidates()[0], "system ffmpeg");
        QVERIFY(!m->usesSystemFFmpeg());
        QCOMPARE(m->paths().ffmpeg, QUrl::fromLocalFile(tool(u"ffmpeg"_qs)));
        QVERIFY(manager()->usesSystemFFmpeg());
    }

    void freshInstall_data() {
        QTest::addColumn<Platform::Kind>("kind");
        // Where the work folders go; empty for the account's own temporary folder.
        QTest::addColumn<QString>("temporaryParent");
        QTest::newRow("macOS arm64") << Platform::Kind::macOSArm64 << QString();
        QTest::newRow("macOS x86_64") << Platform::Kind::macOSX86_64 << QString();
        QTest::newRow("Linux x86_64") << Platform::Kind::linuxX86_64 << QString();
        QTest::newRow("Linux aarch64") << Platform::Kind::linuxAarch64 << QString();
        QTest::newRow("temporary folder on another file system")
            << Platform::Kind::linuxX86_64 << u"/dev/shm"_qs;
    }

    void freshInstall() {
        QFETCH(Platform::Kind, kind);
        QFETCH(QString, temporaryParent);
        std::optional<QTemporaryDir> otherTemporary;
        if (!temporaryParent.isEmpty()) {
            if (!QFileInfo(temporaryParent).isDir())
                QSKIP(qPrintable(temporaryParent + u" does not exist here."));
            otherTemporary.emplace(temporaryParent + u"/tovik-test-XXXXXX");
            QVERIFY(otherTemporary->isValid());
            if (deviceOf(otherTemporary->path()) == deviceOf(home()))
                QSKIP(qPrintable(temporaryParent + u" is on the same file system as the "
                                                   u"tool folder here."));
            qputenv("TMPDIR", otherTemporary->path().toUtf8());
        }
        m_site = std::make_unique<ReleaseSite>(Platform::forKind(kind), fakeYtdlp());
        m_site->publish();
        const auto m = manager();
        AWAIT(m->check());
        QCOMPARE(m->phase(), ToolManager::Phase(ToolManager::NeedsInstall{}));

        // Each tool's run of progress values, in the order the tools were installed.
        QList<std::pair<std::optional<Tool>, QList<double>>> runs;
        connect(m.get(), &ToolManager::installingToolChanged, this, [&] {
            runs.append({m->installingTool(), {}});
        });
        connect(m.get(), &ToolManager::installProgressChanged, this, [&] {
            QVERIFY(!runs.isEmpty());
            runs.last().second.append(m->installProgress());
        });
        QList<ToolManager::Phase> phases;
        connect(m.get(), &ToolManager::phaseChanged, this, [&] { phases.append(m->phase()); });

        AWAIT(m->install(false));
        QCOMPARE(failure(*m), u"(not failed)"_qs);
        QCOMPARE(phases,
                 (QList<ToolManager::Phase>{ToolManager::Installing{}, ToolManager::Ready{}}));
        QCOMPARE(runs.size(), 4);
        const Tools order{Tool::ytdlp, Tool::deno, Tool::ffmpeg};
        for (qsizetype i = 0; i < order.size(); ++i) {
            QCOMPARE(runs[i].first, std::optional(order[i]));
            const QList<double> &progress = runs[i].second;
            QVERIFY2(!progress.isEmpty(), qPrintable(rawValue(order[i])));
            // Back to 0 when the tool starts (the first starts from the initial 0), then
            // climbing to exactly 1.
            QCOMPARE(progress.first() == 0.0, i > 0);
            QVERIFY(std::is_sorted(progress.cbegin(), progress.cend()));
            QCOMPARE(progress.last(), 1.0);
        }
        QCOMPARE(runs[3].first, std::nullopt);
        QVERIFY(runs[3].second.isEmpty());
        QCOMPARE(m->installingTool(), std::nullopt);
        QCOMPARE(m->installProgress(), 1.0);

        QCOMPARE(contents(tool(u"yt-dlp"_qs)), m_site->ytdlp);
        QCOMPARE(contents(tool(u"deno"_qs)), m_site->deno);
        QCOMPARE(contents(tool(u"ffmpeg"_qs)), m_site->ffmpeg);
        for (const QString &name : {u"yt-dlp"_qs, u"deno"_qs, u"ffmpeg"_qs})
            QVERIFY2(isExecutableFile(tool(name)), qPrintable(name));
        QVERIFY(QFileInfo(tool(u"yt-dlp"_qs)).permissions().testFlag(QFile::ExeOther));
        QCOMPARE(m->missingTools(), Tools{});
        QCOMPARE(downloads(), order);
        QVERIFY(m_site->requests().contains(m_site->ffmpegSumsPath()));
        QVERIFY(workFolders(QDir::tempPath()).isEmpty());

        // The first installation ends with the first update.
        QCOMPARE(m->ytdlpVersion(), std::optional(u"2025.01.15"_qs));
        QCOMPARE(m->updateMessage(), std::optional(u"yt-dlp is up to date."_qs));
        QVERIFY(tovikSettings().value(updateKey).toDateTime().isValid());
    }

    void installFailure_data() {
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<QString>("message");
        QTest::addColumn<Tools>("downloaded"); // main files fetched before the failure
        QTest::addColumn<Tools>("missing");    // after the failed run
        const Tools all{Tool::ytdlp, Tool::deno, Tool::ffmpeg};
        const auto notFound = u"Server returned 404 for 127.0.0.1."_qs;
        const auto flipByte = [](QByteArray data) {
            data[data.size() / 2] = static_cast<char>(data[data.size() / 2] ^ 0x01);
            return data;
        };
        const auto badTag = [](const QString &tag) {
            return Damage(
                [tag](ReleaseSite &s) { s.serve(s.ytdlpApiPath(), ReleaseSite::release(tag)); });
        };
        const auto tagMessage =
            u"The latest release of yt-dlp/yt-dlp has a tag that cannot be used in an address."_qs;

        QTest::newRow("API answers 404")
            << Damage([](ReleaseSite &s) { s.serve(s.ytdlpApiPath(), "{}", 404); }) << notFound
            << Tools{} << all;
        QTest::newRow("API answers no JSON")
            << Damage([](ReleaseSite &s) { s.serve(s.ytdlpApiPath(), "<html>"); })
            << u"The latest release of yt-dlp/yt-dlp could not be read: illegal value."_qs
            << Tools{} << all;
        QTest::newRow("release without a tag")
            << Damage([](ReleaseSite &s) { s.serve(s.ytdlpApiPath(), "{\"name\": \"x\"}"); })
            << u"The latest release of yt-dlp/yt-dlp names no tag."_qs << Tools{} << all;
        QTest::newRow("tag with a slash")
            << badTag(u"2025/../../x"_qs) << tagMessage << Tools{} << all;
        QTest::newRow("tag ..") << badTag(u".."_qs) << tagMessage << Tools{} << all;
        QTest::newRow("empty tag") << badTag(QString()) << tagMessage << Tools{} << all;
        QTest::newRow("tag with a control character")
            << badTag(u"2025\x01"_qs) << tagMessage << Tools{} << all;
        QTest::newRow("checksum list answers 404")
            << Damage([](ReleaseSite &s) { s.serve(s.ytdlpSumsPath(), {}, 404); }) << notFound
            << Tools{} << all;
        QTest::newRow("yt-dlp missing from the checksum list") << Damage([](ReleaseSite &s) {
            s.serve(s.ytdlpSumsPath(), ReleaseSite::sha256(s.ytdlp).toUtf8() + "  yt-dlp\n" +
                                           ReleaseSite::sha256("x").toUtf8() + "  yt-dlp.exe\n");
        }) << u"No published checksum was found for yt-dlp."_qs << Tools{}
                                                               << all;
        QTest::newRow("yt-dlp download answers 404")
            << Damage([](ReleaseSite &s) { s.serve(s.ytdlpFilePath(), {}, 404); }) << notFound
            << Tools{Tool::ytdlp} << all;
        QTest::newRow("yt-dlp altered by one byte")
            << Damage([flipByte](ReleaseSite &s) { s.serve(s.ytdlpFilePath(), flipByte(s.ytdlp)); })
            << u"yt-dlp failed its checksum check, so it was not installed."_qs
            << Tools{Tool::ytdlp} << all;
        QTest::newRow("deno checksum names another archive") << Damage([](ReleaseSite &s) {
            s.serve(s.denoSumsPath(), ReleaseSite::sha256(s.denoZip).toUtf8() + "  deno.zip\n");
        }) << u"No published checksum was found for Deno."_qs << Tools{Tool::ytdlp}
                                                             << Tools{Tool::deno, Tool::ffmpeg};
        QTest::newRow("deno altered by one byte") << Damage([flipByte](ReleaseSite &s) {
            s.serve(s.denoArchivePath(), flipByte(s.denoZip));
        }) << u"Deno failed its checksum check, so it was not installed."_qs
                                                  << Tools{Tool::ytdlp, Tool::deno}
                                                  << Tools{Tool::deno, Tool::ffmpeg};
        QTest::newRow("deno archive damaged") << Damage([](ReleaseSite &s) {
            const QByteArray damaged = s.denoZip.left(s.denoZip.size() / 2);
            s.serve(s.denoArchivePath(), damaged);
            s.serve(s.denoSumsPath(), ReleaseSite::sha256(damaged).toUtf8());
        }) << u"Could not unpack "_qs + Platform::current().denoArchive + u'.'
                                              << Tools{Tool::ytdlp, Tool::deno}
                                              << Tools{Tool::deno, Tool::ffmpeg};
        QTest::newRow("ffmpeg checksum only at the latest address") << Damage([](ReleaseSite &s) {
            s.serve(s.ffmpegSumsPath(), {}, 404);
            s.serve(s.ffmpegLatestPath() + u".sha256", ReleaseSite::sha256(s.ffmpegZip).toUtf8());
        }) << notFound << Tools{Tool::ytdlp, Tool::deno, Tool::ffmpeg}
                                                                    << Tools{Tool::ffmpeg};
        QTest::newRow("ffmpeg altered by one byte") << Damage([flipByte](ReleaseSite &s) {
            s.serve(s.ffmpegBuildPath(), flipByte(s.ffmpegZip));
        }) << u"ffmpeg failed its checksum check, so it was not installed."_qs
                                                    << all << Tools{Tool::ffmpeg};
        QTest::newRow("ffmpeg archive damaged") << Damage([](ReleaseSite &s) {
            const QByteArray damaged("PK\x03\x04 not really a zip");
            s.serve(s.ffmpegBuildPath(), damaged);
            s.serve(s.ffmpegSumsPath(), ReleaseSite::sha256(damaged).toUtf8() + "  ffmpeg.zip");
        }) << u"Could not unpack ffmpeg.zip."_qs << all
                                                << Tools{Tool::ffmpeg};
        QTest::newRow("ffmpeg archive without ffmpeg at its top") << Damage([](ReleaseSite &s) {
            const QByteArray nested = ZipBuilder().file(u"bin/ffmpeg"_qs, s.ffmpeg, 0755).build();
            s.serve(s.ffmpegBuildPath(), nested);
            s.serve(s.ffmpegSumsPath(), ReleaseSite::sha256(nested).toUtf8() + "  ffmpeg.zip");
        }) << u"No such file or directory"_qs << all << Tools{Tool::ffmpeg};
    }

    // Every failure ends the run with its message and leaves no work folder; a second run
    // installs exactly the tools still missing.
    void installFailure() {
        QFETCH(Damage, damage);
        QFETCH(QString, message);
        QFETCH(Tools, downloaded);
        QFETCH(Tools, missing);
        damage(*m_site);
        const auto m = manager();
        AWAIT(m->check());
        QSignalSpy updates(m.get(), &ToolManager::isUpdatingChanged);
        AWAIT(m->install(false));
        QCOMPARE(failure(*m), message);
        QCOMPARE(m->installingTool(), std::nullopt);
        QCOMPARE(downloads(), downloaded);
        QCOMPARE(m->missingTools(), missing);
        QVERIFY2(workFolders().isEmpty(), qPrintable(workFolders().join(u", ")));
        QCOMPARE(updates.count(), 0);

        m_site->clearRequests();
        m_site->publish();
        AWAIT(m->install(false));
        QCOMPARE(failure(*m), u"(not failed)"_qs);
        QCOMPARE(m->phase(), ToolManager::Phase(ToolManager::Ready{}));
        QCOMPARE(downloads(), missing);
        QCOMPARE(m->missingTools(), Tools{});
        QVERIFY(workFolders().isEmpty());
    }

    void destroyedWhileInstalling_data() {
        QTest::addColumn<Route>("held");          // a request answered late; or else
        QTest::addColumn<QString>("trigger");     // a file in the work folder whose step waits
        QTest::addColumn<int>("passes");          // on the pool, and how many steps then run
        QTest::addColumn<QStringList>("present"); // installed before
        QTest::addColumn<int>("installations");   // started at once
        const QString archive = Platform::current().denoArchive;
        const QStringList ytdlp{u"yt-dlp"_qs};
        const QStringList ytdlpAndDeno{u"yt-dlp"_qs, u"deno"_qs};
        const auto route = [](QString (ReleaseSite::*path)() const) {
            return Route([path](const ReleaseSite &s) { return (s.*path)(); });
        };
        QTest::newRow("asking for yt-dlp's release")
            << route(&ReleaseSite::ytdlpApiPath) << QString() << 0 << QStringList() << 1;
        QTest::newRow("two installations asking for yt-dlp's release")
            << route(&ReleaseSite::ytdlpApiPath) << QString() << 0 << QStringList() << 2;
        QTest::newRow("reading yt-dlp's checksums")
            << route(&ReleaseSite::ytdlpSumsPath) << QString() << 0 << QStringList() << 1;
        QTest::newRow("downloading yt-dlp")
            << route(&ReleaseSite::ytdlpFilePath) << QString() << 0 << QStringList() << 1;
        QTest::newRow("hashing yt-dlp") << Route() << u"yt-dlp"_qs << 0 << QStringList() << 1;
        QTest::newRow("placing yt-dlp") << Route() << u"yt-dlp"_qs << 1 << QStringList() << 1;
        QTest::newRow("asking for deno's release")
            << route(&ReleaseSite::denoApiPath) << QString() << 0 << ytdlp << 1;
        QTest::newRow("downloading deno")
            << route(&ReleaseSite::denoArchivePath) << QString() << 0 << ytdlp << 1;
        QTest::newRow("hashing deno") << Route() << archive << 0 << ytdlp << 1;
        QTest::newRow("unpacking deno") << Route() << archive << 1 << ytdlp << 1;
        QTest::newRow("placing deno") << Route() << archive << 2 << ytdlp << 1;
        QTest::newRow("downloading ffmpeg")
            << route(&ReleaseSite::ffmpegBuildPath) << QString() << 0 << ytdlpAndDeno << 1;
        QTest::newRow("reading ffmpeg's checksum")
            << route(&ReleaseSite::ffmpegSumsPath) << QString() << 0 << ytdlpAndDeno << 1;
    }

    // A manager destroyed at an await of an installation, as at quit, removes the work folder
    // at once; the installation, when it resumes, goes no further.
    void destroyedWhileInstalling() {
        QFETCH(Route, held);
        QFETCH(QString, trigger);
        QFETCH(int, passes);
        QFETCH(QStringList, present);
        QFETCH(int, installations);
        const QHash<QString, QByteArray> published{{u"yt-dlp"_qs, m_site->ytdlp},
                                                   {u"deno"_qs, m_site->deno},
                                                   {u"ffmpeg"_qs, m_site->ffmpeg}};
        for (const QString &name : present)
            writeFile(tool(name), published[name]);
        auto m = manager();
        AWAIT(m->check());
        std::optional<PoolGate> gate; // after the manager: it gives the pool back first
        if (held) {
            m_site->delay(held(*m_site));
        } else {
            gate.emplace();
            gate->close();
        }
        std::vector<QCoro::Task<>> running;
        for (int i = 0; i < installations; ++i)
            running.push_back(m->install(false));
        if (held) {
            // Checked after every turn of the loop: the answer's second half comes turns later.
            QVERIFY(turnUntil(
                [&] { return m_site->requests().count(held(*m_site)) == installations; }));
        } else {
            // The step that reads the file was queued in the turn that the file appeared.
            QTRY_VERIFY(
                !workFolders().isEmpty() &&
                QFileInfo::exists(temporary() + u'/' + workFolders().first() + u'/' + trigger));
            for (int pass = 0; pass < passes; ++pass) {
                gate->close();
                gate->open();
                QTRY_COMPARE(gate->started(), pass + 2);
                // The finished step's news is already posted: the installation resumes and
                // queues its next step.
                QCoreApplication::processEvents();
            }
            gate->open(); // the waiting step runs, but its news comes after the manager went
        }
        QCOMPARE(workFolders().size(), installations);
        const QStringList requested = m_site->requests();
        m.reset();
        QVERIFY2(workFolders().isEmpty(), qPrintable(workFolders().join(u", ")));
        // Whatever reached the tool folder is a whole tool.
        const QFileInfoList installed =
            QDir(bin()).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const QFileInfo &entry : installed) {
            QVERIFY2(published.contains(entry.fileName()), qPrintable(entry.fileName()));
            QCOMPARE(contents(entry.filePath()), published[entry.fileName()]);
            QVERIFY(isExecutableFile(entry.filePath()));
        }

        // The late answer or the step's news resumes the installation, which gives up.
        for (QCoro::Task<> &installation : running)
            QVERIFY(runTask(std::move(installation)).finished);
        QCOMPARE(m_site->requests(), requested);
        QVERIFY2(workFolders().isEmpty(), qPrintable(workFolders().join(u", ")));
        QCOMPARE(QDir(bin()).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 installed);
    }

    void staleWorkFolders_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("removed");
        const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString ours = u"Tovik-" + uuid.toUpper();
        QTest::newRow("left without a lock") << ours << u"folder"_qs << true;
        QTest::newRow("locked by a process that has gone") << ours << u"dead lock"_qs << true;
        QTest::newRow("locked by a running installation") << ours << u"live lock"_qs << false;
        QTest::newRow("a file") << ours << u"file"_qs << false;
        QTest::newRow("a link to a folder") << ours << u"link"_qs << false;
        QTest::newRow("lower-case UUID") << u"Tovik-" + uuid.toLower() << u"folder"_qs << false;
        QTest::newRow("another prefix") << u"tovik-" + uuid.toUpper() << u"folder"_qs << false;
        QTest::newRow("a longer name") << ours + u".old" << u"folder"_qs << false;
        QTest::newRow("no UUID") << u"Tovik-cache"_qs << u"folder"_qs << false;
    }

    // At start, check() removes what installations killed on the way left in the temporary
    // folder, and nothing else.
    void staleWorkFolders() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(bool, removed);
        const QString path = QDir(temporary()).filePath(name);
        const QString elsewhere = m_account->filePath(u"elsewhere"_qs);
        writeFile(elsewhere + u"/keep", "the user's");
        std::optional<QLockFile> running;
        if (kind == u"file") {
            writeFile(path, "a file");
        } else if (kind == u"link") {
            QVERIFY(QFile::link(elsewhere, path));
        } else {
            writeFile(path + u"/ffmpeg.zip", "partial");
        }
        if (kind == u"live lock") {
            running.emplace(path + u"/.lock");
            QVERIFY(running->tryLock(0));
        } else if (kind == u"dead lock") {
            writeLockOfGoneProcess(path + u"/.lock");
        }
        AWAIT(manager()->check());
        const QFileInfo entry(path);
        QCOMPARE(!entry.exists() && !entry.isSymLink(), removed);
        QCOMPARE(contents(elsewhere + u"/keep"), QByteArray("the user's"));
    }

    void cutConnection() {
        m_site->cutShort(m_site->denoArchivePath(), m_site->denoZip);
        // What Qt itself says about such a transfer.
        QNetworkAccessManager network;
        const std::unique_ptr<QNetworkReply> reply(
            network.get(QNetworkRequest(m_site->url(m_site->denoArchivePath()))));
        QVERIFY(runTask(qCoro(reply.get()).waitForFinished()).finished);
        QVERIFY(reply->error() != QNetworkReply::NoError);

        const auto m = manager();
        AWAIT(m->check());
        AWAIT(m->install(false));
        QCOMPARE(failure(*m), reply->errorString());
        QCOMPARE(m->missingTools(), (Tools{Tool::deno, Tool::ffmpeg}));
        QVERIFY(workFolders().isEmpty());
    }

    void installedYtdlpDoesNotStart() {
        m_site->ytdlp = "this is not a program";
        m_site->publish();
        const auto m = manager();
        AWAIT(m->check());
        AWAIT(m->install(false));
        QCOMPARE(failure(*m), u"yt-dlp was installed but does not start."_qs);
        QCOMPARE(m->ytdlpVersion(), std::nullopt);
        QCOMPARE(m->missingTools(), Tools{});
        QCOMPARE(m->updateMessage(), std::nullopt);
    }

    void alteredDownloadLeavesOldExecutable() {
        installAllTools();
        const QByteArray old = contents(tool(u"yt-dlp"_qs));
        QByteArray altered = m_site->ytdlp;
        altered[0] = static_cast<char>(altered[0] ^ 0x20);
        m_site->serve(m_site->ytdlpFilePath(), altered);
        const auto m = manager();
        AWAIT(m->install(true));
        QCOMPARE(failure(*m), u"yt-dlp failed its checksum check, so it was not installed."_qs);
        QCOMPARE(contents(tool(u"yt-dlp"_qs)), old);
        QVERIFY(isExecutableFile(tool(u"yt-dlp"_qs)));
        QCOMPARE(downloads(), Tools{Tool::ytdlp});
        QVERIFY(workFolders().isEmpty());
    }

    // Whatever stands in the tool folder is replaced: a link is replaced itself, never the file
    // it points to, and a read-only file too.
    void reinstallReplacesEveryTool() {
        installAllTools();
        writeFile(tool(u"yt-dlp"_qs), "#!/bin/sh\necho old\n");
        const QString users = m_account->filePath(u"users-deno"_qs);
        writeFile(users, "the user's own deno");
        QVERIFY(QFile::remove(tool(u"deno"_qs)));
        QVERIFY(QFile::link(users, tool(u"deno"_qs)));
        writeFile(tool(u"ffmpeg"_qs), "old ffmpeg", QFile::ReadOwner | QFile::ExeOwner);
        const auto m = manager();
        AWAIT(m->install(true));
        QCOMPARE(m->phase(), ToolManager::Phase(ToolManager::Ready{}));
        QCOMPARE(downloads(), (Tools{Tool::ytdlp, Tool::deno, Tool::ffmpeg}));
        QCOMPARE(contents(tool(u"yt-dlp"_qs)), m_site->ytdlp);
        QCOMPARE(contents(tool(u"deno"_qs)), m_site->deno);
        QCOMPARE(contents(tool(u"ffmpeg"_qs)), m_site->ffmpeg);
        QVERIFY(!QFileInfo(tool(u"deno"_qs)).isSymLink());
        QCOMPARE(contents(users), QByteArray("the user's own deno"));
        QVERIFY(isExecutableFile(tool(u"ffmpeg"_qs)));
    }

    void withSystemFFmpeg() {
        writeFile(candidates()[1], "system ffmpeg");
        const auto m = manager();
        AWAIT(m->check());
        QCOMPARE(m->missingTools(), (Tools{Tool::ytdlp, Tool::deno}));
        AWAIT(m->install(false));
        QCOMPARE(m->phase(), ToolManager::Phase(ToolManager::Ready{}));
        QCOMPARE(m->paths().ffmpeg, QUrl::fromLocalFile(candidates()[1]));
        QVERIFY(!QFileInfo::exists(tool(u"ffmpeg"_qs)));

        m_site->clearRequests();
        AWAIT(m->install(true));
        QCOMPARE(m->phase(), ToolManager::Phase(ToolManager::Ready{}));
        QCOMPARE(downloads(), (Tools{Tool::ytdlp, Tool::deno}));
        QVERIFY(!m_site->requests().contains(m_site->ffmpegLatestPath()));
        QVERIFY(!QFileInfo::exists(tool(u"ffmpeg"_qs)));
    }

    void nothingMissingGoesStraightToFinish() {
        installAllTools();
        storeLastUpdate(QDateTime::currentDateTimeUtc());
        const auto m = manager();
        QSignalSpy installing(m.get(), &ToolManager::installingToolChanged);
        AWAIT(m->install(false));
        QCOMPARE(m->phase(), ToolManager::Phase(ToolManager::Ready{}));
        QCOMPARE(m->ytdlpVersion(), std::optional(u"2025.01.15"_qs));
        QCOMPARE(installing.count(), 0);
        QVERIFY(m_site->requests().isEmpty());
    }

    void checkProbesVersion_data() {
        QTest::addColumn<QByteArray>("scenario"); // of --version
        QTest::addColumn<std::optional<QString>>("version");
        QTest::newRow("version and line break")
            << QByteArray("out 2025.01.15") << std::optional(u"2025.01.15"_qs);
        QTest::newRow("surrounded by blanks")
            << QByteArray("out  \t2024.12.06\r\nout ") << std::optional(u"2024.12.06"_qs);
        QTest::newRow("only blanks")
            << QByteArray("out   \nout \nout \t") << std::optional<QString>();
        QTest::newRow("nothing") << QByteArray() << std::optional<QString>();
        QTest::newRow("exit 1") << QByteArray("out 2025.01.15\nexit 1") << std::optional<QString>();
        QTest::newRow("killed") << QByteArray("out 2025.01.15\nsignal 9")
                                << std::optional<QString>();
    }

    // The version probe never fails the check, and the daily update still runs.
    void checkProbesVersion() {
        QFETCH(QByteArray, scenario);
        Script s;
        s.version = scenario;
        script(s);
        installAllTools();
        const auto m = manager();
        AWAIT(m->check());
        QCOMPARE(m->phase(), ToolManager::Phase(ToolManager::Ready{}));
        QTEST(m->ytdlpVersion(), "version");
        QCOMPARE(m->updateMessage(), std::optional(u"yt-dlp is up to date."_qs));
    }

    void updateIfDue_data() {
        QTest::addColumn<QVariant>("stored"); // stored as it is, unless age is given
        QTest::addColumn<qint64>("age");      // seconds before now; -1 to use stored
        QTest::addColumn<bool>("runs");
        QTest::newRow("never") << QVariant() << qint64(-1) << true;
        QTest::newRow("not a date") << QVariant(u"yesterday"_qs) << qint64(-1) << true;
        QTest::newRow("a number") << QVariant(12) << qint64(-1) << true;
        QTest::newRow("just now") << QVariant() << qint64(0) << false;
        QTest::newRow("exactly a day") << QVariant() << qint64(86'400) << false;
        QTest::newRow("a day and a second") << QVariant() << qint64(86'401) << true;
    }

    void updateIfDue() {
        QFETCH(QVariant, stored);
        QFETCH(qint64, age);
        QFETCH(bool, runs);
        installAllTools();
        const auto m = manager();
        QSignalSpy updating(m.get(), &ToolManager::isUpdatingChanged);
        storeLastUpdate(age >= 0 ? QVariant(QDateTime::currentDateTimeUtc().addSecs(-age))
                                 : stored);
        AWAIT(m->check());
        QCOMPARE(m->phase(), ToolManager::Phase(ToolManager::Ready{}));
        QCOMPARE(updating.count(), runs ? 2 : 0);
        QCOMPARE(m->updateMessage().has_value(), runs);
    }

    void updateOutcomes_data() {
        QTest::addColumn<QByteArray>("version"); // scenario of --version
        QTest::addColumn<QByteArray>("update");  // scenario of -U
        QTest::addColumn<QByteArray>("updateTo");
        QTest::addColumn<QString>("message");
        QTest::addColumn<std::optional<QString>>("newVersion");
        QTest::addColumn<bool>("dateMoves");
        const QByteArray current("out 2025.01.15");
        QTest::newRow("updated") << current
                                 << QByteArray("out Current version: stable@2025.01.15\n"
                                               "err Latest version: stable@2025.02.01\n"
                                               "out Updating to stable@2025.02.01 ...\n"
                                               "out Updated yt-dlp to stable@2025.02.01")
                                 << QByteArray("2025.02.01") << u"Updated to 2025.02.01."_qs
                                 << std::optional(u"2025.02.01"_qs) << true;
        QTest::newRow("already current")
            << current
            << QByteArray("out Latest version: stable@2025.01.15\n"
                          "out yt-dlp is up to date (stable@2025.01.15)")
            << QByteArray() << u"yt-dlp is up to date."_qs << std::optional(u"2025.01.15"_qs)
            << true;
        QTest::newRow("updated, version unknown before and after")
            << QByteArray("exit 1") << QByteArray("out Updated yt-dlp to stable@2025.02.01")
            << QByteArray() << u"Updated to the latest version."_qs << std::optional<QString>()
            << true;
        QTest::newRow("updated, version unknown after")
            << current << QByteArray("out Updated yt-dlp to stable@2025.02.01\nexit 0")
            << QByteArray(" ") << u"Updated to 2025.01.15."_qs << std::optional(u"2025.01.15"_qs)
            << true;
        QTest::newRow("failed after two lines and an empty one")
            << current
            << QByteArray("out Latest version: stable@2025.02.01\n"
                          "err ERROR: Unable to write to /x\nout \nexit 1")
            << QByteArray() << u"Update failed: ERROR: Unable to write to /x"_qs
            << std::optional(u"2025.01.15"_qs) << false;
        QTest::newRow("failed, other line breaks")
            << current << QByteArray("out one\r\nout two\xe2\x80\xa8\r\nout \x0b\x0c\nexit 2")
            << QByteArray() << u"Update failed: two"_qs << std::optional(u"2025.01.15"_qs) << false;
        QTest::newRow("failed silently")
            << current << QByteArray("exit 1") << QByteArray()
            << u"Update failed: yt-dlp did not run."_qs << std::optional(u"2025.01.15"_qs) << false;
        QTest::newRow("killed") << current << QByteArray("out partial\nsignal 9") << QByteArray()
                                << u"Update failed: partial"_qs << std::optional(u"2025.01.15"_qs)
                                << false;
    }

    void updateOutcomes() {
        QFETCH(QByteArray, version);
        QFETCH(QByteArray, update);
        QFETCH(QByteArray, updateTo);
        QFETCH(QString, message);
        QFETCH(bool, dateMoves);
        script({version, update, updateTo});
        installAllTools();
        const QDateTime anHourAgo = QDateTime::currentDateTimeUtc().addSecs(-3600);
        storeLastUpdate(anHourAgo);
        const auto m = manager();
        AWAIT(m->check()); // not due: only the version is probed
        QCOMPARE(m->updateMessage(), std::nullopt);

        QStringList messages;
        connect(m.get(), &ToolManager::updateMessageChanged, this,
                [&] { messages.append(m->updateMessage().value_or(u"(none)"_qs)); });
        QSignalSpy updating(m.get(), &ToolManager::isUpdatingChanged);
        AWAIT(m->updateYTDLP());
        QCOMPARE(messages, (QStringList{u"Checking for yt-dlp updates\u2026"_qs, message}));
        QCOMPARE(updating.count(), 2);
        QVERIFY(!m->isUpdating());
        QTEST(m->ytdlpVersion(), "newVersion");
        QCOMPARE(m->phase(), ToolManager::Phase(ToolManager::Ready{}));
        const QDateTime stored = tovikSettings().value(updateKey).toDateTime();
        if (dateMoves)
            QVERIFY(qAbs(stored.secsTo(QDateTime::currentDateTimeUtc())) < 60);
        else
            QCOMPARE(stored, anHourAgo);
    }

    void updateWithoutYtdlp() {
        const auto m = manager();
        AWAIT(m->updateYTDLP());
        QCOMPARE(m->updateMessage(), std::optional(u"Update failed: yt-dlp did not run."_qs));
        QVERIFY(!m->isUpdating());
        QVERIFY(!tovikSettings().contains(updateKey));
    }

    void secondUpdateWhileOneRuns() {
        installAllTools();
        const auto m = manager();
        auto first = m->updateYTDLP();
        QVERIFY(m->isUpdating());
        QSignalSpy updating(m.get(), &ToolManager::isUpdatingChanged);
        QSignalSpy messages(m.get(), &ToolManager::updateMessageChanged);
        auto second = m->updateYTDLP();
        QVERIFY(second.isReady());
        QCOMPARE(updating.count(), 0);
        QCOMPARE(messages.count(), 0);
        AWAIT(std::move(first));
        QCOMPARE(updating.count(), 1);
        QCOMPARE(m->updateMessage(), std::optional(u"yt-dlp is up to date."_qs));
    }
};

QTEST_GUILESS_MAIN(TestToolManager)
#include "tst_toolmanager.moc"
