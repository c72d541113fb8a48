// The scan starts against the virtual scanner: what goes over the bus (MODE SELECT bytes,
// the shading table selector), the correction factors made of the shading table, the .sd
// file, and the imaging-plate start with and without a plate.
#include "readoutfixture.h"

#include "initiator.h"
#include "kirelscan.h"
#include "scanstate.h"
#include "scanwindow.h"
#include "scsicommands.h"
#include "standardcommands.h"
#include "stationfixture.h"

#include <QFile>
#include <QtTest>

#include <optional>

class TestScanStart : public QObject
{
    Q_OBJECT

private slots:
    void kirel5SendsWholeBlock();
    void shadingSelector_data();
    void shadingSelector();
    void shadingFactorsWithoutFile_data();
    void shadingFactorsWithoutFile();
    void plateStartDisconnects_data();
    void plateStartDisconnects();
    void plateMissingGivesMinus99();
    void readyCheckNotSelectedFailsTheStart_data();
    void readyCheckNotSelectedFailsTheStart();
};

namespace
{
const Kirel5Area kSmallArea{25000, 50000, 4000, 2000, 200, 2};
} // namespace

void TestScanStart::kirel5SendsWholeBlock()
{
    ReadoutFixture f(kModelKIREL5);
    f.setup(kSmallArea);
    result = 7;
    QCOMPARE(f.start(), 7); // a start that passes leaves result as it was

    const QString modeSelect = f.traceOf(kOpModeSelect6);
    // The 30 bytes themselves are compared in the whole scans.
    QVERIFY(modeSelect.contains(QStringLiteral("\"cdb\":\"15 10 00 00 1e 00\"")));
    // The steps in their order, START last and the scanner scanning.
    QStringList opcodes;
    for (const QString &line : f.trace())
        opcodes << line.mid(8, 2);
    QCOMPARE(opcodes, QStringList({"00", "c1", "03", "00", "c1", "e0", "15", "1b"}));
    QVERIFY(f.scan->started());
    QCOMPARE(f.scanner->resetsSeen(), 1); // the start opens with a bus reset
}

void TestScanStart::shadingSelector_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("laser");
    QTest::addColumn<int>("selector");
    QTest::newRow("473 nm") << 2 << 1 << 3;
    QTest::newRow("IP mode whatever the laser") << 0 << 8 << 1;
    QTest::newRow("IP-V mode") << 1 << 2 << 1;
}

void TestScanStart::shadingSelector()
{
    QFETCH(int, mode);
    QFETCH(int, laser);
    QFETCH(int, selector);
    ReadoutFixture f(kModelKIREL5);
    Kirel5Area area = kSmallArea;
    area.laser = laser;
    f.setup(area);
    scanTemplate[0].mode = mode;
    f.start();
    const QString cdb =
        QStringLiteral("e0 00 80 00 00 %1 00 0f c8 00").arg(selector, 2, 16, QLatin1Char('0'));
    QVERIFY(f.traceOf(kOpVendorShadingRead).contains(cdb));
}

void TestScanStart::shadingFactorsWithoutFile_data()
{
    QTest::addColumn<int>("obstacle"); // -1: not asked for, -2: a full disk
    QTest::newRow("not asked for") << -1;
    QTest::newRow("full disk") << -2;
    QTest::newRow("link in its place") << int(Obstacle::Link);
    QTest::newRow("dangling link in its place") << int(Obstacle::DanglingLink);
}

// The .sd file itself is compared in the whole scans, which save it. Without it the factors
// are the same; one that could not be saved is noted for the end of the scan, and nothing
// is written through a link in its place.
void TestScanStart::shadingFactorsWithoutFile()
{
    QFETCH(int, obstacle);
    ReadoutFixture f(kModelKIREL5);
    f.setup(kSmallArea); // 532 nm: the sloped table
    sysparams.shadingdatasave = obstacle == -1 ? 0 : 1;
    const QString sd = f.imagePath() + QStringLiteral(".sd");
    QTemporaryDir outside;
    if (obstacle >= 0)
        QVERIFY(ObstaclePlace(Obstacle(obstacle), sd, outside.path()));
    {
        std::optional<DiskFull> full;
        if (obstacle == -2)
            full.emplace();
        f.start();
    }
    // Value k of the answer is the factor of node [k mod 48][k div 48].
    float expected[48][42];
    ExpectedFactors(4, expected);
    for (int x = 0; x < 48; ++x)
        for (int y = 0; y < 42; ++y)
            QCOMPARE(shadingdata[x][y], expected[x][y]);
    if (obstacle >= 0)
        QVERIFY(ObstacleUntouched(Obstacle(obstacle), sd, outside.path()));
    else
        QVERIFY(!QFile::exists(sd));
    QCOMPARE(ScanFileNotes().contains(QStringLiteral("The shading data was not saved: ") + sd),
             obstacle != -1);
}

Q_DECLARE_METATYPE(CableFault)

void TestScanStart::plateStartDisconnects_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<CableFault>("fault");
    QTest::newRow("VESK-1800II") << int(kModelVESK1800) << CableFault::None;
    QTest::newRow("VESK-5000") << int(kModelVESK5000) << CableFault::None;
    // The readout waits, touching nothing, for a reader that does not come back as itself.
    QTest::newRow("VESK-1800II never reselects") << int(kModelVESK1800) << CableFault::NoReselect;
    QTest::newRow("VESK-5000 reselects as ID 6")
        << int(kModelVESK5000) << CableFault::WrongReselect;
}

void TestScanStart::plateStartDisconnects()
{
    QFETCH(int, model);
    QFETCH(CableFault, fault);
    ReadoutFixture f(model);
    f.setup(PlateArea{model, 50, 30, 5, 35, 10});
    f.scanner->setCableFault(fault);
    f.start();
    QCOMPARE(ScannerPhase, 1);
    QCOMPARE(f.scanner->resetsSeen(), 1); // the start opens with a bus reset
    const QString modeSelect = f.traceOf(kOpModeSelect6);
    QVERIFY(modeSelect.contains(QStringLiteral("\"cdb\":\"15 00 00 00 0c 00\"")));
    // START ends with a disconnect: no status until the reader comes back.
    QVERIFY(f.traceOf(kOpStartStop).endsWith(QStringLiteral("\"status\":null}")));
    // The reader comes back when the start is done: the readout's phase 1 takes it.
    kirel5scan k;
    int got = 0;
    for (int call = 0; call < 3 && ScannerPhase == 1; ++call)
        got = model == kModelVESK5000 ? k.readVESK5scan() : k.readVESK18IIscan();
    if (fault != CableFault::None) {
        QCOMPARE(got, 1); // waiting
        QCOMPARE(ScannerPhase, 1);
        QCOMPARE(f.trace().size(), 4); // INQUIRY, TEST UNIT READY, MODE SELECT, START
        return;
    }
    QCOMPARE(ScannerPhase, 2);
    QCOMPARE(scanstart_epochsecs, ReadoutFixture::clockMs); // settling starts, in ms
}

void TestScanStart::plateMissingGivesMinus99()
{
    ReadoutFixture f(kModelVESK1800);
    f.setup(PlateArea{4, 100, 30, 5, 35, 10});
    f.scan->takePlateOut();
    QCOMPARE(f.start(), -99);
    QCOMPARE(result, -99);
    QCOMPARE(newscansetup.scanrunningerror, 1);
    QCOMPARE(newscansetup.scansensekey, QStringLiteral("02h"));
    QCOMPARE(newscansetup.scansensecode, QStringLiteral("2100h"));
    QVERIFY(f.traceOf(kOpModeSelect6).isEmpty());
    QVERIFY(f.traceOf(kOpStartStop).isEmpty());
    QCOMPARE(ScannerPhase, 0);
}

void TestScanStart::readyCheckNotSelectedFailsTheStart_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("lastAnswered"); // the scanner is switched off after this command
    QTest::addColumn<int>("code");
    QTest::newRow("KIREL-5000/5100, second TEST UNIT READY")
        << int(kModelKIREL5) << int(kOpRequestSense) << -69;
    QTest::newRow("VESK-1800II, TEST UNIT READY") << int(kModelVESK1800) << int(kOpInquiry) << -70;
}

// A TEST UNIT READY that finds no scanner to select fails the start with a code of its own:
// 0 would read as a start that went well.
void TestScanStart::readyCheckNotSelectedFailsTheStart()
{
    QFETCH(int, model);
    QFETCH(int, lastAnswered);
    QFETCH(int, code);
    ReadoutFixture f(model);
    if (model == kModelKIREL5)
        f.setup(kSmallArea);
    else
        f.setup(PlateArea{model, 50, 30, 5, 35, 10});
    const CommandEntry answer = StandardCommandHandlers().value(BYTE(lastAnswered));
    f.scanner->setHandler(BYTE(lastAnswered), {[answer](VirtualScanner &s, VirtualCommand &cmd) {
                                                   answer.command(s, cmd);
                                                   s.faults().powerOff = true;
                                               },
                                               answer.dataOut, answer.cdbLength});
    result = 0;
    QCOMPARE(f.start(), code);
    QVERIFY(f.traceOf(kOpStartStop).isEmpty());
}

QTEST_MAIN(TestScanStart)
#include "tst_scanstart.moc"
