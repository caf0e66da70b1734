// Update benchmarks: the archive digest (OpenSSL's SHA-256, with Qt's for comparison) and
// unpacking a 100 MB release archive with the bundled ditto against bsdtar.
//
//   bench_update [MEGABYTES]    size of the digest input and of the archive (default 100)

#include "Zip.h"
#include "platform/Sha256.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

using namespace pinlark;

namespace {

double seconds(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e9;
}

// Runs a command and gives its wall time in seconds, or -1 when it failed.
double timed(const QString& program, const QStringList& args) {
    QElapsedTimer t;
    t.start();
    const int status = QProcess::execute(program, args);
    return status == 0 ? seconds(t) : -1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 100;
    QTemporaryDir dir;

    // The digest input: a file of random bytes, hashed from the page cache after one warm-up.
    const QString input = dir.filePath(QStringLiteral("input.bin"));
    {
        QFile file(input);
        file.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (qint64 i = 0; i < megabytes; ++i) {
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()),
                                                  block.size() / 4);
            file.write(block);
        }
    }
    Sha256::ofFile(input);
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        Sha256::ofFile(input);
        best = std::min(best, seconds(t));
    }
    std::printf("sha256 (OpenSSL EVP, streamed from file): %.0f MB/s\n", megabytes / best);
    {
        QFile file(input);
        file.open(QIODevice::ReadOnly);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        QElapsedTimer t;
        t.start();
        hash.addData(&file);
        std::printf("sha256 (QCryptographicHash, for comparison): %.0f MB/s\n",
                    megabytes / seconds(t));
    }

    // The archive: a bundle of 200 files, half random and half text-like, ~100 MB unpacked.
    const QString zip = dir.filePath(QStringLiteral("Pinlark.zip"));
    {
        QList<ZipEntry> entries;
        const qint64 fileSize = megabytes * (1 << 20) / 200;
        for (int i = 0; i < 200; ++i) {
            ZipEntry e;
            e.path = QStringLiteral("Pinlark.app/Contents/Resources/file%1").arg(i);
            e.data.resize(fileSize);
            if (i % 2 == 0)
                QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(e.data.data()),
                                                      e.data.size() / 4);
            else
                for (qint64 j = 0; j < fileSize; ++j)
                    e.data[j] = char('a' + (j * 7 + j / 13) % 26);
            entries.append(e);
        }
        const QString error = writeZip(zip, entries);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "bench_update: %s\n", qPrintable(error));
            return 1;
        }
    }
    std::printf("archive: %.1f MB compressed, %lld MB unpacked\n",
                double(QFileInfo(zip).size()) / (1 << 20), megabytes);
    const QString ditto = QStringLiteral(PINLARK_APP_PATH "/Contents/Helpers/ditto");
    double dittoBest = 1e9, bsdtarBest = 1e9;
    for (int i = 0; i < 3; ++i) {
        const QString a = dir.filePath(QStringLiteral("ditto%1").arg(i));
        const QString b = dir.filePath(QStringLiteral("bsdtar%1").arg(i));
        QDir().mkpath(b);
        dittoBest = std::min(dittoBest, timed(ditto, {"-x", "-k", zip, a}));
        bsdtarBest = std::min(bsdtarBest, timed(QStringLiteral("bsdtar"), {"-xf", zip, "-C", b}));
        QDir(a).removeRecursively();
        QDir(b).removeRecursively();
    }
    std::printf("unpack (best of 3): ditto %.3f s, bsdtar %.3f s\n", dittoBest, bsdtarBest);
    return 0;
}
