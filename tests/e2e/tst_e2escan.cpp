// Whole scans as the operator makes them: the settings come from the data files (template
// record 0 and the system parameters, with raw data, shading data and both logs on), the
// main window polls the virtual scanner until it is ready, Start Scan is pressed and the
// scan window runs the scan on its own timers, its boxes answered with OK. The files it
// leaves are compared with pictures worked out from the phantom (e2eexpect.h).
//
// Only the progress clock of the scan window is the test's: it runs a second per reading,
// so the readers' settling time after START costs no real time.
#include "boxes.h"
#include "datafiles.h"
#include "e2eexpect.h"
#include "emulatedi2c.h"
#include "logfiles.h"
#include "mainwindow.h"
#include "scannermodels.h"
#include "scanstate.h"
#include "scanwindow.h"
#include "stationfixture.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

using namespace e2e;

namespace
{

constexpr int kReadyWaitMs = 10000;
constexpr int kScanLimitMs = 60000;       // a stuck scan window is closed after this
constexpr double kImageTolerance = 0.003; // interpolated correction against nearest node

enum Mode { kIP = 0, kFluorescence = 2 };

struct Case {
    int model = kKirel5;
    int mode = kFluorescence;
    QPoint cornerL, cornerR; // tiles: column, row (row 0 at the top)
    int resolution = 200;
    int laserIndex = 0; // in the channel-1 list: 473, 532, 635, 670, 685 nm
    Area area;          // what the tiles come to on the bed, worked out by hand
    int laserByte = 1;  // the block's laser code
};

qint64 fakeClockMs = 0;
qint64 FakeClock()
{
    return fakeClockMs += 1000;
}

// A station on the virtual scanner with its files under a temporary root.
class Station
{
public:
    explicit Station(int model, const ScanOptions &scan = {}) : scanner(model, Options(scan))
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

    static ScannerModelOptions Options(const ScanOptions &scan)
    {
        ScannerModelOptions o;
        o.selfTestMs = 0;
        o.scan = scan;
        return o;
    }

    QString folder() const { return root.path(QStringLiteral("/home/scans")); }

    // The settings of the next scan, in the data files only.
    void settingsWrite(const Case &c)
    {
        ScanTempl &t = scanTemplate[0];
        t.name = QStringLiteral("startup");
        t.mode = c.mode;
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

    QPushButton *scanButton() const
    {
        return window->findChild<QPushButton *>(QStringLiteral("pushButton_Scan"));
    }

    // Types the name and presses Start Scan; returns once the scan window has closed.
    QList<ShownBox> scan(const QString &name)
    {
        window->findChild<QLineEdit *>(QStringLiteral("lineEdit_filename"))->setText(name);
        filterByte =
            window->findChild<QComboBox *>(QStringLiteral("comboBox_FilterCh1"))->currentIndex() +
            1;
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
        return answerer.boxes;
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

QStringList Lines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'));
}

QStringList Titles(const QList<ShownBox> &boxes)
{
    QStringList t;
    for (const ShownBox &b : boxes)
        t << b.title;
    return t;
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
        ScanClockMs = &FakeClock;
    }
    void cleanup() { ScanClockMs = clock; }

    void fluorescenceScan_data();
    void fluorescenceScan();
    void plateScan_data();
    void plateScan();
    void faultThroughTheWindows_data();
    void faultThroughTheWindows();

private:
    qint64 (*clock)() = nullptr;
};

void TestE2EScan::fluorescenceScan_data()
{
    QTest::addColumn<Case>("c");
    Case c;
    // Columns 15 to 17 (the last one 35 mm wide) of the top two rows: the shading nodes at
    // the bed's right and top edges.
    c.cornerL = {15, 0};
    c.cornerR = {17, 1};
    c.laserIndex = 1;
    c.laserByte = 2;
    c.area = {375000, 350000, 85000, 50000};
    QTest::newRow("200um 532nm bed corner") << c;

    c.cornerL = c.cornerR = {3, 10};
    c.resolution = 100;
    c.laserIndex = 2;
    c.laserByte = 4;
    c.area = {75000, 125000, 25000, 25000};
    QTest::newRow("100um 635nm") << c;

    c.cornerL = {0, 15};
    c.cornerR = {1, 15};
    c.resolution = 50;
    c.laserIndex = 3;
    c.laserByte = 8;
    c.area = {0, 0, 50000, 25000};
    QTest::newRow("50um 670nm bed origin") << c;

    c.cornerL = c.cornerR = {8, 7};
    c.resolution = 25;
    c.laserIndex = 0;
    c.laserByte = 1;
    c.area = {200000, 200000, 25000, 25000};
    QTest::newRow("25um 473nm 1000 wide two lines a read") << c;

    c.cornerL = c.cornerR = {5, 5};
    c.resolution = 200;
    c.laserIndex = 4;
    c.laserByte = 0; // the 685 nm diode goes as 0
    c.area = {125000, 250000, 25000, 25000};
    QTest::newRow("200um 685nm diode") << c;
}

void TestE2EScan::fluorescenceScan()
{
    QFETCH(Case, c);
    Station st(kKirel5);
    st.settingsWrite(c);
    st.open();
    const QString name = QStringLiteral("fl%1").arg(c.resolution);
    const QList<ShownBox> boxes = st.scan(name);
    QVERIFY(!st.stuck);
    QCOMPARE(Titles(boxes), QStringList{QStringLiteral("SCAN COMPLETE")});

    const int r = c.resolution;
    const int width = int(c.area.width / r);
    QCOMPARE(st.modeSelectData(),
             Hex(FluorescenceBlock(c.area, r, st.filterByte, c.laserByte, Station::kHV)));
    const int selector = ShadingSelectorFor(false, c.laserByte);
    QString diff = PictureDifference(PictureRead(st.file(name, ".raw"), width),
                                     FluorescenceExpected(c.area, r, selector, true));
    QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral(".raw: ") + diff));
    diff = PictureDifference(PictureRead(st.file(name, ".img"), width),
                             FluorescenceExpected(c.area, r, selector, false), kImageTolerance);
    QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral(".img: ") + diff));

    QFile sd(st.file(name, ".sd"));
    QVERIFY(sd.open(QIODevice::ReadOnly));
    QCOMPARE(sd.readAll(), ShadingFile(selector));

    const QStringList inf = Lines(st.file(name, ".inf"));
    QVERIFY(inf.size() > 24);
    const QString n = QString::number(r);
    QCOMPARE(inf.mid(0, 10),
             (QStringList{"KIREL_IMAGE_FILE", name, QString(), n, n, "16", QString::number(width),
                          QString::number(c.area.height / r), "1", "5"}));
    const char *const waves[] = {"685", "473", "532", "", "635", "", "", "", "670"};
    QCOMPARE(inf[16], QString::fromLatin1(waves[c.laserByte]));
    QCOMPARE(inf[23], QStringLiteral("S,WAVE_LENGTH1=") + waves[c.laserByte]);

    const QString record = QStringLiteral("%1,2,%2,%3,%4,%5,%6,%7,%8,%9,0,0,0")
                               .arg(st.folder() + QLatin1Char('/') + name)
                               .arg(r)
                               .arg(c.area.x0 / 1000)
                               .arg(c.area.y0 / 1000)
                               .arg(c.area.width / 1000)
                               .arg(c.area.height / 1000)
                               .arg(c.laserByte)
                               .arg(st.filterByte)
                               .arg(Station::kHV);
    const QStringList log = Lines(ScanLogPath());
    QVERIFY(log.size() >= 2);
    QVERIFY2(log[log.size() - 2].endsWith(QLatin1Char(' ') + record),
             qPrintable(log[log.size() - 2] + QStringLiteral(" / ") + record));
    QVERIFY(Lines(st.file(name, ".log"))
                .join(QLatin1Char('\n'))
                .contains(QLatin1String("Scanning Log File - www.kirel.example")));
}

void TestE2EScan::plateScan_data()
{
    QTest::addColumn<Case>("c");
    Case c;
    c.mode = kIP;
    c.model = kVesk1800;
    // Reader rows: the plate's bottom edge is 3.5 mm under the bottom tile row's; the
    // VESK-1800II's bottom tile row is grid row 8, the VESK-5000's row 7.
    c.cornerL = c.cornerR = {1, 0};
    c.resolution = 50;
    c.area = {25000, 203500, 25000, 25000};
    QTest::newRow("VESK-1800II 50um top row") << c;

    c.cornerL = {2, 5};
    c.cornerR = {3, 6};
    c.resolution = 100;
    c.area = {50000, 53500, 50000, 50000};
    QTest::newRow("VESK-1800II 100um") << c;

    c.cornerL = {0, 1};
    c.cornerR = {0, 3};
    c.resolution = 200;
    c.area = {0, 128500, 25000, 75000};
    QTest::newRow("VESK-1800II 200um averaged") << c;

    c.model = kVesk5000;
    c.cornerL = c.cornerR = {4, 2};
    c.resolution = 25;
    c.area = {100000, 128500, 25000, 25000};
    QTest::newRow("VESK-5000 25um") << c;

    c.cornerL = c.cornerR = {0, 0};
    c.resolution = 50;
    c.area = {0, 178500, 25000, 25000};
    QTest::newRow("VESK-5000 50um top row under the line's end") << c;

    c.cornerL = c.cornerR = {1, 7};
    c.resolution = 100;
    c.area = {25000, 3500, 25000, 25000};
    QTest::newRow("VESK-5000 100um averaged bottom row") << c;
}

void TestE2EScan::plateScan()
{
    QFETCH(Case, c);
    Station st(c.model);
    st.settingsWrite(c);
    st.open();
    const QString name = QStringLiteral("ip%1").arg(c.resolution);
    const QList<ShownBox> boxes = st.scan(name);
    QVERIFY(!st.stuck);
    QCOMPARE(Titles(boxes), QStringList{QStringLiteral("SCAN COMPLETE")});

    const int r = c.resolution;
    const int rowPixels = int(c.area.height / r);
    // The VESK-1800II reads at latitude 5 and 4000 only; the VESK-5000 starts each run at
    // latitude 5 and its highest sensitivity.
    const int sensitivity = c.model == kVesk5000 ? 30000 : 4000;
    QCOMPARE(st.modeSelectData(), Hex(ReaderBlock(c.model, c.area, r, 5, sensitivity)));
    const Picture want = PlateExpected(c.model, c.area, r);
    QString diff = PictureDifference(PictureRead(st.file(name, ".img"), rowPixels), want);
    QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral(".img: ") + diff));
    // The readers deliver no uncorrected copy and no shading table: the .raw keeps its
    // zero fill at the image's size, and there is no .sd.
    QFile raw(st.file(name, ".raw"));
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QCOMPARE(raw.readAll(), QByteArray(want.rows * want.columns * 2, '\0'));
    QVERIFY(!QFile::exists(st.file(name, ".sd")));

    const QStringList inf = Lines(st.file(name, ".inf"));
    const QString n = QString::number(r);
    QCOMPARE(
        inf.mid(0, 10),
        (QStringList{"VESK_IMAGE_FILE", name, QString(), n, n, "16", QString::number(rowPixels),
                     QString::number(c.area.width / r), QString::number(sensitivity), "5"}));

    const QString record = QStringLiteral("%1,%2,5,%3,%4,%5,%6,%7")
                               .arg(st.folder() + QLatin1Char('/') + name)
                               .arg(ReaderPitch(c.model, r))
                               .arg(sensitivity)
                               .arg(c.area.x0 / 1000)
                               .arg(c.area.y0 / 1000)
                               .arg(c.area.width / 1000)
                               .arg(c.area.height / 1000);
    const QStringList log = Lines(ScanLogPath());
    QVERIFY(log.size() >= 2);
    QVERIFY2(log[log.size() - 2].endsWith(QLatin1Char(' ') + record),
             qPrintable(log[log.size() - 2] + QStringLiteral(" / ") + record));
}

void TestE2EScan::faultThroughTheWindows_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<bool>("imageWhole");  // the image is the whole picture after all
    QTest::addColumn<QStringList>("kept"); // the files left behind

    const QStringList complete{"SCAN COMPLETE"};
    const QStringList errors{"SCAN ERROR", "SCAN END"};
    const QStringList all{".img", ".raw", ".inf", ".log"};
    QTest::newRow("KIREL-5000/5100 sense error")
        << kKirel5 << int(ScanFault::SenseError) << errors << false << all;
    QTest::newRow("KIREL-5000/5100 ILLEGAL REQUEST once")
        << kKirel5 << int(ScanFault::IllegalRequestOnce) << complete << true << all;
    QTest::newRow("KIREL-5000/5100 bus held busy")
        << kKirel5 << int(ScanFault::BusHeldBusy) << errors << false << all;
    QTest::newRow("KIREL-5000/5100 DATA IN cut short")
        << kKirel5 << int(ScanFault::DataInCutShort) << complete << true << all;
    QTest::newRow("VESK-1800II DATA IN cut short")
        << kVesk1800 << int(ScanFault::DataInCutShort) << complete << true << all;
    QTest::newRow("VESK-5000 no plate at START")
        << kVesk5000 << int(ScanFault::NoPlate) << QStringList{"SCAN ERROR"} << false
        << QStringList{".raw", ".log"};
}

// The boxes in order, the files kept, and the picture whole where the scan went on.
void TestE2EScan::faultThroughTheWindows()
{
    QFETCH(int, model);
    QFETCH(int, fault);
    QFETCH(QStringList, titles);
    QFETCH(bool, imageWhole);
    QFETCH(QStringList, kept);

    ScanOptions options;
    options.fault = ScanFault(fault);
    options.faultAfterLines = 10;
    Station st(model, options);
    Case c;
    c.model = model;
    c.mode = model == kKirel5 ? kFluorescence : kIP;
    c.cornerL = c.cornerR = model == kKirel5 ? QPoint(2, 12) : QPoint(2, 4);
    c.resolution = model == kKirel5 ? 200 : 100;
    c.laserIndex = 1;
    c.laserByte = 2;
    c.area = model == kKirel5 ? Area{50000, 75000, 25000, 25000}
                              : Area{50000, (model == kVesk5000 ? 78500 : 103500), 25000, 25000};
    st.settingsWrite(c);
    st.open();
    const QList<ShownBox> boxes = st.scan(QStringLiteral("fault"));
    QVERIFY(!st.stuck);
    QCOMPARE(Titles(boxes), titles);
    QVERIFY(st.scanner.scan()->faultStruck());
    for (const char *ext : {".img", ".raw", ".inf", ".log"})
        QCOMPARE(QFile::exists(st.file(QStringLiteral("fault"), ext)),
                 kept.contains(QLatin1String(ext)));
    if (!imageWhole)
        return;
    const int r = c.resolution;
    const Picture want = model == kKirel5 ? FluorescenceExpected(c.area, r, 4, false)
                                          : PlateExpected(model, c.area, r);
    const QString diff =
        PictureDifference(PictureRead(st.file(QStringLiteral("fault"), ".img"), want.columns), want,
                          model == kKirel5 ? kImageTolerance : 0);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

QTEST_MAIN(TestE2EScan)
#include "tst_e2escan.moc"
