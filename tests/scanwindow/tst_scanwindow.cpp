// The scan window: the files it makes, the preview and histogram rules, and the run from start
// to end against a scripted stand-in for the scanner operations. Then Start Scan: the area,
// geometry and parameter block of every model, the file-name checks and the "startup" record.
#include "boxes.h"
#include "fakescanner.h"

#include "datafiles.h"
#include "emulatedi2c.h"
#include "logfiles.h"
#include "mainwindow.h"
#include "phantomexpect.h"
#include "scanstate.h"
#include "scanwindow.h"
#include "stationfixture.h"
#include "stationpaths.h"

#include <QComboBox>
#include <QDir>
#include <QGraphicsPixmapItem>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <optional>

namespace
{

constexpr qint64 kNowMs = 1772528707000LL;
qint64 watchMs = 0; // the no-data watch's clock, moved by the scripted reads

// The shared state of a small scan, ready for the window, per model.
void ScanPrepare(int model, int width, int height, const QString &dir)
{
    ResetSharedState(model);
    image_dir = dir;
    image_name = QStringLiteral("scan1");
    image_comment = QStringLiteral("gel \u00e9 1");
    const char *wavelengths[] = {"685", "473", "532", "635", "635"};
    for (int i = 0; i < 5; ++i)
        laserCh1wavelength[i] = QLatin1String(wavelengths[i]);
    ScanSetup &s = newscansetup;
    s.width = width;
    s.height = height;
    s.pixwidth = height;
    s.bufferlines = 5;
    s.bufferreadsize = width * 10;
    s.resolution = 200;
    s.sensitivity = 10000;
    s.latitude = 4;
    scanparams[7] = 200;
    scanparams[8] = 2;
    scanparams[9] = 2;
    scanTemplate[0].mode = kModeFluorescence;
    scanTemplate[0].HVch1 = 650;
    filterTray[1].labelCh1 = QStringLiteral("O575");
    filterTray[1].filterCh1 = 140;
    scanDur.estimate = 125;
}

QStringList ScanFiles(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("scan1.*")}, QDir::Files | QDir::Dirs);
}

// How a scripted run ends.
enum Ending {
    kComplete,
    kSenseError,
    kWriteFailure,
    kScanningLogLost,
    kNoData,
    kBusHeld,
    kStopButton, // the operator stops it: with the Stop button, Escape or the close button
    kEscape,
    kCloseButton
};
// Why a scan ends before its first read.
enum Refusal {
    kMissingFolder,
    kRawBlocked,
    kNoRoom,
    kNoRoomForRaw,
    kHeaderDiskFull,
    kNoScanPath,
    kNoPlate,
    kLinkAsHeader,
    kDanglingLinkAsImage,
    kFifoAsLog,
    kStartFails
};

// The lines of the model's error log.
QStringList ErrorLogLines()
{
    QFile f(ErrorLogPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// One request, and the area in micrometres the layouts say it covers.
struct RequestCase {
    int model = kModelKIREL5;
    ScanChoice choice;
    expect::Area um;
};

// A request of tiles L to R at 600 V: fluorescence on the KIREL-5000/5100, a plate on the
// readers at latitude 4 and sensitivity 10000 (which only the VESK-5000 takes).
RequestCase Request(int model, int area, QPoint L, QPoint R, int resolution, expect::Area um)
{
    RequestCase c;
    c.model = model;
    c.choice.mode = model == kModelKIREL5 ? kModeFluorescence : kModeIP;
    c.choice.area = area;
    c.choice.cornerL = L;
    c.choice.cornerR = R;
    c.choice.resolution = resolution;
    c.choice.HVch1 = 600;
    c.choice.latitude = 4;
    c.choice.sensitivity = 10000;
    c.um = um;
    return c;
}

// The 30 bytes from the parameter-block layouts (channel-1 laser code 1): the readers' own
// bytes over the first 12 of the fluorescence block, the KIREL-3's tail after.
QByteArray ExpectedParams(const RequestCase &c)
{
    const ScanChoice &h = c.choice;
    QByteArray b = expect::FluorescenceBlock(c.um, h.resolution, h.filterIndex + 1, 1, h.HVch1);
    if (c.model == kModelKIREL5)
        return b;
    const bool vesk5000 = c.model == kModelVESK5000;
    b.replace(0, 12,
              expect::ReaderBlock(c.model, c.um, h.resolution, vesk5000 ? h.latitude : 5,
                                  vesk5000 ? h.sensitivity : 4000));
    if (c.model == kModelKIREL3)
        b.replace(12, 5, QByteArray("\x01\x07\xE4\x02\x07", 5));
    return b;
}

} // namespace

Q_DECLARE_METATYPE(RequestCase)

class TestScanWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempStationRoot> root;
    QString home() const { return root->path(QStringLiteral("/home")); }
    qint64 (*diskFree)(const QString &) = nullptr;

    // A main window of the model with its poll stopped, one laser reported, a tray.
    std::unique_ptr<MainWindow> StartModel(int model)
    {
        ResetSharedState(model);
        auto w = std::make_unique<MainWindow>();
        for (QTimer *t : w->findChildren<QTimer *>())
            t->stop();
        laserCh1[0] = 1;
        Child<QComboBox>(*w, "comboBox_Laser1")->addItem(QStringLiteral("473nm"));
        image_dir = root->path(QStringLiteral("/home"));
        return w;
    }

private slots:
    void initTestCase() { diskFree = ScanDiskFreeBytes; }
    void init()
    {
        root = std::make_unique<TempStationRoot>();
        QVERIFY(root->isValid());
        QVERIFY(QDir().mkpath(home()));
        LogClock = &FixedClock;
        ScanClockMs = [] { return kNowMs; };
        watchMs = 0;
        ScanWatchMs = [] { return watchMs; };
        FakeScannerInstall();
    }
    void cleanup()
    {
        kirelscanfile_img.close();
        kirelscanfile_raw.close();
        root.reset();
        LogClock = &QDateTime::currentDateTime;
        ScanDiskFreeBytes = diskFree;
    }

    void infHeaderByteForByte_data();
    void infHeaderByteForByte();
    void imageFilesFullSizeZeroAndReserved_data();
    void imageFilesFullSizeZeroAndReserved();
    void scanEndsBeforeTheFirstRead_data();
    void scanEndsBeforeTheFirstRead();

    void previewGeometry_data();
    void previewGeometry();
    void pixelShown_data();
    void pixelShown();

    void remainingTime_data();
    void remainingTime();
    void previewDrawnBottomUp();
    void progressTexts_data();
    void progressTexts();
    void endBoxes_data();
    void endBoxes();
    void modelLabels_data();
    void modelLabels();

    void areaGeometryAndParameterBlock_data();
    void areaGeometryAndParameterBlock();
    void resolutionNotOfferedIsRefused();
    void fileNameChecks_data();
    void fileNameChecks();
    void startScanRecordsTemplateAndRunsTheWindow();
};

// ---------------------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------------------

// The .inf and the scanning log's header, byte for byte.
void TestScanWindow::infHeaderByteForByte_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("laserCode");
    QTest::addColumn<QStringList>("tail"); // the lines after the two date lines

    auto fluorescence = [](const QString &wave) {
        return QStringLiteral("|KIREL-5000| CH1 V:650|O575|%1|*** more info ***|6|"
                              "S,MODE=Fluorescence1Laser1Image|S,PMT=CH1|S,V=650|H,FILTER=140|"
                              "S,WAVE_LENGTH1=%1|H,SPOT=YES")
            .arg(wave)
            .split(QLatin1Char('|'));
    };
    QTest::newRow("kirel5 fluorescence 532nm")
        << int(kModelKIREL5) << int(kModeFluorescence) << 2 << fluorescence("532");
    QTest::newRow("kirel5 IP mode 635nm")
        << int(kModelKIREL5) << int(kModeIP) << 4
        << QStringList{"",  "KIREL-5000",         "",          "*** more info ***",
                       "2", "S,WAVE_LENGTH1=635", "H,SPOT=YES"};
    QTest::newRow("vesk1800") << int(kModelVESK1800) << int(kModeIP) << 0 << QStringList();
}

void TestScanWindow::infHeaderByteForByte()
{
    QFETCH(int, model);
    QFETCH(int, mode);
    QFETCH(int, laserCode);
    QFETCH(QStringList, tail);
    ScanPrepare(model, 300, 200, home());
    scanTemplate[0].mode = mode;
    scanparams[9] = BYTE(laserCode);
    sysparams.readlog = 1;

    ScanWindow w;
    QVERIFY(w.fileProblem().isEmpty());
    const bool fluorescence = mode >= kModeFluorescence;
    QStringList lines{fluorescence ? "KIREL_IMAGE_FILE" : "VESK_IMAGE_FILE",
                      "scan1",
                      "gel \u00e9 1",
                      "200",
                      "200",
                      "16"};
    if (model == kModelKIREL5)
        lines += QStringList{"300", "200", fluorescence ? "1" : "5000", "5"};
    else
        lines += QStringList{"200", "300", "10000", "4"};
    lines << "Tue Mar 03 09:05:07 2026" << QString::number(FixedClock().toSecsSinceEpoch());
    lines << tail;
    QCOMPARE(root->readFile(QStringLiteral("/home/scan1.inf")),
             (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLatin1());
    QCOMPARE(root->readFile(QStringLiteral("/home/scan1.log")),
             QByteArray("Scanning Log File - www.kirel.example\n"));
}

void TestScanWindow::imageFilesFullSizeZeroAndReserved_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("raw");
    QTest::newRow("kirel5 with raw") << int(kModelKIREL5) << 1;
    // The readers have no uncorrected copy: "Save Raw Data" makes no .raw there.
    QTest::newRow("vesk5000 with raw asked for") << int(kModelVESK5000) << 1;
}

void TestScanWindow::imageFilesFullSizeZeroAndReserved()
{
    QFETCH(int, model);
    QFETCH(int, raw);
    // Fluorescence rows are `width` pixels and there are `height` of them; reader rows are
    // `pixwidth` pixels and there are `width` of them.
    ScanPrepare(model, 1000, 800, home());
    sysparams.rawdatasave = raw;
    const qint64 bytes = 1000 * 800 * 2;
    // Run as root in the operator's folder, the station makes the operator's files.
    const bool asRoot = geteuid() == 0;
    if (asRoot)
        QCOMPARE(::chown(QFile::encodeName(home()).constData(), 4242, 4343), 0);

    ScanWindow w;
    QVERIFY(w.fileProblem().isEmpty());
    QCOMPARE(ScanFileSize, qint32(bytes - (model == kModelKIREL5 ? 1000 : 800) * 2));
    QVERIFY(kirelscanfile_img.isOpen());
    QStringList made{QStringLiteral("scan1.img"), QStringLiteral("scan1.inf")};
    raw = raw && model == kModelKIREL5;
    if (raw)
        made << QStringLiteral("scan1.raw");
    made.sort();
    QCOMPARE(ScanFiles(home()), made);

    for (const char *ext : {"img", "raw"}) {
        if (!raw && QLatin1String(ext) == QLatin1String("raw"))
            continue;
        const QString path = home() + QStringLiteral("/scan1.") + QLatin1String(ext);
        struct stat st {
        };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(qint64(st.st_size), bytes);
        if (asRoot)
            QCOMPARE(int(st.st_uid), 4242);
        QVERIFY2(qint64(st.st_blocks) * 512 >= bytes, "the image space is not reserved");
        const QByteArray content = root->readFile(QStringLiteral("/home/scan1.") + ext);
        QCOMPARE(content.count('\0'), int(bytes));
    }
}

void TestScanWindow::scanEndsBeforeTheFirstRead_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("refusal");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QStringList>("left"); // the scan's files left behind
    const int kirel5 = kModelKIREL5;
    QTest::newRow("missing folder") << kirel5 << int(kMissingFolder)
                                    << "The destination folder does not exist" << QStringList();
    // A folder of that name stands where the raw file would go.
    QTest::newRow("raw file cannot be created")
        << kirel5 << int(kRawBlocked) << "The image file cannot be created"
        << QStringList{"scan1.raw"};
    QTest::newRow("no room for the image")
        << kirel5 << int(kNoRoom) << "Not enough disk space for the image" << QStringList();
    QTest::newRow("no room for the raw copy only")
        << kirel5 << int(kNoRoomForRaw) << "Not enough disk space for the raw copy (.raw)"
        << QStringList();
    QTest::newRow("disk full at the header")
        << kirel5 << int(kHeaderDiskFull) << "The header file cannot be written" << QStringList();
    // Put there after the name check: nothing is written through them, and they stay.
    QTest::newRow("link in place of the header")
        << kirel5 << int(kLinkAsHeader) << "scan1.inf is a symbolic link"
        << QStringList{"scan1.inf"};
    QTest::newRow("dangling link in place of the image")
        << kirel5 << int(kDanglingLinkAsImage) << "scan1.img is a symbolic link" << QStringList();
    QTest::newRow("FIFO in place of the scanning log")
        << kirel5 << int(kFifoAsLog) << "scan1.log is a FIFO" << QStringList();
    // The files are made, then removed: the KIREL-3 has no scan path.
    QTest::newRow("kirel3 has no scan path")
        << int(kModelKIREL3) << int(kNoScanPath) << "not available on this model" << QStringList();
    // The start reports no plate: the box says so in full, the log stays. The readers keep
    // no raw copy, whatever the system parameters say.
    QTest::newRow("reader without a plate")
        << int(kModelVESK1800) << int(kNoPlate)
        << "Scan Error:<ul><li>No Imaging Plate in the loading area</li><li></li>"
           "<li>Please Load an Imaging Plate</li></ul>"
        << QStringList{"scan1.log"};
    // A start that fails at a step: the box names its code, nothing is left, the scanner
    // gets a bus reset.
    QTest::newRow("kirel5 start fails")
        << kirel5 << int(kStartFails) << "Start result: -35" << QStringList();
    QTest::newRow("vesk5000 start fails")
        << int(kModelVESK5000) << int(kStartFails) << "Start result: -52" << QStringList();
}

void TestScanWindow::scanEndsBeforeTheFirstRead()
{
    QFETCH(int, model);
    QFETCH(int, refusal);
    QFETCH(QString, says);
    QFETCH(QStringList, left);
    ScanPrepare(model, 100, 100, home());
    sysparams.rawdatasave = 1;
    sysparams.readlog = 1;
    if (refusal == kMissingFolder)
        image_dir = home() + QStringLiteral("/missing");
    if (refusal == kRawBlocked)
        QVERIFY(QDir(home()).mkdir(QStringLiteral("scan1.raw")));
    if (refusal == kNoRoom)
        ScanDiskFreeBytes = [](const QString &) -> qint64 { return 1000; };
    // Room for an 8 MB image and its small files, not for its raw copy.
    if (refusal == kNoRoomForRaw) {
        newscansetup.width = newscansetup.height = 2000;
        ScanDiskFreeBytes = [](const QString &) -> qint64 { return 2 * 2000 * 2000 * 2 - 1; };
    }
    std::optional<DiskFull> full;
    if (refusal == kHeaderDiskFull)
        full.emplace();
    const struct {
        Refusal refusal;
        Obstacle obstacle;
        const char *file;
    } obstacles[] = {{kLinkAsHeader, Obstacle::Link, "/scan1.inf"},
                     {kDanglingLinkAsImage, Obstacle::DanglingLink, "/scan1.img"},
                     {kFifoAsLog, Obstacle::Fifo, "/scan1.log"}};
    QTemporaryDir outside;
    for (const auto &o : obstacles)
        if (o.refusal == refusal)
            QVERIFY(ObstaclePlace(o.obstacle, home() + QLatin1String(o.file), outside.path()));
    if (refusal == kNoPlate)
        Fake().onStart = [] {
            newscansetup.scanrunningerror = 1;
            newscansetup.sensecode = 0x21;
        };
    if (refusal == kStartFails)
        Fake().startResult = model == kModelKIREL5 ? -35 : -52;

    BoxAnswerer boxes;
    ScanWindow w;
    if (refusal == kNoScanPath)
        QCOMPARE(ScanFiles(home()).size(), 3); // no raw copy but on the KIREL-5000/5100
    w.exec();
    QCOMPARE(boxes.titles(), QStringList{QStringLiteral("SCAN ERROR")});
    if (refusal == kNoPlate)
        QCOMPARE(boxes.boxes[0].text, says);
    QVERIFY2(boxes.boxes[0].text.contains(says), qPrintable(boxes.boxes[0].text));
    const bool started = refusal == kNoPlate || refusal == kStartFails;
    QCOMPARE(Fake().starts, started ? 1 : 0);
    QCOMPARE(Fake().busResets, refusal == kStartFails ? 1 : 0);
    QCOMPARE(Fake().reads, 0);
    QCOMPARE(ScanFiles(home()), left);
    for (const auto &o : obstacles)
        if (o.refusal == refusal)
            QVERIFY(ObstacleUntouched(o.obstacle, home() + QLatin1String(o.file), outside.path()));
}

// ---------------------------------------------------------------------------------------
// Preview and histogram rules
// ---------------------------------------------------------------------------------------

void TestScanWindow::previewGeometry_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("previewWidth");
    QTest::addColumn<int>("previewHeight");
    QTest::addColumn<float>("scale");
    QTest::newRow("575x500 shown 1:1") << int(kModelKIREL5) << 575 << 500 << 575 << 500 << 1.0f;
    QTest::newRow("576x500 scaled by width")
        << int(kModelKIREL5) << 576 << 500 << 575 << 499 << 575.0f / 576.0f;
    QTest::newRow("tall 1000x4000 scaled by height")
        << int(kModelKIREL5) << 1000 << 4000 << 125 << 500 << 0.125f;
    // On the readers `width` counts lines, which run down the preview.
    QTest::newRow("reader 501 lines scaled")
        << int(kModelVESK1800) << 501 << 400 << 399 << 500 << 500.0f / 501.0f;
}

void TestScanWindow::previewGeometry()
{
    QFETCH(int, model);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, previewWidth);
    QFETCH(int, previewHeight);
    QFETCH(float, scale);
    ScanPrepare(model, width, height, home());
    newscansetup.bufferlines = 10;
    ScanWindow w;
    QCOMPARE(newscansetup.previewwidth, previewWidth);
    QCOMPARE(newscansetup.previewheight, previewHeight);
    QCOMPARE(newscansetup.previewscale, scale);
    QCOMPARE(newscansetup.previewincrement, 10 * scale);
}

// A pixel's preview byte (its high byte, rounded up) and its histogram bin: value x 160 /
// 65535, the top value alone in the undrawn bin 160.
void TestScanWindow::pixelShown_data()
{
    QTest::addColumn<int>("pixel");
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("bin"); // -1: a zero pixel is not counted
    QTest::newRow("0x00FF rounds up to 1") << 0x00FF << 1 << 0;
    QTest::newRow("0xFF01 stays 255") << 0xFF01 << 255 << 159;
    QTest::newRow("zero") << 0 << 0 << -1;
    QTest::newRow("409 in bin 0") << 409 << 2 << 0;
    QTest::newRow("410 in bin 1") << 410 << 2 << 1;
    QTest::newRow("65535 in bin 160") << 65535 << 255 << 160;
}

void TestScanWindow::pixelShown()
{
    QFETCH(int, pixel);
    QFETCH(int, shown);
    QFETCH(int, bin);
    QCOMPARE(int(PreviewByte(BYTE(pixel >> 8), BYTE(pixel))), shown);
    std::memset(histval, 0, sizeof histval);
    const BYTE line[] = {BYTE(pixel >> 8), BYTE(pixel), 0, 0};
    HistogramLinesCount(line, 1, 2, 4);
    float total = 0;
    for (float v : histval)
        total += v;
    QCOMPARE(total, bin < 0 ? 0.0f : 1.0f); // the zero pixel beside it is not counted
    if (bin >= 0)
        QCOMPARE(histval[bin], 1.0f);
}

// ---------------------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------------------

// The remaining time as the window shows it.
void TestScanWindow::remainingTime_data()
{
    QTest::addColumn<int>("elapsed");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("total");
    QTest::addColumn<QString>("text");
    QTest::newRow("no line yet") << 12 << 0 << 400 << "0sec";
    QTest::newRow("2.6 rounded up") << 13 << 5 << 6 << "3sec";
    QTest::newRow("60") << 60 << 1 << 2 << "1min 0sec";
    QTest::newRow("3600") << 3600 << 1 << 2 << "1hrs 0min 0sec";
}

void TestScanWindow::remainingTime()
{
    QFETCH(int, elapsed);
    QFETCH(int, lines);
    QFETCH(int, total);
    QFETCH(QString, text);
    QCOMPARE(ScanTimeText(ScanRemainSecs(elapsed, lines, total)), text);
}

// The preview appears from the second refresh on, the first row at the bottom, in the colours
// of the display style; a change of style redraws it.
void TestScanWindow::previewDrawnBottomUp()
{
    ScanPrepare(kModelKIREL5, 3, 4, home());
    ScanWindow w;
    scanimage[0] = 0;   // first preview row of the scan
    scanimage[3] = 255; // second row
    QCOMPARE(w.PreviewRefresh(), 0);
    QVERIFY(!scanpreviewItem);
    newscansetup.previewposition = 2;
    QCOMPARE(w.PreviewRefresh(), 1);
    QVERIFY(scanpreviewItem);
    const QImage picture = scanpreviewItem->pixmap().toImage();
    QCOMPARE(picture.size(), QSize(3, 2));
    QCOMPARE(QColor(picture.pixel(0, 1)), QColor(255, 255, 255)); // the first row at the bottom
    QCOMPARE(QColor(picture.pixel(0, 0)), QColor(255, 0, 0));
    QCOMPARE(scanpreviewItem->pos(), QPointF(0, 2));
    w.on_comboBox_DisplayBkg_currentIndexChanged(1);
    QCOMPARE(displaybkg, 0);
    QCOMPARE(QColor(scanpreviewItem->pixmap().toImage().pixel(0, 0)), QColor(255, 255, 255));
}

// The fluorescence scanners count image rows against the height, the readers against the
// width; texts over an hour still fit their labels.
void TestScanWindow::progressTexts_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("KIREL-5000/5100 counts the height") << int(kModelKIREL5) << 10 << 400;
    QTest::newRow("VESK-1800II counts the width") << int(kModelVESK1800) << 400 << 10;
}

void TestScanWindow::progressTexts()
{
    QFETCH(int, model);
    QFETCH(int, width);
    QFETCH(int, height);
    ScanPrepare(model, width, height, home());
    static QStringList seen;
    static ScanWindow *window = nullptr;
    seen.clear();
    Fake().onRead = [](int call) {
        ScanSetup &s = newscansetup;
        if (call > 1) {
            QString texts;
            for (const char *name : {"label_elapsedtime", "label_remaintime"}) {
                const QLabel *label = Child<QLabel>(*window, name);
                if (QFontMetrics(label->font()).horizontalAdvance(label->text()) > label->width())
                    texts += QStringLiteral("(cut)");
                texts += label->text() + QLatin1Char('/');
            }
            seen << texts;
        }
        s.newpreviewflag = 1;
        if (call == 1) {
            s.scanstatus = 20; // data reported, but no first-data time yet
        } else if (call == 2) {
            scanstart_epochsecs = kNowMs / 1000 - 30;
            s.scanstatus = 100; // a quarter of 400 rows in 30 s
        } else if (call == 3) {
            scanstart_epochsecs = kNowMs / 1000 - 3725;
        } else {
            s.scanrunningflag = 0;
        }
    };
    BoxAnswerer boxes;
    ScanWindow w;
    window = &w;
    w.exec();
    QCOMPARE(seen, (QStringList{QStringLiteral("0sec/0sec/"), QStringLiteral("30sec/1min 30sec/"),
                                QStringLiteral("1hrs 2min 5sec/3hrs 6min 15sec/")}));
}

// Every way a running scan ends: the boxes in order, the image kept and on record when it
// is not whole, the scanning log's last line, the bus left clean and the 685 nm diode off.
void TestScanWindow::endBoxes_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("ending");
    QTest::addColumn<int>("answer"); // to the question to stop
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QString>("firstText");
    QTest::addColumn<int>("reads");
    const int yes = QMessageBox::Yes, no = QMessageBox::No;
    const QStringList complete{QStringLiteral("SCAN COMPLETE")};
    const QStringList error{QStringLiteral("SCAN ERROR"), QStringLiteral("SCAN END")};
    const QString done = QStringLiteral("SCAN SUCCESSFULLY COMPLETED");
    const QString sense =
        QStringLiteral("Scan Error:<ul><li>Sense Key:   03h</li><li>Sense Code: 3A00h</li></ul>");
    const QString write = QStringLiteral("The image could not be written to disk");
    const QString noData = QStringLiteral("The scanner stopped sending image data");
    QTest::newRow("kirel5 complete")
        << int(kModelKIREL5) << int(kComplete) << yes << complete << done << 1;
    QTest::newRow("vesk5000 complete")
        << int(kModelVESK5000) << int(kComplete) << yes << complete << done << 1;
    QTest::newRow("kirel5 readout error")
        << int(kModelKIREL5) << int(kSenseError) << yes << error << sense << 1;
    QTest::newRow("kirel5 write failure")
        << int(kModelKIREL5) << int(kWriteFailure) << yes << error << write << 1;
    // Each read moves the watch on by a quarter of the limit; the first brings 5 lines, the
    // fourth read after it reaches the limit. The lines that came are kept.
    QTest::newRow("kirel5 no data")
        << int(kModelKIREL5) << int(kNoData) << yes << error << noData << 5;
    // A bus held with no sense (-37) ends after three reads, before the time limit.
    QTest::newRow("kirel5 bus held three reads")
        << int(kModelKIREL5) << int(kBusHeld) << yes << error << noData << 3;
    // A scanning log that stops on a full disk costs the log, not the image.
    QTest::newRow("kirel5 scanning log lost")
        << int(kModelKIREL5) << int(kScanningLogLost) << yes
        << QStringList{QStringLiteral("SCAN COMPLETE"), QStringLiteral("FILE ERROR")} << done << 1;
    // The operator stops at the first read; answered no, the scan runs on to its end.
    // Escape and the close button ask the same question and end the same way. The readers
    // say nothing more.
    const QString ask = QStringLiteral("Do You Want To Stop The Scan?");
    const QStringList stopped{QStringLiteral("Stop Scan"), QStringLiteral("SCAN STOPPED")};
    const QStringList goesOn{QStringLiteral("Stop Scan"), QStringLiteral("SCAN COMPLETE")};
    QTest::newRow("kirel5 stopped")
        << int(kModelKIREL5) << int(kStopButton) << yes << stopped << ask << 1;
    QTest::newRow("vesk1800 stopped without a box")
        << int(kModelVESK1800) << int(kStopButton) << yes << QStringList{"Stop Scan"} << ask << 1;
    QTest::newRow("kirel5 answered no scans on")
        << int(kModelKIREL5) << int(kStopButton) << no << goesOn << ask << 2;
    QTest::newRow("kirel5 escape")
        << int(kModelKIREL5) << int(kEscape) << yes << stopped << ask << 1;
    QTest::newRow("vesk5000 close button")
        << int(kModelVESK5000) << int(kCloseButton) << yes << QStringList{"Stop Scan"} << ask << 1;
    QTest::newRow("kirel5 close button answered no")
        << int(kModelKIREL5) << int(kCloseButton) << no << goesOn << ask << 2;
}

void TestScanWindow::endBoxes()
{
    QFETCH(int, model);
    QFETCH(int, ending);
    QFETCH(int, answer);
    QFETCH(QStringList, titles);
    QFETCH(QString, firstText);
    QFETCH(int, reads);
    ScanPrepare(model, 10, 10, home());
    sysparams.readlog = 1;
    LD685status = 1;
    static int scriptedEnding;
    static ScanWindow *window = nullptr;
    scriptedEnding = ending;
    if (ending == kBusHeld)
        Fake().readResult = -37;
    Fake().onRead = [](int call) {
        ScanSetup &s = newscansetup;
        // The scanner still reports whole pieces waiting when the scan has ended.
        s.buffersize = 10 * s.bufferreadsize;
        if (scriptedEnding >= kStopButton && call == 1) {
            if (scriptedEnding == kStopButton)
                Child<QPushButton>(*window, "pushButton_stop")->click();
            else if (scriptedEnding == kEscape)
                QTest::keyClick(window, Qt::Key_Escape);
            else
                window->close();
        } else if (scriptedEnding == kNoData || scriptedEnding == kBusHeld) {
            s.buffersize = 0;
            if (call == 1)
                s.scanstatus = 5;
            watchMs += kScanNoDataLimitMs / 4;
        } else if (scriptedEnding == kSenseError) {
            s.scansensekey = QStringLiteral("03h");
            s.scansensecode = QStringLiteral("3A00h");
            s.scanrunningerror = 1;
            s.scanrunningflag = -1;
        } else if (scriptedEnding == kWriteFailure) {
            // The last piece arrived but could not be written.
            scanwriteerror = 1;
            s.scanrunningflag = 0;
        } else {
            s.scanstatus = 10;
            if (scriptedEnding == kComplete) {
                // Every line in one piece: the refresh of this pass books its rows and shows
                // those of the refresh before, none.
                s.previewbuffer = 10;
                s.newpreviewflag = 1;
            }
            s.scanrunningflag = 0;
            if (scriptedEnding == kScanningLogLost) {
                DiskFull full;
                ScanningLogWrite(QStringLiteral("-37: STAT=0"));
            }
        }
    };
    BoxAnswerer boxes{QMessageBox::StandardButton(answer)};
    ScanWindow w;
    window = &w;
    w.exec();
    QCOMPARE(boxes.titles(), titles);
    QVERIFY2(boxes.boxes[0].text.contains(firstText), qPrintable(boxes.boxes[0].text));
    if (ending == kScanningLogLost)
        QVERIFY2(boxes.boxes[1].text.contains(QStringLiteral("The scanning log is incomplete: ") +
                                              home() + QStringLiteral("/scan1.log: ")),
                 qPrintable(boxes.boxes[1].text));
    const bool complete = ending == kComplete || ending == kScanningLogLost ||
                          (ending >= kStopButton && answer == QMessageBox::No);
    QCOMPARE(Fake().connectionTests, model == kModelKIREL5 ? 1 : 0);
    // A reader left mid-scan gets a bus reset; the connection test begins with one.
    QCOMPARE(Fake().busResets, model != kModelKIREL5 && !complete ? 1 : 0);
    // The fluorescence scanner's 685 nm diode is switched off at the end.
    QCOMPARE(LD685status, model == kModelKIREL5 ? 0 : 1);
    // The image written so far stays on disk, closed; one that is not whole is on record.
    QVERIFY(!kirelscanfile_img.isOpen());
    const QString image = home() + QStringLiteral("/scan1.img");
    QVERIFY(QFile::exists(image));
    const int lines = ending == kNoData || ending == kBusHeld ? 5 : 0;
    const QString kept = QStringLiteral("%1 of 10 lines").arg(complete ? 10 : lines);
    QCOMPARE(ErrorLogLines().filter(QStringLiteral("IMAGE INCOMPLETE")).size(), complete ? 0 : 1);
    if (!complete)
        QVERIFY(ErrorLogLines().last().endsWith(image + QStringLiteral(", ") + kept));
    const QStringList scanningLog =
        QString::fromLatin1(root->readFile(QStringLiteral("/home/scan1.log"))).split('\n');
    QVERIFY(scanningLog.value(scanningLog.size() - 2).contains(QStringLiteral("END: ")));
    QVERIFY(scanningLog.value(scanningLog.size() - 2).endsWith(kept));
    // The pass must not read again once the end handling has closed the window.
    QTest::qWait(600);
    QCOMPARE(Fake().reads, reads);
}

// What the window shows of the scan: channel 1's laser on the KIREL-5000/5100 (the 670 nm
// laser has no text of its own), the laser-diode board's readings from the start once the
// status poll has found the board, and what each model hides.
void TestScanWindow::modelLabels_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("laserCode"); // channel 1's, as the scan request sent it
    QTest::addColumn<bool>("diodeBoard");
    QTest::addColumn<QString>("laserText");
    QTest::addColumn<QStringList>("hidden");
    const QStringList always{"label_QLaverage", "label_QLmax", "label_displaystyle",
                             "comboBox_DisplayColour", "comboBox_DisplayBkg"};
    const QStringList diode{"label_LDmonitor", "label_LDtemperature"};
    const QStringList laser{"label_lasertext", "label_lasericon", "label_filtertext",
                            "label_filtericon"};
    const QStringList channel{"label_channel"};
    QTest::newRow("kirel5 635nm without the diode board")
        << int(kModelKIREL5) << 4 << false << "Laser:  635nm" << always + diode;
    QTest::newRow("kirel5 670nm with the diode board")
        << int(kModelKIREL5) << 8 << true << "Laser" << always;
    QTest::newRow("vesk1800") << int(kModelVESK1800) << 0 << true << QString()
                              << always + diode + channel + laser;
    QTest::newRow("kirel3 keeps laser and filter")
        << int(kModelKIREL3) << 0 << true << "Laser" << always + diode + channel;
}

void TestScanWindow::modelLabels()
{
    QFETCH(int, model);
    QFETCH(int, laserCode);
    QFETCH(bool, diodeBoard);
    QFETCH(QString, laserText);
    QFETCH(QStringList, hidden);
    EmulatedI2cBus boards;
    boards.converter.setBoardTemperature(25.0f);
    boards.converter.setMonitorVoltage(0.25f);
    I2cInstallBus(&boards);
    ScanPrepare(model, 10, 10, home());
    scanparams[9] = BYTE(laserCode);
    LDconfig[0] = diodeBoard ? 1 : 0;
    ScanWindow w;
    I2cInstallBus(nullptr);
    for (const char *name :
         {"label_QLaverage", "label_QLmax", "label_displaystyle", "comboBox_DisplayColour",
          "comboBox_DisplayBkg", "label_LDmonitor", "label_LDtemperature", "label_lasertext",
          "label_lasericon", "label_filtertext", "label_filtericon", "label_channel"})
        QVERIFY2(Child<QWidget>(w, name)->isVisibleTo(&w) != hidden.contains(QLatin1String(name)),
                 name);
    if (!laserText.isEmpty())
        QCOMPARE(Child<QLabel>(w, "label_lasertext")->text(), laserText);
    if (model == kModelKIREL5 && diodeBoard) {
        QCOMPARE(Child<QLabel>(w, "label_LDtemperature")->text(),
                 QStringLiteral("LD685 Temperature: 25.0 C"));
        QCOMPARE(Child<QLabel>(w, "label_LDmonitor")->text(),
                 QStringLiteral("LD Monitor: 0.250 V"));
    }
}

// ---------------------------------------------------------------------------------------
// Start Scan
// ---------------------------------------------------------------------------------------

void TestScanWindow::areaGeometryAndParameterBlock_data()
{
    QTest::addColumn<RequestCase>("c");
    const QPoint origin(0, 0), bottomLeft(0, 15);
    QTest::newRow("kirel5 one tile bottom-left 200um")
        << Request(kModelKIREL5, kAreaGrid, bottomLeft, bottomLeft, 200, {0, 0, 25000, 25000});
    // The preset's corner lies one row under the grid. (Column 17, 35 mm wide, the reads of
    // two 25 um lines and the VESK-5000's averaged bottom row: compared in the whole scans.)
    RequestCase c = Request(kModelKIREL5, kArea3543, origin, {17, 16}, 200, {0, 0, 435000, 359000});
    c.choice.mode = kModeIP;
    QTest::newRow("kirel5 35x43 corner below the grid keeps lower edge 0") << c;
    // model, preset, tiles, resolution, area
    QTest::newRow("vesk1800 20x25 plate 200um averaged")
        << Request(kModelVESK1800, kArea2025, origin, {9, 8}, 200, {0, 27000, 256000, 205000});
    QTest::newRow("vesk1800 23x25 plate 50um fills the line")
        << Request(kModelVESK1800, kArea2325, origin, {9, 8}, 50, {0, 0, 256000, 232000});
    // 204.8 mm: the rows hold 4096 pixels, not 204 mm worth
    QTest::newRow("vesk5000 20x25 plate is 204.8mm")
        << Request(kModelVESK5000, kArea2025, origin, {9, 7}, 50, {0, 0, 256000, 204800});
    // The bottom tile row sits on the plate's bottom edge.
    QTest::newRow("vesk5000 grid 25um stays inside the line")
        << Request(kModelVESK5000, kAreaGrid, origin, {9, 7}, 25, {0, 3500, 250000, 200000});
    QTest::newRow("kirel3 20x25 plate 50um")
        << Request(kModelKIREL3, kArea2025, origin, {9, 8}, 50, {0, 27000, 256000, 205000});
}

void TestScanWindow::areaGeometryAndParameterBlock()
{
    QFETCH(RequestCase, c);
    ResetSharedState(c.model);
    laserCh1[0] = 1;

    const ScanChoice &choice = c.choice;
    const ScanAreaUm area = ScanAreaCompute(choice);
    QCOMPARE(area.x0, c.um.x0);
    QCOMPARE(area.y0, c.um.y0);
    QCOMPARE(area.width, c.um.width);
    QCOMPARE(area.height, c.um.height);

    QVERIFY(ScanRequestFill(choice, area));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(scanparams), 30), ExpectedParams(c));
    const ScanSetup &s = newscansetup;
    const int r = choice.resolution;
    QCOMPARE(s.width, qint32(c.um.width / r));
    QCOMPARE(s.height, qint32(c.um.height / r));
    QCOMPARE(s.xstart, qint32(c.um.x0 / r));
    QCOMPARE(s.ystart, qint32(c.um.y0 / r));
    QCOMPARE(laserCh1index, 0);
    if (c.model == kModelKIREL5) {
        QCOMPARE(s.shadingincr, 10000 / r); // a node every 10 mm
        return;
    }
    // Readers: one image row is one reader line cut to the area, `height` pixels long.
    QCOMPARE(s.pixwidth, s.height);
    QCOMPARE(s.VESKystart, qint32(c.um.y0 / 100));
    // The cut spans pixwidth reader pixels, or twice as many where two are averaged.
    const int cutBytes = s.pixwidth * 2 * (r / expect::ReaderPitch(c.model, r));
    QVERIFY2(s.bufptroffset + cutBytes <= s.bytelinewidth, "the cut reads past the line");
    QCOMPARE(s.latitude, c.model == kModelVESK5000 ? choice.latitude : 5);
    QCOMPARE(s.sensitivity, c.model == kModelVESK5000 ? choice.sensitivity : 4000);
}

void TestScanWindow::resolutionNotOfferedIsRefused()
{
    ResetSharedState(kModelVESK1800);
    scanparams[3] = 0x55;
    ScanChoice choice;
    choice.resolution = 25;
    choice.cornerL = choice.cornerR = QPointF(0, 8);
    QVERIFY(!ScanRequestFill(choice, ScanAreaCompute(choice)));
    QCOMPARE(scanparams[3], BYTE(0x55));
}

// Start Scan refuses what the files cannot hold: the name, the comment and the destination
// folder are stored one byte per character, and a name in use is not written over.
void TestScanWindow::fileNameChecks_data()
{
    QTest::addColumn<QString>("name");    // as typed
    QTest::addColumn<QString>("comment"); // as typed
    QTest::addColumn<QString>("folder");  // under the test's home, as the folder dialog gave it
    QTest::addColumn<QString>("stored");  // the name kept in image_name
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("model");
    const QString note = QStringLiteral("note");
    auto refused = [&note](const char *tag, const QString &name, const QString &stored,
                           const QString &text, const QString &comment = QString(),
                           const QString &folder = QString()) {
        QTest::newRow(tag) << name << (comment.isNull() ? note : comment) << folder << stored
                           << "Input Error" << text << int(kModelKIREL5);
    };
    const QString blank = QStringLiteral("File Name Cannot Be Blank!");
    const QString separator =
        QStringLiteral("File Name Cannot Contain \"/\", \",\" Or Control Characters!");
    const QString latin1 = QStringLiteral(": Only Latin-1 Characters Can Be Stored!");
    refused("blank", QString(), QString(), blank);
    refused("only spaces and .img", "  .img ", QString(), blank);
    refused("folder separator", "../escape", "../escape", separator);
    // A comma would split the scan log's record.
    refused("comma", "gel,2", "gel,2", separator);
    // A direction mark would show the operator another name than is stored; Latin-1 cannot
    // hold it either.
    refused("right-to-left override", "gel\u202Egmi", "gel\u202Egmi", separator);
    refused("not Latin-1", "\u017B\u00F3\u0142w", "\u017B\u00F3\u0142w",
            "File Name Cannot Contain U+017B" + latin1);
    // A pasted line feed would move the .inf lines after the comment.
    refused("line feed in the comment", "gel", "gel",
            "Comment Cannot Contain Line Breaks Or Control Characters!", "a\nb");
    // A comma would split the scan log's record, a line feed the .inf's folder line.
    const QString folderSeparator =
        QStringLiteral("Destination Folder Cannot Contain \",\" Or Control Characters!");
    refused("comma in the folder", "gel", "gel", folderSeparator, note, "gels,2026");
    refused("folder not Latin-1", "gel", "gel", "Destination Folder Cannot Contain U+4E2D" + latin1,
            note, "\u4E2D");
    const QString taken = QStringLiteral("File Name Already Exists!");
    // The name is stored without the spaces around it and without a typed ".img".
    QTest::newRow("name in use, typed with .img and spaces")
        << " taken.IMG " << note << QString() << "taken"
        << "File Name Error" << taken << int(kModelKIREL5);
    for (const char *ext : {"inf", "raw", "sd", "log"})
        QTest::addRow("only the .%s of the name exists", ext)
            << QStringLiteral("other-%1").arg(QLatin1String(ext)) << note << QString()
            << QStringLiteral("other-%1").arg(QLatin1String(ext)) << "File Name Error" << taken
            << int(kModelKIREL5);
    QTest::newRow("a dangling link has the name")
        << "dangling" << note << QString() << "dangling"
        << "File Name Error" << taken << int(kModelKIREL5);
    // The KIREL-3000 cannot scan: refused before a scan window opens.
    QTest::newRow("kirel3 has no scan path")
        << "gel" << note << QString() << "gel"
        << "SCAN ERROR"
        << "Scan Error:<ul><li>Scanning is not available on this model</li></ul>"
        << int(kModelKIREL3);
}

void TestScanWindow::fileNameChecks()
{
    QFETCH(QString, name);
    QFETCH(QString, comment);
    QFETCH(QString, folder);
    QFETCH(QString, stored);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(int, model);
    auto w = StartModel(model);
    QVERIFY(root->writeFile(QStringLiteral("/home/taken.img"), QByteArray("x")));
    for (const char *ext : {"inf", "raw", "sd", "log"})
        QVERIFY(root->writeFile(QStringLiteral("/home/other-%1.%1").arg(QLatin1String(ext)),
                                QByteArray("x")));
    QVERIFY(QFile::link(root->path(QStringLiteral("/nowhere")),
                        root->path(QStringLiteral("/home/dangling.log"))));
    if (!folder.isEmpty()) {
        image_dir = root->path(QStringLiteral("/home/") + folder);
        QVERIFY(QDir().mkpath(image_dir));
    }
    const QStringList before = QDir(root->path(QStringLiteral("/home"))).entryList(QDir::Files);
    Child<QLineEdit>(*w, "lineEdit_filename")->setText(name);
    Child<QLineEdit>(*w, "lineEdit_comment")->setText(comment);

    BoxAnswerer boxes;
    w->on_pushButton_Scan_clicked();
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].title, title);
    QCOMPARE(boxes.boxes[0].text, text);
    // Nothing but the name, the comment and the press count is left behind.
    QCOMPARE(scanpassnumber, 0);
    QCOMPARE(image_name, stored);
    QCOMPARE(image_comment, comment);
    QCOMPARE(Fake().starts, 0);
    QVERIFY(!QFile::exists(TemplatesFilePath()));
    QCOMPARE(QDir(root->path(QStringLiteral("/home"))).entryList(QDir::Files), before);
    QVERIFY(folder.isEmpty() || QDir(image_dir).isEmpty());
}

// Start Scan keeps the settings of the scan as template record 0 and runs the window.
void TestScanWindow::startScanRecordsTemplateAndRunsTheWindow()
{
    auto w = StartModel(kModelKIREL5);
    filterTray[1].filterCh1 = 140;
    filterTray[1].filterlabel = QStringLiteral("O575");
    filterTray[1].filterType = 3;
    Child<QRadioButton>(*w, "radioButton_FluorescenceMode")->setChecked(true);
    Child<QRadioButton>(*w, "radioButtonGrid")->setChecked(true);
    Child<QRadioButton>(*w, "radioButton_Res200")->setChecked(true);
    Child<QComboBox>(*w, "comboBox_FilterCh1")->setCurrentIndex(1);
    Child<QComboBox>(*w, "comboBox_Laser1")->setCurrentIndex(0);
    Child<QSpinBox>(*w, "spinBox_HVch1")->setValue(600);
    Child<QLineEdit>(*w, "lineEdit_filename")->setText(QStringLiteral("gel1"));
    scancornerL = scancornerR = scancornerC = QPointF(1, 15);

    BoxAnswerer boxes;
    w->on_pushButton_Scan_clicked();

    QCOMPARE(Fake().starts, 1); // the window ran the scan

    // The settings of this scan are template record 0, on disk too.
    const ScanTempl &t = scanTemplate[0];
    QCOMPARE(t.name, QStringLiteral("startup"));
    QCOMPARE(t.mode, int(kModeFluorescence));
    QCOMPARE(t.resolution, 200);
    QCOMPARE(t.filterCh1, 1);
    QCOMPARE(t.filterLabel, QStringLiteral("O575"));
    QCOMPARE(t.HVch1, 600);
    QCOMPARE(t.folder, image_dir);
    QVERIFY(QFile(TemplatesFilePath()).size() > 0);

    // The VESK-5000 scans at the latitude and sensitivity the operator clicked, in that order.
    const struct {
        const char *latitudeButton;
        int latitude;
        int sensitivity;
    } clicks[] = {{"radioButton", 4, 1000}, {"radioButton", 4, 10000}, {"radioButton5", 5, 30000}};
    for (const auto &c : clicks) {
        w.reset();
        w = StartModel(kModelVESK5000);
        Child<QRadioButton>(*w, c.latitudeButton)->click();
        Child<QRadioButton>(*w, qPrintable(QStringLiteral("radioButton%1").arg(c.sensitivity)))
            ->click();
        Child<QLineEdit>(*w, "lineEdit_filename")
            ->setText(QStringLiteral("plate%1").arg(c.sensitivity));
        w->on_pushButton_Scan_clicked();
        QCOMPARE(newscansetup.latitude, c.latitude);
        QCOMPARE(newscansetup.sensitivity, c.sensitivity);
    }
    QCOMPARE(Fake().starts, 4);
}

QTEST_MAIN(TestScanWindow)
#include "tst_scanwindow.moc"
