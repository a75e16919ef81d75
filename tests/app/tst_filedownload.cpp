#include "FileDownload.h"
#include "HttpServer.h"
#include "PlatformError.h"
#include "TaskRunner.h"
#include "ToolError.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <algorithm>

Q_DECLARE_METATYPE(HttpServer::Response)

namespace {

QByteArray randomBytes(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (char &byte : data)
        byte = char(generator.bounded(256));
    return data;
}

HttpServer::Response body(QByteArray data) {
    HttpServer::Response response;
    response.body = std::move(data);
    return response;
}

HttpServer::Response status(int code, QByteArray data = {}) {
    HttpServer::Response response;
    response.status = code;
    response.body = std::move(data);
    return response;
}

QByteArray contentOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What fetch() reported through its progress callback.
struct Progress {
    QList<double> values;
    bool allOnMainThread = true;

    std::function<void(double)> callback() {
        return [this](double value) {
            values.append(value);
            allOnMainThread = allOnMainThread && QThread::currentThread() == qApp->thread();
        };
    }
};

} // namespace

class TestFileDownload : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<HttpServer> m_server;

    QString destination() const { return m_dir->filePath(u"tool.zip"_qs); }
    QStringList folder() const { return QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden); }

    void writeDestination(const QByteArray &data) {
        QFile file(destination());
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            qFatal("cannot write the destination");
    }

    TaskOutcome<QUrl> fetch(const QUrl &source, Progress &progress) {
        return runTask(
            FileDownload::fetch(source, QUrl::fromLocalFile(destination()), progress.callback()));
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_server = std::make_unique<HttpServer>();
    }

    void fetchesTheBody_data() {
        QTest::addColumn<HttpServer::Response>("response");
        QTest::addColumn<bool>("reportsProgress");
        // Slow enough for several reports: Qt sends at most one every 100 ms.
        HttpServer::Response withLength = body(randomBytes(160 * 1024));
        withLength.chunkSize = 8 * 1024;
        withLength.interval = std::chrono::milliseconds(20);
        QTest::newRow("with length") << withLength << true;
        HttpServer::Response withoutLength = withLength;
        withoutLength.sendLength = false;
        QTest::newRow("without length") << withoutLength << false;
        QTest::newRow("empty") << body({}) << false;
    }

    void fetchesTheBody() {
        QFETCH(HttpServer::Response, response);
        QFETCH(bool, reportsProgress);
        m_server->route(u"/tool.zip"_qs, response);
        Progress progress;
        const auto outcome = fetch(m_server->url(u"/tool.zip"_qs), progress);
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.error);
        QCOMPARE(*outcome.value, m_server->url(u"/tool.zip"_qs));
        QCOMPARE(contentOf(destination()), response.body);
        QCOMPARE(folder(), QStringList{u"tool.zip"_qs});
        if (!reportsProgress) {
            QCOMPARE(progress.values, QList<double>());
            return;
        }
        QVERIFY(progress.values.size() > 1);
        QVERIFY(std::is_sorted(progress.values.cbegin(), progress.values.cend()));
        QVERIFY(progress.values.first() > 0);
        QCOMPARE(progress.values.last(), 1.0);
        QVERIFY(progress.allOnMainThread);
    }

    void replacesAnExistingFile() {
        writeDestination("an older and longer file");
        m_server->route(u"/tool.zip"_qs, body("new"));
        Progress progress;
        const auto outcome = fetch(m_server->url(u"/tool.zip"_qs), progress);
        QVERIFY(!outcome.error);
        QCOMPARE(contentOf(destination()), QByteArray("new"));
        QCOMPARE(folder(), QStringList{u"tool.zip"_qs});
    }

    void returnsTheAddressAfterRedirects() {
        m_server->redirect(u"/latest"_qs, QUrl(u"/release"_qs), 301);
        m_server->redirect(u"/release"_qs, QUrl(u"/files/tool.zip"_qs));
        m_server->route(u"/files/tool.zip"_qs, body("payload"));
        Progress progress;
        const auto outcome = fetch(m_server->url(u"/latest"_qs), progress);
        QVERIFY(!outcome.error);
        QCOMPARE(*outcome.value, m_server->url(u"/files/tool.zip"_qs));
        QCOMPARE(contentOf(destination()), QByteArray("payload"));
        // Qt sends a GET once more when the server's close overtakes its reading of the
        // answer (about one run in seven here); the chain of addresses is what counts.
        QStringList chain = m_server->requests();
        chain.erase(std::unique(chain.begin(), chain.end()), chain.end());
        QCOMPARE(chain, (QStringList{u"/latest"_qs, u"/release"_qs, u"/files/tool.zip"_qs}));
    }

    void httpStatusFails_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("redirected");
        QTest::newRow("not found") << 404 << false;
        QTest::newRow("server error with a body") << 500 << false;
        QTest::newRow("not found after a redirect") << 404 << true;
    }

    // The message names the address that was asked for, and neither the error page nor a
    // temporary file is left behind; an older file at the destination stays as it was.
    void httpStatusFails() {
        QFETCH(int, code);
        QFETCH(bool, redirected);
        m_server->route(u"/gone"_qs, status(code, randomBytes(20000)));
        m_server->redirect(u"/moved"_qs, QUrl(u"/gone"_qs));
        const QUrl requested = m_server->url(redirected ? u"/moved"_qs : u"/gone"_qs);
        writeDestination("the older file");

        Progress progress;
        const auto outcome = fetch(requested, progress);
        QVERIFY(outcome.finished);
        const std::optional<ToolError> error = outcome.errorAs<ToolError>();
        QVERIFY(error);
        QVERIFY(error->errorCase() == ToolError::Case(ToolError::Http{code, requested}));
        QCOMPARE(error->message(),
                 u"Server returned "_qs + QString::number(code) + u" for 127.0.0.1.");
        QCOMPARE(contentOf(destination()), QByteArray("the older file"));
        QCOMPARE(folder(), QStringList{u"tool.zip"_qs});
        QCOMPARE(progress.values, QList<double>());
    }

    void transportFails_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("keepsOlderFile");
        QTest::newRow("connection cut mid-body") << u"/cut"_qs << false;
        QTest::newRow("connection cut, older file kept") << u"/cut"_qs << true;
        QTest::newRow("endless redirects") << u"/loop"_qs << false;
        QTest::newRow("nobody listening") << QString() << false;
    }

    void transportFails() {
        QFETCH(QString, path);
        QFETCH(bool, keepsOlderFile);
        HttpServer::Response cut = body(randomBytes(100000));
        cut.cutAfter = 30000;
        m_server->route(u"/cut"_qs, cut);
        m_server->redirect(u"/loop"_qs, QUrl(u"/loop"_qs));
        QUrl source = m_server->url(path);
        if (path.isEmpty()) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            source.setPort(closed.serverPort());
            source.setPath(u"/tool.zip"_qs);
        }
        if (keepsOlderFile)
            writeDestination("the older file");

        Progress progress;
        const auto outcome = fetch(source, progress);
        QVERIFY(outcome.finished);
        const std::optional<PlatformError> error = outcome.errorAs<PlatformError>();
        QVERIFY(error);
        QVERIFY(!error->message().isEmpty());
        if (keepsOlderFile) {
            QCOMPARE(contentOf(destination()), QByteArray("the older file"));
            QCOMPARE(folder(), QStringList{u"tool.zip"_qs});
        } else {
            QCOMPARE(folder(), QStringList());
        }
    }

    void missingFolderFailsBeforeAsking() {
        m_server->route(u"/tool.zip"_qs, body("payload"));
        Progress progress;
        const auto outcome = runTask(
            FileDownload::fetch(m_server->url(u"/tool.zip"_qs),
                                QUrl::fromLocalFile(m_dir->filePath(u"no/such/folder/tool.zip"_qs)),
                                progress.callback()));
        QVERIFY(outcome.errorAs<PlatformError>());
        QCOMPARE(m_server->requests(), QStringList());
    }

    void keepsTheLoopTurning() {
        HttpServer::Response slow = body(randomBytes(64 * 1024));
        slow.chunkSize = 4 * 1024;
        slow.interval = std::chrono::milliseconds(25);
        m_server->route(u"/slow"_qs, slow);
        Progress progress;
        const auto outcome = fetch(m_server->url(u"/slow"_qs), progress);
        QVERIFY(!outcome.error);
        QCOMPARE(contentOf(destination()), slow.body);
        QVERIFY2(outcome.loopTurns > 20, qPrintable(QString::number(outcome.loopTurns)));
        QVERIFY(progress.values.size() > 2);
        QVERIFY(progress.allOnMainThread);
    }

    // Needs TLS on the loopback interface: a throw-away certificate from the openssl tool,
    // trusted by this process only.
    void refusesRedirectFromHttpsToHttp() {
        const QString openssl = QStandardPaths::findExecutable(u"openssl"_qs);
        if (openssl.isEmpty() || !QSslSocket::supportsSsl())
            QSKIP("needs the openssl tool and Qt's TLS backend");
        QProcess make;
        make.setWorkingDirectory(m_dir->path());
        make.start(openssl, {u"req"_qs, u"-x509"_qs, u"-newkey"_qs, u"ec"_qs, u"-pkeyopt"_qs,
                             u"ec_paramgen_curve:prime256v1"_qs, u"-nodes"_qs, u"-days"_qs, u"2"_qs,
                             u"-subj"_qs, u"/CN=127.0.0.1"_qs, u"-addext"_qs,
                             u"subjectAltName=IP:127.0.0.1"_qs, u"-keyout"_qs, u".key.pem"_qs,
                             u"-out"_qs, u".cert.pem"_qs});
        QVERIFY(make.waitForFinished(60000));
        QCOMPARE(make.exitCode(), 0);
        const QList<QSslCertificate> certificates =
            QSslCertificate::fromPath(m_dir->filePath(u".cert.pem"_qs));
        QCOMPARE(certificates.size(), 1);
        QSslKey key(contentOf(m_dir->filePath(u".key.pem"_qs)), QSsl::Ec);
        QVERIFY(!key.isNull());
        QVERIFY(QFile::remove(m_dir->filePath(u".key.pem"_qs)));
        QVERIFY(QFile::remove(m_dir->filePath(u".cert.pem"_qs)));

        const QSslConfiguration clientDefault = QSslConfiguration::defaultConfiguration();
        QSslConfiguration client = clientDefault;
        client.addCaCertificates(certificates);
        QSslConfiguration::setDefaultConfiguration(client);
        const auto restore =
            qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(clientDefault); });

        QSslConfiguration serverTls = QSslConfiguration::defaultConfiguration();
        serverTls.setLocalCertificate(certificates.first());
        serverTls.setPrivateKey(key);
        serverTls.setPeerVerifyMode(QSslSocket::VerifyNone);
        HttpServer secure(serverTls);
        secure.redirect(u"/secure"_qs, QUrl(u"/tool.zip"_qs));
        secure.route(u"/tool.zip"_qs, body("over tls"));
        secure.redirect(u"/downgrade"_qs, m_server->url(u"/tool.zip"_qs));
        m_server->route(u"/tool.zip"_qs, body("in the clear"));

        Progress progress;
        const auto upheld = fetch(secure.url(u"/secure"_qs), progress);
        QVERIFY(!upheld.error);
        QCOMPARE(*upheld.value, secure.url(u"/tool.zip"_qs));
        QCOMPARE(contentOf(destination()), QByteArray("over tls"));
        QVERIFY(QFile::remove(destination()));

        const auto downgraded = fetch(secure.url(u"/downgrade"_qs), progress);
        QVERIFY(downgraded.finished);
        QVERIFY(downgraded.errorAs<PlatformError>());
        QCOMPARE(m_server->requests(), QStringList());
        QCOMPARE(folder(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestFileDownload)
#include "tst_filedownload.moc"
