// Creates the files of the largest scan the station makes (KIREL-5000/5100, every tile at
// 25 um: 18,400 x 16,000 pixels, 588.8 MB per image file) and prints how long it took,
// with and without the raw copy, and whether the space is really reserved.
//
//   bench_scanfiles [folder]     (default: a temporary folder; the files are removed)
#include "scanstate.h"
#include "scanwindow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <cstdio>

namespace
{

constexpr int kWidth = 18400;  // 460 mm at 25 um
constexpr int kHeight = 16000; // 400 mm at 25 um

struct Result {
    double ms = 0;
    qint64 size = 0;
    qint64 allocated = 0;
    bool ok = false;
};

Result Create(const QString &folder, bool raw)
{
    ScannerType = kModelKIREL5;
    image_dir = folder;
    image_name = raw ? QStringLiteral("bench_raw") : QStringLiteral("bench");
    newscansetup.width = kWidth;
    newscansetup.height = kHeight;
    newscansetup.resolution = 25;
    scanparams[7] = 25;
    sysparams.rawdatasave = raw ? 1 : 0;
    sysparams.readlog = 0;

    QElapsedTimer timer;
    timer.start();
    const QString problem = ScanFilesCreate();
    Result r;
    r.ms = double(timer.nsecsElapsed()) / 1e6;
    r.ok = problem.isEmpty();
    if (!r.ok)
        std::printf("  %s\n", qPrintable(problem));
    struct stat st {
    };
    if (::stat(QFile::encodeName(ScanFilePath(".img")).constData(), &st) == 0) {
        r.size = st.st_size;
        r.allocated = qint64(st.st_blocks) * 512;
    }
    ScanFilesRemove();
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    std::printf("Image files of the largest scan: %d x %d pixels, %.1f MB each, in %s\n", kWidth,
                kHeight, double(kWidth) * kHeight * 2 / 1e6, qPrintable(folder));
    for (bool raw : {false, true}) {
        const Result r = Create(folder, raw);
        std::printf("  %-14s %s  %8.1f ms  size %lld bytes, %lld bytes reserved\n",
                    raw ? ".img + .raw" : ".img", r.ok ? "ok    " : "FAILED", r.ms,
                    static_cast<long long>(r.size), static_cast<long long>(r.allocated));
    }
    return 0;
}
