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
    void transactionCutShort_data();
    void transactionCutShort();
    void statusByte_data();
    void statusByte();
    void noMessageOutForAttention();
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
    VirtualScanner &v = s->scanner();
    v.setTraceEnabled(true);
    v.inquiryData = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    TargetFaults &f = v.faults();
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
            QCOMPARE(buf.left(received), v.inquiryData.left(received));
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
    QCOMPARE(v.traceLines(), QStringList(trace));
    // The target left the bus: the next transaction goes through.
    f = TargetFaults();
    QCOMPARE(RequestKIREL5Sense(), 0);
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
