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

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int v : values)
        bytes.append(char(v));
    return bytes;
}

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

    void converterReadings_data();
    void converterReadings();
    void diodeSwitch_data();
    void diodeSwitch();
    void clockTemperature_data();
    void clockTemperature();
    void failures_data();
    void failures();
    void deviceGate_data();
    void deviceGate();
    void noDeviceOffThePi();

private:
    std::unique_ptr<EmulatedI2cBus> bus; // a fresh set of boards for every test
};

void TestBoards::converterReadings_data()
{
    QTest::addColumn<quint16>("word");
    QTest::addColumn<float>("celsius");
    QTest::addColumn<float>("volts");
    QTest::newRow("2Eh E0h is 750 counts") << quint16(0x2EE0) << 25.0f << 0.750f;
    QTest::newRow("zero counts") << quint16(0x0000) << -50.0f << 0.0f;
    QTest::newRow("low nibble of second byte ignored") << quint16(0x2EEF) << 25.0f << 0.750f;
    QTest::newRow("full scale 4095") << quint16(0xFFF0) << 359.5f << 4.095f;
}

void TestBoards::converterReadings()
{
    QFETCH(quint16, word);
    QFETCH(float, celsius);
    QFETCH(float, volts);

    bus->converter.setResultWord(0, word);
    QCOMPARE(newLD.LDboardtempRead(), 1);
    QCOMPARE(LDboardtemp, celsius);

    bus->converter.setResultWord(1, word);
    QCOMPARE(newLD.LD685monitorRead(), 1);
    QCOMPARE(LD685monit, volts);

    const QList<QByteArray> sent = {Bytes({0x01, 0xC4, 0x83}), Bytes({0x00}),
                                    Bytes({0x01, 0xD4, 0x83}), Bytes({0x00})};
    QCOMPARE(bus->converter.writes, sent);
    QCOMPARE(bus->converter.reads, 2);
    QCOMPARE(bus->opens, 2);
    QCOMPARE(bus->closes, 2);
}

void TestBoards::diodeSwitch_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("on");
    QTest::newRow("mode 1 turns on") << 1 << 0x54 << true;
    QTest::newRow("mode 0 turns off") << 0 << 0x55 << false;
    QTest::newRow("mode 2 turns off") << 2 << 0x55 << false;
}

void TestBoards::diodeSwitch()
{
    QFETCH(int, mode);
    QFETCH(int, command);
    QFETCH(bool, on);

    bus->diodeSwitch.setDiodeOn(!on);
    QCOMPARE(newLD.LD685modecontrol(mode), 1);
    QCOMPARE(bus->diodeSwitch.writes, QList<QByteArray>{Bytes({0x05, command})});
    QCOMPARE(bus->diodeSwitch.diodeOn(), on);
    QCOMPARE(bus->closes, 1);
}

void TestBoards::clockTemperature_data()
{
    QTest::addColumn<int>("whole");
    QTest::addColumn<int>("fraction");
    QTest::addColumn<float>("celsius");
    QTest::newRow("19h 40h") << 0x19 << 0x40 << 25.25f;
    QTest::newRow("FFh read without sign") << 0xFF << 0x00 << 255.0f;
    QTest::newRow("bits below the quarters ignored") << 0x19 << 0x7F << 25.25f;
}

void TestBoards::clockTemperature()
{
    QFETCH(int, whole);
    QFETCH(int, fraction);
    QFETCH(float, celsius);

    // Every other register holds a value unlike the temperature, so that reading from the
    // wrong starting register shows.
    for (int i = 0; i < EmulatedClock::kRegisters; ++i)
        bus->clock.setRegister(i, BYTE(0xA0 + i));
    bus->clock.setRegister(17, BYTE(whole));
    bus->clock.setRegister(18, BYTE(fraction));

    QCOMPARE(newRTC.SCSIboardtempRead(), 1);
    QCOMPARE(SCSIboardtemp, celsius);
    QCOMPARE(bus->clock.writes, QList<QByteArray>{Bytes({0x00})});
    QCOMPARE(bus->clock.reads, 1);
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
