// The one-call command wrappers against the virtual scanner, and the service command line.
#include "busfixture.h"
#include "scsicommands.h"
#include "standardcommands.h"

#include <QBuffer>
#include <QtTest>

#include <cstring>
#include <vector>

namespace
{
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
} // namespace

class TestCommands : public QObject
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

    void wrapperTransactions_data();
    void wrapperTransactions();
    void read10CdbFields();
    void writeThenReadBack();
    void wrapperFailures_data();
    void wrapperFailures();
    void scannerWrappersHoldingTheTarget();
    void banner_data();
    void banner();
    void parseArgument_data();
    void parseArgument();

private:
    std::unique_ptr<ScannerOnBus> s;
};

void TestCommands::wrapperTransactions_data()
{
    QTest::addColumn<QString>("wrapper");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("cdb");
    QTest::newRow("TEST UNIT READY") << "tur" << 0 << "00 00 00 00 00 00";
    QTest::newRow("REQUEST SENSE: 18 sense bytes") << "sense" << 18 << "03 00 00 00 ff 00";
    QTest::newRow("MODE SENSE: header and descriptor") << "mode" << 12 << "1a 00 3f 00 ff 00";
    QTest::newRow("INQUIRY: 36 bytes") << "inquiry" << 36 << "12 00 00 00 ff 00";
    QTest::newRow("READ CAPACITY: 8 bytes") << "capacity" << 8 << "25 00 00 00 00 00 00 00 00 00";
}

void TestCommands::wrapperTransactions()
{
    QFETCH(QString, wrapper);
    QFETCH(int, expected);
    QFETCH(QString, cdb);
    s->scanner().setTraceEnabled(true);
    s->scanner().setSense(Sense::kNotReady);
    BYTE buf[256];
    std::memset(buf, 0xEE, sizeof buf);
    int got = -99;
    if (wrapper == "tur")
        got = TestUnitReady(kScannerId);
    else if (wrapper == "sense")
        got = RequestSense(kScannerId, buf);
    else if (wrapper == "mode")
        got = ModeSense(kScannerId, buf);
    else if (wrapper == "inquiry")
        got = Inquiry(kScannerId, buf);
    else if (wrapper == "capacity")
        got = ReadCapacity(kScannerId, buf);
    QCOMPARE(got, expected);
    QCOMPARE(result, 0);
    QCOMPARE(s->scanner().traceLines(),
             QStringList(QStringLiteral("{\"cdb\":\"%1\",\"out\":\"\",\"in\":%2,\"status\":0}")
                             .arg(cdb)
                             .arg(expected)));
    if (wrapper == "sense") {
        QCOMPARE(int(buf[2]), 0x02);
        QCOMPARE(int(buf[12]), 0x04);
    } else if (wrapper == "inquiry") {
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buf) + 8, 8), QByteArray("KIREL   "));
    } else if (wrapper == "capacity") {
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buf), 8),
                 QByteArray::fromHex("000007ff00000200"));
    }
    // Every wrapper leaves the station's lines released.
    QCOMPARE(s->regs().stationDrive(), DWORD(0));
}

void TestCommands::read10CdbFields()
{
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    s->scanner().setTraceDevice(&sink);
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
    QCOMPARE(sink.data(), QByteArray("{\"cdb\":\"28 00 01 02 03 04 00 00 05 00\",\"out\":\"\","
                                     "\"in\":0,\"status\":null}\n"));
    QCOMPARE(TestUnitReady(kScannerId), 0);
    s->scanner().setTraceDevice(nullptr);
}

void TestCommands::writeThenReadBack()
{
    s->scanner().setTraceEnabled(true);
    const QByteArray data = Pattern(3 * kBlock, 7);
    QByteArray out = data;
    QCOMPARE(Write10(kScannerId, 10, 3, 3 * kBlock, reinterpret_cast<BYTE *>(out.data())),
             3 * kBlock);
    QCOMPARE(s->scanner().disk.bytes.mid(10 * kBlock, 3 * kBlock), data);
    QByteArray in(3 * kBlock, '\0');
    QCOMPARE(Read10(kScannerId, 10, 3, 3 * kBlock, reinterpret_cast<BYTE *>(in.data())),
             3 * kBlock);
    QCOMPARE(in, data);
    const QStringList trace = s->scanner().traceLines();
    QCOMPARE(trace.size(), 2);
    QVERIFY(trace[0].startsWith("{\"cdb\":\"2a 00 00 00 00 0a 00 00 03 00\",\"out\":\"" +
                                QString::fromLatin1(data.left(4).toHex(' '))));
    QVERIFY(trace[0].endsWith("\",\"in\":0,\"status\":0}"));
    QCOMPARE(trace[1], QStringLiteral("{\"cdb\":\"28 00 00 00 00 0a 00 00 03 00\",\"out\":\"\","
                                      "\"in\":1536,\"status\":0}"));
}

void TestCommands::wrapperFailures_data()
{
    QTest::addColumn<bool>("sense"); // RequestKIREL5Sense, else INQUIRY of the target at id
    QTest::addColumn<int>("id");
    QTest::addColumn<bool>("powerOff");
    QTest::addColumn<int>("cdbBytesTaken");
    QTest::addColumn<int>("dataLimit");
    QTest::addColumn<int>("afterData");
    QTest::addColumn<int>("code");
    const int status = BUS::status, msgin = BUS::msgin;
    QTest::newRow("inquiry: no target at ID 3") << false << 3 << false << -1 << -1 << status << -1;
    QTest::newRow("inquiry: CDB taken in part") << false << 5 << false << 4 << -1 << status << -2;
    QTest::newRow("inquiry: no data") << false << 5 << false << -1 << 0 << status << -3;
    QTest::newRow("inquiry: no status") << false << 5 << false << -1 << 8 << msgin << -4;
    QTest::newRow("sense: scanner off") << true << 5 << true << -1 << -1 << status << -91;
    QTest::newRow("sense: CDB in part") << true << 5 << false << 2 << -1 << status << -92;
    QTest::newRow("sense: 17 sense bytes") << true << 5 << false << -1 << 17 << status << -93;
    QTest::newRow("sense: no status") << true << 5 << false << -1 << 18 << msgin << -94;
}

void TestCommands::wrapperFailures()
{
    QFETCH(bool, sense);
    QFETCH(int, id);
    QFETCH(bool, powerOff);
    QFETCH(int, cdbBytesTaken);
    QFETCH(int, dataLimit);
    QFETCH(int, afterData);
    QFETCH(int, code);
    TargetFaults &f = s->scanner().faults();
    f.powerOff = powerOff;
    f.cdbBytesTaken = cdbBytesTaken;
    f.dataBytesLimit = dataLimit;
    f.afterDataLimit = BUS::phase_t(afterData);
    BYTE buf[256];
    std::memset(buf, 0xEE, sizeof buf);
    CapturedStream err;
    QCOMPARE(sense ? RequestKIREL5Sense() : Inquiry(id, buf), code);
    err.text();
    QCOMPARE(result, code);
    if (!sense && code == -3) // cleared before the data phase that never came
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buf), 4), QByteArray(4, '\0'));
    QCOMPARE(s->regs().stationDrive(), DWORD(0));
}

// TestKirel5Ready and KIREL5CommandDataIn run on a target that the caller has selected and
// identified.
void TestCommands::scannerWrappersHoldingTheTarget()
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

void TestCommands::banner_data()
{
    QTest::addColumn<QByteArrayList>("args");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("usage");
    QTest::newRow("no argument: usage") << QByteArrayList{"qxtool"} << int(FALSE) << true;
    QTest::newRow("-h: usage") << QByteArrayList{"qxtool", "-h"} << int(FALSE) << true;
    QTest::newRow("other argument: go on")
        << QByteArrayList{"qxtool", "-i", "5"} << int(TRUE) << false;
}

void TestCommands::banner()
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

void TestCommands::parseArgument_data()
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

void TestCommands::parseArgument()
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

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
