// The connection tests of the four models against the virtual scanner models: what each call
// leaves in the connection state, the logs, the sense fields and on the standard error, from
// power-on to ready, with a scanner that is off, lost mid-series or reports a condition.
#include "busfixture.h"
#include "kirelscan.h"
#include "logfiles.h"
#include "scanstate.h"
#include "scannermodels.h"
#include "stationfixture.h"

#include <QFile>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(ScannerScenario)

namespace
{
const QDateTime kNow(QDate(2026, 3, 3), QTime(9, 5, 7));
const QString kStamp = QStringLiteral("Tue Mar 03 2026 09:05:07 ");

QString Stamped(const char *event)
{
    return kStamp + QLatin1String(event);
}

int RunConnectionTest(int model)
{
    kirel5scan scan;
    switch (model) {
    case kModelKIREL5:
        return scan.testkirel5connected();
    case kModelKIREL3:
        return scan.testkirel3connected();
    default:
        return scan.testVESK18IIconnected();
    }
}

QStringList StatusLines()
{
    QStringList lines;
    for (int i = 0; i < logeventnumber && i < kStatusLogLines; ++i)
        lines << QStatusString[i];
    return lines;
}

QStringList BootLogLines()
{
    QFile f(BootLogPath());
    if (!f.open(QIODevice::ReadOnly))
        return QStringList();
    return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The scanner's own clock held still: a self-diagnosis under way stays under way.
const ScannerModelSim::Clock kClockStill = [] { return qint64(0); };

ScannerModelOptions Options(int selfTestMs, ScannerScenario scenario = ScannerScenario::None)
{
    ScannerModelOptions o;
    o.selfTestMs = selfTestMs;
    o.scenario = scenario;
    return o;
}

// The shared state of a station that has just started with this model.
void Fresh(int model, bool bootLog = false)
{
    ResetSharedState(model);
    logeventnumber = 1; // as the main window's start-up leaves it
    sysparams.bootlog = bootLog ? 1 : 0;
}
} // namespace

class TestConnect : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void gpioUnavailable_data();
    void gpioUnavailable();
    void firstCalls_data();
    void firstCalls();
    void bootLogOfFirstCall_data();
    void bootLogOfFirstCall();
    void kirel5StatusRead();
    void kirel5LostMidSeries_data();
    void kirel5LostMidSeries();
    void kirel5LossLoggedOnce();
    void kirel3LostAndBack();
    void kirel3KeepsSenseOfSelfDiagnosis();
    void cableFaults_data();
    void cableFaults();
    void commandsSent_data();
    void commandsSent();

private:
    std::unique_ptr<TempStationRoot> root_;
};

void TestConnect::init()
{
    root_.reset(new TempStationRoot);
    QVERIFY(root_->isValid());
    Fresh(kModelKIREL5);
    LogClock = [] { return kNow; };
}

void TestConnect::cleanup()
{
    LogClock = &QDateTime::currentDateTime;
    root_.reset();
}

void TestConnect::gpioUnavailable_data()
{
    QTest::addColumn<int>("model");
    QTest::newRow("kirel5") << int(kModelKIREL5);
    QTest::newRow("kirel3") << int(kModelKIREL3);
    QTest::newRow("vesk5000") << int(kModelVESK5000);
}

// No register block under the bus: the test gives up before touching any state.
void TestConnect::gpioUnavailable()
{
    QFETCH(int, model);
    ScannerType = model;
    CapturedStream err;
    QCOMPARE(RunConnectionTest(model), -111);
    QCOMPARE(QString::fromLatin1(err.text()), QStringLiteral("Error : Initializing GPIO\n"));
    QCOMPARE(KIREL5connectStatus, -1);
    QVERIFY(StatusLines().join(QString()).isEmpty());
}

void TestConnect::firstCalls_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<ScannerScenario>("scenario");
    QTest::addColumn<int>("calls");
    QTest::addColumn<int>("state");
    QTest::addColumn<QStringList>("statusLog"); // empty: not looked at
    QTest::addColumn<QString>("product");       // scannerID as far as the model copies it
    QTest::addColumn<QString>("condition");     // sense code of a plate reader's condition

    const ScannerScenario none = ScannerScenario::None, off = ScannerScenario::Off;
    const QStringList ready{Stamped("Connected"), Stamped("Startup tests"), Stamped("Ready")};
    QTest::newRow("kirel3 second call: ready")
        << int(kModelKIREL3) << none << 2 << 3
        << (QStringList{QStringLiteral("KIREL    KIREL-3000      ")} + ready) << "KIREL-3000      "
        << QString();
    QTest::newRow("vesk5000 first call: ready at once")
        << int(kModelVESK5000) << none << 1 << 3
        << (QStringList{QStringLiteral("KIREL    VESK-5000     ")} + ready) << "VESK-5000     "
        << QString();

    // A reader's idle state without a plate is ready; an open door or a plate left in the
    // loader is a start-up error that keeps the state.
    QTest::newRow("vesk5000 no plate") << int(kModelVESK5000) << ScannerScenario::NoPlate << 1 << 3
                                       << QStringList() << QString() << "2100h";
    QTest::newRow("vesk1800 plate in loader")
        << int(kModelVESK1800) << ScannerScenario::PlateInLoader << 1 << 2 << QStringList()
        << QString() << "6100h";

    const QString noConnect = Stamped("No Connect");
    QTest::newRow("kirel3 off, later calls: line 2, logged once")
        << int(kModelKIREL3) << off << 3 << 0 << QStringList{noConnect, noConnect} << QString()
        << QString();
    QTest::newRow("vesk1800 off, later calls: line 2")
        << int(kModelVESK1800) << off << 2 << 0 << QStringList{noConnect, noConnect} << QString()
        << QString();
    QTest::newRow("kirel5 off: never heard, nothing logged")
        << int(kModelKIREL5) << off << 2 << -1 << QStringList{QString()} << QString() << QString();
}

// The first calls to a scanner past its self-diagnosis, with a plate in the imaging-plate
// readers unless the row says otherwise, or to a scanner that is off.
void TestConnect::firstCalls()
{
    QFETCH(int, model);
    QFETCH(ScannerScenario, scenario);
    QFETCH(int, calls);
    QFETCH(int, state);
    QFETCH(QStringList, statusLog);
    QFETCH(QString, product);
    QFETCH(QString, condition);
    Fresh(model, true);
    ScannerModelSim sim(model, Options(0, scenario));
    sim.installOnBus();
    const bool off = scenario == ScannerScenario::Off;

    CapturedStream err;
    for (int i = 0; i < calls; ++i)
        QCOMPARE(RunConnectionTest(model), off ? -1 : 1);
    const QString text = QString::fromLatin1(err.text());
    QCOMPARE(KIREL5connectStatus, state);
    if (!statusLog.isEmpty())
        QCOMPARE(StatusLines(), statusLog);
    if (!product.isEmpty()) {
        QCOMPARE(QString::fromLatin1(vendorID), QStringLiteral("KIREL   "));
        QCOMPARE(QString::fromLatin1(scannerID), product);
    }
    if (off) {
        QCOMPARE(BootLogLines(),
                 model == kModelKIREL5 ? QStringList() : QStringList{Stamped("NO CONNECT:")});
        QVERIFY(text.startsWith(
            QStringLiteral("Scanner Inquiry, SCSI ID= 5\nKIREL5 NOT SELECTED -1\n")));
        if (model == kModelKIREL5) {
            QVERIFY(text.contains(QStringLiteral("ARBITRATION ERROR -1\nResult= -1\n")));
            QCOMPARE(scannerstat[32], BYTE(0));
        }
        return;
    }
    const bool startupError = !condition.isEmpty() && state == 2;
    QCOMPARE(newscansetup.scanrunningerror, startupError ? 1 : 0);
    if (!condition.isEmpty()) {
        QCOMPARE(newscansetup.sensekey, 0x02);
        QCOMPARE(newscansetup.sensecode, condition.left(2).toInt(nullptr, 16));
        QCOMPARE(newscansetup.extsensecode, 0x00);
        QCOMPARE(newscansetup.scansensekey, startupError ? QStringLiteral("02h") : QString());
        QCOMPARE(newscansetup.scansensecode, startupError ? condition : QString());
    }
}

void TestConnect::bootLogOfFirstCall_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("selfTestMs");
    QTest::addColumn<QStringList>("events"); // "@VND", "@CFG" stand for the byte dumps

    const QStringList kirel5Pass{"INQ: STAT=0", "TUR: STAT=0", "SEN: STAT=0", "TUR: STAT=0",
                                 "@CFG",        "CFG: STAT=0", "BUF: STAT=0"};
    QStringList kirel5Busy = kirel5Pass;
    kirel5Busy[1] = kirel5Busy[3] = QStringLiteral("TUR: STAT=2");
    QTest::newRow("kirel5 ready") << int(kModelKIREL5) << 0
                                  << (QStringList{"CONNECT:", "@VND"} + kirel5Pass + kirel5Pass);
    QTest::newRow("kirel5 in self-diagnosis")
        << int(kModelKIREL5) << 3000 << (QStringList{"CONNECT:", "@VND"} + kirel5Busy + kirel5Busy);
    QTest::newRow("kirel3") << int(kModelKIREL3) << 0 << QStringList{"CONNECT:", "@VND"};
    QTest::newRow("vesk1800") << int(kModelVESK1800) << 0 << QStringList{"CONNECT:", "@VND"};
}

// Every line is stamped with the local time; the dumps carry the bytes as answered.
void TestConnect::bootLogOfFirstCall()
{
    QFETCH(int, model);
    QFETCH(int, selfTestMs);
    QFETCH(QStringList, events);
    Fresh(model, true);
    ScannerModelSim sim(model, Options(selfTestMs), kClockStill);
    sim.installOnBus();

    QCOMPARE(RunConnectionTest(model), 1);
    const int inquiryLength = model == kModelKIREL5 ? 38 : 36;
    QStringList expected;
    for (const QString &event : events) {
        if (event == QLatin1String("@VND"))
            expected << kStamp + "VND:  " +
                            sim.scanner().inquiryData.left(inquiryLength).toHex(' ').toUpper();
        else if (event == QLatin1String("@CFG"))
            expected << kStamp + "CFG:  " + sim.statusReadData().toHex(' ').toUpper();
        else
            expected << kStamp + event;
    }
    QCOMPARE(BootLogLines(), expected);
}

// The status read lands in scannerstat (what the poll makes of its bytes is the poll tests'
// business) and is dumped on the standard error. With the boot log off the call neither
// writes the log nor moves the connection state, here that of a scanner heard before.
void TestConnect::kirel5StatusRead()
{
    const int connectState = 2;
    KIREL5connectStatus = connectState;
    ScannerModelSim sim(kModelKIREL5, Options(0));
    sim.installOnBus();

    CapturedStream err;
    QCOMPARE(RunConnectionTest(kModelKIREL5), 1);
    const QByteArray stat(reinterpret_cast<const char *>(scannerstat), 36);
    QCOMPARE(stat, sim.statusReadData().left(36));
    QCOMPARE(KIREL5connectStatus, connectState);
    QVERIFY(BootLogLines().isEmpty());
    QVERIFY(err.text().contains("Configuration Read 36\n" + stat.toHex(' ').toUpper() + "  \n"));
}

void TestConnect::kirel5LostMidSeries_data()
{
    QTest::addColumn<int>("commands"); // answered before the scanner goes off
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("errorLine");

    // A pass is INQUIRY, TEST UNIT READY, REQUEST SENSE, TEST UNIT READY, status read and
    // buffer status.
    QTest::newRow("after the first INQUIRY: result still 0") << 1 << 0 << QString();
    QTest::newRow("before the buffer status: -20")
        << 5 << -20 << QStringLiteral("ARBITRATION ERROR -1\n");
    QTest::newRow("in the second pass: result 1 of the first") << 8 << 1 << QString();
    QTest::newRow("before the second pass: -1")
        << 6 << -1 << QStringLiteral("ARBITRATION ERROR -1\n");
}

void TestConnect::kirel5LostMidSeries()
{
    QFETCH(int, commands);
    QFETCH(int, result);
    QFETCH(QString, errorLine);
    ScannerModelSim sim(kModelKIREL5, Options(0));
    sim.setPowerOffAfterCommands(commands);
    sim.installOnBus();

    CapturedStream err;
    QCOMPARE(RunConnectionTest(kModelKIREL5), result);
    const QString text = QString::fromLatin1(err.text());
    QVERIFY(text.endsWith(errorLine + QStringLiteral("Result= %1\n").arg(result)));
}

// With the boot log on, a scanner lost after being identified is logged once: state
// 3 -> 0 -> 1 within the call, and later calls of a still missing scanner add nothing.
void TestConnect::kirel5LossLoggedOnce()
{
    sysparams.bootlog = 1;
    ScannerModelSim sim(kModelKIREL5, Options(0));
    sim.installOnBus();
    QCOMPARE(RunConnectionTest(kModelKIREL5), 1);
    QCOMPARE(KIREL5connectStatus, 3);
    const int linesWhileConnected = BootLogLines().size();

    sim.setPoweredOn(false);
    QCOMPARE(RunConnectionTest(kModelKIREL5), -1);
    QCOMPARE(KIREL5connectStatus, 1);
    QCOMPARE(RunConnectionTest(kModelKIREL5), -1);
    QCOMPARE(KIREL5connectStatus, 1);
    QCOMPARE(BootLogLines().mid(linesWhileConnected), QStringList{Stamped("NO CONNECT:")});

    sim.setPoweredOn(true);
    QCOMPARE(RunConnectionTest(kModelKIREL5), 1);
    QCOMPARE(KIREL5connectStatus, 3);
    QCOMPARE(BootLogLines().at(linesWhileConnected + 1), Stamped("CONNECT:"));
}

// The scanner answers INQUIRY and MODE SENSE, then not the arbitration after them (-10):
// logged as lost. Back, it is identified (state 2); lost between INQUIRY and TEST UNIT READY
// (-15) the state falls back to 1, and the next call with the scanner back goes through the
// mode sense again.
void TestConnect::kirel3LostAndBack()
{
    Fresh(kModelKIREL3, true);
    ScannerModelSim sim(kModelKIREL3, Options(0));
    sim.setPowerOffAfterCommands(2);
    sim.installOnBus();
    {
        CapturedDebug debug;
        QCOMPARE(RunConnectionTest(kModelKIREL3), -10);
        QCOMPARE(debug.messages().filter(QStringLiteral("Connect status")),
                 (QStringList{"Connect status = 1", "Connect status = 0"}));
    }
    QCOMPARE(KIREL5connectStatus, 0);
    QCOMPARE(StatusLines(),
             (QStringList{QStringLiteral("KIREL    KIREL-3000      "), Stamped("No Connect")}));
    const QStringList boot = BootLogLines();
    QCOMPARE(boot.size(), 3);
    QCOMPARE(boot.first(), Stamped("CONNECT:"));
    QCOMPARE(boot.last(), Stamped("NO CONNECT:"));

    sim.setPoweredOn(true);
    QCOMPARE(RunConnectionTest(kModelKIREL3), 1);
    QCOMPARE(KIREL5connectStatus, 2);
    sim.setPowerOffAfterCommands(1);
    QCOMPARE(RunConnectionTest(kModelKIREL3), -15);
    QCOMPARE(KIREL5connectStatus, 1);

    sim.setPoweredOn(true);
    sim.scanner().setTraceEnabled(true);
    QCOMPARE(RunConnectionTest(kModelKIREL3), 1);
    QCOMPARE(KIREL5connectStatus, 2);
    QCOMPARE(sim.scanner().traceLines().filter(QStringLiteral("\"cdb\":\"1a ")).size(), 1);
}

// REQUEST SENSE of 16 bytes during the self-diagnosis also brings the configuration byte 15.
void TestConnect::kirel3KeepsSenseOfSelfDiagnosis()
{
    Fresh(kModelKIREL3);
    newscansetup.scannerconfig = 0x55;
    ScannerModelSim sim(kModelKIREL3, Options(3000), kClockStill);
    sim.installOnBus();
    QCOMPARE(RunConnectionTest(kModelKIREL3), 1);

    CapturedDebug debug;
    CapturedStream err;
    QCOMPARE(RunConnectionTest(kModelKIREL3), 1);
    QCOMPARE(KIREL5connectStatus, 2);
    QCOMPARE(newscansetup.scannerconfig, 0);
    QVERIFY(debug.messages().contains(QStringLiteral("Sense Key: 02h Sense Code: 0401h")));
    QVERIFY(debug.messages().contains(QStringLiteral("Request sense DataIn length = 16")));
    QVERIFY(err.text().contains("Status = 02\n"));
}

Q_DECLARE_METATYPE(CableFault)

void TestConnect::cableFaults_data()
{
    QTest::addColumn<CableFault>("fault");
    QTest::addColumn<int>("afterBytes");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("state"); // after the call: 0 when arbitration failed
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("switched off in the INQUIRY data")
        << CableFault::PowerOff << 20 << -3 << -1 << QByteArray("Scanner Inquiry");
    QTest::newRow("BSY stuck") << CableFault::StuckBsy << 0 << -1 << 0
                               << QByteArray("ARBITRATION START, BUS NOT FREE");
    // Identified, then the held bus ends the series before TEST UNIT READY.
    QTest::newRow("BSY held after INQUIRY")
        << CableFault::HoldBsy << 0 << 1 << 2 << QByteArray("ARBITRATION START, BUS NOT FREE");
}

// What a reader's connection test makes of the faults a cable brings.
void TestConnect::cableFaults()
{
    QFETCH(CableFault, fault);
    QFETCH(int, afterBytes);
    QFETCH(int, code);
    QFETCH(int, state);
    QFETCH(QByteArray, message);
    Fresh(kModelVESK1800);
    ScannerModelSim sim(kModelVESK1800, Options(0));
    // The cable breaks the bus rules here, not the station.
    sim.scanner().registers().referee().setMode(CableReferee::Mode::Record);
    sim.scanner().setCableFault(fault, afterBytes);
    sim.installOnBus();
    CapturedStream err;
    QCOMPARE(RunConnectionTest(kModelVESK1800), code);
    QVERIFY2(err.text().contains(message), message.constData());
    QCOMPARE(KIREL5connectStatus, state);
    QVERIFY(!sim.scanner().registers().stationOnCable()); // the station let go of the bus
}

void TestConnect::commandsSent_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("calls");
    QTest::addColumn<QStringList>("cdbs");

    const QStringList kirel5Pass{"12 00 00 00 26 00", "00 00 00 00 00 00",
                                 "03 00 00 00 12 00", "00 00 00 00 00 00",
                                 "c1 00 00 00 24 00", "34 00 00 00 00 00 00 00 14 00"};
    QTest::newRow("kirel5 two passes") << int(kModelKIREL5) << 1 << (kirel5Pass + kirel5Pass);
    QTest::newRow("kirel3 identify, then ready")
        << int(kModelKIREL3) << 2
        << QStringList{"12 00 00 00 24 00", "1a 00 00 00 11 00", "12 00 00 00 24 00",
                       "12 00 00 00 24 00", "00 00 00 00 00 00"};
    QTest::newRow("vesk5000 without plate")
        << int(kModelVESK5000) << 1
        << QStringList{"12 00 00 00 24 00", "00 00 00 00 00 00", "03 00 00 00 12 00"};
}

// What the scanner saw, command by command, with what it answered.
void TestConnect::commandsSent()
{
    QFETCH(int, model);
    QFETCH(int, calls);
    QFETCH(QStringList, cdbs);
    Fresh(model);
    ScannerModelSim sim(model, Options(0, ScannerScenario::NoPlate));
    sim.scanner().setTraceEnabled(true);
    sim.installOnBus();

    for (int i = 0; i < calls; ++i)
        QCOMPARE(RunConnectionTest(model), 1);
    QStringList seen;
    for (const QString &line : sim.scanner().traceLines()) {
        const int from = line.indexOf(QLatin1String("\"cdb\":\"")) + 7;
        seen << line.mid(from, line.indexOf(QLatin1Char('"'), from) - from);
        QVERIFY(!line.contains(QLatin1String("\"status\":null")));
    }
    QCOMPARE(seen, cdbs);
    // Every call opens with a bus reset that reaches the scanner.
    QCOMPARE(sim.scanner().resetsSeen(), calls);
}

QTEST_GUILESS_MAIN(TestConnect)
#include "tst_connect.moc"
