// The scan starts and whole readouts against the virtual scanner. The starts: what goes over
// the bus, the correction factors made of the shading table, the .sd file, and the
// imaging-plate start with and without a plate. The readouts: the images must be the picture
// of the area asked for, row for row, with values worked out from the phantom and the
// scanner's documented layouts (phantomexpect.h); then the faults the scan must survive or
// end on. Last, the fast shading correction against the per-pixel formula with its nine
// square roots: bit for bit, on random tables, pixels and positions, at every grid pitch.
#include "readoutfixture.h"

#include "initiator.h"
#include "kirelscan.h"
#include "logfiles.h"
#include "scanstate.h"
#include "scanwindow.h"
#include "scsicommands.h"
#include "shadingcorrection.h"
#include "shadingreference.h"
#include "standardcommands.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

using namespace expect;

class TestReadout : public QObject
{
    Q_OBJECT

private slots:
    void kirel5Start_data();
    void kirel5Start();
    void shadingFactorsWithoutFile_data();
    void shadingFactorsWithoutFile();
    void plateStartDisconnects_data();
    void plateStartDisconnects();
    void plateMissingGivesMinus99();
    void readyCheckNotSelectedFailsTheStart_data();
    void readyCheckNotSelectedFailsTheStart();

    void kirel5Image_data();
    void kirel5Image();
    void plateSettlesBeforeFirstRead();
    void plateReadWhoseMessagesAreLostIsNotSentTwice();
    void faultDuringReadout_data();
    void faultDuringReadout();
    void writeFailureEndsScanWithError_data();
    void writeFailureEndsScanWithError();

    void matchesFormula_data();
    void matchesFormula();
    void pixelOnNodeTakesThatNode();
    void binEdgesCountLikeFormula();
};

namespace
{
// The .img the scan must leave: the reference correction of the expected raw picture.
Picture Kirel5Image(const Kirel5Area &a)
{
    const int r = a.resolution, selector = ShadingSelectorFor(false, a.laser);
    float factors[48][42];
    ExpectedFactors(selector, factors);
    Picture p = FluorescenceExpected(AreaOf(a), r, selector, true);
    for (int row = 0; row < p.rows; ++row)
        for (int i = 0; i < p.columns; ++i) {
            int &v = p.values[row * p.columns + i];
            const int line = p.rows - 1 - row;
            v = int(unsigned(
                shadingreference::Corrected(v, a.x0 / r + i, a.y0 / r + line, 10000 / r, factors)));
        }
    return p;
}

Picture PlateImage(const PlateArea &a)
{
    return PlateExpected(a.model, AreaOf(a), a.resolution);
}

// The image file as the scan left it: rows of `width` (fluorescence) or `pixwidth` pixels.
Picture ImageFile(const ReadoutFixture &f)
{
    const ScanSetup &s = newscansetup;
    return PictureOf(f.fileBytes(QStringLiteral(".img")),
                     ScannerType == kModelKIREL5 ? s.width : s.pixwidth);
}

void LogsOn(ReadoutFixture &f)
{
    sysparams.readlog = 1;
    kirelscanfile_log.setFileName(f.imagePath() + QStringLiteral(".log"));
    LogFilesCreate();
}

const Kirel5Area kSmallArea{25000, 50000, 4000, 2000, 200, 2};
const Kirel5Area kFaultArea{23000, 48000, 12000, 6000, 200, 2}; // 60 x 30, pieces of 5 lines
const PlateArea kFaultPlate{4, 100, 30, 5, 35, 10};             // 50 lines of 100

// A glitch on the cable after the `nth` READ: the reader's two message bytes behind it
// (SAVE DATA POINTER, DISCONNECT) are acknowledged on another cable, so the station finds
// the bus free instead of MESSAGE IN; the reader has the READ and reselects with its piece.
class ReadMessagesLost : public BusDevice
{
public:
    ReadMessagesLost(ReadoutFixture &f, int nth) : f(f), nth(nth)
    {
        f.scanner->registers().attach(this);
    }
    ~ReadMessagesLost() override { f.scanner->registers().attach(f.scan); }

    void onLevelRead(EmulatedGpio &gpio) override
    {
        f.scan->onLevelRead(gpio);
        VirtualScanner &target = *f.scanner;
        if (target.commandsTaken() == seen || target.phase() != BUS::msgin)
            return;
        seen = target.commandsTaken();
        if (BYTE(target.lastCdb().at(0)) != kOpRead10 || ++reads != nth)
            return;
        constexpr DWORD kAckAsserted = DWORD(kGpioOutput) << (PIN_ACK % 10 * 3);
        // The other cable's initiator has its transceivers on: SEL, ATN, ACK and RST
        // outbound, the data lines inbound.
        constexpr DWORD kControlOutputs = DWORD(kGpioOutput) << (PIN_ENB * 3) |
                                          DWORD(kGpioOutput) << (PIN_IND * 3) |
                                          DWORD(kGpioOutput) << (PIN_DTD * 3);
        EmulatedGpio other;
        other.writeGpio(GPCLR0, 1u << PIN_ENB);
        other.writeGpio(GPSET0, 1u << PIN_IND | 1u << PIN_DTD);
        other.writeGpio(GPFSEL0, kControlOutputs);
        for (int step = 0; step < 20 && target.phase() != BUS::busfree; ++step) {
            other.writeGpio(GPFSEL2, other.deviceDrive() & kMaskREQ ? kAckAsserted : 0);
            target.onLevelRead(other);
        }
        gpio.setDeviceDrive(0);
    }

private:
    ReadoutFixture &f;
    int nth;
    int seen = 0;
    int reads = 0;
};
} // namespace

// The start sends the whole block and reads the shading table of the mode and laser.
void TestReadout::kirel5Start_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("laser");
    QTest::addColumn<int>("selector");
    QTest::newRow("473 nm") << 2 << 1 << 3;
    QTest::newRow("IP mode whatever the laser") << 0 << 8 << 1;
    QTest::newRow("IP-V mode") << 1 << 2 << 1;
}

void TestReadout::kirel5Start()
{
    QFETCH(int, mode);
    QFETCH(int, laser);
    QFETCH(int, selector);
    ReadoutFixture f(kModelKIREL5);
    Kirel5Area area = kSmallArea;
    area.laser = laser;
    f.setup(area);
    scanTemplate[0].mode = mode;
    result = 7;
    QCOMPARE(f.start(), 7); // a start that passes leaves result as it was

    // The 30 bytes themselves are compared in the whole scans.
    QVERIFY(f.traceOf(kOpModeSelect6).contains(QStringLiteral("\"cdb\":\"15 10 00 00 1e 00\"")));
    const QString cdb =
        QStringLiteral("e0 00 80 00 00 %1 00 0f c8 00").arg(selector, 2, 16, QLatin1Char('0'));
    QVERIFY(f.traceOf(kOpVendorShadingRead).contains(cdb));
    // The steps in their order, START last and the scanner scanning.
    QStringList opcodes;
    for (const QString &line : f.trace())
        opcodes << line.mid(8, 2);
    QCOMPARE(opcodes, QStringList({"00", "c1", "03", "00", "c1", "e0", "15", "1b"}));
    QVERIFY(f.scan->started());
    QCOMPARE(f.scanner->resetsSeen(), 1); // the start opens with a bus reset
}

void TestReadout::shadingFactorsWithoutFile_data()
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
void TestReadout::shadingFactorsWithoutFile()
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

void TestReadout::plateStartDisconnects_data()
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

void TestReadout::plateStartDisconnects()
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

void TestReadout::plateMissingGivesMinus99()
{
    ReadoutFixture f(kModelVESK1800);
    f.setup(kFaultPlate);
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

void TestReadout::readyCheckNotSelectedFailsTheStart_data()
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
void TestReadout::readyCheckNotSelectedFailsTheStart()
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

void TestReadout::kirel5Image_data()
{
    QTest::addColumn<Kirel5Area>("area");
    QTest::addColumn<int>("lineMs"); // the scanner's pace; 0: every line is there at once
    // x0, y0, width, height (um), resolution, laser
    QTest::newRow("200 um, last piece short")
        << Kirel5Area{440000, 390000, 20000, 5800, 200, 4} << 0; // 29 lines, far edge
    QTest::newRow("685 nm diode") << Kirel5Area{60000, 60000, 10000, 4000, 100, 16} << 0;
    // A piece is read only once the buffer status counts its bytes.
    QTest::newRow("paced, 70 ms a line") << Kirel5Area{0, 0, 12000, 6000, 200, 2} << 70;
}

void TestReadout::kirel5Image()
{
    QFETCH(Kirel5Area, area);
    QFETCH(int, lineMs);
    ScanOptions options;
    options.lineMs = lineMs;
    ReadoutFixture f(kModelKIREL5, options);
    sysparams.rawdatasave = 1;
    LogsOn(f);
    f.setup(area);
    QVERIFY(f.filesOpen());
    f.start();
    f.readAll();

    const ScanSetup &s = newscansetup;
    QCOMPARE(s.scanrunningflag, 0);
    QCOMPARE(s.scanrunningerror, 0);
    QCOMPARE(scanwriteerror, 0);
    QVERIFY(s.scanstatus >= s.height);

    const int r = area.resolution, selector = ShadingSelectorFor(false, area.laser);
    QCOMPARE(PictureDifference(PictureOf(f.fileBytes(QStringLiteral(".raw")), s.width),
                               FluorescenceExpected(AreaOf(area), r, selector, true)),
             QString());
    QCOMPARE(PictureDifference(ImageFile(f), Kirel5Image(area)), QString());

    QCOMPARE(LD685status, area.laser == 16 ? 1 : 0);
    QVERIFY(f.fileBytes(QStringLiteral(".log")).contains("DIN: STAT=0"));
}

void TestReadout::plateSettlesBeforeFirstRead()
{
    ReadoutFixture f(kModelVESK1800);
    f.setup(kFaultPlate);
    QVERIFY(f.filesOpen());
    f.start();
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

// The second READ (the first asked for right after a piece) loses its message bytes: the
// station waits for the reselection instead of sending it again, every piece comes once,
// and the live preview gets every line.
void TestReadout::plateReadWhoseMessagesAreLostIsNotSentTwice()
{
    ReadoutFixture f(kModelVESK1800);
    f.setup(kFaultPlate);
    QVERIFY(f.filesOpen());
    f.start();
    {
        ReadMessagesLost glitch(f, 2);
        f.readAll();
    }
    QVERIFY(f.results.contains(-48));
    QCOMPARE(newscansetup.scanrunningflag, 0);
    const Picture img = ImageFile(f);
    QCOMPARE(PictureDifference(img, PlateImage(kFaultPlate)), QString());
    QCOMPARE(f.trace().filter(QStringLiteral("{\"cdb\":\"28")).size(),
             f.scan->scanLines() / newscansetup.bufferlines);
    // At scale 1 preview row k is line k (the file's rows run from the end), each pixel its
    // high byte, rounded up when a remainder is left.
    QCOMPARE(newscansetup.previewscale, 1.0f);
    QCOMPARE(newscansetup.previewwidth, img.columns);
    for (int line = 0; line < img.rows; ++line)
        for (int i = 0; i < img.columns; ++i) {
            const int v = img.at(img.rows - 1 - line, i);
            const int shown = (v >> 8) + ((v & 0xFF) && v < 0xFF00 ? 1 : 0);
            QCOMPARE(int(scanimage[line * img.columns + i]), shown);
        }
}

void TestReadout::faultDuringReadout_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("code");          // what the read call that met the fault returned
    QTest::addColumn<QStringList>("sense"); // key and code where the scan ends on it
    QTest::addColumn<int>("linesKept");     // lines in the image, the rest left blank
    const QStringList goesOn;
    QTest::newRow("KIREL-5000/5100 sense error ends, the waiting piece still read")
        << int(kModelKIREL5) << int(ScanFault::SenseError) << 0 << QStringList{"03h", "1100h"}
        << 15;
    QTest::newRow("KIREL-5000/5100 ILLEGAL REQUEST passed over")
        << int(kModelKIREL5) << int(ScanFault::IllegalRequestOnce) << 52 << goesOn << 30;
    // The scanner holds BSY after the second piece, for longer than the station waits for a
    // free bus (about a second), then reports a hardware error.
    QTest::newRow("KIREL-5000/5100 bus held busy ends")
        << int(kModelKIREL5) << int(ScanFault::BusHeldBusy) << -37 << QStringList{"04h", "4400h"}
        << 10;
    QTest::newRow("KIREL-5000/5100 DATA IN cut short fetched again")
        << int(kModelKIREL5) << int(ScanFault::DataInCutShort) << -44 << goesOn << 30;
    QTest::newRow("VESK-1800II DATA IN cut short fetched again")
        << int(kModelVESK1800) << int(ScanFault::DataInCutShort) << -45 << goesOn << 50;
}

void TestReadout::faultDuringReadout()
{
    QFETCH(int, model);
    QFETCH(int, fault);
    QFETCH(int, code);
    QFETCH(QStringList, sense);
    QFETCH(int, linesKept);
    const bool kirel5 = model == kModelKIREL5;
    ScanOptions options;
    options.fault = ScanFault(fault);
    options.faultAfterLines = kirel5 ? 10 : 20;
    options.cutBytes = kirel5 ? 100 : 1000;
    ReadoutFixture f(model, options);
    LogsOn(f);
    kirel5 ? f.setup(kFaultArea) : f.setup(kFaultPlate);
    QVERIFY(f.filesOpen());
    f.start();
    f.readAll();

    const ScanSetup &s = newscansetup;
    QVERIFY(f.scan->faultStruck());
    QCOMPARE(s.scanstatus, linesKept);
    if (sense.isEmpty()) {
        // Met once on the call that met it (later calls hand the result back unchanged).
        QVERIFY(f.results.contains(code));
        QCOMPARE(f.results.count(-37), 0);
        QCOMPARE(s.scanrunningflag, 0);
        QCOMPARE(s.scanrunningerror, 0);
    } else {
        QCOMPARE(f.results.last(), code);
        QCOMPARE(s.scanrunningflag, -1);
        QCOMPARE(s.scanrunningerror, 1);
        QCOMPARE(s.scansensekey, sense[0]);
        QCOMPARE(s.scansensecode, sense[1]);
        QFile errorLog(ErrorLogPath());
        QVERIFY(errorLog.open(QIODevice::ReadOnly));
        QVERIFY(errorLog.readAll().contains(
            QStringLiteral("Sense Key: %1 Sense Code: %2").arg(sense[0], sense[1]).toLatin1()));
    }
    // The lines read are the picture (first line last); those never read stay blank.
    Picture want = kirel5 ? Kirel5Image(kFaultArea) : PlateImage(kFaultPlate);
    for (int row = 0; row < want.rows - linesKept; ++row)
        for (int i = 0; i < want.columns; ++i)
            want.values[row * want.columns + i] = 0;
    QCOMPARE(PictureDifference(ImageFile(f), want), QString());
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
    model == kModelKIREL5 ? f.setup(kFaultArea) : f.setup(kFaultPlate);
    kirelscanfile_img.setFileName(QStringLiteral("/dev/full"));
    QVERIFY(kirelscanfile_img.open(QIODevice::WriteOnly));
    f.start();
    QCOMPARE(f.readAll(), -150);
    QCOMPARE(scanwriteerror, 1);
    QCOMPARE(newscansetup.scanrunningflag, -1);
}

// ---------------------------------------------------------------------------------------
// Shading correction
// ---------------------------------------------------------------------------------------

namespace
{
// Corrects a piece both ways: the pixels and the histogram counts must be the same.
void CompareWithFormula(const std::vector<unsigned char> &raw, int width, int lines, int xstart,
                        int firstLine, int pitch)
{
    std::vector<unsigned char> fast(raw.size()), reference(raw.size());
    float bins[161] = {};
    std::memset(histval, 0, sizeof histval);
    ShadingCorrectPiece(raw.data(), fast.data(), width, lines, xstart, firstLine, pitch);
    shadingreference::Piece(raw.data(), reference.data(), width, lines, xstart, firstLine, pitch,
                            shadingdata, bins);
    QVERIFY(fast == reference);
    for (int b = 0; b < 161; ++b)
        QCOMPARE(histval[b], bins[b]);
}

void FlatTable(float factor)
{
    std::fill(&shadingdata[0][0], &shadingdata[0][0] + 48 * 42, factor);
}
} // namespace

void TestReadout::matchesFormula_data()
{
    QTest::addColumn<int>("pitch");
    QTest::addColumn<int>("xstart");
    QTest::addColumn<int>("firstLine");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("lines");
    // Positions from the bed's corner (grid index 0 made 1) to past the table's far edge.
    QTest::newRow("25 um, bed corner") << 400 << 0 << 0 << 900 << 6;
    QTest::newRow("25 um, far edge") << 400 << 17900 << 15800 << 500 << 3;
    QTest::newRow("50 um, mid bed") << 200 << 1234 << 2345 << 700 << 8;
    QTest::newRow("200 um, whole bed width") << 50 << 0 << 1000 << 2300 << 5;
    QTest::newRow("200 um, past the table") << 50 << 2250 << 2050 << 200 << 5;
    // Lines not a whole number of blocks of eight, lines inside one grid cell, and a line
    // one pixel longer than the stretch corrected at a time (1024).
    QTest::newRow("50 um, one pixel") << 200 << 3333 << 777 << 1 << 3;
    QTest::newRow("100 um, seven pixels") << 100 << 2010 << 1500 << 7 << 4;
    QTest::newRow("100 um, eight pixels") << 100 << 2049 << 1500 << 8 << 4;
    QTest::newRow("100 um, nine pixels across a cell edge") << 100 << 2045 << 1500 << 9 << 4;
    QTest::newRow("25 um, inside one cell") << 400 << 5000 << 9000 << 150 << 3;
    QTest::newRow("25 um, one pixel past a stretch") << 400 << 3000 << 400 << 1025 << 2;
}

void TestReadout::matchesFormula()
{
    QFETCH(int, pitch);
    QFETCH(int, xstart);
    QFETCH(int, firstLine);
    QFETCH(int, width);
    QFETCH(int, lines);
    QRandomGenerator rng(quint32(pitch * 7919 + xstart + firstLine));
    for (auto &column : shadingdata)
        for (float &f : column)
            f = 0.5f + float(rng.generateDouble());
    std::vector<unsigned char> raw;
    for (int i = 0; i < width * lines; ++i) {
        // Mostly mid-range values, some zeros and some at the top (capped after correction).
        const int pick = rng.bounded(20);
        const int v = pick == 0 ? 0 : (pick == 1 ? 65535 - rng.bounded(200) : rng.bounded(65536));
        raw.push_back(static_cast<unsigned char>(v >> 8));
        raw.push_back(static_cast<unsigned char>(v));
    }
    CompareWithFormula(raw, width, lines, xstart, firstLine, pitch);
}

void TestReadout::pixelOnNodeTakesThatNode()
{
    // Node 5 at pitch 50 lies at bed pixel 225: neighbours one pitch away weigh nothing and
    // the diagonal ones less than nothing, so the node's own factor decides alone.
    FlatTable(1.25f);
    shadingdata[5][7] = 0.5f;
    const unsigned char raw[2] = {0x10, 0x01}; // 4097
    unsigned char out[2] = {};
    ShadingCorrectPiece(raw, out, 1, 1, 225, 325, 50);
    QCOMPARE(out[0] << 8 | out[1], 8194);
}

void TestReadout::binEdgesCountLikeFormula()
{
    // Raw values around every bin edge, with a flat factor that leaves fractions: the bin
    // must follow the corrected value, not its whole part.
    FlatTable(0.999f);
    std::vector<unsigned char> raw;
    for (int k = 1; k <= 160; ++k) {
        const int edge = int(k * 65535.0 / 160.0 * 0.999);
        for (int v = edge - 1; v <= edge + 1; ++v) {
            raw.push_back(static_cast<unsigned char>(v >> 8));
            raw.push_back(static_cast<unsigned char>(v));
        }
    }
    CompareWithFormula(raw, int(raw.size() / 2), 1, 300, 300, 100);
}

QTEST_MAIN(TestReadout)
#include "tst_readout.moc"
