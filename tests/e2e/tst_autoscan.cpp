// scanstation-sim --auto-scan as a script would run it: one process per model and
// resolution, offscreen, at the station's default settings (no data files) and at every
// resolution the model offers (template record 0 written beforehand, as the last scan's
// settings). Each run must end with "SCAN COMPLETE" and exit 0 and leave the image of the
// first tile, worked out from the phantom (phantomexpect.h). The runs go side by side, as they
// mostly wait on the windows' timers.
#include "datafiles.h"
#include "phantomexpect.h"
#include "scanstate.h"
#include "stationfixture.h"
#include "stationpaths.h"
#include "testprogram.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

using namespace expect;

namespace
{

// Only a guard against a run that never ends: the runs take seconds natively, but the
// suite also runs under qemu, many times slower, with other tests beside it.
constexpr int kRunLimitMs = 600000;

struct AutoRun {
    int model = 0;
    int resolution = 0; // 0: the default settings
    int scanned = 0;    // the resolution the scan is made at
    Area area;
    QString root;
    std::unique_ptr<TestProgram> process;
};

// Record 0 as the last scan left it: IP mode, the first tile, this resolution.
void LastScanSettingsWrite(const QString &root, int model, int resolution)
{
    ResetSharedState(model);
    StationRoot = root;
    ScanTempl &t = scanTemplate[0];
    t.name = QStringLiteral("startup");
    t.resolution = resolution;
    t.folder = root + QStringLiteral("/home");
    QVERIFY(TemplatesWrite(1));
    StationRoot.clear();
}

} // namespace

class TestAutoScan : public QObject
{
    Q_OBJECT

private slots:
    void everyModelEveryResolution();
    void failedScanExitsWithOne_data();
    void failedScanExitsWithOne();
    void fileInTheWay_data();
    void fileInTheWay();
    void signalCutsTheScanShort_data();
    void signalCutsTheScanShort();
};

void TestAutoScan::everyModelEveryResolution()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const struct {
        int model;
        int defaultResolution; // the VESK-5000 has no 200 um and falls back to 100 um
        QVector<int> offered;
        qint64 firstTileY0;
    } models[] = {
        {kKirel5, 200, {200, 100, 50, 25}, 375000},
        {kVesk5000, 100, {100, 50, 25}, 178500},
        {kVesk1800, 200, {200, 100, 50}, 203500},
    };
    std::vector<AutoRun> runs;
    for (const auto &m : models) {
        QVector<int> resolutions{0};
        resolutions += m.offered;
        for (int r : resolutions) {
            AutoRun run;
            run.model = m.model;
            run.resolution = r;
            run.scanned = r ? r : m.defaultResolution;
            // The first tile of the grid (the default selection) on the bed or plate.
            run.area = {0, m.firstTileY0, 25000, 25000};
            run.root = tmp.filePath(QStringLiteral("m%1r%2").arg(m.model).arg(r));
            for (const char *dir : {"/home/pi/KIREL5-IR", "/home/pi/VESK-IR"})
                QVERIFY(QDir().mkpath(run.root + QLatin1String(dir)));
            if (r)
                LastScanSettingsWrite(run.root, m.model, r);
            runs.push_back(std::move(run));
        }
    }
    for (AutoRun &run : runs) {
        run.process.reset(new TestProgram);
        QVERIFY(run.process->start(QStringLiteral(SCANSTATION_SIM_PATH),
                                   {"--model", QString::number(run.model), "--root", run.root,
                                    "--selftest-ms", "0", "--auto-scan", "scan", "--screenshot",
                                    run.root + QStringLiteral("/scan.png")}));
    }
    for (AutoRun &run : runs) {
        const QString tag = QStringLiteral("model %1 at %2 um%3")
                                .arg(run.model)
                                .arg(run.scanned)
                                .arg(run.resolution ? QString() : QStringLiteral(" (default)"));
        TestProgram &p = *run.process;
        if (!p.waitForFinished(kRunLimitMs)) {
            p.kill();
            QFAIL(qPrintable(tag + QStringLiteral(": did not end")));
        }
        const QString err = QString::fromLocal8Bit(p.standardError());
        const QStringList out =
            QString::fromLocal8Bit(p.standardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(p.exitCode() == 0,
                 qPrintable(tag + QStringLiteral(": ") + out.join(QLatin1Char('|')) + err));
        QCOMPARE(out, (QStringList{"SCAN COMPLETE", "SCAN SUCCESSFULLY COMPLETED"}));

        // Every run is in IP mode, which the KIREL-5000/5100 reads with its 635 nm laser
        // (code 4); the flat IP table leaves that laser's shading in the image.
        const bool plate = run.model != kKirel5;
        const Picture want =
            plate ? PlateExpected(run.model, run.area, run.scanned)
                  : FluorescenceExpected(run.area, run.scanned, ShadingSelectorFor(false, 4), true);
        const QString image = run.root + QStringLiteral("/home/scan.img");
        QVERIFY2(err.contains(QStringLiteral("image ") + image), qPrintable(tag + err));
        const QString diff =
            PictureDifference(PictureRead(image, want.columns), want, plate ? 0 : 0.003);
        QVERIFY2(diff.isEmpty(), qPrintable(tag + QStringLiteral(": ") + diff));
        QVERIFY(QFile::exists(run.root + QStringLiteral("/home/scan.inf")));
        // The picture is the scan window's.
        QCOMPARE(QImage(run.root + QStringLiteral("/scan.png")).size(), QSize(900, 750));
    }
}

void TestAutoScan::failedScanExitsWithOne_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text"); // a part of the last box's text
    QTest::newRow("no plate at START") << 4 << QStringList{"--fault", "no-plate"} << "SCAN ERROR"
                                       << "No Imaging Plate";
    QTest::newRow("START fails") << 8 << QStringList{"--fault", "start-fails"} << "SCAN ERROR"
                                 << "The scanner did not start the scan";
    // Escape 3 s after the window opened, well inside the 12.5 s of the scan.
    QTest::newRow("stopped with Escape")
        << 11 << QStringList{"--line-ms", "100", "--auto-stop", "3000"} << "SCAN STOPPED"
        << "SCAN STOPPED BY USER";
    // The name is taken: the last box is the file-name error.
    QTest::newRow("name taken") << 4 << QStringList() << "File Name Error"
                                << "File Name Already Exists!";
}

// A scan that does not complete: the last box is printed and the exit status is 1.
void TestAutoScan::failedScanExitsWithOne()
{
    QFETCH(int, model);
    QFETCH(QStringList, extra);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    if (extra.isEmpty()) {
        QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("home"))));
        QVERIFY(QFile(tmp.filePath(QStringLiteral("home/scan.img"))).open(QIODevice::WriteOnly));
    }
    TestProgram p;
    QVERIFY(p.start(QStringLiteral(SCANSTATION_SIM_PATH),
                    QStringList{"--model", QString::number(model), "--root", tmp.path(),
                                "--selftest-ms", "0", "--auto-scan", "scan"} +
                        extra));
    if (!p.waitForFinished(kRunLimitMs))
        p.kill();
    const QStringList out =
        QString::fromLocal8Bit(p.standardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(p.exitCode(), 1);
    QCOMPARE(out.value(0), title);
    QVERIFY2(out.value(1).contains(text), qPrintable(out.join('|')));
}

void TestAutoScan::signalCutsTheScanShort_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("sig");
    QTest::addColumn<QString>("errorLog");
    QTest::newRow("VESK-1800II SIGTERM") << 4 << int(SIGTERM) << "/home/pi/VESK-IR/VESK_error.log";
    QTest::newRow("KIREL-5000/5100 SIGINT")
        << 11 << int(SIGINT) << "/home/pi/KIREL5-IR/KIREL5_error.log";
}

// The signal comes once the first lines are in the image, 12.5 s before the scan would end:
// the process ends with 128 + the signal, no box, the lines kept and the image on record as
// incomplete.
void TestAutoScan::signalCutsTheScanShort()
{
    QFETCH(int, model);
    QFETCH(int, sig);
    QFETCH(QString, errorLog);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    TestProgram p;
    QVERIFY(p.start(QStringLiteral(SCANSTATION_SIM_PATH),
                    {"--model", QString::number(model), "--root", tmp.path(), "--selftest-ms", "0",
                     "--line-ms", "100", "--auto-scan", "scan"}));
    const QString image = tmp.filePath(QStringLiteral("home/scan.img"));
    auto linesIn = [&image] {
        QFile f(image);
        return f.open(QIODevice::ReadOnly) && f.readAll().count('\0') < f.size();
    };
    QTRY_VERIFY_WITH_TIMEOUT(linesIn() || p.waitForFinished(0), kRunLimitMs);
    p.sendSignal(sig);
    if (!p.waitForFinished(kRunLimitMs))
        p.kill();
    QCOMPARE(p.exitCode(), 128 + sig);
    QCOMPARE(p.standardOutput(), QByteArray());
    QVERIFY(linesIn());
    QFile log(tmp.path() + errorLog);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY2(log.readAll().contains("IMAGE INCOMPLETE: " + QFile::encodeName(image)),
             qPrintable(p.standardError()));
}

void TestAutoScan::fileInTheWay_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("file");        // fixed path of the data file
    QTest::addColumn<int>("obstacle");        // what stands in its place
    QTest::addColumn<QString>("said");        // on the standard error, as the box
    QTest::addColumn<QString>("bootLogSays"); // in the boot log
    // Start Scan saves the settings as record 0: not through the link, and the box says why.
    QTest::newRow("link in place of the templates")
        << 11 << "/home/pi/KIREL5-IR/scan_templates.tpl" << int(Obstacle::Link)
        << "box FILE ERROR: The settings of this scan could not be saved:" << QString();
    // Start-up reads the system parameters: a FIFO would hold it for ever.
    QTest::newRow("FIFO in place of the system parameters")
        << 4 << "/home/pi/VESK-IR/sysparam.dat" << int(Obstacle::Fifo) << QString()
        << "FILE: %1 is a FIFO";
}

// A link or FIFO where a data file belongs: the scan runs to its end all the same, nothing
// is written through the link, and the operator is told why.
void TestAutoScan::fileInTheWay()
{
    QFETCH(int, model);
    QFETCH(QString, file);
    QFETCH(int, obstacle);
    QFETCH(QString, said);
    QFETCH(QString, bootLogSays);
    QTemporaryDir tmp, outside;
    QVERIFY(tmp.isValid() && outside.isValid());
    for (const char *dir : {"/home/pi/KIREL5-IR", "/home/pi/VESK-IR"})
        QVERIFY(QDir().mkpath(tmp.path() + QLatin1String(dir)));
    const QString path = tmp.path() + file;
    QVERIFY(ObstaclePlace(Obstacle(obstacle), path, outside.path()));
    TestProgram p;
    QVERIFY(p.start(QStringLiteral(SCANSTATION_SIM_PATH),
                    {"--model", QString::number(model), "--root", tmp.path(), "--selftest-ms", "0",
                     "--auto-scan", "scan"}));
    if (!p.waitForFinished(kRunLimitMs)) {
        p.kill();
        QFAIL("did not end");
    }
    const QString err = QString::fromLocal8Bit(p.standardError());
    QCOMPARE(p.exitCode(), 0);
    QVERIFY2(err.contains(said + QStringLiteral("\n") + path + QLatin1Char(' ') +
                          ObstacleKind(Obstacle(obstacle))) ||
                 said.isEmpty(),
             qPrintable(err));
    QVERIFY(ObstacleUntouched(Obstacle(obstacle), path, outside.path()));
    if (!bootLogSays.isEmpty()) {
        QFile bootLog(tmp.path() + QStringLiteral("/home/pi/VESK-IR/VESK_boot.log"));
        QVERIFY(bootLog.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromLatin1(bootLog.readAll()).contains(bootLogSays.arg(path)));
    }
}

QTEST_MAIN(TestAutoScan)
#include "tst_autoscan.moc"
