// The text logs: exact bytes and timestamps of every writer, headers of a new log, logs
// that exist or cannot be opened, the status-log window and the scan-log record.
#include "logfiles.h"
#include "maker.h"
#include "scanstate.h"
#include "stationfixture.h"
#include "stationpaths.h"

#include <QDir>
#include <QLocale>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <optional>

namespace
{

const QDateTime kNow(QDate(2026, 3, 3), QTime(9, 5, 7));
const QByteArray kStamp = "Tue Mar 03 2026 09:05:07 ";
const QByteArray kWeb = SCANSTATION_MAKER_WEB;
const QByteArray kOldContent = "old line\n";

enum Writer { Boot, Error, Scan, Scanning, ScanHead, Dated };

// Fixed path of the file each writer lands in on the KIREL-5000/5100.
QString TargetPath(Writer w)
{
    static const char *const kLogs[] = {"/home/pi/KIREL5-IR/KIREL5_boot.log",
                                        "/home/pi/KIREL5-IR/KIREL5_error.log",
                                        "/home/pi/KIREL5-IR/KIREL5_scan.log"};
    return QLatin1String(w <= Scan ? kLogs[w] : "/home/gel 1.log");
}

// Calls a writer the way its callers do: the file-object writers with kirelscanfile_log
// named, the stream writers with LOGdatastream attached to the open file.
int CallWriter(Writer w, const QString &targetPath, const QString &text)
{
    switch (w) {
    case Boot:
        return BootLogWrite(text);
    case Error:
        return ErrorLogWrite(text);
    case Scan:
    case Scanning:
        kirelscanfile_log.setFileName(targetPath);
        return w == Scan ? ScanLogWrite(text) : ScanningLogWrite(text);
    case ScanHead:
    case Dated: {
        QFile file(targetPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
            return 0;
        LOGdatastream.setDevice(&file);
        const int result = w == ScanHead ? ScanLogHeadFileWrite(text) : LogDateFileWrite(text);
        LOGdatastream.setDevice(nullptr);
        return result;
    }
    }
    return 0;
}

} // namespace

Q_DECLARE_METATYPE(Writer)

class TestLogFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void writers_data();
    void writers();
    void unopenableLogsSkipped();
    void blockedLogToldOnce_data();
    void blockedLogToldOnce();

    void headers_data();
    void headers();

    void statusLogWindow();

    void scanLogRecord_data();
    void scanLogRecord();

private:
    QScopedPointer<TempStationRoot> root;
};

void TestLogFiles::initTestCase()
{
    // A machine set to German must still log English day and month names.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(QLocale().toString(kNow, QStringLiteral("ddd MMM")) != "Tue Mar");
}

void TestLogFiles::init()
{
    root.reset(new TempStationRoot);
    QVERIFY(root->isValid());
    ResetSharedState(kModelKIREL5);
    LogClock = [] { return kNow; };
    kirelscanfile_log.setFileName(QString());
}

void TestLogFiles::cleanup()
{
    LOGdatastream.setDevice(nullptr);
    LogClock = &QDateTime::currentDateTime;
    root.reset();
}

void TestLogFiles::cleanupTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestLogFiles::writers_data()
{
    QTest::addColumn<Writer>("writer");
    QTest::addColumn<QByteArray>("prefix"); // what the writer puts before the text
    QTest::newRow("boot log") << Boot << kStamp;
    QTest::newRow("error log") << Error << kStamp;
    QTest::newRow("scan log: two blanks") << Scan << kStamp + ' ';
    QTest::newRow("scanning log") << Scanning << kStamp;
    QTest::newRow("scanning-log head on the stream") << ScanHead << QByteArray();
    QTest::newRow("dated line on the stream: two blanks") << Dated << kStamp + ' ';
}

// Every writer appends one line to what the file holds, one byte per character: characters
// outside Latin-1 keep the low byte of their code unit.
void TestLogFiles::writers()
{
    QFETCH(Writer, writer);
    QFETCH(QByteArray, prefix);
    const QString path = TargetPath(writer);
    QVERIFY(root->writeFile(path, kOldContent));
    const QString text = QStringLiteral("gel \u00e9\u03a9\u20ac 1");
    QCOMPARE(CallWriter(writer, root->path(path), text), 1);
    QCOMPARE(CallWriter(writer, root->path(path), QStringLiteral("2")), 1);
    QCOMPARE(root->readFile(path), kOldContent + prefix + "gel \xe9\xa9\xac 1\n" + prefix + "2\n");
}

// A log that cannot be opened is skipped: every writer still returns 1 and nothing is made.
void TestLogFiles::unopenableLogsSkipped()
{
    QVERIFY(QDir(root->path(QStringLiteral("/home/pi/KIREL5-IR"))).removeRecursively());
    LogFilesCreate();
    const QString inMissingFolder = root->path(QStringLiteral("/home/pi/KIREL5-IR/gel.log"));
    for (Writer w : {Boot, Error, Scan, Scanning})
        QCOMPARE(CallWriter(w, inMissingFolder, QStringLiteral("x")), 1);
    QCOMPARE(LogDateFileWrite(QStringLiteral("no stream")), 1);
    kirelscanfile_log.setFileName(QString());
    QCOMPARE(ScanLogWrite(QStringLiteral("no name")), 1);
    QVERIFY(!QFileInfo::exists(root->path(QStringLiteral("/home/pi/KIREL5-IR"))));
}

void TestLogFiles::blockedLogToldOnce_data()
{
    QTest::addColumn<Writer>("writer");
    QTest::addColumn<int>("obstacle"); // -1: a full disk under an existing log
    for (Writer w : {Boot, Scanning}) {
        const char *name = w == Boot ? "boot log" : "scanning log";
        QTest::addRow("%s, full disk", name) << w << -1;
        QTest::addRow("%s, link", name) << w << int(Obstacle::Link);
        QTest::addRow("%s, dangling link", name) << w << int(Obstacle::DanglingLink);
        QTest::addRow("%s, FIFO", name) << w << int(Obstacle::Fifo);
        QTest::addRow("%s, folder", name) << w << int(Obstacle::Folder);
    }
}

// A log that cannot be written (start-up included) is told once on the status log, naming
// the file and why; the writer goes on, and what stands there is left as it was.
void TestLogFiles::blockedLogToldOnce()
{
    QFETCH(Writer, writer);
    QFETCH(int, obstacle);
    const QString path = root->path(TargetPath(writer));
    QTemporaryDir outside;
    std::optional<DiskFull> full;
    if (obstacle < 0) {
        QVERIFY(root->writeFile(TargetPath(writer), kOldContent));
        LogFilesCreate();
        full.emplace();
    } else {
        QVERIFY(ObstaclePlace(Obstacle(obstacle), path, outside.path()));
        LogFilesCreate();
    }
    for (int i = 0; i < 2; ++i)
        QCOMPARE(CallWriter(writer, path, QStringLiteral("READY:")), 1);
    full.reset();
    const QString told =
        LogTimestamp() + QStringLiteral("LOG NOT WRITTEN: ") + path +
        (obstacle < 0 ? QStringLiteral(": ") + QString::fromLocal8Bit(strerror(ENOSPC))
                      : QLatin1Char(' ') + ObstacleKind(Obstacle(obstacle)));
    QCOMPARE(QNewStatusString, told);
    QCOMPARE(LogWriteProblem(path), told.mid(told.indexOf(path)));
    if (obstacle < 0)
        QCOMPARE(root->readFile(TargetPath(writer)), kOldContent);
    else
        QVERIFY(ObstacleUntouched(Obstacle(obstacle), path, outside.path()));
}

void TestLogFiles::headers_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("stem"); // fixed path without "_boot.log" and the like
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QByteArray>("columns");
    const auto row = [](const char *name, int model, const char *stem, const char *columns) {
        QTest::newRow(name) << model << QString(stem) << QByteArray(name)
                            << "Date,Time,File," + QByteArray(columns);
    };
    row("KIREL-5000/5100", kModelKIREL5, "/home/pi/KIREL5-IR/KIREL5",
        "Mode,Resolution,StartW,StartH,Width,Height,Laser1,Filter1,HV1,Laser2,Filter2,HV2");
    row("KIREL-3000", kModelKIREL3, "/home/pi/KIREL3-IR/KIREL3",
        "Mode,Resolution,StartW,StartH,Width,Height,Laser,Filter,Sensitivity");
    row("VESK-5000", kModelVESK5000, "/home/pi/VESK-IR/VESK",
        "Resolution,StartW,StartH,Width,Height");
    // The VESK-1800II's logs carry the name of its VESK-1802 variant.
    row("VESK-1802", kModelVESK1800, "/home/pi/VESK-IR/VESK",
        "Resolution,StartW,StartH,Width,Height");
}

// Headers go only into a log that is missing at start-up: a second start-up finds the logs
// there and adds nothing.
void TestLogFiles::headers()
{
    QFETCH(int, model);
    QFETCH(QString, stem);
    QFETCH(QByteArray, title);
    QFETCH(QByteArray, columns);
    ScannerType = model;
    LogFilesCreate();
    const QByteArray scanLog = title + " SCAN LOG - " + kWeb + "\n" + columns + "\n";
    QCOMPARE(root->readFile(stem + QStringLiteral("_boot.log")),
             title + " BOOT LOG - " + kWeb + "\n");
    QCOMPARE(root->readFile(stem + QStringLiteral("_error.log")),
             title + " ERROR LOG - " + kWeb + "\n");
    QCOMPARE(root->readFile(stem + QStringLiteral("_scan.log")), scanLog);
    QVERIFY(!LOGdatastream.device());
    // The KIREL-3000 keeps its error log's header and nothing more.
    QCOMPARE(ErrorLogWrite(QStringLiteral("Sense Key: 02h Sense Code: 0401h")), 1);
    const QByteArray errorLog = root->readFile(stem + QStringLiteral("_error.log"));
    QCOMPARE(errorLog.count('\n'), model == kModelKIREL3 ? 1 : 2);
    QVERIFY(root->writeFile(stem + QStringLiteral("_scan.log"), "record 1\n"));
    LogFilesCreate();
    QCOMPARE(root->readFile(stem + QStringLiteral("_error.log")), errorLog);
    QCOMPARE(root->readFile(stem + QStringLiteral("_scan.log")), QByteArray("record 1\n"));
}

// Callers add a line by incrementing logeventnumber first; past ten lines the oldest goes.
// Without an increment the newest line is rewritten, also once the window is full. An event
// before start-up has set the count takes the first line instead of writing in front of the
// array.
void TestLogFiles::statusLogWindow()
{
    logeventnumber = 0;
    StatusLogUpdate(QStringLiteral("No Connect"));
    QCOMPARE(logeventnumber, 1);
    QCOMPARE(QNewStatusString, QStringLiteral("No Connect"));
    StatusLogUpdate(QStringLiteral("No Connect"));
    ++logeventnumber;
    StatusLogUpdate(QStringLiteral("KIREL   5000"));
    StatusLogUpdate(QStringLiteral("Connected"));
    QCOMPARE(QNewStatusString, QStringLiteral("No Connect\nConnected"));

    QStringList shown{"No Connect", "Connected"};
    for (int event = 3; event <= 11; ++event) {
        ++logeventnumber;
        QCOMPARE(StatusLogUpdate(QStringLiteral("event %1").arg(event)), 1);
        shown << QStringLiteral("event %1").arg(event);
        if (shown.size() > kStatusLogLines)
            shown.removeFirst();
        QCOMPARE(QNewStatusString, shown.join('\n'));
    }
    QCOMPARE(logeventnumber, kStatusLogLines);
    QCOMPARE(QStatusString[0], QStringLiteral("Connected"));
    StatusLogUpdate(QStringLiteral("Ready"));
    shown.last() = QStringLiteral("Ready");
    QCOMPARE(QNewStatusString, shown.join('\n'));
}

void TestLogFiles::scanLogRecord_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("record");
    QTest::newRow("KIREL-5000/5100")
        << int(kModelKIREL5) << QStringLiteral("/home/gel 1,2,100,25,75,150,0,4,3,650,0,0,0");
    QTest::newRow("KIREL-3000") << int(kModelKIREL3)
                                << QStringLiteral("/home/gel 1,6,5,4000,25,75,150,0,4,3");
    QTest::newRow("VESK-5000") << int(kModelVESK5000)
                               << QStringLiteral("/home/gel 1,6,5,4000,25,75,150,0");
}

// Micrometres become whole millimetres, the remainder dropped.
void TestLogFiles::scanLogRecord()
{
    QFETCH(int, model);
    QFETCH(QString, record);
    ScannerType = model;
    image_dir = QStringLiteral("/home");
    image_name = QStringLiteral("gel 1");
    scanTemplate[0].mode = kModeFluorescence;
    scan_HVch1 = 650;
    const BYTE block[10] = {0, 6, 5, 0, 0, 0, 0, 100, 0, 4};
    std::copy(block, block + 10, scanparams);
    if (model != kModelKIREL5) {
        scanparams[7] = 0x0F; // sensitivity 4000
        scanparams[8] = 0xA0;
    }
    QCOMPARE(ScanLogRecord(25000, 75999, 150000, 999, 3), record);
}

QTEST_MAIN(TestLogFiles)
#include "tst_logfiles.moc"
