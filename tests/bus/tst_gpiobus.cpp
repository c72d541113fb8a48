// The GPIO bus on the emulated register block: phase decoding, the dummy-write timing, the
// device tree, the handshakes, the cable referee's rules, and the safety of the hardware path on a
// machine that is not a Raspberry Pi.
#include "busfixture.h"
#include "emulatedgpio.h"
#include "scsicommands.h"

#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
// A device-tree file with these bytes in the folder; a null array leaves it missing.
QByteArray TreeFile(const QTemporaryDir &dir, const QByteArray &content)
{
    const QString path = dir.filePath(QStringLiteral("node"));
    QFile f(path);
    if (!content.isNull() && f.open(QIODevice::WriteOnly))
        f.write(content);
    return path.toLocal8Bit();
}

// A bus brought up as initiator on a register block of its own.
struct Board {
    EmulatedGpio regs;
    EmulatedRegistersGuard guard{&regs};
    GPIOBUS b;
    const bool up = b.Init(BUS::INITIATOR);
};
} // namespace

class TestGpioBus : public QObject
{
    Q_OBJECT

private slots:
    void phaseFromControlLines_data();
    void phaseFromControlLines();
    void sleepNsecDummyWrites_data();
    void sleepNsecDummyWrites();
    void boardFromInitToCleanup();
    void scsiPinsWithoutPull_data();
    void scsiPinsWithoutPull();
    void zeroCountHandshakesTouchNothing();
    void refereeRules_data();
    void refereeRules();
    void initFailsOffThePiWithoutMapping();
    void deviceTreeFiles_data();
    void deviceTreeFiles();
};

// The information phases come from every transaction on the cable; these are the line
// states no transaction of a working target shows.
void TestGpioBus::phaseFromControlLines_data()
{
    QTest::addColumn<DWORD>("lines");
    QTest::addColumn<int>("phase");
    QTest::newRow("nothing: bus free") << DWORD(0) << int(BUS::busfree);
    QTest::newRow("C/D I/O without BSY: bus free") << (kMaskCD | kMaskIO) << int(BUS::busfree);
    QTest::newRow("SEL over a full phase: selection")
        << (kMaskSEL | kMaskBSY | kMaskMSG | kMaskCD | kMaskIO) << int(BUS::selection);
    QTest::newRow("MSG alone: reserved") << (kMaskBSY | kMaskMSG) << int(BUS::reserved);
}

void TestGpioBus::phaseFromControlLines()
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

void TestGpioBus::sleepNsecDummyWrites_data()
{
    QTest::addColumn<DWORD>("ns");
    QTest::addColumn<int>("writes");
    const std::pair<DWORD, int> rows[] = {{0, 0}, {1, 1}, {8, 1}, {9, 2}, {650, 82}};
    for (const auto &r : rows)
        QTest::addRow("%u ns", unsigned(r.first)) << r.first << r.second;
}

void TestGpioBus::sleepNsecDummyWrites()
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

void TestGpioBus::boardFromInitToCleanup()
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

void TestGpioBus::zeroCountHandshakesTouchNothing()
{
    Board x;
    QVERIFY(x.up);
    x.b.Reset();
    x.regs.resetCounters();
    BYTE buf[1] = {0x55};
    QCOMPARE(x.b.SendHandShake(buf, 0), 0);
    QCOMPARE(x.b.ReceiveHandShake(buf, 0), 0);
    QCOMPARE(int(x.regs.counters().gpioReads + x.regs.counters().gpioWrites), 0);
    QCOMPARE(int(buf[0]), 0x55);
}

void TestGpioBus::scsiPinsWithoutPull_data()
{
    QTest::addColumn<bool>("bcm2711");
    QTest::newRow("BCM283x: GPPUD and its clock") << false;
    QTest::newRow("BCM2711: pull-control registers") << true;
}

// The terminators alone hold the SCSI lines: from the reset pulls (GPIO 9-27 down) every
// signal pin ends with none, through the mechanism of the chip.
void TestGpioBus::scsiPinsWithoutPull()
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

void TestGpioBus::refereeRules_data()
{
    // Steps, blank-separated: "dev=LINE+LINE" the target drives those lines, "dat=hh" SetDAT,
    // "LINE" / "-LINE" the station's setter of that line, "wait=us" a pause on the bus clock,
    // "enb=0|1" the enable pin, "pin=LINE" the line's pin made an output behind the bus's back.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QStringList>("broken");
    const QStringList none;
    QTest::newRow("arbitration, selection, IDENTIFY in time")
        << "dat=80 BSY wait=3 SEL wait=2 dat=a0 ATN wait=1 -BSY dev=BSY wait=1 -SEL "
           "dev=BSY+MSG+CD+REQ dat=c0 -ATN wait=1 ACK"
        << none;
    QTest::newRow("IDs right after SEL")
        << "dat=80 BSY wait=3 SEL dat=a0" << QStringList("selection-settle");
    QTest::newRow("SEL let go right after the target's BSY")
        << "dat=80 BSY wait=3 SEL wait=2 dat=a0 wait=1 -BSY dev=BSY -SEL"
        << QStringList("selection-settle");
    QTest::newRow("BSY asserted with its transceiver inbound")
        << "dat=80 pin=BSY" << QStringList("lost-assertion");
    QTest::newRow("SEL with the transceivers disabled") << "enb=1 SEL" << QStringList("enable-off");
    QTest::newRow("data left on the lines after I/O")
        << "dat=55 dev=BSY+IO wait=1" << QStringList("two-drivers");
    QTest::newRow("a byte taken with the data outbound")
        << "dev=BSY+CD+IO+REQ ACK" << QStringList("blind-read");
    QTest::newRow("ACK with the data just put on the lines")
        << "dev=BSY+CD+REQ dat=12 ACK" << QStringList("data-before-strobe");
    QTest::newRow("data changed under ACK")
        << "dev=BSY+CD+REQ dat=12 wait=1 ACK dat=13" << QStringList("data-before-strobe");
    QTest::newRow("even parity") << "dev=BSY+CD+REQ wait=1 ACK" << QStringList("parity");
    QTest::newRow("ACK without REQ")
        << "dev=BSY+CD dat=12 wait=1 ACK" << QStringList("handshake-order");
    QTest::newRow("ACK released before REQ")
        << "dev=BSY+CD+REQ dat=12 wait=1 ACK -ACK" << QStringList("handshake-order");
    QTest::newRow("ATN after SEL released") << "dev=BSY+CD ATN" << QStringList("atn-late");
    QTest::newRow("ATN released after ACK")
        << "dev=BSY+MSG+CD+REQ ATN dat=c0 wait=1 ACK -ATN" << QStringList("atn-after-ack");
    QTest::newRow("arbitration right after bus free")
        << "dev=BSY dev=0 dat=80 BSY" << QStringList("bus-free-delay");
    QTest::newRow("SEL within the arbitration delay")
        << "dat=80 BSY wait=1 SEL" << QStringList("arbitration-delay");
    QTest::newRow("selection without the initiator's bit")
        << "dat=80 BSY wait=3 SEL wait=2 dat=20 wait=1 -BSY" << QStringList("selection-ids");
    QTest::newRow("reselection answered until SEL went")
        << "dev=SEL+IO BSY dev=BSY+IO -BSY" << none;
    QTest::newRow("reselection answer let go under SEL")
        << "dev=SEL+IO BSY -BSY" << QStringList("reselection-bsy");
    QTest::newRow("reset pulse too short") << "RST wait=20 -RST" << QStringList("reset-hold");
    QTest::newRow("reset pulse held") << "RST wait=25 -RST" << none;
}

// Each rule of the referee, broken once by a short sequence on the board (and kept once).
void TestGpioBus::refereeRules()
{
    QFETCH(QString, steps);
    QFETCH(QStringList, broken);
    static const QHash<QString, DWORD> lines = {
        {"BSY", kMaskBSY}, {"SEL", kMaskSEL}, {"ATN", kMaskATN}, {"ACK", kMaskACK},
        {"RST", kMaskRST}, {"REQ", kMaskREQ}, {"MSG", kMaskMSG}, {"CD", kMaskCD},
        {"IO", kMaskIO},   {"0", 0}};
    Board x;
    QVERIFY(x.up);
    x.regs.referee().setMode(CableReferee::Mode::Record);
    x.b.Reset();
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        const QString arg = step.section(QLatin1Char('='), 1);
        const bool off = step.startsWith(QLatin1Char('-'));
        const QString name = step.mid(off ? 1 : 0).section(QLatin1Char('='), 0, 0);
        if (name == "dev") {
            DWORD mask = 0;
            for (const QString &l : arg.split(QLatin1Char('+')))
                mask |= lines.value(l);
            x.regs.setDeviceDrive(mask);
        } else if (name == "dat") {
            x.b.SetDAT(BYTE(arg.toInt(nullptr, 16)));
        } else if (name == "wait") {
            x.regs.pause(arg.toUInt());
        } else if (name == "enb") {
            x.regs.writeGpio(arg == "1" ? GPSET0 : GPCLR0, 1u << PIN_ENB);
        } else if (name == "pin") {
            const int pin = qCountTrailingZeroBits(lines.value(arg));
            const int reg = pin / 10;
            x.regs.writeGpio(GPFSEL0 + reg, x.regs.functionSelect(reg) | DWORD(kGpioOutput)
                                                                             << (pin % 10) * 3);
        } else {
            using Setter = void (GPIOBUS::*)(BOOL);
            static const QHash<QString, Setter> setters = {{"BSY", &GPIOBUS::SetBSY},
                                                           {"SEL", &GPIOBUS::SetSEL},
                                                           {"ATN", &GPIOBUS::SetATN},
                                                           {"ACK", &GPIOBUS::SetACK},
                                                           {"RST", &GPIOBUS::SetRST}};
            QVERIFY2(setters.contains(name), qPrintable(step));
            (x.b.*setters.value(name))(!off);
        }
    }
    QCOMPARE(x.regs.referee().brokenRules().join(' '), broken.join(' '));
}

// Tests run as root on x86: Init must fail like a failed mapping without touching /dev/mem.
void TestGpioBus::initFailsOffThePiWithoutMapping()
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
void TestGpioBus::deviceTreeFiles_data()
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
    row("unreadable ranges", "ranges", QByteArray(), noBase);
    row("Pi 4 model", "model", QByteArray("Raspberry Pi 4 Model B Rev 1.4\0", 31), 1);
    row("other board", "model", "Pine64 RockPro64 v2.1", 0);
    row("prefix only in part", "model", "Raspberry", 0);
    row("no model file", "model", QByteArray(), 0);
    // A Pi 5 is refused even though its model names a Raspberry Pi.
    row("Pi 5", "compatible", QByteArray("raspberrypi,5-model-b\0brcm,bcm2712\0", 35), 1);
    row("Pi 4", "compatible", QByteArray("raspberrypi,4-model-b\0brcm,bcm2711\0", 35), 0);
    row("name only as a prefix", "compatible", QByteArray("brcm,bcm2712d0\0", 15), 0);
    row("no compatible file", "compatible", QByteArray(), 0);
}

void TestGpioBus::deviceTreeFiles()
{
    QFETCH(QByteArray, node);
    QFETCH(QByteArray, content);
    QFETCH(qint64, expected);
    QTemporaryDir dir;
    const QByteArray path = TreeFile(dir, content);
    if (node == "ranges")
        QCOMPARE(qint64(PeripheralAddressFrom(path.constData())), expected);
    else if (node == "model")
        QCOMPARE(qint64(DeviceTreeNamesRaspberryPi(path.constData())), expected);
    else
        QCOMPARE(qint64(DeviceTreeIsCompatible(path.constData(), "brcm,bcm2712")), expected);
}

QTEST_GUILESS_MAIN(TestGpioBus)
#include "tst_gpiobus.moc"
