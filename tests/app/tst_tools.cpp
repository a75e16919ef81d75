#include "FileDownload.h"
#include "HttpServer.h"
#include "PlatformError.h"
#include "TaskRunner.h"
#include "ToolError.h"
#include "ToolManager.h"
#include "ToolRunner.h"
#include "ZipBuilder.h"
#include "ZipExtractor.h"

#include <QtCore>
#include <QtNetwork>
#include <QtTest>

using namespace std::chrono_literals;
// Routes of the release site served otherwise: path, body and status.
using Spoils = QList<std::tuple<QString, QByteArray, int>>;

namespace {

constexpr qsizetype mebibyte = 1024 * 1024;
const QFile::Permissions plain = QFile::ReadOwner | QFile::WriteOwner;
const QFile::Permissions executable = plain | QFile::ExeOwner | QFile::ExeOther;

// Runs a task to its end in an event loop; fails the test after the time-out.
#define AWAIT(task) QVERIFY(runTask(task).finished)

template <typename... T> void columns(std::initializer_list<const char *> names) {
    auto name = names.begin();
    (QTest::addColumn<T>(*name++), ...);
}

// One row of the current table; each value must have its column's exact type.
template <typename... T> void row(const char *name, const T &...values) {
    (QTest::newRow(name) << ... << values);
}

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &data,
               QFile::Permissions permissions = executable) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
            file.write(data) == data.size() && file.setPermissions(permissions));
}

QByteArray sha256(const QByteArray &data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

// A latest-release record of the REST API.
QByteArray release(const QString &tag) {
    return QJsonDocument(QJsonObject{{u"tag_name"_qs, tag}}).toJson();
}

// Everything under a folder, links not followed: each path with / for a folder, @ and the
// target for a link, : or *: for a file or an executable and its size.
QString describe(const QString &folder) {
    const QDir root(folder);
    QStringList paths;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo entry(it.next());
        paths.append(root.relativeFilePath(entry.filePath()) +
                     (entry.isSymLink() ? u'@' + root.relativeFilePath(entry.symLinkTarget())
                      : entry.isDir()   ? u"/"_qs
                                        : (entry.isExecutable() ? u"*:"_qs : u":"_qs) +
                                            QString::number(entry.size())));
    }
    paths.sort();
    return paths.join(u' ');
}

// The phase's name, or the message of a failure.
QString phaseOf(const ToolManager &manager) {
    const auto *failed = std::get_if<ToolManager::Failed>(&manager.phase());
    return failed ? failed->message
                  : u"checking needs-install installing ready"_qs.split(u' ').at(
                        qsizetype(manager.phase().index()));
}

QString names(const QList<ToolManager::Tool> &tools) {
    QStringList names;
    for (const ToolManager::Tool t : tools)
        names.append(rawValue(t));
    return names.join(u' ');
}

} // namespace

// One fixture for the tool subsystem: every test starts as a fresh account with its own home,
// temporary folder and loopback server, which plays the three places the tools come from: the
// REST API's latest-release records, the release downloads with their checksum files, and the
// ffmpeg provider, whose "latest" path redirects to a versioned archive with its checksum.
class TestTools : public QObject {
    Q_OBJECT

    QTemporaryDir m_suite;
    std::unique_ptr<QTemporaryDir> m_account;
    std::unique_ptr<HttpServer> m_server;
    const Platform m_platform = Platform::current();
    const QByteArray m_fake = contents(QStringLiteral(FAKE_YTDLP));
    QByteArray m_ytdlp; // what the site publishes as yt-dlp
    const QByteArray m_deno = QByteArray(300'000, 'd'), m_ffmpeg = QByteArray(500'000, 'f');
    const QByteArray m_denoZip = ZipBuilder().file(u"deno"_qs, m_deno, 0755).build();
    const QByteArray m_ffmpegZip = ZipBuilder().file(u"ffmpeg"_qs, m_ffmpeg, 0755).build();
    // The release site's paths.
    const QString m_ytdlpApi = u"/repos/yt-dlp/yt-dlp/releases/latest"_qs;
    const QString m_ytdlpRelease = u"/yt-dlp/yt-dlp/releases/download/2025.01.15/"_qs;
    const QString m_ytdlpFile = m_ytdlpRelease + m_platform.ytdlpFile;
    const QString m_denoArchive =
        u"/denoland/deno/releases/download/v2.1.4/" + m_platform.denoArchive;
    const QString m_ffmpegBuild = u"/builds/8.0.1/ffmpeg.zip"_qs;

    QString home() const { return m_account->filePath(u"home"_qs); }
    QString temporary() const { return m_account->filePath(u"tmp"_qs); }
    QString bin() const { return home() + u"/.qttest/share/Tovik/bin"; }
    QString tool(const QString &name) const { return bin() + u'/' + name; }
    QStringList candidates() const {
        return {m_account->filePath(u"opt/ffmpeg"_qs), m_account->filePath(u"local/ffmpeg"_qs)};
    }
    QHash<QString, QByteArray> published() const {
        return {{u"yt-dlp"_qs, m_ytdlp}, {u"deno"_qs, m_deno}, {u"ffmpeg"_qs, m_ffmpeg}};
    }

    // One route, replaced until the next publish(). Large files go out in pieces, so that a
    // download reports progress several times.
    void serve(const QString &path, const QByteArray &body, int status = 200) {
        m_server->route(path,
                        {.status = status, .body = body, .chunkSize = 64 * 1024, .interval = 1ms});
    }

    void publish() {
        serve(m_ytdlpApi, release(u"2025.01.15"_qs));
        serve(u"/repos/denoland/deno/releases/latest"_qs, release(u"v2.1.4"_qs));
        serve(m_ytdlpRelease + u"SHA2-256SUMS",
              sha256(m_ytdlp) + "  " + m_platform.ytdlpFile.toUtf8() + '\n');
        serve(m_ytdlpFile, m_ytdlp);
        serve(m_denoArchive + u".sha256sum",
              sha256(m_denoZip) + "  " + m_platform.denoArchive.toUtf8() + '\n');
        serve(m_denoArchive, m_denoZip);
        m_server->redirect(m_platform.ffmpegPath, m_server->url(m_ffmpegBuild));
        serve(m_ffmpegBuild, m_ffmpegZip);
        serve(m_ffmpegBuild + u".sha256", sha256(m_ffmpegZip) + "  ffmpeg.zip\n");
    }

    // The tools whose main file was requested from the from-th request on, in request order.
    QString downloads(qsizetype from = 0) const {
        const QStringList files{m_ytdlpFile, m_denoArchive, m_platform.ffmpegPath};
        QList<ToolManager::Tool> tools;
        for (const QString &path : m_server->requests().mid(from))
            if (files.contains(path))
                tools.append(allTools().at(files.indexOf(path)));
        return names(tools);
    }

    std::unique_ptr<ToolManager> manager() const {
        const QUrl host = m_server->url({});
        return std::make_unique<ToolManager>(
            ToolSources{host, host, host, candidates(), m_platform});
    }

    // Work folders an installation left behind in the temporary directory.
    static QStringList workFolders() {
        return QDir::temp().entryList({u"Tovik-*"_qs}, QDir::AllEntries | QDir::Hidden);
    }

    // Whatever is in the tool folder is a whole published tool (so no folder), no link,
    // executable by everyone.
    void checkToolFolder() {
        for (const QFileInfo &e :
             QDir(bin()).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            QVERIFY2(contents(e.filePath()) == published().value(e.fileName(), "?") &&
                         !e.isSymLink() &&
                         e.permissions().testFlags(QFile::ExeOwner | QFile::ExeOther),
                     qPrintable(e.fileName()));
    }

    // What the installed fake yt-dlp does: "|"-joined scenarios of --version, -U and the
    // version that -U, when it gets that far, puts in place.
    void script(const QByteArray &scripts) {
        const QList<QByteArray> s =
            QByteArray(scripts + "|out yt-dlp is up to date (2025.01.15)|2025.01.15").split('|');
        const QString version = m_suite.filePath(u"version.scenario"_qs),
                      update = m_suite.filePath(u"update.scenario"_qs),
                      next = m_suite.filePath(u"new-version.scenario"_qs);
        writeFile(version, s[0] + '\n');
        writeFile(next, "out " + s[2] + '\n');
        writeFile(update, s[1] + "\nreplace " + next.toUtf8() + ' ' + version.toUtf8() + '\n');
        qputenv("FAKE_YTDLP_VERSION_SCENARIO", version.toUtf8());
        qputenv("FAKE_YTDLP_UPDATE", update.toUtf8());
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_suite.isValid());
        QStandardPaths::setTestModeEnabled(true);
        const QString config = m_suite.filePath(u"config"_qs);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
        // Tools run with Tovik's environment, changed only where ToolRunner::environment() says.
        qputenv("TOVIK_TEST_MARK", "kept = as it was");
        qputenv("PYTHONIOENCODING", "latin-1");
        qputenv("PYTHONUTF8", "0");
    }

    void init() {
        m_account = std::make_unique<QTemporaryDir>(m_suite.filePath(u"account-XXXXXX"_qs));
        QVERIFY(m_account->isValid() && QDir().mkpath(home()) && QDir().mkpath(temporary()));
        qputenv("HOME", home().toUtf8());
        qputenv("TMPDIR", temporary().toUtf8());
        QSettings(u"Tovik"_qs, u"Tovik"_qs).clear();
        script("out 2025.01.15");
        m_server = std::make_unique<HttpServer>();
        m_ytdlp = m_fake;
        publish();
    }

    // Hashing runs beside the event loop (its results are checked at every installation); a missing
    // file, and one that opens but fails every read, are errors. (How little memory it takes,
    // bench_sha256 measures.)
    void hashing() {
        const QString path = temporary() + u"/sparse";
        QVERIFY(QFile(path).open(QIODevice::WriteOnly) && QFile::resize(path, 64 * mebibyte));
        const auto outcome = runTask(ToolRunner::sha256(QUrl::fromLocalFile(path)));
        QVERIFY(outcome.value && outcome.loopTurns > 10);
        for (const QString &bad : {QString(temporary() + u"/missing"), u"/proc/self/mem"_qs})
            QVERIFY(runTask(ToolRunner::sha256(QUrl::fromLocalFile(bad))).errorAs<PlatformError>());
    }

    // Production installs for the build's platform, as Qt reports the host rather than the
    // preprocessor symbols the table itself uses; an HTTP error about an address without a host.
    void values() {
        const QString deno = ToolSources::production().platform.denoArchive;
        QVERIFY2(deno.contains(
                     QSysInfo::buildCpuArchitecture().replace(u"arm64"_qs, u"aarch64"_qs) + u'-') &&
                     deno.contains(QSysInfo::kernelType()),
                 qPrintable(deno));
        QCOMPARE(ToolError(ToolError::Http{500, QUrl::fromLocalFile(u"/tmp/a b"_qs)}).message(),
                 u"Server returned 500 for file:///tmp/a b."_qs);
    }

    // Both channels in the order written, the input empty rather than waited for, the status
    // a signal ended the child with; Tovik's environment, or the tools' with a fixed PATH and
    // the two Python variables set.
    void capture() {
        const auto run = [](const QString &script,
                            std::optional<QProcessEnvironment> environment = std::nullopt) {
            const auto result = runTask(ToolRunner::capture(QUrl::fromLocalFile(u"/bin/sh"_qs),
                                                            {u"-c"_qs, script}, environment))
                                    .value;
            return result ? QString::number(result->status) + u' ' + result->output : QString();
        };
        QCOMPARE(run(u"cat; echo one; echo two >&2; echo three; kill -9 $$"_qs),
                 u"9 one\ntwo\nthree\n"_qs);
        const QString variables =
            u"printf %s \"$TOVIK_TEST_MARK|$PYTHONIOENCODING|$PYTHONUTF8|$PATH\""_qs;
        QCOMPARE(run(variables),
                 u"0 kept = as it was|latin-1|0|"_qs + qEnvironmentVariable("PATH"));
        QCOMPARE(
            run(variables, ToolRunner::environment(
                               {.ytdlp = QUrl::fromLocalFile(u"/tools/yt-dlp"_qs),
                                .ffmpeg = QUrl::fromLocalFile(u"/opt/ff mpeg/bin/ffmpeg"_qs),
                                .deno = QUrl::fromLocalFile(u"/tools/deno"_qs)})),
            u"0 kept = as it was|utf-8|1|/tools:/opt/ff mpeg/bin:/usr/bin:/bin:/usr/sbin:/sbin"_qs);
    }

    void unzip_data() {
        // outcome: the error | what the destination holds afterwards (see describe()), ? when
        // a damaged archive may have left part of its entries there.
        columns<QByteArray, QString>({"archive", "outcome"});
        // An older, longer file is replaced; a large entry comes in many blocks.
        row("a tree",
            ZipBuilder()
                .file(u"bin/tool"_qs, "#!/bin/sh\necho hi\n", 0755)
                .symlink(u"bin/alias"_qs, u"tool"_qs)
                .file(u"README"_qs, "read me\n", 0644)
                .file(u"deep/a/b/c.txt"_qs, "deep\n")
                .directory(u"empty"_qs)
                .file(u"zeros"_qs, QByteArray(8 * mebibyte, '\0'))
                .build(),
            u"|README:8 bin/ bin/alias@bin/tool bin/tool*:18 deep/ deep/a/ deep/a/b/ "
            u"deep/a/b/c.txt:5 empty/ zeros:8388608"_qs);
        // Every entry is checked before the first write, so nothing is written.
        const QString outside = m_suite.filePath(u"outside"_qs),
                      refused = u"Could not unpack tool.zip.|README:32"_qs;
        const auto add = [&](const char *name, const ZipBuilder &zip) {
            row(name, zip.build(), refused);
        };
        add("absolute path", ZipBuilder().file(outside + u"/escaped", "x"));
        add("absolute link", ZipBuilder().symlink(u"out"_qs, outside));
        add("chain of links",
            ZipBuilder().symlink(u"here"_qs, u"."_qs).symlink(u"out"_qs, u"here/.."_qs));
        add("parent component in the last entry",
            ZipBuilder().file(u"fine"_qs, "fine").file(u"a/../../escaped"_qs, "x"));
        add("more than 2 GiB", ZipBuilder()
                                   .file(u"small"_qs, "small")
                                   .file(u"big"_qs, "", 0644, ZipExtractor::maxUnpackedBytes));
        QByteArray flipped = ZipBuilder().file(u"one"_qs, QByteArray(200000, 'a')).build();
        flipped[60] = char(flipped[60] ^ 0x55);
        row("corrupt data", flipped, u"Could not unpack tool.zip.|?"_qs);
        row("not a zip", QByteArray("just some text\n"), refused);
    }

    // Nothing is ever written outside the destination.
    void unzip() {
        QFETCH(QByteArray, archive);
        QFETCH(QString, outcome);
        const QString dest = temporary() + u"/dest", zip = temporary() + u"/tool.zip";
        writeFile(dest + u"/README", "old and longer than the new one\n", plain);
        writeFile(zip, archive, plain);
        const auto unpacked =
            runTask(ToolRunner::unzip(QUrl::fromLocalFile(zip), QUrl::fromLocalFile(dest)));
        const std::optional<ToolError> error = unpacked.errorAs<ToolError>();
        QTEST(QString((error ? error->message() : QString()) + u'|' +
                      (outcome.endsWith(u'?') ? u"?"_qs : describe(dest))),
              "outcome");
        QVERIFY(unpacked.finished && !QFileInfo::exists(m_suite.filePath(u"outside"_qs)));
    }

    void fetch_data() {
        // Each download goes over an older file, which only a whole download replaces. chain:
        // the paths the server saw, resends merged, empty when the destination's folder is
        // missing; error: an HTTP status, -1 for PlatformError or 0; reports: progress 0 none, 2
        // several, -1 any.
        columns<QString, QString, int, int>({"path", "chain", "error", "reports"});
        row("with length", u"/paced"_qs, u"/paced"_qs, 0, 2);
        row("without length", u"/unannounced"_qs, u"/unannounced"_qs, 0, 0);
        row("redirects", u"/latest"_qs, u"/latest /release /files/tool.zip"_qs, 0, -1);
        // Neither the error page nor a temporary file is left behind.
        row("not found after a redirect", u"/moved"_qs, u"/moved /404"_qs, 404, 0);
        row("connection cut mid-body", u"/cut"_qs, u"/cut"_qs, -1, -1);
        row("endless redirects", u"/loop"_qs, u"/loop"_qs, -1, -1);
        row("missing folder, nothing asked", u"/paced"_qs, QString(), -1, -1);
    }

    void fetch() {
        QFETCH(QString, path);
        QFETCH(QString, chain);
        QFETCH(int, error);
        QFETCH(int, reports);
        const QByteArray body = QByteArray(160 * 1024, 'b');
        // Slow enough for several reports: Qt sends at most one every 100 ms.
        HttpServer::Response paced{.body = body, .chunkSize = 8 * 1024, .interval = 20ms};
        m_server->route(u"/paced"_qs, paced);
        paced.sendLength = false;
        m_server->route(u"/unannounced"_qs, paced);
        m_server->route(u"/files/tool.zip"_qs, {.body = body});
        m_server->route(u"/404"_qs, {.status = 404, .body = QByteArray(20000, 'e')});
        m_server->route(u"/cut"_qs, {.body = QByteArray(100000, 'c'), .cutAfter = 30000});
        m_server->redirect(u"/latest"_qs, QUrl(u"/release"_qs), 301);
        m_server->redirect(u"/release"_qs, QUrl(u"/files/tool.zip"_qs));
        m_server->redirect(u"/moved"_qs, QUrl(u"/404"_qs));
        m_server->redirect(u"/loop"_qs, QUrl(u"/loop"_qs));
        const QUrl source = m_server->url(path);
        const QString target = temporary() + (chain.isEmpty() ? u"/no" : u"") + u"/tool.zip";
        if (!chain.isEmpty())
            writeFile(target, "the older file", plain);
        QList<double> progress;
        const auto outcome = runTask(FileDownload::fetch(
            source, QUrl::fromLocalFile(target), [&](double value) { progress.append(value); }));
        // Qt sends a GET once more when the server's close overtakes its reading of the answer
        // (about one run in seven here); the chain of addresses is what counts.
        QStringList seen = m_server->requests();
        seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
        QCOMPARE(seen.join(u' '), chain);
        // An HTTP error names the address that was asked for (its message: see install()).
        const std::optional<ToolError> e = outcome.errorAs<ToolError>();
        QVERIFY(error < 0   ? bool(outcome.errorAs<PlatformError>())
                : error > 0 ? e && e->errorCase() == ToolError::Case(ToolError::Http{error, source})
                            : outcome.value == m_server->url(seen.last()));
        QCOMPARE(contents(target), error == 0        ? body
                                   : chain.isEmpty() ? QByteArray()
                                                     : "the older file");
        QCOMPARE(QDir(temporary()).entryList(QDir::Files | QDir::Hidden),
                 chain.isEmpty() ? QStringList() : QStringList{u"tool.zip"_qs});
        // Only an announced length makes a fraction, and it climbs to exactly 1.
        QVERIFY(reports != 0 || progress.isEmpty());
        QVERIFY(reports != 2 || (progress.size() > 1 && progress.first() > 0 &&
                                 std::is_sorted(progress.cbegin(), progress.cend()) &&
                                 progress.last() == 1.0 && outcome.loopTurns > 20));
    }

    // Needs TLS on the loopback interface: a throw-away certificate from the openssl tool,
    // trusted by this process only. A file over https arrives, a redirect to http is refused.
    void refusesRedirectFromHttpsToHttp() {
        const QString openssl = QStandardPaths::findExecutable(u"openssl"_qs);
        if (openssl.isEmpty() || !QSslSocket::supportsSsl())
            QSKIP("needs the openssl tool and Qt's TLS backend");
        const QString key = m_account->filePath(u"key.pem"_qs),
                      cert = m_account->filePath(u"cert.pem"_qs);
        QCOMPARE(QProcess::execute(
                     openssl, u"req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                              u"-nodes -days 2 -subj /CN=127.0.0.1 -addext "
                              u"subjectAltName=IP:127.0.0.1 -keyout %1 -out %2"_qs.arg(key, cert)
                                  .split(u' ')),
                 0);
        const auto certificates = QSslCertificate::fromPath(cert);
        const QSslConfiguration clientDefault = QSslConfiguration::defaultConfiguration();
        const auto restore =
            qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(clientDefault); });
        QSslConfiguration tls = clientDefault;
        tls.addCaCertificates(certificates);
        QSslConfiguration::setDefaultConfiguration(tls);
        tls.setLocalCertificate(certificates.value(0));
        tls.setPrivateKey(QSslKey(contents(key), QSsl::Ec));
        HttpServer secure(tls);
        secure.route(u"/tool.zip"_qs, {.body = "over tls"});
        secure.redirect(u"/downgrade"_qs, m_server->url(u"/tool.zip"_qs));
        const auto fetch = [&](const QString &from) {
            return runTask(
                FileDownload::fetch(secure.url(from), QUrl::fromLocalFile(temporary() + from), {}));
        };
        QCOMPARE(fetch(u"/tool.zip"_qs).value, secure.url(u"/tool.zip"_qs));
        QVERIFY(fetch(u"/downgrade"_qs).errorAs<PlatformError>());
        QVERIFY(m_server->requests().isEmpty());
        QCOMPARE(QDir(temporary()).entryList(QDir::Files | QDir::Hidden),
                 QStringList(u"tool.zip"_qs));
    }

    void install_data() {
        // files: a letter each for yt-dlp, deno and ffmpeg in the tool folder and the two system
        // ffmpeg candidates: - absent, x the published tool (any script for a candidate), r the
        // same not executable, R an old script read-only, d a folder, l a link to a user's
        // file; then "blocked" a file where the tool folder belongs, "reinstall" installs every
        // tool, "broken" publishes a yt-dlp that does not start. outcome: the tools missing at the
        // check | the ffmpeg used: 0 the tool folder's, 1 or 2 a system one | what the manager
        // reports while installing: its phase, each tool as it starts and progress 0 and 1 | the
        // tools downloaded | the tools missing after it.
        columns<QString, Spoils, QString>({"files", "spoiled", "outcome"});
        const auto add = [](const char *name, const char *files, const QString &outcome,
                            const Spoils &spoiled = {}) {
            row(name, QString::fromLatin1(files), spoiled, outcome);
        };
        const QString all = u"yt-dlp Deno ffmpeg"_qs;
        const QString each = u"installing yt-dlp 1 Deno 0 1 ffmpeg 0 1 none "_qs;
        add("fresh account", "-----", all + u"|0|" + each + u"ready|" + all + u'|');
        add("a file where the tool folder belongs", "----- blocked",
            all + u"|0|installing yt-dlp 1 none Not a directory|yt-dlp|" + all);
        add("not executable; a folder and a script as system ffmpeg", "rx-dr",
            u"yt-dlp ffmpeg|0|installing yt-dlp 1 ffmpeg 0 1 none ready|yt-dlp ffmpeg|"_qs);
        add("first system ffmpeg not executable", "x-xrx",
            u"Deno|2|installing Deno 1 none ready|Deno|"_qs);
        add("nothing missing goes straight to finish", "xxx--", u"|0|installing ready||"_qs);
        // Whatever stands in the tool folder is replaced: a link itself, never the file it
        // points to, and a read-only file too.
        add("reinstall replaces every tool", "xlR-- reinstall",
            u"|0|" + each + u"ready|" + all + u'|');
        add("reinstall leaves a system ffmpeg alone; of two, the first is used", "---xx reinstall",
            u"yt-dlp Deno|1|installing yt-dlp 1 Deno 0 1 none ready|yt-dlp Deno|"_qs);
        add("installed yt-dlp does not start", "----- broken",
            all + u"|0|" + each + u"yt-dlp was installed but does not start.|" + all + u'|');
        // Damage on the release site: the run ends with its message, and a second run installs
        // exactly the tools still missing.
        const auto early = [&](const QString &message) -> QString {
            return all + u"|0|installing yt-dlp none " + message + u"||" + all;
        };
        const auto late = [&](const QString &message) -> QString {
            return all + u"|0|" + each + message + u'|' + all + u"|ffmpeg";
        };
        QByteArray altered = m_fake;
        altered[altered.size() / 2] = static_cast<char>(altered[altered.size() / 2] ^ 0x01);
        const QString notFound = u"Server returned 404 for 127.0.0.1."_qs;
        const QString latest = u"The latest release of yt-dlp/yt-dlp "_qs;
        add("API answers 404", "-----", early(notFound), {{m_ytdlpApi, "{}", 404}});
        add("API answers no JSON", "-----", early(latest + u"could not be read: illegal value."),
            {{m_ytdlpApi, "<html>", 200}});
        add("release without a tag", "-----", early(latest + u"names no tag."),
            {{m_ytdlpApi, "{\"name\": \"x\"}", 200}});
        for (const QString &tag : {u"2025/x"_qs, u".."_qs, QString(), u"2025\x01"_qs})
            add(qPrintable(u"tag \"" + tag + u'"'), "-----",
                early(latest + u"has a tag that cannot be used in an address."),
                {{m_ytdlpApi, release(tag), 200}});
        add("yt-dlp missing from the checksum list", "-----",
            early(u"No published checksum was found for yt-dlp."_qs),
            {{m_ytdlpRelease + u"SHA2-256SUMS", sha256(m_fake) + "  yt-dlp.exe\n", 200}});
        // The old executable stays in place, whole and executable.
        add("reinstall of an altered yt-dlp", "xxx-- reinstall",
            u"|0|installing yt-dlp 1 none yt-dlp failed its checksum check, so it was not "
            u"installed.|yt-dlp|"_qs,
            {{m_ytdlpFile, altered, 200}});
        add("ffmpeg checksum only at the latest address", "-----", late(notFound),
            {{m_ffmpegBuild + u".sha256", {}, 404},
             {m_platform.ffmpegPath + u".sha256", sha256(m_ffmpegZip), 200}});
        const QByteArray nested = ZipBuilder().file(u"bin/ffmpeg"_qs, m_ffmpeg, 0755).build();
        add("ffmpeg archive without ffmpeg at its top", "-----",
            late(u"No such file or directory"_qs),
            {{m_ffmpegBuild, nested, 200}, {m_ffmpegBuild + u".sha256", sha256(nested), 200}});
    }

    void install() {
        QFETCH(QString, files);
        QFETCH(Spoils, spoiled);
        const QString users = m_account->filePath(u"users-deno"_qs);
        writeFile(users, "the user's own deno");
        const QStringList paths =
            QStringList{tool(u"yt-dlp"_qs), tool(u"deno"_qs), tool(u"ffmpeg"_qs)} + candidates();
        for (qsizetype i = 0; i < paths.size(); ++i) {
            if (files[i] == u'd')
                QVERIFY(QDir().mkpath(paths[i]));
            else if (files[i] == u'l')
                QVERIFY(QFile::link(users, paths[i]));
            else if (files[i] != u'-')
                writeFile(paths[i],
                          files[i] == u'R' ? "#!/bin/sh\necho old\n"
                                           : published().value(QFileInfo(paths[i]).fileName()),
                          files[i] == u'r'   ? plain
                          : files[i] == u'R' ? QFile::ReadOwner | QFile::ExeOwner
                                             : executable);
        }
        if (files.endsWith(u"blocked"))
            writeFile(home() + u"/.qttest/share/Tovik", "a file where the folder belongs");
        if (files.endsWith(u"broken"))
            m_ytdlp = "this is not a program";
        publish();
        // Work folders on another file system than the tool folder, where there is one.
        const QTemporaryDir shm(u"/dev/shm/tovik-test-XXXXXX"_qs);
        if (shm.isValid())
            qputenv("TMPDIR", shm.path().toUtf8());
        for (const auto &[path, body, status] : spoiled)
            serve(path, body, status);
        const auto m = manager();
        QSignalSpy phases(m.get(), &ToolManager::phaseChanged);
        AWAIT(m->check());
        const QString missing = names(m->missingTools());
        QCOMPARE(phaseOf(*m), missing.isEmpty() ? u"ready"_qs : u"needs-install"_qs);
        QVERIFY(phases.count() == 1 && m_server->requests().isEmpty());
        // The system ffmpeg is looked up once: one that appears now waits for the next start.
        if (!QFileInfo(candidates()[0]).isDir())
            writeFile(candidates()[0], "appears later");
        QStringList trace;
        connect(m.get(), &ToolManager::phaseChanged, this, [&] { trace.append(phaseOf(*m)); });
        connect(m.get(), &ToolManager::installingToolChanged, this, [&] {
            trace.append(m->installingTool() ? rawValue(*m->installingTool()) : u"none"_qs);
        });
        double last = 0; // a rise below 1 is left out of the trace
        connect(m.get(), &ToolManager::installProgressChanged, this, [&] {
            if (const double now = m->installProgress(); now == 0 || now >= 1 || now <= last)
                trace.append(QString::number(now));
            last = m->installProgress();
        });
        AWAIT(m->install(files.endsWith(u"reinstall")));
        const QString left = names(m->missingTools());
        const QString ffmpeg = QString::number((QStringList(tool(u"ffmpeg"_qs)) + candidates())
                                                   .indexOf(m->paths().ffmpeg.toLocalFile()));
        QTEST(QStringList({missing, ffmpeg, trace.join(u' '), downloads(), left}).join(u'|'),
              "outcome");
        if (!spoiled.isEmpty() && !left.isEmpty()) {
            const qsizetype seen = m_server->requests().size();
            publish();
            AWAIT(m->install(false));
            QCOMPARE(phaseOf(*m) + u'|' + downloads(seen), u"ready|" + left);
        }
        QVERIFY2(workFolders().isEmpty(), qPrintable(workFolders().join(u", ")));
        // The first installation ends with the first update.
        if (phaseOf(*m) == u"ready")
            QVERIFY(m->ytdlpVersion() == u"2025.01.15"_qs &&
                    m->updateMessage() == u"yt-dlp is up to date."_qs);
        checkToolFolder();
        QCOMPARE(contents(users), QByteArray("the user's own deno"));
    }

    void destroyedWhileInstalling_data() {
        // pool: held while unpacking deno, which waits on the pool, rather than while two
        // installations download deno, whose answer comes late.
        columns<bool>({"pool"});
        row("two installations downloading deno", false);
        row("unpacking deno", true);
    }

    // A manager destroyed at an await of an installation, as at quit, removes the work folders
    // at once; the installations, when they resume, go no further.
    void destroyedWhileInstalling() {
        QFETCH(bool, pool);
        const int installations = pool ? 1 : 2;
        writeFile(tool(u"yt-dlp"_qs), m_ytdlp);
        auto m = manager();
        AWAIT(m->check());
        // In the pool row, gates hold the pool's only thread, so that the installation's next
        // step waits behind them; a permit lets the oldest gate go.
        QThreadPool &threads = *QThreadPool::globalInstance();
        const int size = threads.maxThreadCount();
        QSemaphore open;
        std::atomic<int> started = 0;
        const auto gate = [&] {
            threads.start([&] {
                ++started;
                open.acquire();
            });
        };
        // Before the manager goes, the pool is given back; spare permits are harmless.
        const auto restore = qScopeGuard([&] {
            open.release(2);
            threads.waitForDone();
            threads.setMaxThreadCount(size);
        });
        if (pool) {
            threads.setMaxThreadCount(1);
            gate();
        } else { // in two halves, the second a second after the first
            m_server->route(
                m_denoArchive,
                {.body = m_denoZip, .chunkSize = m_denoZip.size() / 2 + 1, .interval = 1s});
        }
        std::vector<QCoro::Task<>> running;
        for (int i = 0; i < installations; ++i)
            running.push_back(m->install(false));
        if (pool) {
            // The archive's hashing was queued in the turn that the archive appeared: it may
            // pass, and its news queues the unpacking behind the next gate.
            QTRY_VERIFY(!workFolders().isEmpty() &&
                        QFileInfo::exists(temporary() + u'/' + workFolders().first() + u'/' +
                                          m_platform.denoArchive));
            gate();
            open.release();
            QTRY_COMPARE(started.load(), 2);
            QCoreApplication::processEvents();
            open.release(); // the unpacking runs, but its news comes after the manager went
        } else {
            QTRY_COMPARE(m_server->requests().count(m_denoArchive), installations);
        }
        QCOMPARE(workFolders().size(), installations);
        const QStringList requested = m_server->requests();
        m.reset();
        QVERIFY2(workFolders().isEmpty(), qPrintable(workFolders().join(u", ")));
        const QString installed = describe(bin());
        checkToolFolder();
        // The late answer or the step's news resumes the installation, which gives up.
        for (QCoro::Task<> &installation : running)
            QVERIFY(runTask(std::move(installation)).finished);
        QCOMPARE(m_server->requests(), requested);
        QVERIFY2(workFolders().isEmpty(), qPrintable(workFolders().join(u", ")));
        QCOMPARE(describe(bin()), installed);
    }

    // At start, check() removes what installations killed on the way left in the temporary
    // folder, and nothing else.
    void staleWorkFolders() {
        const QDir temp(temporary());
        const QString elsewhere = m_account->filePath(u"elsewhere"_qs);
        writeFile(elsewhere + u"/keep", "the user's");
        // Locked by a process that has gone, locked by a running installation, a file, a link
        // to a folder, a lower-case UUID, a longer name.
        QStringList names;
        for (int i = 0; i < 6; ++i)
            names.append(u"Tovik-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
        names[4] = names[4].left(6) + names[4].mid(6).toLower();
        names[5] += u".old";
        for (const QString &name : {names[0], names[1], names[4], names[5]})
            writeFile(temp.filePath(name + u"/ffmpeg.zip"), "partial");
        writeFile(temp.filePath(names[2]), "a file");
        QVERIFY(QFile::link(elsewhere, temp.filePath(names[3])));
        QLockFile running(temp.filePath(names[1] + u"/.lock")),
            gone(temp.filePath(names[0] + u"/.lock"));
        QVERIFY(running.tryLock(0) && gone.tryLock(0));
        // As a process leaves it when it is killed while holding the lock: the record starts
        // with the holder's process ID, here one that no process can have.
        const QByteArray record = contents(gone.fileName());
        gone.unlock();
        writeFile(gone.fileName(), "2147483647" + record.mid(record.indexOf('\n')));
        AWAIT(manager()->check());
        names.removeFirst();
        names.sort();
        QCOMPARE(temp.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name),
                 names);
        QCOMPARE(contents(elsewhere + u"/keep"), QByteArray("the user's"));
    }

    void update_data() {
        // scripts: "|"-joined scenarios of --version, -U (when none: up to date) and --version
        // after -U; stored: the last update check, an int is its age in seconds; message: the
        // update's outcome, empty when none runs.
        columns<QByteArray, QVariant, QString, std::optional<QString>>(
            {"scripts", "stored", "message", "newVersion"});
        const std::optional<QString> old(u"2025.01.15"_qs), unknown;
        const QString upToDate = u"yt-dlp is up to date."_qs;
        const auto add = [](const char *name, const char *scripts, const QVariant &stored,
                            const QString &message, const std::optional<QString> &newVersion) {
            row(name, QByteArray(scripts), stored, message, newVersion);
        };
        add("stored: not a date", "out 2025.01.15", u"yesterday"_qs, upToDate, old);
        add("checked exactly a day ago", "out 2025.01.15", 86400, QString(), old);
        add("checked a day and a second ago", "out 2025.01.15", 86401, upToDate, old);
        add("updated",
            "out 2025.01.15|out Current version: stable@2025.01.15\nerr Latest version: "
            "stable@2025.02.01\nout Updated yt-dlp to stable@2025.02.01| \t2025.02.01\r\nout ",
            {}, u"Updated to 2025.02.01."_qs, u"2025.02.01"_qs);
        add("updated, version unknown before and after",
            "exit 1|out Updated yt-dlp to stable@2025.02.01|", {},
            u"Updated to the latest version."_qs, unknown);
        add("updated, version unknown after",
            "out 2025.01.15|out Updated yt-dlp to stable@2025.02.01| ", {},
            u"Updated to 2025.01.15."_qs, old);
        // The last non-empty line on either channel, whatever breaks the lines.
        add("failed", "out 2025.01.15|out one\r\nerr two\xe2\x80\xa8\r\nout \x0b\x0c\nexit 2|", {},
            u"Update failed: two"_qs, old);
        add("failed silently", "out 2025.01.15|exit 1|", {},
            u"Update failed: yt-dlp did not run."_qs, old);
    }

    void update() {
        QFETCH(QByteArray, scripts);
        QFETCH(QVariant, stored);
        QFETCH(QString, message);
        script(scripts);
        for (const QString &name : published().keys())
            writeFile(tool(name), published()[name]);
        const QVariant last =
            stored.typeId() == QMetaType::Int
                ? QVariant(QDateTime::currentDateTimeUtc().addSecs(-stored.toInt()))
                : stored;
        if (last.isValid())
            QSettings(u"Tovik"_qs, u"Tovik"_qs).setValue(u"lastYTDLPUpdateCheck"_qs, last);
        const auto m = manager();
        QStringList trace;
        connect(m.get(), &ToolManager::updateMessageChanged, this,
                [&] { trace.append(m->updateMessage().value_or(u"(none)"_qs)); });
        connect(m.get(), &ToolManager::isUpdatingChanged, this, [&] {
            trace.append(m->isUpdating() ? u"updating"_qs : u"done"_qs);
            // A second update asked for meanwhile does nothing.
            QVERIFY(!m->isUpdating() || m->updateYTDLP().isReady());
        });
        AWAIT(m->check());
        QCOMPARE(trace.join(u'|'),
                 message.isEmpty()
                     ? QString()
                     : u"updating|Checking for yt-dlp updates\u2026|" + message + u"|done");
        QTEST(m->ytdlpVersion(), "newVersion");
        // Only an update that ran to its end moves the date of the last check.
        const QVariant now = QSettings(u"Tovik"_qs, u"Tovik"_qs).value(u"lastYTDLPUpdateCheck"_qs);
        QVERIFY(message.isEmpty() || message.startsWith(u"Update failed")
                    ? now == last
                    : qAbs(now.toDateTime().secsTo(QDateTime::currentDateTimeUtc())) < 60);
    }

    // Asked for without yt-dlp, an update fails at once.
    void updateYtdlp() {
        const auto m = manager();
        AWAIT(m->updateYTDLP());
        QCOMPARE(m->updateMessage(), std::optional(u"Update failed: yt-dlp did not run."_qs));
    }
};

QTEST_GUILESS_MAIN(TestTools)
#include "tst_tools.moc"
