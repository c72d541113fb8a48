// Whole readouts against the virtual scanner: the images must be the picture of the area
// asked for, row for row, with values worked out here from the phantom and the scanner's
// documented layouts; then the faults the scan must survive or end on.
#include "readoutfixture.h"

#include "initiator.h"
#include "kirelscan.h"
#include "logfiles.h"
#include "scanstate.h"
#include "shadingreference.h"

#include <QFile>
#include <QtTest>

#include <cstdlib>

class TestReadout : public QObject
{
    Q_OBJECT

private slots:
    void kirel5Image_data();
    void kirel5Image();
    void plateImage_data();
    void plateImage();
    void plateCutNeverReadsPastLine();
    void plateSettlesBeforeFirstRead();
    void kirel5SenseErrorEndsScan();
    void kirel5IllegalRequestPassedOver();
    void kirel5BusHeldEndsScan();
    void kirel5DataCutShortFetchedAgain();
    void plateDataCutShortFetchedAgain();
    void simulatorModelsScan_data();
    void simulatorModelsScan();
    void writeFailureEndsScanWithError_data();
    void writeFailureEndsScanWithError();
};

namespace
{
int SelectorOf(int laser)
{
    switch (laser) {
    case 1:
        return 3;
    case 2:
        return 4;
    case 4:
        return 5;
    case 8:
        return 6;
    default:
        return 0;
    }
}

// The .img the scan must leave: the reference correction of the expected raw values.
QVector<int> ExpectedKirel5Image(const Kirel5Area &a, const QVector<int> &raw)
{
    float factors[48][42];
    ExpectedFactors(SelectorOf(a.laser), factors);
    const int r = a.resolution;
    const int width = a.width / r;
    QVector<int> out(raw.size());
    for (int p = 0; p < raw.size(); ++p)
        out[p] = ReferenceCorrected(raw[p], a.x0 / r + p % width, a.y0 / r + p / width, 10000 / r,
                                    factors);
    return out;
}

// First difference of two images, or an empty text.
QString FirstDifference(const QVector<int> &actual, const QVector<int> &expected, int rowLength)
{
    if (actual.size() != expected.size())
        return QStringLiteral("size %1, expected %2").arg(actual.size()).arg(expected.size());
    for (int i = 0; i < actual.size(); ++i)
        if (actual[i] != expected[i])
            return QStringLiteral("row %1 pixel %2: %3, expected %4")
                .arg(i / rowLength)
                .arg(i % rowLength)
                .arg(actual[i])
                .arg(expected[i]);
    return QString();
}

void LogsOn(ReadoutFixture &f)
{
    sysparams.readlog = 1;
    kirelscanfile_log.setFileName(f.imagePath() + QStringLiteral(".log"));
    LogFilesCreate();
}

QByteArray ErrorLog()
{
    QFile f(ErrorLogPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const Kirel5Area kFaultArea{23000, 48000, 12000, 6000, 200, 2}; // 60 x 30, pieces of 5 lines
} // namespace

void TestReadout::kirel5Image_data()
{
    QTest::addColumn<Kirel5Area>("area");
    // x0, y0, width, height (um), resolution, laser
    QTest::newRow("200 um, bed corner") << Kirel5Area{0, 0, 12000, 6000, 200, 2};
    QTest::newRow("200 um, last piece short")
        << Kirel5Area{440000, 390000, 20000, 5800, 200, 4}; // 29 lines, far edge of the table
    QTest::newRow("100 um, 473 nm (flat table)") << Kirel5Area{123000, 77000, 8000, 4000, 100, 1};
    QTest::newRow("50 um, 670 nm") << Kirel5Area{27000, 203000, 6000, 2000, 50, 8};
    QTest::newRow("25 um") << Kirel5Area{51000, 99000, 5000, 1000, 25, 2};
    QTest::newRow("25 um, 820 wide, two lines a read")
        << Kirel5Area{298000, 151000, 20500, 600, 25, 2};
    QTest::newRow("685 nm diode") << Kirel5Area{60000, 60000, 10000, 4000, 100, 16};
}

void TestReadout::kirel5Image()
{
    QFETCH(Kirel5Area, area);
    ReadoutFixture f(kModelKIREL5);
    sysparams.rawdatasave = 1;
    LogsOn(f);
    f.kirel5Setup(area);
    QVERIFY(f.filesOpen());
    f.kirel5Start();
    f.kirel5ReadAll();

    const ScanSetup &s = newscansetup;
    QCOMPARE(s.scanrunningflag, 0);
    QCOMPARE(s.scanrunningerror, 0);
    QCOMPARE(scanwriteerror, 0);
    QVERIFY(s.scanstatus >= s.height);
    if (area.width / area.resolution >= 820)
        QCOMPARE(s.bufferlines, 2);

    const QVector<int> raw = ExpectedRaw(area, SelectorOf(area.laser));
    const int width = s.width;
    const QVector<int> rawFile = ImageValues(f.fileBytes(QStringLiteral(".raw")));
    QString diff = FirstDifference(rawFile, RowsReversed(raw, width), width);
    QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral(".raw ") + diff));
    const QVector<int> img = ImageValues(f.fileBytes(QStringLiteral(".img")));
    diff = FirstDifference(img, RowsReversed(ExpectedKirel5Image(area, raw), width), width);
    QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral(".img ") + diff));

    // The corrected image is the picture: within 1 % of the phantom, first line last.
    const int r = area.resolution;
    for (int j = 0; j < s.height; ++j)
        for (int i = 0; i < width; ++i) {
            const int expected = PhantomS(qint64(area.x0 / r + i) * r, qint64(area.y0 / r + j) * r);
            const int actual = img[(s.height - 1 - j) * width + i];
            if (std::abs(actual - expected) * 100 > expected)
                QFAIL(qPrintable(QStringLiteral("line %1 pixel %2: %3 far from %4")
                                     .arg(j)
                                     .arg(i)
                                     .arg(actual)
                                     .arg(expected)));
        }
    float counted = 0;
    for (float b : histval)
        counted += b;
    QCOMPARE(int(counted), width * s.height);
    QCOMPARE(LD685status, area.laser == 16 ? 1 : 0);
    QVERIFY(scanstart_epochsecs > 0);
    QVERIFY(f.fileBytes(QStringLiteral(".log")).contains("DIN: STAT=0"));
}

void TestReadout::plateImage_data()
{
    QTest::addColumn<PlateArea>("area");
    // model, resolution, left (mm), width (mm), lower edge (0.1 mm), height (mm)
    QTest::newRow("VESK-1800II 50 um, two halves") << PlateArea{4, 50, 30, 5, 35, 10};
    QTest::newRow("VESK-1800II 100 um") << PlateArea{4, 100, 30, 5, 35, 10};
    QTest::newRow("VESK-1800II 200 um, 2 x 2") << PlateArea{4, 200, 30, 5, 35, 10};
    QTest::newRow("VESK-5000 25 um, four quarters") << PlateArea{8, 25, 30, 2, 35, 5};
    QTest::newRow("VESK-5000 50 um") << PlateArea{8, 50, 30, 5, 35, 10};
    QTest::newRow("VESK-5000 100 um, 2 x 2") << PlateArea{8, 100, 30, 5, 35, 10};
}

void TestReadout::plateImage()
{
    QFETCH(PlateArea, area);
    ReadoutFixture f(area.model);
    LogsOn(f);
    f.plateSetup(area);
    QVERIFY(f.filesOpen());
    f.plateStart();
    f.plateReadAll();

    const ScanSetup &s = newscansetup;
    QCOMPARE(s.scanrunningflag, 0);
    QCOMPARE(s.scanstatus, s.width);
    QCOMPARE(scanwriteerror, 0);
    const QVector<int> img = ImageValues(f.fileBytes(QStringLiteral(".img")));
    const QString diff =
        FirstDifference(img, RowsReversed(ExpectedPlateRows(area), s.pixwidth), s.pixwidth);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    // Every row is written: no zero pixel is left.
    QVERIFY(!img.contains(0));
    // The reader was asked for every piece once: reader lines / lines per piece.
    int reads = 0;
    for (const QString &line : f.trace())
        reads += line.startsWith(QStringLiteral("{\"cdb\":\"28")) ? 1 : 0;
    const int readerLines = f.scan->scanLines();
    QCOMPARE(reads, readerLines / s.bufferlines);
}

void TestReadout::plateCutNeverReadsPastLine()
{
    // VESK-5000 at 50 um: 8192-byte reader lines (204.8 mm). A lower edge at 200 mm leaves
    // 96 of the 200 wanted pixels on the line; the rest must be 0, not the next line.
    const PlateArea area{8, 50, 30, 1, 2000, 10};
    ReadoutFixture f(area.model);
    f.plateSetup(area);
    QVERIFY(f.filesOpen());
    f.plateStart();
    f.plateReadAll();
    QCOMPARE(newscansetup.scanrunningflag, 0);
    const QVector<int> img = ImageValues(f.fileBytes(QStringLiteral(".img")));
    const QString diff = FirstDifference(img, RowsReversed(ExpectedPlateRows(area), 200), 200);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    for (int row = 0; row < newscansetup.width; ++row) {
        QVERIFY(img[row * 200 + 95] != 0);
        QCOMPARE(img[row * 200 + 96], 0);
        QCOMPARE(img[row * 200 + 199], 0);
    }
}

void TestReadout::plateSettlesBeforeFirstRead()
{
    ReadoutFixture f(kModelVESK1800);
    f.plateSetup({4, 100, 30, 5, 35, 10});
    QVERIFY(f.filesOpen());
    f.plateStart();
    kirel5scan k;
    for (int call = 0; call < 3 && ScannerPhase == 1; ++call)
        k.readVESK18IIscan();
    QCOMPARE(ScannerPhase, 2);
    const int commands = f.scanner->commandsTaken();
    ReadoutFixture::clockMs += 1499;
    QCOMPARE(k.readVESK18IIscan(), 1); // still settling: the bus is not touched
    QCOMPARE(f.scanner->commandsTaken(), commands);
    ReadoutFixture::clockMs += 1;
    k.readVESK18IIscan();
    QCOMPARE(ScannerPhase, 3);
    QCOMPARE(f.scanner->commandsTaken(), commands + 1);
    QCOMPARE(scanstart_epochsecs, qint64(0));
}

void TestReadout::kirel5SenseErrorEndsScan()
{
    ScanOptions options;
    options.fault = ScanFault::SenseError;
    options.faultAfterLines = 10;
    ReadoutFixture f(kModelKIREL5, options);
    LogsOn(f);
    f.kirel5Setup(kFaultArea);
    QVERIFY(f.filesOpen());
    f.kirel5Start();
    f.kirel5ReadAll();

    const ScanSetup &s = newscansetup;
    QCOMPARE(s.scanrunningflag, -1);
    QCOMPARE(s.scanrunningerror, 1);
    QCOMPARE(s.scansensekey, QStringLiteral("03h"));
    QCOMPARE(s.scansensecode, QStringLiteral("1100h"));
    QVERIFY(ErrorLog().contains("Sense Key: 03h Sense Code: 1100h"));
    // The piece waiting when the error came is still read: lines 0 to 14, the rest blank.
    QCOMPARE(s.scanstatus, 15);
    const QVector<int> img = ImageValues(f.fileBytes(QStringLiteral(".img")));
    const QVector<int> expected =
        RowsReversed(ExpectedKirel5Image(kFaultArea, ExpectedRaw(kFaultArea, 4)), 60);
    for (int row = 0; row < 30; ++row)
        for (int i = 0; i < 60; ++i)
            QCOMPARE(img[row * 60 + i], row >= 15 ? expected[row * 60 + i] : 0);
}

void TestReadout::kirel5IllegalRequestPassedOver()
{
    ScanOptions options;
    options.fault = ScanFault::IllegalRequestOnce;
    options.faultAfterLines = 10;
    ReadoutFixture f(kModelKIREL5, options);
    f.kirel5Setup(kFaultArea);
    QVERIFY(f.filesOpen());
    f.kirel5Start();
    f.kirel5ReadAll();
    // 52 on the call that met it (later calls hand the result back unchanged).
    QVERIFY(f.results.contains(52));
    QCOMPARE(f.results.count(-37), 0);
    QCOMPARE(newscansetup.scanrunningflag, 0);
    QCOMPARE(newscansetup.scanrunningerror, 0);
    const QVector<int> img = ImageValues(f.fileBytes(QStringLiteral(".img")));
    QCOMPARE(img, RowsReversed(ExpectedKirel5Image(kFaultArea, ExpectedRaw(kFaultArea, 4)), 60));
}

void TestReadout::kirel5BusHeldEndsScan()
{
    // The scanner holds BSY after the second piece, for longer than the station waits for a
    // free bus (about a second), then reports a hardware error.
    ScanOptions options;
    options.fault = ScanFault::BusHeldBusy;
    options.faultAfterLines = 10;
    ReadoutFixture f(kModelKIREL5, options);
    f.kirel5Setup(kFaultArea);
    QVERIFY(f.filesOpen());
    f.kirel5Start();
    f.kirel5ReadAll();
    QCOMPARE(f.results.last(), -37);
    const ScanSetup &s = newscansetup;
    QCOMPARE(s.scanrunningflag, -1);
    QCOMPARE(s.scanrunningerror, 1);
    QCOMPARE(s.scansensekey, QStringLiteral("04h"));
    QCOMPARE(s.scansensecode, QStringLiteral("4400h"));
    QCOMPARE(s.scanstatus, 10);
}

void TestReadout::kirel5DataCutShortFetchedAgain()
{
    ScanOptions options;
    options.fault = ScanFault::DataInCutShort;
    options.faultAfterLines = 10;
    options.cutBytes = 100;
    ReadoutFixture f(kModelKIREL5, options);
    f.kirel5Setup(kFaultArea);
    QVERIFY(f.filesOpen());
    f.kirel5Start();
    f.kirel5ReadAll();
    QVERIFY(f.scan->faultStruck());
    QVERIFY(f.results.contains(-44));
    QCOMPARE(newscansetup.scanrunningflag, 0);
    QCOMPARE(newscansetup.scanrunningerror, 0);
    const QVector<int> img = ImageValues(f.fileBytes(QStringLiteral(".img")));
    QCOMPARE(img, RowsReversed(ExpectedKirel5Image(kFaultArea, ExpectedRaw(kFaultArea, 4)), 60));
}

void TestReadout::plateDataCutShortFetchedAgain()
{
    ScanOptions options;
    options.fault = ScanFault::DataInCutShort;
    options.faultAfterLines = 20;
    options.cutBytes = 1000;
    const PlateArea area{4, 100, 30, 5, 35, 10};
    ReadoutFixture f(area.model, options);
    f.plateSetup(area);
    QVERIFY(f.filesOpen());
    f.plateStart();
    f.plateReadAll();
    QVERIFY(f.scan->faultStruck());
    QVERIFY(f.results.contains(-45));
    QCOMPARE(newscansetup.scanrunningflag, 0);
    const QVector<int> img = ImageValues(f.fileBytes(QStringLiteral(".img")));
    QCOMPARE(img, RowsReversed(ExpectedPlateRows(area), newscansetup.pixwidth));
}

void TestReadout::simulatorModelsScan_data()
{
    QTest::addColumn<int>("model");
    QTest::newRow("KIREL-5000/5100") << int(kModelKIREL5);
    QTest::newRow("VESK-5000") << int(kModelVESK5000);
    QTest::newRow("VESK-1800II") << int(kModelVESK1800);
}

void TestReadout::simulatorModelsScan()
{
    // The simulator's scanner models carry the scanning: a whole scan on each.
    QFETCH(int, model);
    ReadoutFixture f(model, {}, true);
    const PlateArea plate{model, 100, 30, 5, 35, 10};
    if (model == kModelKIREL5)
        f.kirel5Setup(kFaultArea);
    else
        f.plateSetup(plate);
    QVERIFY(f.filesOpen());
    if (model == kModelKIREL5) {
        f.kirel5Start();
        f.kirel5ReadAll();
    } else {
        f.plateStart();
        f.plateReadAll();
    }
    QCOMPARE(newscansetup.scanrunningflag, 0);
    const QVector<int> img = ImageValues(f.fileBytes(QStringLiteral(".img")));
    if (model == kModelKIREL5)
        QCOMPARE(img,
                 RowsReversed(ExpectedKirel5Image(kFaultArea, ExpectedRaw(kFaultArea, 4)), 60));
    else
        QCOMPARE(img, RowsReversed(ExpectedPlateRows(plate), newscansetup.pixwidth));
}

void TestReadout::writeFailureEndsScanWithError_data()
{
    QTest::addColumn<int>("model");
    QTest::newRow("KIREL-5000/5100") << int(kModelKIREL5);
    QTest::newRow("VESK-1800II") << int(kModelVESK1800);
}

void TestReadout::writeFailureEndsScanWithError()
{
    // A disk that is full: every write of the image file fails.
    QFETCH(int, model);
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");
    ReadoutFixture f(model);
    if (model == kModelKIREL5)
        f.kirel5Setup(kFaultArea);
    else
        f.plateSetup({4, 100, 30, 5, 35, 10});
    kirelscanfile_img.setFileName(QStringLiteral("/dev/full"));
    QVERIFY(kirelscanfile_img.open(QIODevice::WriteOnly));
    model == kModelKIREL5 ? f.kirel5Start() : f.plateStart();
    model == kModelKIREL5 ? f.kirel5ReadAll() : f.plateReadAll();
    QCOMPARE(f.results.last(), -150);
    QCOMPARE(scanwriteerror, 1);
    QCOMPARE(newscansetup.scanrunningflag, -1);
}

QTEST_MAIN(TestReadout)
#include "tst_readout.moc"
