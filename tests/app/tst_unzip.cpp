#include "TaskRunner.h"
#include "ToolError.h"
#include "ToolRunner.h"
#include "ZipBuilder.h"
#include "ZipExtractor.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

Q_DECLARE_METATYPE(std::function<QByteArray(const QString &)>)

namespace {

// Builds an archive's bytes; the argument is the test's root folder, for entries that name
// places outside the destination.
using ArchiveMaker = std::function<QByteArray(const QString &root)>;

// Everything under a folder, as relative paths, links not followed.
QStringList treeOf(const QString &folder) {
    QStringList paths;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(QDir(folder).relativeFilePath(it.next()));
    paths.sort();
    return paths;
}

QByteArray contentOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestUnzip : public QObject {
    Q_OBJECT

private:
    // A fresh root per test: the archive "evil.zip" and the destination "dest" inside it.
    std::unique_ptr<QTemporaryDir> m_root;

    QString root() const { return m_root->path(); }
    QString dest() const { return m_root->filePath(u"dest"_qs); }

    QString writeArchive(const QByteArray &bytes, const QString &name = u"evil.zip"_qs) {
        QFile file(m_root->filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write the archive");
        return file.fileName();
    }

    TaskOutcome<std::monostate> unzip(const QString &archive) {
        return runTask(ToolRunner::unzip(QUrl::fromLocalFile(archive), QUrl::fromLocalFile(dest())),
                       std::chrono::minutes(2));
    }

private Q_SLOTS:
    void init() {
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(m_root->isValid());
    }

    void unpacksTheTree() {
        const QString archive = writeArchive(ZipBuilder()
                                                 .directory(u"bin"_qs)
                                                 .file(u"bin/tool"_qs, "#!/bin/sh\necho hi\n", 0755)
                                                 .symlink(u"bin/alias"_qs, u"tool"_qs)
                                                 .file(u"README"_qs, "read me\n", 0644)
                                                 .file(u"deep/a/b/c.txt"_qs, "deep\n")
                                                 .directory(u"empty"_qs)
                                                 .build(),
                                             u"tool.zip"_qs);
        const auto outcome = unzip(archive);
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.error);

        QCOMPARE(treeOf(dest()),
                 (QStringList{u"README"_qs, u"bin"_qs, u"bin/alias"_qs, u"bin/tool"_qs, u"deep"_qs,
                              u"deep/a"_qs, u"deep/a/b"_qs, u"deep/a/b/c.txt"_qs, u"empty"_qs}));
        QCOMPARE(contentOf(dest() + u"/bin/tool"), QByteArray("#!/bin/sh\necho hi\n"));
        QCOMPARE(contentOf(dest() + u"/deep/a/b/c.txt"), QByteArray("deep\n"));
        QVERIFY(QFileInfo(dest() + u"/bin/tool").isExecutable());
        QVERIFY(!QFileInfo(dest() + u"/README").isExecutable());
        QCOMPARE(QFileInfo(dest() + u"/bin/alias").symLinkTarget(),
                 QFileInfo(dest() + u"/bin/tool").canonicalFilePath());
    }

    void replacesExistingFiles() {
        QVERIFY(QDir().mkpath(dest()));
        QFile old(dest() + u"/README");
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old and longer than the new one\n");
        old.close();
        const auto outcome = unzip(writeArchive(ZipBuilder().file(u"README"_qs, "new\n").build()));
        QVERIFY(!outcome.error);
        QCOMPARE(contentOf(dest() + u"/README"), QByteArray("new\n"));
    }

    // Tens of megabytes take long enough to see the loop turn while a worker unpacks.
    void keepsTheLoopTurning() {
        const qint64 size = qint64(192) << 20;
        const auto outcome = unzip(writeArchive(ZipBuilder().zeros(u"zeros"_qs, size).build()));
        QVERIFY(!outcome.error);
        QCOMPARE(QFileInfo(dest() + u"/zeros").size(), size);
        QVERIFY2(outcome.loopTurns > 5, qPrintable(QString::number(outcome.loopTurns)));
    }

    void refuses_data() {
        QTest::addColumn<ArchiveMaker>("make");
        QTest::newRow("parent component") << ArchiveMaker(
            [](const QString &) { return ZipBuilder().file(u"../escaped"_qs, "x").build(); });
        QTest::newRow("parent component inside") << ArchiveMaker(
            [](const QString &) { return ZipBuilder().file(u"a/../../escaped"_qs, "x").build(); });
        QTest::newRow("absolute path") << ArchiveMaker(
            [](const QString &root) { return ZipBuilder().file(root + u"/escaped", "x").build(); });
        QTest::newRow("link to the parent") << ArchiveMaker(
            [](const QString &) { return ZipBuilder().symlink(u"up"_qs, u".."_qs).build(); });
        QTest::newRow("absolute link") << ArchiveMaker(
            [](const QString &root) { return ZipBuilder().symlink(u"out"_qs, root).build(); });
        QTest::newRow("write through a link") << ArchiveMaker([](const QString &) {
            return ZipBuilder().symlink(u"up"_qs, u"../"_qs).file(u"up/escaped"_qs, "x").build();
        });
        QTest::newRow("chain of links") << ArchiveMaker([](const QString &) {
            return ZipBuilder()
                .symlink(u"here"_qs, u"."_qs)
                .symlink(u"out"_qs, u"here/.."_qs)
                .build();
        });
        QTest::newRow("bad entry last") << ArchiveMaker([](const QString &) {
            return ZipBuilder()
                .file(u"fine"_qs, "fine")
                .directory(u"dir"_qs)
                .file(u"../escaped"_qs, "x")
                .build();
        });
        QTest::newRow("more than 2 GiB") << ArchiveMaker([](const QString &) {
            return ZipBuilder()
                .file(u"small"_qs, "small")
                .zeros(u"big"_qs, ZipExtractor::maxUnpackedBytes)
                .build();
        });
    }

    // Refused archives write nothing at all: every entry is checked before the first write.
    void refuses() {
        QFETCH(ArchiveMaker, make);
        const auto outcome = unzip(writeArchive(make(root())));
        QVERIFY(outcome.finished);
        const std::optional<ToolError> error = outcome.errorAs<ToolError>();
        QVERIFY(error);
        QCOMPARE(error->message(), u"Could not unpack evil.zip."_qs);
        QCOMPARE(treeOf(root()), (QStringList{u"dest"_qs, u"evil.zip"_qs}));
    }

    void damaged_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray good = ZipBuilder()
                                    .file(u"one"_qs, QByteArray(100000, 'a'))
                                    .file(u"two"_qs, QByteArray(100000, 'b'))
                                    .build();
        QTest::newRow("truncated") << good.left(good.size() / 2);
        QByteArray flipped = good;
        flipped[60] = char(flipped[60] ^ 0x55);
        QTest::newRow("corrupt data") << flipped;
        QTest::newRow("not a zip") << QByteArray("just some text\n");
        QTest::newRow("empty") << QByteArray();
    }

    void damaged() {
        QFETCH(QByteArray, bytes);
        const auto outcome = unzip(writeArchive(bytes));
        QVERIFY(outcome.finished);
        const std::optional<ToolError> error = outcome.errorAs<ToolError>();
        QVERIFY(error);
        QCOMPARE(error->message(), u"Could not unpack evil.zip."_qs);
        const QStringList outside = treeOf(root()).filter(QRegularExpression(u"^(?!dest)"_qs));
        QCOMPARE(outside, QStringList{u"evil.zip"_qs});
    }

    void missingArchive() {
        const auto outcome = unzip(m_root->filePath(u"ffmpeg.zip"_qs));
        const std::optional<ToolError> error = outcome.errorAs<ToolError>();
        QVERIFY(error);
        QCOMPARE(error->message(), u"Could not unpack ffmpeg.zip."_qs);
    }
};

QTEST_GUILESS_MAIN(TestUnzip)
#include "tst_unzip.moc"
