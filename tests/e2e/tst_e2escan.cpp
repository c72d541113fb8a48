// Whole scans as the operator makes them: the settings come from the data files (template
// record 0 and the system parameters, with raw data, shading data and both logs on), the
// main window polls the virtual scanner until it is ready, Start Scan is pressed and the
// scan window runs the scan on its own timers, its boxes answered with OK. The files it
// leaves are compared with pictures worked out from the phantom (phantomexpect.h). Only the
// scan window's progress clock is the test's, a second per reading, so the readers' settling
// time after START costs no real time.
#include "boxes.h"
#include "fakescanner.h"
#include "datafiles.h"
#include "emulatedi2c.h"
#include "logfiles.h"
#include "mainwindow.h"
#include "phantomexpect.h"
#include "scannermodels.h"
#include "scanstate.h"
#include "scanwindow.h"
#include "stationfixture.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <memory>

using namespace expect;

namespace
{

// Guards against a window that never gets ready or a scan that never ends, not measures of
// speed: the suite also runs under qemu, many times slower, with other tests beside it.
constexpr int kReadyWaitMs = 120000;
constexpr int kScanLimitMs = 600000;      // a stuck scan window is closed after this
constexpr double kImageTolerance = 0.003; // interpolated correction against nearest node

// A scan: fluorescence on the KIREL-5000/5100, a plate on the readers.
struct Case {
    int model;
    QPoint cornerL, cornerR; // tiles: column, row (row 0 at the top)
    int resolution;
    Area area;          // what the tiles come to on the bed, worked out by hand
    int laserIndex = 0; // in the channel-1 list: 473, 532, 635, 670, 685 nm
    int laserByte = 1;  // the block's laser code
    int lineMs = 0;     // the scanner's pace: a line every lineMs (0: all lines at once)
};

qint64 fakeClockMs = 0;
qint64 fakeWatchMs = 0;

// The scan of the fault and stop tests: one tile at 200 um (fluorescence, the given laser)
// or at 100 um on a plate.
Case OneTile(int model, int laserIndex = 1, int laserByte = 2)
{
    if (model == kKirel5)
        return {model, {2, 12}, {2, 12}, 200, {50000, 75000, 25000, 25000}, laserIndex, laserByte};
    return {
        model, {2, 4}, {2, 4}, 100, {50000, (model == kVesk5000 ? 78500 : 103500), 25000, 25000},
        1,     2};
}

// A station on the virtual scanner with its files under a temporary root.
class Station
{
public:
    explicit Station(int model, const ScanOptions &scan = {})
        : scanner(model, [&scan] {
              ScannerModelOptions o;
              o.selfTestMs = 0;
              o.scan = scan;
              return o;
          }())
    {
        ResetSharedState(model);
        I2cInstallBus(&boards);
        scanner.scanner().setTraceEnabled(true);
        scanner.installOnBus();
        QDir().mkpath(folder());
    }
    ~Station()
    {
        window.reset();
        scanner.removeFromBus();
        I2cInstallBus(nullptr);
    }

    QString folder() const { return root.path(QStringLiteral("/home/scans")); }

    // The settings of the next scan, in the data files only.
    void settingsWrite(const Case &c)
    {
        ScanTempl &t = scanTemplate[0];
        t.name = QStringLiteral("startup");
        t.mode = c.model == kKirel5 ? kModeFluorescence : kModeIP;
        t.area = kAreaGrid;
        t.scancornerL = c.cornerL;
        t.scancornerR = c.cornerR;
        t.scancornerC = c.cornerL;
        t.resolution = c.resolution;
        t.laserCh1 = BYTE(c.laserIndex);
        t.HVch1 = kHV;
        t.folder = folder();
        QVERIFY(TemplatesWrite(1));
        sysparams = {1, 1, 1, 1, 1};
        QVERIFY(SysParamsWrite());
        ResetSharedState(scanner.model()); // what the window knows, it reads
    }

    void open()
    {
        window.reset(new MainWindow);
        window->show();
        QTRY_VERIFY_WITH_TIMEOUT(scanButton()->isEnabled(), kReadyWaitMs);
    }

    QPushButton *scanButton() const { return Child<QPushButton>(*window, "pushButton_Scan"); }

    // Types the name and presses Start Scan; returns the titles of the boxes shown once the
    // scan window has closed.
    QStringList scan(const QString &name)
    {
        Child<QLineEdit>(*window, "lineEdit_filename")->setText(name);
        filterByte = Child<QComboBox>(*window, "comboBox_FilterCh1")->currentIndex() + 1;
        BoxAnswerer answerer;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, [this] {
            stuck = true;
            if (auto *w = qobject_cast<ScanWindow *>(QApplication::activeModalWidget()))
                w->reject();
        });
        limit.start(kScanLimitMs);
        if (VirtualScan *s = scanner.scan())
            s->scanRequested();
        scanButton()->click();
        return answerer.titles();
    }

    QString file(const QString &name, const char *extension) const
    {
        return folder() + QLatin1Char('/') + name + QLatin1String(extension);
    }

    // The data of the last MODE SELECT the scanner took.
    QString modeSelectData()
    {
        QString out;
        for (const QString &line : scanner.scanner().traceLines())
            if (line.startsWith(QLatin1String("{\"cdb\":\"15 "))) {
                const int at = line.indexOf(QLatin1String("\"out\":\"")) + 7;
                out = line.mid(at, line.indexOf(QLatin1Char('"'), at) - at);
            }
        return out;
    }

    static constexpr int kHV = 600;
    TempStationRoot root;
    EmulatedI2cBus boards;
    ScannerModelSim scanner;
    std::unique_ptr<MainWindow> window;
    int filterByte = 0;
    bool stuck = false;
};

QByteArray Bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList Lines(const QString &path)
{
    return QString::fromLatin1(Bytes(path)).split(QLatin1Char('\n'));
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestE2EScan : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        clock = ScanClockMs;
        ScanClockMs = [] { return fakeClockMs += 1000; };
    }
    void cleanup()
    {
        ScanClockMs = clock;
        ScanWatchMs = watch;
    }

    void wholeScan_data();
    void wholeScan();
    void faultThroughTheWindows_data();
    void faultThroughTheWindows();
    void nextScanAfterStop_data();
    void nextScanAfterStop();

private:
    qint64 (*clock)() = nullptr;
    qint64 (*watch)() = ScanWatchMs;
};

void TestE2EScan::wholeScan_data()
{
    QTest::addColumn<Case>("c");
    // model, tiles (column, row), resolution, area (um); laser index and code
    // Columns 15 to 17 (the last one 35 mm wide) of the top two rows: the shading nodes at
    // the bed's right and top edges.
    QTest::newRow("200um 532nm bed corner")
        << Case{kKirel5, {15, 0}, {17, 1}, 200, {375000, 350000, 85000, 50000}, 1, 2};
    QTest::newRow("50um 670nm bed origin")
        << Case{kKirel5, {0, 15}, {1, 15}, 50, {0, 0, 50000, 25000}, 3, 8};
    QTest::newRow("25um 473nm 1000 wide two lines a read")
        << Case{kKirel5, {8, 7}, {8, 7}, 25, {200000, 200000, 25000, 25000}, 0, 1};
    QTest::newRow("200um 685nm diode goes as 0")
        << Case{kKirel5, {5, 5}, {5, 5}, 200, {125000, 250000, 25000, 25000}, 4, 0};
    // Reader rows: the plate's bottom edge is 3.5 mm under the bottom tile row's; the
    // VESK-1800II's bottom tile row is grid row 8, the VESK-5000's row 7.
    // Paced: the reader holds each reselection until its piece is read.
    QTest::newRow("VESK-1800II 200um averaged paced")
        << Case{kVesk1800, {0, 1}, {0, 3}, 200, {0, 128500, 25000, 75000}, 0, 1, 1};
    QTest::newRow("VESK-5000 25um paced")
        << Case{kVesk5000, {4, 2}, {4, 2}, 25, {100000, 128500, 25000, 25000}, 0, 1, 1};
    QTest::newRow("VESK-5000 50um top row under the line's end")
        << Case{kVesk5000, {0, 0}, {0, 0}, 50, {0, 178500, 25000, 25000}};
    QTest::newRow("VESK-5000 100um averaged bottom row")
        << Case{kVesk5000, {1, 7}, {1, 7}, 100, {25000, 3500, 25000, 25000}};
}

void TestE2EScan::wholeScan()
{
    QFETCH(Case, c);
    const bool ip = c.model != kKirel5;
    ScanOptions pace;
    pace.lineMs = c.lineMs;
    Station st(c.model, pace);
    st.settingsWrite(c);
    st.open();
    const QString name = QStringLiteral("%1%2").arg(ip ? "ip" : "fl").arg(c.resolution);
    const QStringList titles = st.scan(name);
    QVERIFY(!st.stuck);
    QCOMPARE(titles, QStringList{QStringLiteral("SCAN COMPLETE")});

    const int r = c.resolution;
    // The VESK-1800II reads at latitude 5 and 4000 only; the VESK-5000 starts each run at
    // latitude 5 and its highest sensitivity.
    const int sensitivity = c.model == kVesk5000 ? 30000 : 4000;
    QCOMPARE(st.modeSelectData(),
             QString::fromLatin1(
                 (ip ? ReaderBlock(c.model, c.area, r, 5, sensitivity)
                     : FluorescenceBlock(c.area, r, st.filterByte, c.laserByte, Station::kHV))
                     .toHex(' '))); // as the command trace writes it
    const int selector = ShadingSelectorFor(c.laserByte);
    const Picture want =
        ip ? PlateExpected(c.model, c.area, r) : FluorescenceExpected(c.area, r, selector, false);
    QCOMPARE(PictureDifference(PictureRead(st.file(name, ".img"), want.columns), want,
                               ip ? 0 : kImageTolerance),
             QString());
    const QByteArray raw = Bytes(st.file(name, ".raw"));
    if (ip) {
        // The readers deliver no uncorrected copy and no shading table: "Save Raw Data" makes
        // no .raw on them, and there is no .sd.
        QVERIFY(!QFile::exists(st.file(name, ".raw")));
        QVERIFY(!QFile::exists(st.file(name, ".sd")));
    } else {
        QCOMPARE(PictureDifference(PictureOf(raw, want.columns),
                                   FluorescenceExpected(c.area, r, selector, true)),
                 QString());
        QCOMPARE(Bytes(st.file(name, ".sd")), ShadingFile(selector));
    }

    // The scan-log record (its layout is the log files' own test's) carries this area in mm.
    const QString mm = QStringLiteral(",%1,%2,%3,%4")
                           .arg(c.area.x0 / 1000)
                           .arg(c.area.y0 / 1000)
                           .arg(c.area.width / 1000)
                           .arg(c.area.height / 1000);
    const QString record = Lines(ScanLogPath()).filter(st.file(name, ",")).value(0);
    QVERIFY2(record.contains(mm), qPrintable(record));
}

void TestE2EScan::faultThroughTheWindows_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<int>("rows");         // image rows kept from the end; -1 all, 0 unchecked
    QTest::addColumn<QStringList>("kept"); // the files left behind
    QTest::addColumn<bool>("diode");       // scanned with the 685 nm laser diode

    const QStringList complete{"SCAN COMPLETE"};
    const QStringList errors{"SCAN ERROR", "SCAN END"};
    const QStringList all{".img", ".raw", ".inf", ".sd", ".log"};
    const QStringList readerAll{".img", ".inf", ".log"};
    const QStringList none;
    // A sense error ends the scan once the piece already waiting has been read; a bus held
    // busy ends it at once.
    QTest::newRow("KIREL-5000/5100 sense error")
        << kKirel5 << int(ScanFault::SenseError) << errors << 15 << all << false;
    QTest::newRow("KIREL-5000/5100 ILLEGAL REQUEST once")
        << kKirel5 << int(ScanFault::IllegalRequestOnce) << complete << -1 << all << false;
    QTest::newRow("KIREL-5000/5100 bus held busy")
        << kKirel5 << int(ScanFault::BusHeldBusy) << errors << 10 << all << false;
    QTest::newRow("KIREL-5000/5100 DATA IN cut short")
        << kKirel5 << int(ScanFault::DataInCutShort) << complete << -1 << all << false;
    QTest::newRow("VESK-1800II DATA IN cut short")
        << kVesk1800 << int(ScanFault::DataInCutShort) << complete << -1 << readerAll << false;
    QTest::newRow("VESK-5000 no plate at START")
        << kVesk5000 << int(ScanFault::NoPlate) << QStringList{"SCAN ERROR"} << 0
        << QStringList{".log"} << false;
    // The scanner goes quiet after 10 lines (10 reader lines: 5 averaged rows on the
    // VESK-5000 at 100 um); they stay in the image, the diode goes off.
    QTest::newRow("KIREL-5000/5100 power off, 685 nm diode")
        << kKirel5 << int(ScanFault::PowerOff) << errors << 10 << all << true;
    QTest::newRow("VESK-1800II power off")
        << kVesk1800 << int(ScanFault::PowerOff) << errors << 10 << readerAll << false;
    QTest::newRow("VESK-5000 stall")
        << kVesk5000 << int(ScanFault::Stall) << errors << 5 << readerAll << false;
    QTest::newRow("KIREL-5000/5100 START fails, 685 nm diode")
        << kKirel5 << int(ScanFault::StartFails) << QStringList{"SCAN ERROR"} << 0 << none << true;
}

// The boxes in order, the files kept, and the picture whole where the scan went on.
void TestE2EScan::faultThroughTheWindows()
{
    QFETCH(int, model);
    QFETCH(int, fault);
    QFETCH(QStringList, titles);
    QFETCH(int, rows);
    QFETCH(QStringList, kept);
    QFETCH(bool, diode);

    ScanOptions options;
    options.fault = ScanFault(fault);
    options.faultAfterLines = 10;
    Station st(model, options);
    // Each look at the no-data watch moves it 20 s: a scanner that has gone quiet reaches
    // the limit after six read passes without a line.
    ScanWatchMs = [] { return fakeWatchMs += 20000; };
    const Case c = diode ? OneTile(model, 4, 0) : OneTile(model);
    st.settingsWrite(c);
    st.open();
    const QStringList shown = st.scan(QStringLiteral("fault"));
    QVERIFY(!st.stuck);
    QCOMPARE(shown, titles);
    QVERIFY(st.scanner.scan()->faultStruck());
    for (const char *ext : {".img", ".raw", ".inf", ".sd", ".log"})
        QCOMPARE(QFile::exists(st.file(QStringLiteral("fault"), ext)),
                 kept.contains(QLatin1String(ext)));
    if (diode) {
        // Switched on with the first data (when there was any), off at the end.
        QCOMPARE(st.boards.diodeSwitch.writes.contains(QByteArray("\x05\x54", 2)), rows != 0);
        QVERIFY(!st.boards.diodeSwitch.diodeOn());
        QCOMPARE(LD685status, 0);
    }
    if (fault == int(ScanFault::SenseError))
        QVERIFY(Bytes(ErrorLogPath()).contains("Sense Key: 03h Sense Code: 1100h"));
    if (rows == 0)
        return;
    const int r = c.resolution;
    const int selector = ShadingSelectorFor(c.laserByte);
    Picture want = model == kKirel5 ? FluorescenceExpected(c.area, r, selector, false)
                                    : PlateExpected(model, c.area, r);
    // The first lines of the scan are the last rows of the file; the rest stays black.
    if (rows > 0)
        std::fill(want.values.begin(), want.values.end() - rows * want.columns, 0);
    QCOMPARE(PictureDifference(PictureRead(st.file(QStringLiteral("fault"), ".img"), want.columns),
                               want, model == kKirel5 ? kImageTolerance : 0),
             QString());
}

void TestE2EScan::nextScanAfterStop_data()
{
    QTest::addColumn<int>("model");
    QTest::newRow("KIREL-5000/5100") << kKirel5;
    QTest::newRow("VESK-1800II") << kVesk1800;
    QTest::newRow("VESK-5000") << kVesk5000;
}

// Stop as soon as the first lines are in, while the scanner works on the next piece (a
// reader has its READ and will reselect); the next scan must run to its end.
void TestE2EScan::nextScanAfterStop()
{
    QFETCH(int, model);
    ScanOptions options;
    options.lineMs = 10;
    Station st(model, options);
    st.settingsWrite(OneTile(model));
    st.open();
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [&stopper] {
        auto *w = qobject_cast<ScanWindow *>(QApplication::activeModalWidget());
        if (!w || newscansetup.scanstatus == 0)
            return;
        stopper.stop();
        Child<QPushButton>(*w, "pushButton_stop")->click();
    });
    stopper.start(5);
    const QStringList first = st.scan(QStringLiteral("first"));
    QVERIFY(!st.stuck);
    QCOMPARE(first.value(0), QStringLiteral("Stop Scan"));
    QCOMPARE(st.scan(QStringLiteral("second")), QStringList{QStringLiteral("SCAN COMPLETE")});
}

QTEST_MAIN(TestE2EScan)
#include "tst_e2escan.moc"
