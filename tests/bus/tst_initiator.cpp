// The initiator's transactions against the virtual scanner: arbitration and IDENTIFY, the
// information phases, the answer to a reselection, and what each injected fault turns into
// (codes and standard-error lines).
#include "busfixture.h"
#include "scsicommands.h"
#include "standardcommands.h"

#include <QtTest>

#include <csignal>

namespace
{
// START for an imaging-plate reader: it disconnects after the command and reselects later.
void DisconnectingStart(VirtualScanner &, VirtualCommand &c)
{
    c.disconnect = true;
}

// A READ that disconnects and brings its data after the reselection.
void DisconnectingRead(VirtualScanner &, VirtualCommand &c)
{
    c.disconnect = true;
    c.dataIn = QByteArray::fromHex("0102030405060708");
}

int ArbitrateAndCommand(BYTE *cdb, int length)
{
    const int arbitration = KIREL5Arbitration();
    if (arbitration < 0)
        return arbitration;
    return Command(cdb, length) ? 1 : -100;
}
} // namespace

class TestInitiator : public QObject
{
    Q_OBJECT

private slots:
    // Every test starts with a virtual scanner under a freshly initialised bus.
    void init()
    {
        s.reset(new ScannerOnBus);
        QVERIFY(s->up());
    }
    void cleanup() { s.reset(); }

    void initInstallsKillHandler();
    void arbitrationSelectsAndIdentifies();
    void arbitrationFaults_data();
    void arbitrationFaults();
    void commandTakenOnlyInPart();
    void dataInCutShortThenStatus();
    void statusByte_data();
    void statusByte();
    void statusMissingAfterPhaseChange();
    void noMessageOutForAttention();
    void busResetDuringDataIn();
    void reselectionAfterDisconnect_data();
    void reselectionAfterDisconnect();

private:
    std::unique_ptr<ScannerOnBus> s;
};

void TestInitiator::initInstallsKillHandler()
{
    QCOMPARE(scsiid, kScannerId); // the fixture sets it after Init, as the operations do
    for (int sig : {SIGINT, SIGHUP, SIGTERM}) {
        struct sigaction action;
        QCOMPARE(sigaction(sig, nullptr, &action), 0);
        QVERIFY(action.sa_handler == KillHandler);
    }
    QVERIFY(Init());
    QCOMPARE(scsiid, -1);
    QCOMPARE(restore, FALSE);
}

void TestInitiator::arbitrationSelectsAndIdentifies()
{
    CapturedStream err;
    QCOMPARE(KIREL5Arbitration(), 1);
    QCOMPARE(s->scanner().messagesOut(), QByteArray(1, char(0xC0)));
    QCOMPARE(int(s->scanner().phase()), int(BUS::command));
    // ATN went with the IDENTIFY byte and SEL before it.
    QCOMPARE(s->regs().stationDrive() & (kMaskATN | kMaskSEL), DWORD(0));
    QCOMPARE(err.text(), QByteArray());
}

void TestInitiator::arbitrationFaults_data()
{
    QTest::addColumn<bool>("powerOff");
    QTest::addColumn<bool>("holdBusy");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("scanner off") << true << false << QByteArray("KIREL5 NOT SELECTED -1\n");
    QTest::newRow("bus held busy")
        << false << true << QByteArray("ARBITRATION START, BUS NOT FREE -1\n");
}

void TestInitiator::arbitrationFaults()
{
    QFETCH(bool, powerOff);
    QFETCH(bool, holdBusy);
    QFETCH(QByteArray, message);
    s->scanner().faults().powerOff = powerOff;
    s->scanner().faults().holdBusy = holdBusy;
    CapturedStream err;
    QCOMPARE(KIREL5Arbitration(), -1);
    QCOMPARE(err.text(), message);
    QCOMPARE(s->scanner().commandsTaken(), 0);
}

void TestInitiator::commandTakenOnlyInPart()
{
    s->scanner().setTraceEnabled(true);
    s->scanner().faults().cdbBytesTaken = 3;
    BYTE cdb[10] = {kOpRead10, 0, 0, 0, 0, 1, 0, 0, 1, 0};
    QCOMPARE(KIREL5Arbitration(), 1);
    QCOMPARE(Command(cdb, 10), FALSE);
    BusFree();
    QCOMPARE(s->scanner().traceLines(),
             QStringList("{\"cdb\":\"28 00 00\",\"out\":\"\",\"in\":0,\"status\":null}"));
    // The target left the bus: the next transaction goes through.
    s->scanner().faults().cdbBytesTaken = -1;
    QCOMPARE(RequestKIREL5Sense(), 0);
}

void TestInitiator::dataInCutShortThenStatus()
{
    s->scanner().setTraceEnabled(true);
    s->scanner().inquiryData = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    s->scanner().faults().dataBytesLimit = 20;
    BYTE cdb[6] = {kOpInquiry, 0, 0, 0, 36, 0};
    BYTE buf[36] = {};
    QCOMPARE(ArbitrateAndCommand(cdb, 6), 1);
    QCOMPARE(DataIn(buf, 36), 20);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(buf), 36),
             QByteArray("ABCDEFGHIJKLMNOPQRST") + QByteArray(16, '\0'));
    QCOMPARE(Status(), 0);
    QCOMPARE(MessageIn(), int(kMsgCommandComplete));
    BusFree();
    QCOMPARE(s->scanner().traceLines(),
             QStringList("{\"cdb\":\"12 00 00 00 24 00\",\"out\":\"\",\"in\":20,\"status\":0}"));
}

void TestInitiator::statusByte_data()
{
    QTest::addColumn<bool>("check");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("good: silent") << false << 0 << QByteArray();
    QTest::newRow("check condition: reported") << true << 2 << QByteArray("Status = 02\n");
}

void TestInitiator::statusByte()
{
    QFETCH(bool, check);
    QFETCH(int, status);
    QFETCH(QByteArray, message);
    if (check)
        s->scanner().injectCheckCondition(Sense::kBecomingReady);
    BYTE cdb[6] = {kOpTestUnitReady};
    StatusValue = -7;
    QCOMPARE(ArbitrateAndCommand(cdb, 6), 1);
    CapturedStream err;
    QCOMPARE(Status(), status);
    QCOMPARE(err.text(), message);
    QCOMPARE(StatusValue, status);
    QCOMPARE(MessageIn(), 0);
    BusFree();
    QCOMPARE(s->scanner().sense(), check ? Sense::kBecomingReady : Sense::kNoSense);
}

// A target that ends DATA IN with MESSAGE IN and no STATUS.
void TestInitiator::statusMissingAfterPhaseChange()
{
    s->scanner().setTraceEnabled(true);
    s->scanner().faults().dataBytesLimit = 4;
    s->scanner().faults().afterDataLimit = BUS::msgin;
    BYTE cdb[6] = {kOpRequestSense, 0, 0, 0, 18, 0};
    BYTE buf[18];
    QCOMPARE(ArbitrateAndCommand(cdb, 6), 1);
    QCOMPARE(DataIn(buf, 18), 4);
    StatusValue = 9;
    QCOMPARE(Status(), -2);
    QCOMPARE(StatusValue, 0);
    QCOMPARE(MessageIn(), 0);
    BusFree();
    QCOMPARE(s->scanner().traceLines(),
             QStringList("{\"cdb\":\"03 00 00 00 12 00\",\"out\":\"\",\"in\":4,\"status\":null}"));
}

// Without MESSAGE OUT the arbitration carries on as if IDENTIFY had gone; the first CDB
// byte releases ATN.
void TestInitiator::noMessageOutForAttention()
{
    s->scanner().faults().ignoreAttention = true;
    result = 0;
    QCOMPARE(KIREL5Arbitration(), 1);
    QCOMPARE(s->scanner().messagesOut(), QByteArray());
    QCOMPARE(result, 0);
    BYTE cdb[6] = {kOpTestUnitReady};
    QVERIFY(Command(cdb, 6));
    QVERIFY(!(s->regs().stationDrive() & kMaskATN));
    QCOMPARE(Status(), 0);
    QCOMPARE(MessageIn(), 0);
    BusFree();
}

void TestInitiator::busResetDuringDataIn()
{
    s->scanner().setTraceEnabled(true);
    s->scanner().faults().resetAfterDataBytes = 512;
    BYTE cdb[10] = {kOpRead10, 0, 0, 0, 0, 0, 0, 0, 2, 0};
    QByteArray buf(1024, '\0');
    QCOMPARE(ArbitrateAndCommand(cdb, 10), 1);
    QCOMPARE(DataIn(reinterpret_cast<BYTE *>(buf.data()), buf.size()), 512);
    // RST is the initiator's line on the board: the station sees only the bus go free.
    QCOMPARE(int(bus.GetPhase()), int(BUS::busfree));
    BusFree();
    QCOMPARE(s->scanner().traceLines(),
             QStringList("{\"cdb\":\"28 00 00 00 00 00 00 00 02 00\",\"out\":\"\",\"in\":512,"
                         "\"status\":null}"));
    s->scanner().faults().resetAfterDataBytes = -1;
    QCOMPARE(RequestKIREL5Sense(), 0); // the target is back at bus free
}

void TestInitiator::reselectionAfterDisconnect_data()
{
    QTest::addColumn<int>("opcode");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("START, status after reselection") << 0x1B << QByteArray();
    QTest::newRow("READ, data after reselection")
        << 0x28 << QByteArray::fromHex("0102030405060708");
}

void TestInitiator::reselectionAfterDisconnect()
{
    QFETCH(int, opcode);
    QFETCH(QByteArray, data);
    s->scanner().setTraceEnabled(true);
    s->scanner().setHandler(kOpStartStop, {DisconnectingStart, nullptr, 0});
    s->scanner().setHandler(kOpRead10, {DisconnectingRead, nullptr, 0});
    BYTE cdb[10] = {BYTE(opcode), 0, 0, 0, 0, 0, 0, 0, BYTE(data.size()), 0};
    QCOMPARE(ArbitrateAndCommand(cdb, opcode == 0x1B ? 6 : 10), 1);
    QCOMPARE(MessageIn(), int(kMsgSaveDataPointer));
    QCOMPARE(MessageIn(), int(kMsgDisconnect));
    BusFree();

    // Without a reselection the answer is -4, silently, as often as the poll asks.
    s->scanner().setReselectionHeld(true);
    {
        CapturedDebug quiet;
        CapturedStream err;
        QCOMPARE(VESK18IIreconnect(), -4);
        QCOMPARE(VESK18IIreconnect(), -4);
        QCOMPARE(err.text(), QByteArray());
        QCOMPARE(quiet.messages(), QStringList());
    }
    QVERIFY(s->scanner().reselectionPending());
    s->scanner().setReselectionHeld(false);

    CapturedDebug debug;
    QCOMPARE(VESK18IIreconnect(), 1);
    QCOMPARE(debug.messages(),
             QStringList({"I/O Reconnect", "Initiator Reconnect", "BSY Released Reconnect",
                          "SEL Released Reconnect", "BSY Reconnect"}));
    QCOMPARE(MessageIn(), 0x80); // IDENTIFY from the target
    if (!data.isEmpty()) {
        QByteArray buf(data.size(), '\0');
        QCOMPARE(DataIn(reinterpret_cast<BYTE *>(buf.data()), buf.size()), data.size());
        QCOMPARE(buf, data);
    }
    QCOMPARE(Status(), 0);
    QCOMPARE(MessageIn(), 0);
    BusFree();
    QCOMPARE(s->scanner().traceLines().size(), 1);
    QVERIFY(s->scanner().traceLines().first().endsWith("\"in\":0,\"status\":null}"));
    QCOMPARE(RequestKIREL5Sense(), 0); // the bus is free again
}

QTEST_GUILESS_MAIN(TestInitiator)
#include "tst_initiator.moc"
