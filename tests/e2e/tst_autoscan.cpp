// scanstation-sim --auto-scan as a script would run it: one process per run, offscreen. A run
// that completes must print "SCAN COMPLETE", exit 0 and leave the image of the first tile,
// worked out from the phantom (phantomexpect.h). One that does not prints its last box and
// exits 1, or ends with 128 + the signal that cut it short.
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

using namespace expect;

namespace
{

// Only a guard against a run that never ends: the runs take seconds natively, but the
// suite also runs under qemu, many times slower, with other tests beside it.
constexpr int kRunLimitMs = 600000;

bool SimStart(TestProgram &p, int model, const QString &root, const QStringList &extra)
{
    return p.start(QStringLiteral(SCANSTATION_SIM_PATH),
                   QStringList{"--model", QString::number(model), "--root", root, "--selftest-ms",
                               "0", "--auto-scan", "scan"} +
                       extra);
}

QStringList OutLines(const TestProgram &p)
{
    return QString::fromLocal8Bit(p.standardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestAutoScan : public QObject
{
    Q_OBJECT

private slots:
    void completes_data();
    void completes();
    void endsUnfinished_data();
    void endsUnfinished();
};

void TestAutoScan::completes_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("lastResolution"); // of the last scan's settings; 0: no data files
    QTest::addColumn<int>("scanned");        // the resolution the scan is made at
    QTest::addColumn<int>("firstTileY0");    // the lower edge of the grid's first tile, um
    QTest::addColumn<QString>("file");       // a data file with something in its place
    QTest::addColumn<int>("obstacle");
    QTest::addColumn<QString>("said");        // on the standard error, as the box
    QTest::addColumn<QString>("bootLogSays"); // in the boot log
    // Start Scan saves the settings as record 0: not through the link, and the box says why.
    QTest::newRow("KIREL-5000/5100 defaults, link in place of the templates")
        << 11 << 0 << 200 << 375000 << "/home/pi/KIREL5-IR/scan_templates.tpl"
        << int(Obstacle::Link)
        << "box FILE ERROR: The settings of this scan could not be saved:" << QString();
    // The VESK-5000 has no 200 um and falls back to 100 um.
    QTest::newRow("VESK-5000 defaults")
        << 8 << 0 << 100 << 178500 << QString() << 0 << QString() << QString();
    // Start-up reads the system parameters: a FIFO would hold it for ever.
    QTest::newRow("VESK-1800II last scan at 100 um, FIFO in place of the system parameters")
        << 4 << 100 << 100 << 203500 << "/home/pi/VESK-IR/sysparam.dat" << int(Obstacle::Fifo)
        << QString() << "FILE: %1 is a FIFO";
}

void TestAutoScan::completes()
{
    QFETCH(int, model);
    QFETCH(int, lastResolution);
    QFETCH(int, scanned);
    QFETCH(int, firstTileY0);
    QFETCH(QString, file);
    QFETCH(int, obstacle);
    QFETCH(QString, said);
    QFETCH(QString, bootLogSays);
    QTemporaryDir tmp, outside;
    QVERIFY(tmp.isValid() && outside.isValid());
    const QString root = tmp.path();
    for (const char *dir : {"/home/pi/KIREL5-IR", "/home/pi/VESK-IR"})
        QVERIFY(QDir().mkpath(root + QLatin1String(dir)));
    if (lastResolution) {
        // Record 0 as the last scan left it: IP mode, the first tile, this resolution.
        ResetSharedState(model);
        StationRoot = root;
        scanTemplate[0].name = QStringLiteral("startup");
        scanTemplate[0].resolution = lastResolution;
        scanTemplate[0].folder = root + QStringLiteral("/home");
        QVERIFY(TemplatesWrite(1));
        StationRoot.clear();
    }
    const QString path = root + file;
    if (!file.isEmpty())
        QVERIFY(ObstaclePlace(Obstacle(obstacle), path, outside.path()));

    TestProgram p;
    QVERIFY(SimStart(p, model, root, {"--screenshot", root + QStringLiteral("/scan.png")}));
    if (!p.waitForFinished(kRunLimitMs)) {
        p.kill();
        QFAIL("did not end");
    }
    const QString err = QString::fromLocal8Bit(p.standardError());
    QVERIFY2(p.exitCode() == 0, qPrintable(OutLines(p).join(QLatin1Char('|')) + err));
    QCOMPARE(OutLines(p), (QStringList{"SCAN COMPLETE", "SCAN SUCCESSFULLY COMPLETED"}));

    // Every run is in IP mode, which the KIREL-5000/5100 reads with its 635 nm laser
    // (code 4); the flat IP table leaves that laser's shading in the image.
    const bool plate = model != kKirel5;
    const Area area{0, firstTileY0, 25000, 25000};
    const Picture want =
        plate ? PlateExpected(model, area, scanned)
              : FluorescenceExpected(area, scanned, ShadingSelectorFor(false, 4), true);
    const QString image = root + QStringLiteral("/home/scan.img");
    QVERIFY2(err.contains(QStringLiteral("image ") + image), qPrintable(err));
    QCOMPARE(PictureDifference(PictureRead(image, want.columns), want, plate ? 0 : 0.003),
             QString());
    QVERIFY(QFile::exists(root + QStringLiteral("/home/scan.inf")));
    // The picture is the scan window's.
    QCOMPARE(QImage(root + QStringLiteral("/scan.png")).size(), QSize(900, 750));

    // A link or FIFO where a data file belongs: nothing is written through it, and the
    // operator is told why.
    if (file.isEmpty())
        return;
    QVERIFY(ObstacleUntouched(Obstacle(obstacle), path, outside.path()));
    if (!said.isEmpty())
        QVERIFY2(err.contains(said + QLatin1Char('\n') + path + QLatin1Char(' ') +
                              ObstacleKind(Obstacle(obstacle))),
                 qPrintable(err));
    if (!bootLogSays.isEmpty()) {
        QFile bootLog(root + QStringLiteral("/home/pi/VESK-IR/VESK_boot.log"));
        QVERIFY(bootLog.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromLatin1(bootLog.readAll()).contains(bootLogSays.arg(path)));
    }
}

void TestAutoScan::endsUnfinished_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("sig");       // sent once the first lines are in; 0: none
    QTest::addColumn<QString>("title"); // of the last box; with a signal, the error log
    QTest::addColumn<QString>("text");  // a part of the last box's text
    QTest::newRow("no plate at START")
        << 4 << QStringList{"--fault", "no-plate"} << 0 << "SCAN ERROR"
        << "No Imaging Plate";
    QTest::newRow("START fails") << 8 << QStringList{"--fault", "start-fails"} << 0 << "SCAN ERROR"
                                 << "The scanner did not start the scan";
    // Escape 3 s after the window opened, well inside the 12.5 s of the scan.
    QTest::newRow("stopped with Escape")
        << 11 << QStringList{"--line-ms", "100", "--auto-stop", "3000"} << 0 << "SCAN STOPPED"
        << "SCAN STOPPED BY USER";
    // The name is taken: the last box is the file-name error.
    QTest::newRow("name taken") << 4 << QStringList() << 0 << "File Name Error"
                                << "File Name Already Exists!";
    // A signal 12.5 s before the scan would end: no box, the lines kept and the image on
    // record as incomplete.
    QTest::newRow("VESK-1800II SIGTERM") << 4 << QStringList{"--line-ms", "100"} << int(SIGTERM)
                                         << "/home/pi/VESK-IR/VESK_error.log" << QString();
    QTest::newRow("KIREL-5000/5100 SIGINT") << 11 << QStringList{"--line-ms", "100"} << int(SIGINT)
                                            << "/home/pi/KIREL5-IR/KIREL5_error.log" << QString();
}

void TestAutoScan::endsUnfinished()
{
    QFETCH(int, model);
    QFETCH(QStringList, extra);
    QFETCH(int, sig);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString image = tmp.filePath(QStringLiteral("home/scan.img"));
    if (extra.isEmpty()) {
        QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("home"))));
        QVERIFY(QFile(image).open(QIODevice::WriteOnly));
    }
    TestProgram p;
    QVERIFY(SimStart(p, model, tmp.path(), extra));
    auto linesIn = [&image] {
        QFile f(image);
        return f.open(QIODevice::ReadOnly) && f.readAll().count('\0') < f.size();
    };
    if (sig) {
        QTRY_VERIFY_WITH_TIMEOUT(linesIn() || p.waitForFinished(0), kRunLimitMs);
        p.sendSignal(sig);
    }
    if (!p.waitForFinished(kRunLimitMs))
        p.kill();
    if (!sig) {
        QCOMPARE(p.exitCode(), 1);
        QCOMPARE(OutLines(p).value(0), title);
        QVERIFY2(OutLines(p).value(1).contains(text), qPrintable(OutLines(p).join('|')));
        return;
    }
    QCOMPARE(p.exitCode(), 128 + sig);
    QCOMPARE(p.standardOutput(), QByteArray());
    QVERIFY(linesIn());
    QFile log(tmp.path() + title);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY2(log.readAll().contains("IMAGE INCOMPLETE: " + QFile::encodeName(image)),
             qPrintable(p.standardError()));
}

QTEST_MAIN(TestAutoScan)
#include "tst_autoscan.moc"
