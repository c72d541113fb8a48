// The scan starts and whole readouts against the virtual scanner: what the starts send, the
// shading factors, the images worked out from the phantom and the scanners' documented
// layouts (phantomexpect.h), the faults the scan must survive or end on; last, the fast
// shading correction against the per-pixel formula, bit for bit, on random tables.
#include "emulatedgpio.h"
#include "initiator.h"
#include "kirelscan.h"
#include "logfiles.h"
#include "mainwindow.h"
#include "phantomexpect.h"
#include "scanhandlers.h"
#include "scanstate.h"
#include "scanwindow.h"
#include "scsicommands.h"
#include "shadingcorrection.h"
#include "shadingreference.h"
#include "standardcommands.h"
#include "stationfixture.h"
#include "virtualscanner.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

using namespace expect;

namespace
{
constexpr int kReadTickMs = 50;
qint64 clockMs = 1700000000000; // the test's clock, station and scanner alike

// An area on the KIREL-5000/5100 bed, micrometres.
struct Kirel5Area {
    int x0 = 0, y0 = 0, width = 0, height = 0;
    int resolution = 200;
    int laser = 2; // channel-1 laser code as the scan request lists it
};

// An area of an imaging-plate reader: left edge and width in mm, lower edge in 0.1 mm,
// height in mm.
struct PlateArea {
    int model = 4;
    int resolution = 50;
    int leftMm = 0, widthMm = 0, lowerTenths = 0, heightMm = 0;
};

Area AreaOf(const Kirel5Area &a)
{
    return {a.x0, a.y0, a.width, a.height};
}

Area AreaOf(const PlateArea &a)
{
    return {a.leftMm * 1000, a.lowerTenths * 100, a.widthMm * 1000, a.heightMm * 1000};
}

// The request as Start Scan fills it, then what the scan window adds before the start: the
// file size and a preview of at most 575 across and 500 down.
void Request(const ScanChoice &choice, const Area &a)
{
    if (!ScanRequestFill(choice, {a.x0, a.y0, a.width, a.height}))
        qFatal("resolution %d not offered", choice.resolution);
    ScanSetup &s = newscansetup;
    const bool kirel5 = ScannerType == kModelKIREL5;
    // Fluorescence rows are `width` pixels, reader rows `pixwidth`; the size leaves out one.
    ScanFileSize = kirel5 ? (s.height - 1) * s.width * 2 : (s.width - 1) * s.pixwidth * 2;
    const int across = kirel5 ? s.width : s.height, down = kirel5 ? s.height : s.width;
    s.previewscale = std::min({1.0f, 575.0f / float(across), 500.0f / float(down)});
    s.previewwidth = int(float(across) * s.previewscale);
    s.previewheight = int(float(down) * s.previewscale);
    s.previewincrement = float(s.bufferlines) * s.previewscale;
    s.scanrunningflag = 1;
}

// A bare virtual scanner with the scanning handlers alone under the bus, and a scan set up
// as Start Scan and the scan window leave it. No .inf or .log is written and no timer runs:
// the test calls the operations itself, as the run controller would.
class ReadoutFixture
{
public:
    explicit ReadoutFixture(int model, const ScanOptions &options = {})
        : scan(scanner, model, options, [] { return clockMs; })
    {
        ResetSharedState(model);
        ScannerPhase = 0;
        result = 0;
        StatusValue = 0;
        scanwriteerror = 0;
        scanstart_epochsecs = 0;
        ScanClockMs = [] { return clockMs; };
        image_dir = root.root();
        image_name = QStringLiteral("scan");
        scan.install();
        // The status read of the start (its answer is not used): the model's own command.
        scanner.setHandler(kOpVendorStatusRead, {[](VirtualScanner &, VirtualCommand &c) {
                                                     c.dataIn = QByteArray(c.byte(4), '\0');
                                                 },
                                                 nullptr, 0});
        scanner.setTraceEnabled(true);
        InstallEmulatedRegisters(&scanner.registers());
    }
    ~ReadoutFixture()
    {
        Cleanup();
        InstallEmulatedRegisters(nullptr);
        filesClose();
    }

    TempStationRoot root;
    VirtualScanner scanner;
    VirtualScan scan;
    QVector<int> results; // what each read call returned

    void setup(const Kirel5Area &a)
    {
        ScanChoice choice;
        choice.mode = kModeFluorescence;
        choice.resolution = a.resolution;
        choice.HVch1 = 600;
        laserCh1[0] = BYTE(a.laser);
        Request(choice, AreaOf(a));
    }
    void setup(const PlateArea &a)
    {
        ScanChoice choice;
        choice.resolution = a.resolution;
        Request(choice, AreaOf(a));
    }

    QString imagePath() const { return image_dir + QStringLiteral("/") + image_name; }

    // Opens and zero-fills the image (and raw) files, as the scan window does.
    bool filesOpen()
    {
        const qint64 bytes = ScanImageBytes();
        kirelscanfile_img.setFileName(imagePath() + QStringLiteral(".img"));
        kirelscanfile_raw.setFileName(imagePath() + QStringLiteral(".raw"));
        if (!kirelscanfile_img.open(QIODevice::WriteOnly) || !kirelscanfile_img.resize(bytes))
            return false;
        IMGdatastream.setDevice(&kirelscanfile_img);
        if (sysparams.rawdatasave != 1)
            return true;
        RAWdatastream.setDevice(&kirelscanfile_raw);
        return kirelscanfile_raw.open(QIODevice::WriteOnly) && kirelscanfile_raw.resize(bytes);
    }
    void filesClose()
    {
        IMGdatastream.setDevice(nullptr);
        RAWdatastream.setDevice(nullptr);
        kirelscanfile_img.close();
        kirelscanfile_raw.close();
    }

    int start()
    {
        ScannerPhase = 0;
        kirel5scan k;
        return ScannerType == kModelKIREL5 ? k.startkirel5scan() : k.startVESK18IIscan();
    }
    // One read call of the model's readout, as the read tick makes it.
    int read()
    {
        kirel5scan k;
        if (ScannerType == kModelKIREL5)
            return k.readkirel5scan();
        return ScannerType == kModelVESK5000 ? k.readVESK5scan() : k.readVESK18IIscan();
    }
    // Calls the readout until the scan leaves the running state or the calls (2000 on the
    // KIREL-5000/5100, 4000 on the readers) ran out, 50 ms apart.
    int readAll()
    {
        const int limit = ScannerType == kModelKIREL5 ? 2000 : 4000;
        results.clear();
        for (int calls = 0; newscansetup.scanrunningflag == 1 && calls < limit; ++calls) {
            clockMs += kReadTickMs;
            results << read();
        }
        filesClose();
        return results.value(results.size() - 1);
    }

    QByteArray fileBytes(const QString &extension) const
    {
        QFile f(imagePath() + extension);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList trace() const { return scanner.traceLines(); }
    // The trace line of the first command with this opcode, empty when none.
    QString traceOf(BYTE opcode) const
    {
        const QString start = QStringLiteral("{\"cdb\":\"%1").arg(opcode, 2, 16, QLatin1Char('0'));
        for (const QString &line : scanner.traceLines())
            if (line.startsWith(start))
                return line;
        return QString();
    }
};

// The table of the shading read with this selector, as factors [x][y].
void ExpectedFactors(int selector, float factors[48][42])
{
    for (int k = 0; k < 2016; ++k)
        factors[k % 48][k / 48] = ShadingNodeFactor(ShadingTableValue(selector, k));
}

// The .img the scan must leave: the reference correction of the expected raw picture.
Picture Kirel5Image(const Kirel5Area &a)
{
    const int r = a.resolution, selector = ShadingSelectorFor(a.laser);
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

// The image file as the scan left it: rows of `width` (fluorescence) or `pixwidth` pixels.
Picture ImageFile(const ReadoutFixture &f)
{
    const ScanSetup &s = newscansetup;
    return PictureOf(f.fileBytes(QStringLiteral(".img")),
                     ScannerType == kModelKIREL5 ? s.width : s.pixwidth);
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
        f.scanner.registers().attach(this);
    }
    ~ReadMessagesLost() override { f.scanner.registers().attach(&f.scan); }

    void onLevelRead(EmulatedGpio &gpio) override
    {
        f.scan.onLevelRead(gpio);
        VirtualScanner &target = f.scanner;
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

Q_DECLARE_METATYPE(Kirel5Area)
Q_DECLARE_METATYPE(CableFault)

class TestReadout : public QObject
{
    Q_OBJECT

private slots:
    void kirel5Start_data();
    void kirel5Start();
    void shadingFactorsWithoutFile_data();
    void shadingFactorsWithoutFile();
    void plateStartDisconnectsAndSettles_data();
    void plateStartDisconnectsAndSettles();
    void readyCheckNotSelectedFailsTheStart_data();
    void readyCheckNotSelectedFailsTheStart();

    void kirel5Image_data();
    void kirel5Image();
    void plateReadWhoseMessagesAreLostIsNotSentTwice();
    void writeFailureEndsScanWithError_data();
    void writeFailureEndsScanWithError();

    void matchesFormula_data();
    void matchesFormula();
    void binEdgesCountLikeFormula();
};

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
    QVERIFY(f.scan.started());
    QCOMPARE(f.scanner.resetsSeen(), 1); // the start opens with a bus reset
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

void TestReadout::plateStartDisconnectsAndSettles_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<CableFault>("fault");
    QTest::newRow("VESK-1800II") << int(kModelVESK1800) << CableFault::None;
    // The readout waits, touching nothing, for a reader that does not come back as itself.
    QTest::newRow("VESK-1800II never reselects") << int(kModelVESK1800) << CableFault::NoReselect;
    QTest::newRow("VESK-5000 reselects as ID 6")
        << int(kModelVESK5000) << CableFault::WrongReselect;
}

void TestReadout::plateStartDisconnectsAndSettles()
{
    QFETCH(int, model);
    QFETCH(CableFault, fault);
    ReadoutFixture f(model);
    f.setup(PlateArea{model, 50, 30, 5, 35, 10});
    QVERIFY(f.filesOpen());
    f.scanner.setCableFault(fault);
    f.start();
    QCOMPARE(ScannerPhase, 1);
    QCOMPARE(f.scanner.resetsSeen(), 1); // the start opens with a bus reset
    const QString modeSelect = f.traceOf(kOpModeSelect6);
    QVERIFY(modeSelect.contains(QStringLiteral("\"cdb\":\"15 00 00 00 0c 00\"")));
    // START ends with a disconnect: no status until the reader comes back.
    QVERIFY(f.traceOf(kOpStartStop).endsWith(QStringLiteral("\"status\":null}")));
    // The reader comes back when the start is done: the readout's phase 1 takes it.
    int got = 0;
    for (int call = 0; call < 3 && ScannerPhase == 1; ++call)
        got = f.read();
    if (fault != CableFault::None) {
        QCOMPARE(got, 1); // waiting
        QCOMPARE(ScannerPhase, 1);
        QCOMPARE(f.trace().size(), 4); // INQUIRY, TEST UNIT READY, MODE SELECT, START
        return;
    }
    QCOMPARE(ScannerPhase, 2);
    QCOMPARE(scanstart_epochsecs, clockMs); // settling starts, in ms
    // The plate settles 1.5 s before the first READ; until then the bus is not touched.
    const int commands = f.scanner.commandsTaken();
    clockMs += 1499;
    QCOMPARE(f.read(), 1);
    QCOMPARE(f.scanner.commandsTaken(), commands);
    clockMs += 1;
    f.read();
    QCOMPARE(ScannerPhase, 3);
    QCOMPARE(f.scanner.commandsTaken(), commands + 1);
    QCOMPARE(scanstart_epochsecs, qint64(0));
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
        f.setup(kFaultPlate);
    const CommandEntry answer = StandardCommandHandlers().value(BYTE(lastAnswered));
    f.scanner.setHandler(BYTE(lastAnswered), {[answer](VirtualScanner &s, VirtualCommand &cmd) {
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
    sysparams.readlog = 1;
    kirelscanfile_log.setFileName(f.imagePath() + QStringLiteral(".log"));
    LogFilesCreate();
    f.setup(area);
    QVERIFY(f.filesOpen());
    f.start();
    f.readAll();

    const ScanSetup &s = newscansetup;
    QCOMPARE(s.scanrunningflag, 0);
    QCOMPARE(s.scanrunningerror, 0);
    QCOMPARE(scanwriteerror, 0);
    QVERIFY(s.scanstatus >= s.height);

    const int r = area.resolution, selector = ShadingSelectorFor(area.laser);
    QCOMPARE(PictureDifference(PictureOf(f.fileBytes(QStringLiteral(".raw")), s.width),
                               FluorescenceExpected(AreaOf(area), r, selector, true)),
             QString());
    QCOMPARE(PictureDifference(ImageFile(f), Kirel5Image(area)), QString());

    QVERIFY(f.fileBytes(QStringLiteral(".log")).contains("DIN: STAT=0"));
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
    QCOMPARE(PictureDifference(img, PlateExpected(4, AreaOf(kFaultPlate), 100)), QString());
    QCOMPARE(f.trace().filter(QStringLiteral("{\"cdb\":\"28")).size(),
             f.scan.scanLines() / newscansetup.bufferlines);
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
    QTest::newRow("200 um, past the table") << 50 << 2250 << 2050 << 200 << 5;
    // Lines not a whole number of blocks of eight, and a line one pixel longer than the
    // stretch corrected at a time (1024).
    QTest::newRow("50 um, one pixel") << 200 << 3333 << 777 << 1 << 3;
    QTest::newRow("100 um, eight pixels") << 100 << 2049 << 1500 << 8 << 4;
    QTest::newRow("100 um, nine pixels across a cell edge") << 100 << 2045 << 1500 << 9 << 4;
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
