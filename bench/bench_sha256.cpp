// Hashes a 1 GiB sparse file with ToolRunner::sha256 and with sha256sum, and prints the
// throughput of both, their ratio and the peak memory of this process.

#include "PlatformError.h"
#include "ToolRunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <optional>
#include <sys/resource.h>

namespace {

constexpr qint64 fileSize = qint64(1) << 30;
constexpr int rounds = 3;

QCoro::Task<std::optional<QString>> digestOf(QString path) {
    try {
        co_return co_await ToolRunner::sha256(QUrl::fromLocalFile(path));
    } catch (const PlatformError &error) {
        std::fprintf(stderr, "sha256 failed: %s\n", error.what());
        co_return std::nullopt;
    }
}

long peakResidentKiB(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss;
}

double megabytesPerSecond(qint64 nanoseconds) {
    return double(fileSize) / 1e6 / (double(nanoseconds) / 1e9);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QFile sparse(dir.filePath(QStringLiteral("sparse")));
    if (!dir.isValid() || !sparse.open(QIODevice::WriteOnly) || !sparse.resize(fileSize)) {
        std::fprintf(stderr, "cannot create the 1 GiB sparse file\n");
        return 1;
    }
    sparse.close();
    const QString path = sparse.fileName();
    const long peakBefore = peakResidentKiB(RUSAGE_SELF);

    qint64 tovikBest = 0;
    QString tovikDigest;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        const std::optional<QString> digest = QCoro::waitFor(digestOf(path));
        const qint64 elapsed = timer.nsecsElapsed();
        if (!digest)
            return 1;
        tovikDigest = *digest;
        tovikBest = round == 0 ? elapsed : std::min(tovikBest, elapsed);
    }
    const long peakAfter = peakResidentKiB(RUSAGE_SELF);

    const QString sha256sum = QStandardPaths::findExecutable(QStringLiteral("sha256sum"));
    qint64 referenceBest = 0;
    QString referenceDigest;
    for (int round = 0; !sha256sum.isEmpty() && round < rounds; ++round) {
        QProcess reference;
        QElapsedTimer timer;
        timer.start();
        reference.start(sha256sum, {path});
        if (!reference.waitForFinished(-1) || reference.exitCode() != 0) {
            std::fprintf(stderr, "sha256sum failed\n");
            return 1;
        }
        const qint64 elapsed = timer.nsecsElapsed();
        referenceDigest = QString::fromLatin1(reference.readAllStandardOutput().left(64));
        referenceBest = round == 0 ? elapsed : std::min(referenceBest, elapsed);
    }

    std::printf("file: 1 GiB sparse, best of %d rounds\n", rounds);
    std::printf("ToolRunner::sha256  %8.1f MB/s  %s\n", megabytesPerSecond(tovikBest),
                qPrintable(tovikDigest));
    if (sha256sum.isEmpty()) {
        std::printf("sha256sum           not installed\n");
    } else {
        std::printf("sha256sum           %8.1f MB/s  %s\n", megabytesPerSecond(referenceBest),
                    qPrintable(referenceDigest));
        std::printf("ratio (Tovik / sha256sum): %.2f, digests %s\n",
                    double(referenceBest) / double(tovikBest),
                    tovikDigest == referenceDigest ? "equal" : "DIFFER");
    }
    std::printf("peak RSS of this process: %ld KiB before hashing, %ld KiB after (+%ld KiB)\n",
                peakBefore, peakAfter, peakAfter - peakBefore);
    return tovikDigest == referenceDigest || sha256sum.isEmpty() ? 0 : 1;
}
