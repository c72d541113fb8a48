// The bus and the initiator: on a register block of its own, phase decoding, timing, the
// device tree, a few cable-referee rules and the safety off the Pi; against the virtual
// scanner, the phases of a transaction, reselection and targets that break off.
#include "busfixture.h"
#include "emulatedgpio.h"
#include "scsicommands.h"
#include "standardcommands.h"

#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace
{
// A READ that disconnects and brings its data after the reselection.
void DisconnectingRead(VirtualScanner &, VirtualCommand &c)
{
    c.disconnect = true;
    c.dataIn = QByteArray::fromHex("0102030405060708");
}

// A bus brought up as initiator on a register block of its own.
struct Board {
    EmulatedGpio regs;
    EmulatedRegistersGuard guard{&regs};
    GPIOBUS b;
    const bool up = b.Init(BUS::INITIATOR);
};
} // namespace

class TestInitiator : public QObject
{
    Q_OBJECT

private slots:
    // Every test starts with a virtual scanner under a freshly initialised bus, set up as a
    // protocol operation does it; the tests of the bus alone put a register block of their
    // own in its place.
    void init()
    {
        v.reset(new VirtualScanner);
        InstallEmulatedRegisters(&v->registers());
        QVERIFY(Init());
        scsiid = kScannerId;
        Reset();
        BusFree();
    }
    void cleanup()
    {
        Cleanup();
        InstallEmulatedRegisters(nullptr);
        v.reset();
    }

    void initInstallsKillHandler();
    void testUnitReady_data();
    void testUnitReady();
    void transactionCutShort_data();
    void transactionCutShort();
    void reselectionAfterDisconnect();

    void phaseFromControlLines_data();
    void phaseFromControlLines();
    void sleepNsecDummyWrites_data();
    void sleepNsecDummyWrites();
    void boardFromInitToCleanup();
    void scsiPinsWithoutPull_data();
    void scsiPinsWithoutPull();
    void refereeRules_data();
    void refereeRules();
    void initFailsOffThePiWithoutMapping();
    void deviceTreeFiles_data();
    void deviceTreeFiles();

private:
    std::unique_ptr<VirtualScanner> v;
};

void TestInitiator::initInstallsKillHandler()
{
    for (int sig : {SIGINT, SIGHUP, SIGTERM}) {
        struct sigaction action;
        QCOMPARE(sigaction(sig, nullptr, &action), 0);
        QVERIFY(action.sa_handler == KillHandler);
    }
    QVERIFY(Init());
    QCOMPARE(scsiid, -1);
    QCOMPARE(restore, FALSE);
}

void TestInitiator::testUnitReady_data()
{
    QTest::addColumn<bool>("check");
    QTest::addColumn<bool>("ignoreAttention");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("good: silent") << false << false << 0 << QByteArray();
    QTest::newRow("check condition: reported") << true << false << 2 << QByteArray("Status = 02\n");
    // Without MESSAGE OUT the arbitration carries on as if IDENTIFY had gone; the first CDB
    // byte releases ATN.
    QTest::newRow("target ignores ATN") << false << true << 0 << QByteArray();
}

// Arbitration, selection with ATN and IDENTIFY, then one command to its status byte; the
// sense the target holds is its own business.
void TestInitiator::testUnitReady()
{
    QFETCH(bool, check);
    QFETCH(bool, ignoreAttention);
    QFETCH(int, status);
    QFETCH(QByteArray, message);
    if (check)
        v->injectCheckCondition(Sense::kBecomingReady);
    v->faults().ignoreAttention = ignoreAttention;
    result = 0;
    StatusValue = -7;
    CapturedStream err;
    QCOMPARE(KIREL5Arbitration(), 1);
    QCOMPARE(v->messagesOut(), ignoreAttention ? QByteArray() : QByteArray(1, char(0xC0)));
    QCOMPARE(int(v->phase()), int(BUS::command));
    QCOMPARE(v->registers().stationDrive() & kMaskSEL, DWORD(0));
    QCOMPARE(bool(v->registers().stationDrive() & kMaskATN), ignoreAttention);
    BYTE cdb[6] = {kOpTestUnitReady};
    QVERIFY(Command(cdb, 6));
    QVERIFY(!(v->registers().stationDrive() & kMaskATN));
    QCOMPARE(Status(), status);
    QCOMPARE(StatusValue, status);
    QCOMPARE(MessageIn(), 0);
    BusFree();
    QCOMPARE(err.text(), message);
    QCOMPARE(result, 0);
    QCOMPARE(v->sense(), check ? Sense::kBecomingReady : Sense::kNoSense);
}

void TestInitiator::transactionCutShort_data()
{
    QTest::addColumn<QByteArray>("cdb");
    QTest::addColumn<int>("cdbTaken");   // by the target; -1 all
    QTest::addColumn<int>("dataLimit");  // the target ends DATA IN after this many bytes
    QTest::addColumn<int>("afterData");  // the phase it goes to then
    QTest::addColumn<int>("resetAfter"); // the target asserts RST after this many bytes
    QTest::addColumn<int>("received");   // by DataIn; -1: the command itself fails
    QTest::addColumn<int>("status");     // Status(); 1: the bus went free instead
    QTest::addColumn<QString>("trace");  // what the target saw
    const int status = BUS::status;
    QTest::newRow("CDB taken in part")
        << QByteArray::fromHex("28000000000100000100") << 3 << -1 << status << -1 << -1 << 0
        << "{\"cdb\":\"28 00 00\",\"out\":\"\",\"in\":0,\"status\":null}";
    QTest::newRow("DATA IN cut short, then STATUS")
        << QByteArray::fromHex("120000002400") << -1 << 20 << status << -1 << 20 << 0
        << "{\"cdb\":\"12 00 00 00 24 00\",\"out\":\"\",\"in\":20,\"status\":0}";
    QTest::newRow("MESSAGE IN without STATUS")
        << QByteArray::fromHex("030000001200") << -1 << 4 << int(BUS::msgin) << -1 << 4 << -2
        << "{\"cdb\":\"03 00 00 00 12 00\",\"out\":\"\",\"in\":4,\"status\":null}";
    QTest::newRow("bus reset during DATA IN")
        << QByteArray::fromHex("28000000000000000200") << -1 << -1 << status << 512 << 512 << 1
        << "{\"cdb\":\"28 00 00 00 00 00 00 00 02 00\",\"out\":\"\",\"in\":512,"
           "\"status\":null}";
}

// A target that breaks off a transaction: what the station receives, the status it reads,
// what the target saw, and a bus the next transaction can use.
void TestInitiator::transactionCutShort()
{
    QFETCH(QByteArray, cdb);
    QFETCH(int, cdbTaken);
    QFETCH(int, dataLimit);
    QFETCH(int, afterData);
    QFETCH(int, resetAfter);
    QFETCH(int, received);
    QFETCH(int, status);
    QFETCH(QString, trace);
    v->setTraceEnabled(true);
    v->inquiryData = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    TargetFaults &f = v->faults();
    f.cdbBytesTaken = cdbTaken;
    f.dataBytesLimit = dataLimit;
    f.afterDataLimit = BUS::phase_t(afterData);
    f.resetAfterDataBytes = resetAfter;
    QCOMPARE(KIREL5Arbitration(), 1);
    QCOMPARE(bool(Command(reinterpret_cast<BYTE *>(cdb.data()), cdb.size())), received >= 0);
    if (received >= 0) {
        QByteArray buf(1024, '\0');
        const int asked = cdb.size() == 6 ? cdb[4] : 512 * cdb[8];
        QCOMPARE(DataIn(reinterpret_cast<BYTE *>(buf.data()), asked), received);
        QCOMPARE(buf.mid(received), QByteArray(buf.size() - received, '\0'));
        if (cdb[0] == char(kOpInquiry))
            QCOMPARE(buf.left(received), v->inquiryData.left(received));
        if (status == 1) {
            // RST is the initiator's line on the board: the station sees only the bus go free.
            QCOMPARE(int(bus.GetPhase()), int(BUS::busfree));
        } else {
            StatusValue = 9;
            QCOMPARE(Status(), status);
            QCOMPARE(StatusValue, qMax(status, 0));
            QCOMPARE(MessageIn(), int(kMsgCommandComplete));
        }
    }
    BusFree();
    QCOMPARE(v->traceLines(), QStringList(trace));
    // The target left the bus: the next transaction goes through.
    f = TargetFaults();
    QCOMPARE(RequestKIREL5Sense(), 0);
}

// A READ whose target disconnects after the command and brings the data after reselecting
// the station, as the imaging-plate readers do after START.
void TestInitiator::reselectionAfterDisconnect()
{
    const QByteArray data = QByteArray::fromHex("0102030405060708");
    v->setTraceEnabled(true);
    v->setHandler(kOpRead10, {DisconnectingRead, nullptr, 0});
    BYTE cdb[10] = {kOpRead10, 0, 0, 0, 0, 0, 0, 0, BYTE(data.size()), 0};
    QCOMPARE(KIREL5Arbitration(), 1);
    QVERIFY(Command(cdb, 10));
    QCOMPARE(MessageIn(), int(kMsgSaveDataPointer));
    QCOMPARE(MessageIn(), int(kMsgDisconnect));
    BusFree();

    // Without a reselection the answer is -4, silently, as often as the poll asks.
    v->setReselectionHeld(true);
    {
        CapturedDebug quiet;
        CapturedStream err;
        QCOMPARE(VESK18IIreconnect(), -4);
        QCOMPARE(VESK18IIreconnect(), -4);
        QCOMPARE(err.text(), QByteArray());
        QCOMPARE(quiet.messages(), QStringList());
    }
    QVERIFY(v->reselectionPending());
    v->setReselectionHeld(false);

    CapturedDebug debug;
    QCOMPARE(VESK18IIreconnect(), 1);
    QCOMPARE(debug.messages(),
             QStringList({"I/O Reconnect", "Initiator Reconnect", "BSY Released Reconnect",
                          "SEL Released Reconnect", "BSY Reconnect"}));
    QCOMPARE(MessageIn(), 0x80); // IDENTIFY from the target
    QByteArray buf(data.size(), '\0');
    QCOMPARE(DataIn(reinterpret_cast<BYTE *>(buf.data()), buf.size()), data.size());
    QCOMPARE(buf, data);
    QCOMPARE(Status(), 0);
    QCOMPARE(MessageIn(), 0);
    BusFree();
    QCOMPARE(v->traceLines().size(), 1);
    QVERIFY(v->traceLines().first().endsWith("\"in\":0,\"status\":null}"));
    QCOMPARE(RequestKIREL5Sense(), 0); // the bus is free again
}

// The information phases come from every transaction on the cable; these are the line
// states no transaction of a working target shows.
void TestInitiator::phaseFromControlLines_data()
{
    QTest::addColumn<DWORD>("lines");
    QTest::addColumn<int>("phase");
    QTest::newRow("nothing: bus free") << DWORD(0) << int(BUS::busfree);
    QTest::newRow("C/D I/O without BSY: bus free") << (kMaskCD | kMaskIO) << int(BUS::busfree);
    QTest::newRow("SEL over a full phase: selection")
        << (kMaskSEL | kMaskBSY | kMaskMSG | kMaskCD | kMaskIO) << int(BUS::selection);
    QTest::newRow("MSG alone: reserved") << (kMaskBSY | kMaskMSG) << int(BUS::reserved);
}

void TestInitiator::phaseFromControlLines()
{
    QFETCH(DWORD, lines);
    QFETCH(int, phase);
    Board x;
    QVERIFY(x.up);
    x.b.Reset();
    if (lines & kMaskSEL) // SEL reaches the Pi only while its transceiver points inbound
        x.regs.writeGpio(GPCLR0, 1u << PIN_IND);
    x.regs.setDeviceDrive(lines);
    x.b.Aquire();
    QCOMPARE(int(x.b.GetPhase()), phase);
}

void TestInitiator::sleepNsecDummyWrites_data()
{
    QTest::addColumn<DWORD>("ns");
    QTest::addColumn<int>("writes");
    const std::pair<DWORD, int> rows[] = {{0, 0}, {1, 1}, {8, 1}, {9, 2}, {650, 82}};
    for (const auto &r : rows)
        QTest::addRow("%u ns", unsigned(r.first)) << r.first << r.second;
}

void TestInitiator::sleepNsecDummyWrites()
{
    QFETCH(DWORD, ns);
    QFETCH(int, writes);
    Board x;
    QVERIFY(x.up);
    x.regs.resetCounters();
    x.b.SleepNsec(ns);
    QCOMPARE(int(x.regs.counters().pudWrites), writes);
    QCOMPARE(int(x.regs.counters().gpioWrites), writes);
    QCOMPARE(x.regs.pullControl(), DWORD(0));
}

void TestInitiator::boardFromInitToCleanup()
{
    Board x;
    QVERIFY(x.up);
    EmulatedGpio &regs = x.regs;
    GPIOBUS &b = x.b;
    QCOMPARE(regs.padsDrive() & kPadsDriveMask, DWORD(7)); // 16 mA
    for (int pin : {PIN_ACT, PIN_ENB, PIN_IND, PIN_TAD, PIN_DTD}) {
        QCOMPARE(regs.pinFunction(pin), kGpioOutput);
        QVERIFY(!regs.controlPinHigh(pin));
    }
    QCOMPARE(regs.stationDrive(), DWORD(0));
    QCOMPARE(regs.outputLatch() & 0x0FFFFC00, DWORD(0)); // every signal latch preset to 0

    b.Reset();
    QVERIFY(regs.controlPinHigh(PIN_IND));
    for (int pin : {PIN_TAD, PIN_DTD, PIN_ENB})
        QVERIFY(!regs.controlPinHigh(pin));

    // Cleanup releases the board from a bus in use.
    b.SetDAT(0xA0);
    b.SetSEL(TRUE);
    b.Cleanup();
    QCOMPARE(regs.stationDrive(), DWORD(0));
    QVERIFY(regs.controlPinHigh(PIN_ENB));
    for (int pin : {PIN_ACT, PIN_IND, PIN_TAD, PIN_DTD})
        QCOMPARE(regs.pinFunction(pin), kGpioInput);
    QCOMPARE(regs.padsDrive() & kPadsDriveMask, DWORD(3)); // 8 mA
}

void TestInitiator::scsiPinsWithoutPull_data()
{
    QTest::addColumn<bool>("bcm2711");
    QTest::newRow("BCM283x: GPPUD and its clock") << false;
    QTest::newRow("BCM2711: pull-control registers") << true;
}

// The terminators alone hold the SCSI lines: from the reset pulls (GPIO 9-27 down) every
// signal pin ends with none, through the mechanism of the chip.
void TestInitiator::scsiPinsWithoutPull()
{
    QFETCH(bool, bcm2711);
    EmulatedGpio regs;
    regs.setBcm2711(bcm2711);
    EmulatedRegistersGuard guard(&regs);
    GPIOBUS b;
    QVERIFY(b.Init(BUS::INITIATOR));
    for (int pin = PIN_DT0; pin <= PIN_SEL; ++pin)
        QCOMPARE(int(regs.pull(pin)), int(EmulatedGpio::PullNone));
    QCOMPARE(int(regs.pull(PIN_ENB)), int(EmulatedGpio::PullUp)); // not a SCSI pin: untouched
    QCOMPARE(int(regs.counters().pudClkWrites > 0), int(!bcm2711));
    b.Cleanup();
}

void TestInitiator::refereeRules_data()
{
    // Steps, blank-separated: "dev=LINE+LINE" the target drives those lines, "dat=hh" SetDAT,
    // "LINE" / "-LINE" the station's setter of that line, "wait=us" a pause on the bus clock.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("broken");
    const auto row = [](const char *name, const char *steps, const char *broken) {
        QTest::newRow(name) << QString(steps) << QString(broken);
    };
    row("arbitration, selection, IDENTIFY in time",
        "dat=80 BSY wait=3 SEL wait=2 dat=a0 ATN wait=1 -BSY dev=BSY wait=1 -SEL "
        "dev=BSY+MSG+CD+REQ dat=c0 -ATN wait=1 ACK",
        "");
    row("IDs right after SEL", "dat=80 BSY wait=3 SEL dat=a0", "selection-settle");
    row("SEL within the arbitration delay", "dat=80 BSY wait=1 SEL", "arbitration-delay");
    row("data left on the lines after I/O", "dat=55 dev=BSY+IO wait=1", "two-drivers");
    row("even parity", "dev=BSY+CD+REQ wait=1 ACK", "parity");
    row("ACK without REQ", "dev=BSY+CD dat=12 wait=1 ACK", "handshake-order");
    row("ATN released after ACK", "dev=BSY+MSG+CD+REQ ATN dat=c0 wait=1 ACK -ATN", "atn-after-ack");
    row("reset pulse too short", "RST wait=20 -RST", "reset-hold");
    row("reset pulse held", "RST wait=25 -RST", "");
}

// A rule of the referee that stopped firing would let the station's own faults through
// every other test: a few of them broken once by a short sequence on the board, and kept.
void TestInitiator::refereeRules()
{
    QFETCH(QString, steps);
    QFETCH(QString, broken);
    static const QHash<QString, DWORD> lines = {
        {"BSY", kMaskBSY}, {"REQ", kMaskREQ}, {"MSG", kMaskMSG}, {"CD", kMaskCD}, {"IO", kMaskIO}};
    using Setter = void (GPIOBUS::*)(BOOL);
    static const QHash<QString, Setter> setters = {{"BSY", &GPIOBUS::SetBSY},
                                                   {"SEL", &GPIOBUS::SetSEL},
                                                   {"ATN", &GPIOBUS::SetATN},
                                                   {"ACK", &GPIOBUS::SetACK},
                                                   {"RST", &GPIOBUS::SetRST}};
    Board x;
    QVERIFY(x.up);
    x.regs.referee().setMode(CableReferee::Mode::Record);
    x.b.Reset();
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        const QString name = step.section(QLatin1Char('='), 0, 0);
        const QString arg = step.section(QLatin1Char('='), 1);
        if (name == "dev") {
            DWORD mask = 0;
            for (const QString &l : arg.split(QLatin1Char('+')))
                mask |= lines.value(l);
            x.regs.setDeviceDrive(mask);
        } else if (name == "dat") {
            x.b.SetDAT(BYTE(arg.toInt(nullptr, 16)));
        } else if (name == "wait") {
            x.regs.pause(arg.toUInt());
        } else {
            const bool off = name.startsWith(QLatin1Char('-'));
            QVERIFY2(setters.contains(name.mid(off)), qPrintable(step));
            (x.b.*setters.value(name.mid(off)))(!off);
        }
    }
    QCOMPARE(x.regs.referee().brokenRules().join(' '), broken);
}

// Tests run as root on x86: Init must fail like a failed mapping without touching /dev/mem.
void TestInitiator::initFailsOffThePiWithoutMapping()
{
    if (HardwareBuildCanMapRegisters())
        QSKIP("running on a Raspberry Pi");
    InstallEmulatedRegisters(nullptr);
    GPIOBUS b;
    CapturedStream err;
    QCOMPARE(b.Init(BUS::INITIATOR), FALSE);
    QCOMPARE(Init(), FALSE);
    QCOMPARE(err.text(), QByteArray());
    QFile maps("/proc/self/maps");
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    QVERIFY(!mapped.contains("/dev/mem"));
    QVERIFY(!mapped.contains("/dev/gpiomem"));
    b.Cleanup(); // harmless without registers, as from the signal handler
    // What comes after a failed set-up (a signal, the cleanup, the readout's next
    // transaction) finds every line released, not a null block.
    bus.LinesRelease();
    Cleanup();
    QCOMPARE(bus.Aquire(), DWORD(0));
    QCOMPARE(KIREL5Arbitration(), -1);
}

// What the bus reads from the device tree: the peripheral base from the soc ranges, and
// whether the machine is a Raspberry Pi (its model) and a Pi 5 (its compatible list).
void TestInitiator::deviceTreeFiles_data()
{
    QTest::addColumn<QByteArray>("node"); // ranges, model or compatible
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("expected");
    const auto row = [](const char *name, const char *node, const QByteArray &content,
                        qint64 expected) {
        QTest::newRow(name) << QByteArray(node) << content << expected;
    };
    const qint64 noBase = 0x20000000;
    row("Pi 2/3 ranges", "ranges", QByteArray::fromHex("7e0000003f00000001000000"), 0x3F000000);
    // Two-cell parent address: before, the upper half (0) was taken as the base.
    row("Pi 4 ranges", "ranges", QByteArray::fromHex("7e00000000000000fe00000001800000"),
        0xFE000000);
    row("Pi 4 ranges cut after the upper half", "ranges", QByteArray::fromHex("7e00000000000000"),
        noBase);
    row("short ranges", "ranges", QByteArray::fromHex("7e0000003f00"), noBase);
    row("Pi 4 model", "model", QByteArray("Raspberry Pi 4 Model B Rev 1.4\0", 31), 1);
    row("other board", "model", "Pine64 RockPro64 v2.1", 0);
    row("prefix only in part", "model", "Raspberry", 0);
    row("no model file", "model", QByteArray(), 0);
    // A Pi 5 is refused even though its model names a Raspberry Pi.
    row("Pi 5", "compatible", QByteArray("raspberrypi,5-model-b\0brcm,bcm2712\0", 35), 1);
    row("Pi 4", "compatible", QByteArray("raspberrypi,4-model-b\0brcm,bcm2711\0", 35), 0);
    row("name only as a prefix", "compatible", QByteArray("brcm,bcm2712d0\0", 15), 0);
}

void TestInitiator::deviceTreeFiles()
{
    QFETCH(QByteArray, node);
    QFETCH(QByteArray, content);
    QFETCH(qint64, expected);
    QTemporaryDir dir; // a null content leaves the file missing
    QFile f(dir.filePath(QStringLiteral("node")));
    if (!content.isNull() && f.open(QIODevice::WriteOnly))
        f.write(content);
    f.close();
    const QByteArray path = f.fileName().toLocal8Bit();
    if (node == "ranges")
        QCOMPARE(qint64(PeripheralAddressFrom(path.constData())), expected);
    else if (node == "model")
        QCOMPARE(qint64(DeviceTreeNamesRaspberryPi(path.constData())), expected);
    else
        QCOMPARE(qint64(DeviceTreeIsCompatible(path.constData(), "brcm,bcm2712")), expected);
}

QTEST_GUILESS_MAIN(TestInitiator)
#include "tst_initiator.moc"
