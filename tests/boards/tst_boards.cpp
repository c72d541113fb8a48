// The side boards against emulated boards on the I2C seam: what the station sends, how it
// turns the answers into readings, and what each failure leaves behind.
#include "busfixture.h"
#include "emulatedi2c.h"
#include "i2cdevice.h"
#include "ldcontrol.h"
#include "rtccontrol.h"
#include "scanstate.h"

#include <QtTest>

#include <functional>
#include <memory>

namespace
{

// A value no operation ever produces, to see that a failure leaves a reading alone.
constexpr float kUntouched = -123.5f;

enum class Operation { BoardTemp, Monitor, Switch, ScsiTemp };
enum class Fault {
    OpenFails,
    ClaimedByDriver,
    SecondWriteShort,
    ReadShort,
    Absent // the first write fails: the station takes it as a short write
};

} // namespace

Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(Fault)

class TestBoards : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        LDboardtemp = LD685monit = SCSIboardtemp = kUntouched;
        bus = std::make_unique<EmulatedI2cBus>();
        I2cInstallBus(bus.get());
    }
    void cleanup() { bus.reset(); }

    void operations_data();
    void operations();
    void failures_data();
    void failures();
    void deviceGate_data();
    void deviceGate();
    void noDeviceOffThePi();

private:
    std::unique_ptr<EmulatedI2cBus> bus; // a fresh set of boards for every test
};

void TestBoards::operations_data()
{
    QTest::addColumn<Operation>("op");
    QTest::addColumn<int>("input"); // result word, diode mode, or clock registers 11h and 12h
    QTest::addColumn<float>("reading");
    QTest::addColumn<QByteArrayList>("sent");
    const QByteArrayList boardTemp{QByteArray::fromHex("01c483"), QByteArray(1, 0)};
    const QByteArrayList monitor{QByteArray::fromHex("01d483"), QByteArray(1, 0)};
    const auto row = [](const char *name, Operation op, int input, float reading,
                        const QByteArrayList &sent) {
        QTest::newRow(name) << op << input << reading << sent;
    };
    // The converter: 12 bits left-aligned in two bytes, 0.1 degree and 1 mV per count, the
    // temperature from -50 degrees.
    row("board temp 2Eh E0h: 750 counts", Operation::BoardTemp, 0x2EE0, 25.0f, boardTemp);
    row("board temp zero counts", Operation::BoardTemp, 0x0000, -50.0f, boardTemp);
    row("board temp, low nibble ignored", Operation::BoardTemp, 0x2EEF, 25.0f, boardTemp);
    row("monitor 750 counts", Operation::Monitor, 0x2EE0, 0.750f, monitor);
    row("monitor full scale 4095", Operation::Monitor, 0xFFF0, 4.095f, monitor);
    // The diode's switch: on in mode 1 only (the reading is whether the diode is on).
    row("switch mode 1 turns on", Operation::Switch, 1, 1, {QByteArray::fromHex("0554")});
    row("switch mode 0 turns off", Operation::Switch, 0, 0, {QByteArray::fromHex("0555")});
    row("switch mode 2 turns off", Operation::Switch, 2, 0, {QByteArray::fromHex("0555")});
    // The clock: whole degrees, then the quarters in the top two bits.
    row("clock 19h 40h", Operation::ScsiTemp, 0x1940, 25.25f, {QByteArray(1, 0)});
    row("clock FFh read without sign", Operation::ScsiTemp, 0xFF00, 255.0f, {QByteArray(1, 0)});
    row("clock bits below the quarters ignored", Operation::ScsiTemp, 0x197F, 25.25f,
        {QByteArray(1, 0)});
}

// What the station sends to each board, what it makes of the answer, and the device opened
// and closed once.
void TestBoards::operations()
{
    QFETCH(Operation, op);
    QFETCH(int, input);
    QFETCH(float, reading);
    QFETCH(QByteArrayList, sent);
    EmulatedI2cBoard *board = nullptr;
    switch (op) {
    case Operation::BoardTemp:
    case Operation::Monitor:
        board = &bus->converter;
        bus->converter.setResultWord(op == Operation::Monitor, quint16(input));
        QCOMPARE(op == Operation::Monitor ? newLD.LD685monitorRead() : newLD.LDboardtempRead(), 1);
        QCOMPARE(op == Operation::Monitor ? LD685monit : LDboardtemp, reading);
        break;
    case Operation::Switch:
        board = &bus->diodeSwitch;
        bus->diodeSwitch.setDiodeOn(reading == 0);
        QCOMPARE(newLD.LD685modecontrol(input), 1);
        QCOMPARE(float(bus->diodeSwitch.diodeOn()), reading);
        break;
    case Operation::ScsiTemp:
        // Every other register holds a value unlike the temperature, so that reading from the
        // wrong starting register shows.
        board = &bus->clock;
        for (int i = 0; i < EmulatedClock::kRegisters; ++i)
            bus->clock.setRegister(i, BYTE(0xA0 + i));
        bus->clock.setRegister(17, BYTE(input >> 8));
        bus->clock.setRegister(18, BYTE(input));
        QCOMPARE(newRTC.SCSIboardtempRead(), 1);
        QCOMPARE(SCSIboardtemp, reading);
        break;
    }
    QCOMPARE(QByteArrayList(board->writes), sent);
    QCOMPARE(board->reads, op == Operation::Switch ? 0 : 1);
    QCOMPARE(bus->opens, 1);
    QCOMPARE(bus->closes, 1);
}

void TestBoards::failures_data()
{
    QTest::addColumn<Operation>("op");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("code");

    const struct {
        const char *name;
        Operation op;
    } converterOps[] = {{"board temp", Operation::BoardTemp}, {"monitor", Operation::Monitor}};
    for (const auto &c : converterOps) {
        auto row = [&](const char *what) -> QTestData & {
            return QTest::addRow("%s: %s", c.name, what);
        };
        row("open") << c.op << Fault::OpenFails << -1;
        row("address claimed") << c.op << Fault::ClaimedByDriver << -2;
        row("pointer write short") << c.op << Fault::SecondWriteShort << -4;
        row("result read short") << c.op << Fault::ReadShort << -5;
        row("board absent") << c.op << Fault::Absent << -3;
    }
    QTest::newRow("switch: open") << Operation::Switch << Fault::OpenFails << -1;
    QTest::newRow("switch: address claimed") << Operation::Switch << Fault::ClaimedByDriver << -2;
    QTest::newRow("switch: board absent") << Operation::Switch << Fault::Absent << -3;
    QTest::newRow("clock: open") << Operation::ScsiTemp << Fault::OpenFails << -10;
    QTest::newRow("clock: address claimed") << Operation::ScsiTemp << Fault::ClaimedByDriver << -20;
    QTest::newRow("clock: register read short") << Operation::ScsiTemp << Fault::ReadShort << -50;
    QTest::newRow("clock: board absent") << Operation::ScsiTemp << Fault::Absent << -40;
}

void TestBoards::failures()
{
    QFETCH(Operation, op);
    QFETCH(Fault, fault);
    QFETCH(int, code);
    EmulatedI2cBoard *boards[] = {&bus->converter, &bus->converter, &bus->diodeSwitch, &bus->clock};
    EmulatedI2cBoard *board = boards[int(op)];
    bus->openFails = fault == Fault::OpenFails;
    board->claimedByDriver = fault == Fault::ClaimedByDriver;
    board->shortWriteAt = fault == Fault::SecondWriteShort ? 2 : 0;
    board->shortReads = fault == Fault::ReadShort;
    board->present = fault != Fault::Absent;
    bus->diodeSwitch.setDiodeOn(true);

    const std::function<int()> calls[] = {
        [] { return newLD.LDboardtempRead(); }, [] { return newLD.LD685monitorRead(); },
        [] { return newLD.LD685modecontrol(0); }, [] { return newRTC2.SCSIboardtempRead(); }};
    CapturedStream err;
    QCOMPARE(calls[int(op)](), code);
    // Only the monitor tells of a failed open.
    const bool told = op == Operation::Monitor && fault == Fault::OpenFails;
    QCOMPARE(err.text(), told ? QByteArray("Failed to open the i2c bus -1\n") : QByteArray());
    QCOMPARE(LDboardtemp, kUntouched);
    QCOMPARE(LD685monit, kUntouched);
    QCOMPARE(SCSIboardtemp, kUntouched);
    QVERIFY(bus->diodeSwitch.diodeOn());
    // Every failure after the open closes the device; a failed open has nothing to close.
    QCOMPARE(bus->openDescriptors(), 0);
    QCOMPARE(bus->closes, fault == Fault::OpenFails ? 0 : 1);
}

void TestBoards::deviceGate_data()
{
    QTest::addColumn<bool>("armBuild");
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("Pi 4 on an ARM build")
        << true << QByteArray("Raspberry Pi 4 Model B Rev 1.4\0", 31) << true;
    QTest::newRow("Pi model seen by an x86 build")
        << false << QByteArray("Raspberry Pi 4 Model B Rev 1.4") << false;
    QTest::newRow("other ARM board") << true << QByteArray("Pine64 RockPro64") << false;
    QTest::newRow("no device tree") << true << QByteArray() << false;
}

void TestBoards::deviceGate()
{
    QFETCH(bool, armBuild);
    QFETCH(QByteArray, model);
    QFETCH(bool, allowed);
    QCOMPARE(I2cDeviceAllowed(armBuild, model), allowed);
}

// With no emulated bus on a machine that is not a Pi, nothing reaches "/dev/i2c-1": every
// operation fails at the open and leaves its reading alone.
void TestBoards::noDeviceOffThePi()
{
    if (I2cHostIsRaspberryPi())
        QSKIP("this machine is a Raspberry Pi: the device would really be opened");
    I2cInstallBus(nullptr);

    CapturedStream err;
    QCOMPARE(newLD.LD685monitorRead(), -1);
    err.text();
    QCOMPARE(newLD.LDboardtempRead(), -1);
    QCOMPARE(newLD.LD685modecontrol(1), -1);
    QCOMPARE(newRTC.SCSIboardtempRead(), -10);
    QCOMPARE(I2cOpen(), -1);
    QCOMPARE(LDboardtemp, kUntouched);
    QCOMPARE(LD685monit, kUntouched);
    QCOMPARE(SCSIboardtemp, kUntouched);
    QCOMPARE(bus->opens, 0);
}

QTEST_GUILESS_MAIN(TestBoards)
#include "tst_boards.moc"
