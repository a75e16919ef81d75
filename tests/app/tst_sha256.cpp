#include "PlatformError.h"
#include "TaskRunner.h"
#include "ToolRunner.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <sys/resource.h>

namespace {

constexpr qsizetype mebibyte = 1024 * 1024;

QByteArray randomBytes(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (char &byte : data)
        byte = char(generator.bounded(256));
    return data;
}

qint64 peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Whether this process still holds a descriptor open on the file (Linux only).
bool holdsOpen(const QString &path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    QDir descriptors(u"/proc/self/fd"_qs);
    const QStringList entries = descriptors.entryList(QDir::Files | QDir::System);
    return std::any_of(entries.cbegin(), entries.cend(), [&](const QString &entry) {
        return QFileInfo(descriptors.filePath(entry)).symLinkTarget() == canonical;
    });
}

} // namespace

class TestSha256 : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &data) {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            qFatal("cannot write the test file");
        return file.fileName();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void digest_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("digest");
        // The two short cases are the published FIPS 180-4 examples.
        QTest::newRow("empty")
            << QByteArray()
            << u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"_qs;
        QTest::newRow("abc")
            << QByteArray("abc")
            << u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"_qs;
        // Around the chunk size, checked against hashing the content in one piece.
        for (const qsizetype size : {mebibyte - 1, mebibyte, mebibyte + 1, 3 * mebibyte + 7}) {
            const QByteArray content = randomBytes(size);
            QTest::addRow("%lld bytes", qlonglong(size))
                << content
                << QString::fromLatin1(
                       QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
        }
    }

    void digest() {
        QFETCH(QByteArray, content);
        QFETCH(QString, digest);
        const QString path = write(QString::fromLatin1(QTest::currentDataTag()), content);
        const auto outcome = runTask(ToolRunner::sha256(QUrl::fromLocalFile(path)));
        QVERIFY(outcome.finished);
        QCOMPARE(*outcome.value, digest);
        QVERIFY(!holdsOpen(path));
    }

    void failures_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << m_dir.filePath(u"missing"_qs);
        QTest::newRow("a folder") << m_dir.path();
        // Opens fine, then every read fails.
        QTest::newRow("unreadable") << u"/proc/self/mem"_qs;
    }

    void failures() {
        QFETCH(QString, path);
        if (path.startsWith(u"/proc/"_qs) && !QFile::exists(path))
            QSKIP("needs Linux /proc");
        const auto outcome = runTask(ToolRunner::sha256(QUrl::fromLocalFile(path)));
        QVERIFY(outcome.finished);
        const std::optional<PlatformError> error = outcome.errorAs<PlatformError>();
        QVERIFY(error);
        QVERIFY(!error->message().isEmpty());
        if (QFile::exists(u"/proc/self/fd"_qs))
            QVERIFY(!holdsOpen(path));
    }

    // A 1 GiB file is hashed with little more memory than one chunk, and the event loop
    // keeps running meanwhile.
    void largeFileInBoundedMemory() {
        const QString path = m_dir.filePath(u"sparse"_qs);
        QFile sparse(path);
        QVERIFY(sparse.open(QIODevice::WriteOnly));
        QVERIFY(sparse.resize(qint64(1) << 30));
        sparse.close();

        const qint64 peakBefore = peakResidentKiB();
        const auto outcome =
            runTask(ToolRunner::sha256(QUrl::fromLocalFile(path)), std::chrono::minutes(2));
        QVERIFY(outcome.finished);
        QVERIFY(outcome.value);
        const qint64 growthKiB = peakResidentKiB() - peakBefore;
        QVERIFY2(growthKiB < 32 * 1024, qPrintable(QString::number(growthKiB)));
        QVERIFY2(outcome.loopTurns > 10, qPrintable(QString::number(outcome.loopTurns)));

        const QString sha256sum = QStandardPaths::findExecutable(u"sha256sum"_qs);
        if (sha256sum.isEmpty())
            QSKIP("sha256sum is not installed; the digest was not compared");
        QProcess reference;
        reference.start(sha256sum, {path});
        QVERIFY(reference.waitForFinished(120000));
        QCOMPARE(*outcome.value, QString::fromLatin1(reference.readAllStandardOutput().left(64)));
    }
};

QTEST_GUILESS_MAIN(TestSha256)
#include "tst_sha256.moc"
