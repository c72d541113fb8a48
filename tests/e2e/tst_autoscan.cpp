// scanstation-sim --auto-scan as a script would run it: one process per run, offscreen. A run
// that completes must print "SCAN COMPLETE", exit 0 and leave the image of the first tile,
// worked out from the phantom (phantomexpect.h). A signal during the scan ends the process
// with 128 + the signal, the lines kept and the image on record as incomplete.
#include "phantomexpect.h"
#include "stationfixture.h"
#include "testprogram.h"

#include <QDir>
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
    void endsBySignal_data();
    void endsBySignal();
};

// Every run is without settings of a last scan: the defaults of the model, in IP mode.
void TestAutoScan::completes_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("scanned");     // the resolution the scan is made at
    QTest::addColumn<int>("firstTileY0"); // the lower edge of the grid's first tile, um
    QTest::addColumn<QString>("file");    // a data file with something in its place
    QTest::addColumn<int>("obstacle");
    QTest::addColumn<QString>("said");        // on the standard error, as the box
    QTest::addColumn<QString>("bootLogSays"); // in the boot log
    // Start Scan saves the settings as record 0: not through the link, and the box says why.
    QTest::newRow("KIREL-5000/5100 defaults, link in place of the templates")
        << 11 << 200 << 375000 << "/home/pi/KIREL5-IR/scan_templates.tpl" << int(Obstacle::Link)
        << "box FILE ERROR: The settings of this scan could not be saved:" << QString();
    // The VESK-5000 has no 200 um and falls back to 100 um.
    QTest::newRow("VESK-5000 defaults")
        << 8 << 100 << 178500 << QString() << 0 << QString() << QString();
    // Start-up reads the system parameters: a FIFO would hold it for ever.
    QTest::newRow("VESK-1800II defaults, FIFO in place of the system parameters")
        << 4 << 200 << 203500 << "/home/pi/VESK-IR/sysparam.dat" << int(Obstacle::Fifo) << QString()
        << "FILE: %1 is a FIFO";
}

void TestAutoScan::completes()
{
    QFETCH(int, model);
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
    const QString path = root + file;
    if (!file.isEmpty())
        QVERIFY(ObstaclePlace(Obstacle(obstacle), path, outside.path()));

    TestProgram p;
    QVERIFY(SimStart(p, model, root, {}));
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
    const Picture want = plate ? PlateExpected(model, area, scanned)
                               : FluorescenceExpected(area, scanned, ShadingSelectorFor(4), true);
    const QString image = root + QStringLiteral("/home/scan.img");
    QVERIFY2(err.contains(QStringLiteral("image ") + image), qPrintable(err));
    QCOMPARE(PictureDifference(PictureRead(image, want.columns), want, plate ? 0 : 0.003),
             QString());
    QVERIFY(QFile::exists(root + QStringLiteral("/home/scan.inf")));

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

// A signal 12.5 s before the scan would end: no box, the lines kept and the image on record
// in the model's error log as incomplete.
void TestAutoScan::endsBySignal_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("sig");
    QTest::addColumn<QString>("errorLog");
    QTest::newRow("VESK-1800II SIGTERM") << 4 << int(SIGTERM) << "/home/pi/VESK-IR/VESK_error.log";
    QTest::newRow("KIREL-5000/5100 SIGINT")
        << 11 << int(SIGINT) << "/home/pi/KIREL5-IR/KIREL5_error.log";
}

void TestAutoScan::endsBySignal()
{
    QFETCH(int, model);
    QFETCH(int, sig);
    QFETCH(QString, errorLog);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString image = tmp.filePath(QStringLiteral("home/scan.img"));
    TestProgram p;
    QVERIFY(SimStart(p, model, tmp.path(), {"--line-ms", "100"}));
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

QTEST_MAIN(TestAutoScan)
#include "tst_autoscan.moc"
