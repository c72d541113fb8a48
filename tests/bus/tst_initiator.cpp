// The bus and the initiator. On a register block of its own: phase decoding, the dummy-write
// timing, the device tree, the cable referee's rules and the safety of the hardware path on a
// machine that is not a Raspberry Pi. Against the virtual scanner: arbitration and IDENTIFY,
// the information phases, the answer to a reselection, what each injected fault turns into
// (codes and standard-error lines), the one-call command wrappers and the service command
// line.
#include "busfixture.h"
#include "emulatedgpio.h"
#include "scsicommands.h"
#include "standardcommands.h"

#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <vector>

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

// argv for the option parser, alive as long as the object.
class Args
{
public:
    explicit Args(const QByteArrayList &args) : storage_(args)
    {
        for (QByteArray &a : storage_)
            argv_.push_back(a.data());
        argv_.push_back(nullptr);
    }
    int argc() const { return int(argv_.size()) - 1; }
    char **argv() { return argv_.data(); }

private:
    QByteArrayList storage_;
    std::vector<char *> argv_;
};

constexpr int kBlock = 512;

QByteArray Pattern(int size, int seed)
{
    QByteArray a(size, '\0');
    for (int i = 0; i < size; i++)
        a[i] = char(seed + i * 13 + (i >> 8));
    return a;
}

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

class TestInitiator : public QObject
{
    Q_OBJECT

private slots:
    // Every test starts with a virtual scanner under a freshly initialised bus; the tests of
    // the bus alone put a register block of their own in its place.
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
    void wrappers_data();
    void wrappers();
    void read10CdbFields();
    void writeThenReadBack();
    void scannerWrappersHoldingTheTarget();
    void banner_data();
    void banner();
    void parseArgument_data();
    void parseArgument();

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

void TestInitiator::wrappers_data()
{
    QTest::addColumn<QString>("wrapper");
    QTest::addColumn<int>("id");
    QTest::addColumn<bool>("powerOff");
    QTest::addColumn<int>("cdbBytesTaken");
    QTest::addColumn<int>("dataLimit");
    QTest::addColumn<int>("afterData");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("cdb"); // as the target saw it; empty: not looked at
    const auto row = [](const char *name, const char *wrapper, int id, bool powerOff, int cdbTaken,
                        int dataLimit, int afterData, int code, const char *cdb) {
        QTest::newRow(name) << wrapper << id << powerOff << cdbTaken << dataLimit << afterData
                            << code << cdb;
    };
    const int status = BUS::status, msgin = BUS::msgin;
    row("TEST UNIT READY", "tur", 5, false, -1, -1, status, 0, "00 00 00 00 00 00");
    row("REQUEST SENSE: 18 sense bytes", "sense", 5, false, -1, -1, status, 18,
        "03 00 00 00 ff 00");
    row("MODE SENSE: header and descriptor", "mode", 5, false, -1, -1, status, 12,
        "1a 00 3f 00 ff 00");
    row("INQUIRY: 36 bytes", "inquiry", 5, false, -1, -1, status, 36, "12 00 00 00 ff 00");
    row("READ CAPACITY: 8 bytes", "capacity", 5, false, -1, -1, status, 8,
        "25 00 00 00 00 00 00 00 00 00");
    row("inquiry: no target at ID 3", "inquiry", 3, false, -1, -1, status, -1, "");
    row("inquiry: CDB taken in part", "inquiry", 5, false, 4, -1, status, -2, "");
    row("inquiry: no data", "inquiry", 5, false, -1, 0, status, -3, "");
    row("inquiry: no status", "inquiry", 5, false, -1, 8, msgin, -4, "");
    row("sense: scanner off", "kirel5sense", 5, true, -1, -1, status, -91, "");
    row("sense: CDB in part", "kirel5sense", 5, false, 2, -1, status, -92, "");
    row("sense: 17 sense bytes", "kirel5sense", 5, false, -1, 17, status, -93, "");
    row("sense: no status", "kirel5sense", 5, false, -1, 18, msgin, -94, "");
}

// The one-call wrappers, answered and broken off: the count or the step that failed (also
// in result), what the target saw and answered, and the station's lines released.
void TestInitiator::wrappers()
{
    QFETCH(QString, wrapper);
    QFETCH(int, id);
    QFETCH(bool, powerOff);
    QFETCH(int, cdbBytesTaken);
    QFETCH(int, dataLimit);
    QFETCH(int, afterData);
    QFETCH(int, code);
    QFETCH(QString, cdb);
    s->scanner().setTraceEnabled(true);
    s->scanner().setSense(Sense::kNotReady);
    TargetFaults &f = s->scanner().faults();
    f.powerOff = powerOff;
    f.cdbBytesTaken = cdbBytesTaken;
    f.dataBytesLimit = dataLimit;
    f.afterDataLimit = BUS::phase_t(afterData);
    BYTE buf[256];
    std::memset(buf, 0xEE, sizeof buf);
    CapturedStream err;
    int got = -99;
    if (wrapper == "tur")
        got = TestUnitReady(id);
    else if (wrapper == "sense")
        got = RequestSense(id, buf);
    else if (wrapper == "mode")
        got = ModeSense(id, buf);
    else if (wrapper == "inquiry")
        got = Inquiry(id, buf);
    else if (wrapper == "capacity")
        got = ReadCapacity(id, buf);
    else
        got = RequestKIREL5Sense();
    err.text();
    QCOMPARE(got, code);
    QCOMPARE(result, qMin(code, 0));
    if (!cdb.isEmpty())
        QCOMPARE(s->scanner().traceLines(),
                 QStringList(QStringLiteral("{\"cdb\":\"%1\",\"out\":\"\",\"in\":%2,\"status\":0}")
                                 .arg(cdb)
                                 .arg(code)));
    const QByteArray answer(reinterpret_cast<char *>(buf), 16);
    if (wrapper == "sense") // not ready, cause not reportable
        QCOMPARE(answer.mid(2, 1) + answer.mid(12, 1), QByteArray::fromHex("0204"));
    else if (wrapper == "inquiry" && code > 0)
        QCOMPARE(answer.mid(8, 8), QByteArray("KIREL   "));
    else if (wrapper == "inquiry" && code == -3) // cleared before the data that never came
        QCOMPARE(answer.left(4), QByteArray(4, '\0'));
    else if (wrapper == "capacity") // 2048 blocks of 512 bytes
        QCOMPARE(answer.left(8), QByteArray::fromHex("000007ff00000200"));
    QCOMPARE(s->regs().stationDrive(), DWORD(0));
}

void TestInitiator::read10CdbFields()
{
    BYTE buf[16];
    // The range is far beyond the RAM disk: CHECK CONDITION, no data.
    QCOMPARE(Read10(kScannerId, 0x01020304, 0x10005, 5 * kBlock, buf), -3);
    QCOMPARE(result, -3);
    QCOMPARE(s->scanner().lastCdb(), QByteArray::fromHex("28000102030400000500"));
    // The wrapper gave up with the target waiting in STATUS; a bus reset frees it.
    QCOMPARE(int(s->scanner().phase()), int(BUS::status));
    bus.SetRST(TRUE); // seen by the target on the write itself, no sample needed
    BusPauseMicroseconds(25);
    bus.SetRST(FALSE);
    QCOMPARE(int(s->scanner().phase()), int(BUS::busfree));
    QCOMPARE(TestUnitReady(kScannerId), 0);
}

// What WRITE(10) puts at its block, READ(10) brings back from there.
void TestInitiator::writeThenReadBack()
{
    const QByteArray data = Pattern(3 * kBlock, 7);
    QByteArray out = data;
    QCOMPARE(Write10(kScannerId, 10, 3, 3 * kBlock, reinterpret_cast<BYTE *>(out.data())),
             3 * kBlock);
    QCOMPARE(s->scanner().disk.bytes.mid(10 * kBlock, 3 * kBlock), data);
    QByteArray in(3 * kBlock, '\0');
    QCOMPARE(Read10(kScannerId, 10, 3, 3 * kBlock, reinterpret_cast<BYTE *>(in.data())),
             3 * kBlock);
    QCOMPARE(in, data);
}

// TestKirel5Ready and KIREL5CommandDataIn run on a target that the caller has selected and
// identified.
void TestInitiator::scannerWrappersHoldingTheTarget()
{
    s->scanner().setTraceEnabled(true);
    QCOMPARE(KIREL5Arbitration(), 1);
    QCOMPARE(TestKirel5Ready(kScannerId), 0);

    BYTE cdb[10] = {kOpRead10, 0, 0, 0, 0, 1, 0, 0, 1, 0};
    QByteArray buf(kBlock, '\x77');
    QCOMPARE(KIREL5Arbitration(), 1);
    QCOMPARE(KIREL5CommandDataIn(kScannerId, kBlock, cdb, reinterpret_cast<BYTE *>(buf.data())),
             kBlock);
    QCOMPARE(buf, s->scanner().disk.bytes.mid(kBlock, kBlock));

    // Without a held target the bus is not in COMMAND phase.
    CapturedStream err;
    QCOMPARE(KIREL5CommandDataIn(kScannerId, kBlock, cdb, reinterpret_cast<BYTE *>(buf.data())),
             -1);
    err.text();
    QCOMPARE(s->scanner().traceLines().size(), 2);
}

void TestInitiator::banner_data()
{
    QTest::addColumn<QByteArrayList>("args");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("usage");
    QTest::newRow("no argument: usage") << QByteArrayList{"qxtool"} << int(FALSE) << true;
    QTest::newRow("-h: usage") << QByteArrayList{"qxtool", "-h"} << int(FALSE) << true;
    QTest::newRow("other argument: go on")
        << QByteArrayList{"qxtool", "-i", "5"} << int(TRUE) << false;
}

void TestInitiator::banner()
{
    QFETCH(QByteArrayList, args);
    QFETCH(int, expected);
    QFETCH(bool, usage);
    Args a(args);
    CapturedStream out(STDOUT_FILENO);
    QCOMPARE(Banner(a.argc(), a.argv()), expected);
    QByteArray text = "GpSCSI QXtool version 1.00\n";
    if (usage)
        text += "Usage: qxtool -i ID -c KIREL5 command\n"
                " ID is SCSI ID {0|1|2|3|4|5|6}.\n"
                " (KIREL5 SCSI ID should be 5 for normal operation)\n"
                " KIREL5 command is as documented in service manual\n"
                " (no @ symbol is required before the command\n"
                " as was the case with the PC QXtool(SCSI) )";
    QCOMPARE(out.text(), text);
}

void TestInitiator::parseArgument_data()
{
    QTest::addColumn<QByteArrayList>("args");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("id");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("only the first digit counts")
        << QByteArrayList{"qx", "-i57", "-c", "X"} << int(TRUE) << 5 << QByteArray("X\n")
        << QByteArray("QXtool(SCSI) Started, SCSI ID= 5\nCommand character length = 1\nX\n");
    QTest::newRow("no id after Init")
        << QByteArrayList{"qx", "-c", "LON"} << int(FALSE) << -1 << QByteArray("LON")
        << QByteArray("Error : Invalid id range\n");
    QTest::newRow("id 7 out of range")
        << QByteArrayList{"qx", "-i", "7", "-c", "LON"} << int(FALSE) << 7 << QByteArray("LON")
        << QByteArray("QXtool(SCSI) Started, SCSI ID= 7\nError : Invalid id range\n");
    QTest::newRow("no command")
        << QByteArrayList{"qx", "-i", "0"} << int(FALSE) << 0 << QByteArray()
        << QByteArray("QXtool(SCSI) Started, SCSI ID= 0\nCommand character length = 0\n"
                      "Error : no KIREL5 command entered\n");
    const QByteArray longest(254, 'A');
    QTest::newRow("254 characters fit")
        << QByteArrayList{"qx", "-i", "5", "-c", longest} << int(TRUE) << 5 << longest + '\n'
        << "QXtool(SCSI) Started, SCSI ID= 5\nCommand character length = 254\n" + longest + '\n';
    QTest::newRow("255 characters refused")
        << QByteArrayList{"qx", "-i", "5", "-c", longest + 'B'} << int(FALSE) << 5 << QByteArray()
        << QByteArray("QXtool(SCSI) Started, SCSI ID= 5\nCommand character length = 0\n"
                      "Error : no KIREL5 command entered\n");
    QTest::newRow("unknown option ignored")
        << QByteArrayList{"qx", "-x", "-i", "6", "-c", "R"} << int(TRUE) << 6 << QByteArray("R\n")
        << QByteArray("QXtool(SCSI) Started, SCSI ID= 6\nCommand character length = 1\nR\n");
}

void TestInitiator::parseArgument()
{
    QFETCH(QByteArrayList, args);
    QFETCH(int, expected);
    QFETCH(int, id);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, err);
    QVERIFY(Init()); // leaves scsiid at -1
    Args a(args);
    CapturedStream captured;
    QCOMPARE(ParseArgument(a.argc(), a.argv()), expected);
    QCOMPARE(captured.text(), err);
    QCOMPARE(scsiid, id);
    QCOMPARE(QByteArray(kirel5command), command);
    if (expected)
        QCOMPARE(kirel5comlength, command.size());
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

void TestInitiator::zeroCountHandshakesTouchNothing()
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
void TestInitiator::refereeRules()
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

void TestInitiator::deviceTreeFiles()
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

QTEST_GUILESS_MAIN(TestInitiator)
#include "tst_initiator.moc"
