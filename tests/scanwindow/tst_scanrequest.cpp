// Start Scan: the scan area, the scan geometry and the parameter block of every model,
// the file-name checks, the "startup" template, the scan-log record, and the resolutions
// each model offers.
#include "boxes.h"
#include "fakescanner.h"

#include "datafiles.h"
#include "logfiles.h"
#include "mainwindow.h"
#include "scanstate.h"
#include "scanwindow.h"
#include "stationfixture.h"
#include "stationpaths.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace
{

// One request and what the layouts say it must become. Areas in micrometres.
struct RequestCase {
    int model = kModelKIREL5;
    int mode = kModeFluorescence;
    int area = kAreaGrid;
    QPoint L, R;
    int resolution = 200;
    int filterIndex = 0;
    BYTE laserCode = 1;
    int HVch1 = 600;
    int latitude = 5;
    int sensitivity = 4000;
    // expected
    qint64 x0 = 0, y0 = 0, W = 0, H = 0;
    int bufferlines = 0;
    int bufferreadsize = 0;
    int readerCode = 0; // resolution byte sent to a reader
    int bufptroffset = 0;
    int bytelinewidth = 0;
    bool averaged = false; // the reader averages 2 x 2 at this resolution
};

void Put(QByteArray &b, int at, qint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b[at + i] = char((value >> (8 * (bytes - 1 - i))) & 0xFF);
}

// The 30 bytes from the parameter-block layouts.
QByteArray ExpectedParams(const RequestCase &c)
{
    QByteArray b(30, '\0');
    b[4] = char(0x20);
    b[5] = char(0x1A);
    b[6] = char(0x11);
    b[7] = char(c.resolution);
    b[8] = char(c.filterIndex + 1);
    b[9] = char(c.laserCode == 16 ? 0 : c.laserCode);
    b[10] = 1;
    Put(b, 12, c.HVch1, 2);
    Put(b, 16, c.x0, 3);
    Put(b, 19, c.y0, 3);
    Put(b, 22, c.W, 3);
    Put(b, 25, c.H, 3);
    if (c.model == kModelKIREL5)
        return b;
    const bool vesk5000 = c.model == kModelVESK5000;
    for (int i = 0; i < 12; ++i)
        b[i] = 0;
    b[1] = char(c.readerCode);
    b[2] = char(vesk5000 ? c.latitude : 5);
    Put(b, 3, c.x0 / 1000, 2);
    Put(b, 5, c.W / 1000, 2);
    Put(b, 7, vesk5000 ? c.sensitivity : 4000, 2);
    if (c.model == kModelKIREL3) {
        const char tail[] = {1, 7, char(0xE4), 2, 7};
        for (int i = 0; i < 5; ++i)
            b[12 + i] = tail[i];
    }
    return b;
}

ScanChoice ChoiceOf(const RequestCase &c)
{
    ScanChoice choice;
    choice.mode = c.mode;
    choice.area = c.area;
    choice.cornerL = QPointF(c.L);
    choice.cornerR = QPointF(c.R);
    choice.resolution = c.resolution;
    choice.filterIndex = c.filterIndex;
    choice.laserIndex = 0;
    choice.HVch1 = c.HVch1;
    choice.latitude = c.latitude;
    choice.sensitivity = c.sensitivity;
    return choice;
}

template <typename T> T *Child(QWidget &w, const char *name)
{
    T *child = w.findChild<T *>(QLatin1String(name));
    if (!child)
        qFatal("no widget %s", name);
    return child;
}

QDateTime FixedClock()
{
    return QDateTime(QDate(2026, 3, 3), QTime(9, 5, 7));
}

QByteArray LastLine(const QByteArray &file)
{
    QList<QByteArray> lines = file.split('\n');
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines.isEmpty() ? QByteArray() : lines.last();
}

} // namespace

Q_DECLARE_METATYPE(RequestCase)

class TestScanRequest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempStationRoot> root;

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
    void init()
    {
        root = std::make_unique<TempStationRoot>();
        QVERIFY(root->isValid());
        LogClock = &FixedClock;
        FakeScannerInstall();
    }
    void cleanup()
    {
        root.reset();
        LogClock = &QDateTime::currentDateTime;
    }

    void areaGeometryAndParameterBlock_data();
    void areaGeometryAndParameterBlock();
    void resolutionNotOfferedIsRefused();
    void fileNameChecks_data();
    void fileNameChecks();
    void startScanRecordsTemplateLogsAndRunsTheWindow();
    void vesk5000OffersNo200um_data();
    void vesk5000OffersNo200um();
};

void TestScanRequest::areaGeometryAndParameterBlock_data()
{
    QTest::addColumn<RequestCase>("c");
    auto row = [](const char *tag, RequestCase c) { QTest::newRow(tag) << c; };

    RequestCase c;
    c.L = c.R = QPoint(0, 15);
    c.W = c.H = 25000;
    c.bufferlines = 5;
    c.bufferreadsize = 1250;
    row("kirel5 one tile bottom-left 200um", c);

    c = RequestCase();
    c.L = QPoint(16, 15);
    c.R = QPoint(17, 15);
    c.resolution = 100;
    c.filterIndex = 2;
    c.laserCode = 4;
    c.x0 = 400000;
    c.W = 60000; // column 17 is 35 mm wide
    c.H = 25000;
    c.bufferlines = 10;
    c.bufferreadsize = 600 * 20;
    row("kirel5 column 17 is 10mm wider", c);

    c = RequestCase();
    c.L = c.R = QPoint(0, 15);
    c.resolution = 25;
    c.W = c.H = 25000;
    c.bufferlines = 2;
    c.bufferreadsize = 1000 * 80 / 40 * 2; // 80000 bytes would pass 64 KiB
    row("kirel5 25um 1000px read two lines at a time", c);

    c = RequestCase();
    c.L = QPoint(3, 10);
    c.R = QPoint(4, 11);
    c.resolution = 50;
    c.x0 = 75000;
    c.y0 = 100000;
    c.W = c.H = 50000;
    c.bufferlines = 20;
    c.bufferreadsize = 1000 * 40;
    row("kirel5 2x2 tiles 50um", c);

    c = RequestCase();
    c.mode = kModeIP;
    c.area = kArea3543;
    c.L = QPoint(0, 0);
    c.R = QPoint(17, 16); // the preset's corner lies one row under the grid
    c.W = 435000;
    c.H = 359000;
    c.bufferlines = 5;
    c.bufferreadsize = 2175 * 10;
    row("kirel5 35x43 corner below the grid keeps lower edge 0", c);

    c = RequestCase();
    c.L = c.R = QPoint(0, 15);
    c.laserCode = 16;
    c.W = c.H = 25000;
    c.bufferlines = 5;
    c.bufferreadsize = 1250;
    row("kirel5 685nm diode goes as laser 0", c);

    c = RequestCase();
    c.model = kModelVESK1800;
    c.mode = kModeIP;
    c.L = QPoint(1, 0);
    c.R = QPoint(2, 8);
    c.resolution = 100;
    c.x0 = 25000;
    c.y0 = 3500;
    c.W = 50000;
    c.H = 225000;
    c.readerCode = 100;
    c.bufferlines = 10;
    c.bufferreadsize = 46400;
    c.bufptroffset = 70;
    c.bytelinewidth = 4640;
    row("vesk1800 grid 100um", c);

    c.area = kArea2025;
    c.L = QPoint(0, 0);
    c.R = QPoint(9, 8);
    c.resolution = 200;
    c.x0 = 0;
    c.y0 = 27000;
    c.W = 256000;
    c.H = 205000;
    c.bufptroffset = 270 * 2; // 27 mm = 270 reader pixels of 100 um
    c.averaged = true;
    row("vesk1800 20x25 plate 200um averaged", c);

    c.area = kArea2325;
    c.resolution = 50;
    c.y0 = 0;
    c.H = 232000;
    c.readerCode = 50;
    c.bufferreadsize = 92800;
    c.bufptroffset = 0;
    c.bytelinewidth = 9280;
    c.averaged = false;
    row("vesk1800 23x25 plate 50um fills the line", c);

    c = RequestCase();
    c.model = kModelVESK5000;
    c.mode = kModeIP;
    c.area = kArea2025;
    c.L = QPoint(0, 0);
    c.R = QPoint(9, 7);
    c.resolution = 50;
    c.latitude = 4;
    c.sensitivity = 10000;
    c.W = 256000;
    c.H = 204800; // 204.8 mm: the rows hold 4096 pixels, not 204 mm worth
    c.readerCode = 50;
    c.bufferlines = 10;
    c.bufferreadsize = 81920;
    c.bytelinewidth = 8192;
    row("vesk5000 20x25 plate is 204.8mm", c);

    c.area = kAreaGrid;
    c.resolution = 25;
    c.y0 = 3500; // the bottom tile row sits on the plate's bottom edge
    c.W = 250000;
    c.H = 200000;
    c.readerCode = 25;
    c.bufferreadsize = 163840;
    c.bufptroffset = 35 * 8;
    c.bytelinewidth = 16384;
    row("vesk5000 grid 25um stays inside the line", c);

    c.L = QPoint(0, 3);
    c.R = QPoint(0, 7);
    c.resolution = 100;
    c.W = 25000;
    c.H = 125000;
    c.readerCode = 50;
    c.bufferreadsize = 81920;
    c.bufptroffset = 35 * 4; // 3.5 mm = 70 reader pixels of 50 um
    c.bytelinewidth = 8192;
    c.averaged = true;
    row("vesk5000 100um averaged offset in whole pixels", c);

    c = RequestCase();
    c.model = kModelKIREL3;
    c.area = kArea2025;
    c.L = QPoint(0, 0);
    c.R = QPoint(9, 8);
    c.resolution = 50;
    c.y0 = 27000;
    c.W = 256000;
    c.H = 205000;
    c.readerCode = 50;
    c.bufferlines = 10;
    c.bufferreadsize = 92800;
    c.bufptroffset = 270 * 4;
    c.bytelinewidth = 9280;
    row("kirel3 20x25 plate 50um", c);
}

void TestScanRequest::areaGeometryAndParameterBlock()
{
    QFETCH(RequestCase, c);
    ResetSharedState(c.model);
    laserCh1[0] = c.laserCode;

    const ScanChoice choice = ChoiceOf(c);
    const ScanAreaUm area = ScanAreaCompute(choice);
    QCOMPARE(area.x0, c.x0);
    QCOMPARE(area.y0, c.y0);
    QCOMPARE(area.width, c.W);
    QCOMPARE(area.height, c.H);

    QVERIFY(ScanRequestFill(choice, area));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(scanparams), 30), ExpectedParams(c));
    const ScanSetup &s = newscansetup;
    QCOMPARE(s.width, qint32(c.W / c.resolution));
    QCOMPARE(s.height, qint32(c.H / c.resolution));
    QCOMPARE(s.xstart, qint32(c.x0 / c.resolution));
    QCOMPARE(s.ystart, qint32(c.y0 / c.resolution));
    QCOMPARE(s.bufferlines, c.bufferlines);
    QCOMPARE(s.bufferreadsize, c.bufferreadsize);
    QCOMPARE(laserCh1index, 0);
    if (c.model == kModelKIREL5) {
        QCOMPARE(s.shadingincr, 10000 / c.resolution); // a node every 10 mm
        QCOMPARE(s.shadingincrhalf, s.shadingincr / 2);
        return;
    }
    // Readers: one image row is one reader line cut to the area, `height` pixels long.
    QCOMPARE(s.pixwidth, s.height);
    QCOMPARE(s.VESKystart, qint32(c.y0 / 100));
    QCOMPARE(s.bufptroffset, c.bufptroffset);
    QCOMPARE(s.bytelinewidth, c.bytelinewidth);
    // The cut spans pixwidth reader pixels, or twice as many where two are averaged.
    const int cutBytes = s.pixwidth * 2 * (c.averaged ? 2 : 1);
    QVERIFY2(s.bufptroffset + cutBytes <= s.bytelinewidth, "the cut reads past the line");
    QCOMPARE(s.latitude, c.model == kModelVESK5000 ? c.latitude : 5);
    QCOMPARE(s.sensitivity, c.model == kModelVESK5000 ? c.sensitivity : 4000);
}

void TestScanRequest::resolutionNotOfferedIsRefused()
{
    ResetSharedState(kModelVESK1800);
    scanparams[3] = 0x55;
    ScanChoice choice;
    choice.resolution = 25;
    choice.cornerL = choice.cornerR = QPointF(0, 8);
    QVERIFY(!ScanRequestFill(choice, ScanAreaCompute(choice)));
    QCOMPARE(scanparams[3], BYTE(0x55));
}

void TestScanRequest::fileNameChecks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("blank") << QString() << "Input Error"
                           << "File Name Cannot Be Blank!";
    const QString separator =
        QStringLiteral("File Name Cannot Contain \"/\" Or Control Characters!");
    QTest::newRow("folder separator") << "../escape"
                                      << "Input Error" << separator;
    QTest::newRow("tab") << "a\tb"
                         << "Input Error" << separator;
    QTest::newRow("line feed") << "a\nb"
                               << "Input Error" << separator;
    QTest::newRow("name in use") << "taken"
                                 << "File Name Error"
                                 << "File Name Already Exists!";
}

void TestScanRequest::fileNameChecks()
{
    QFETCH(QString, name);
    QFETCH(QString, title);
    QFETCH(QString, text);
    auto w = StartModel(kModelKIREL5);
    QVERIFY(root->writeFile(QStringLiteral("/home/taken.img"), QByteArray("x")));
    const QStringList before = QDir(root->path(QStringLiteral("/home"))).entryList(QDir::Files);
    Child<QLineEdit>(*w, "lineEdit_filename")->setText(name);
    Child<QLineEdit>(*w, "lineEdit_comment")->setText(QStringLiteral("note"));

    BoxAnswerer boxes;
    w->on_pushButton_Scan_clicked();
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].title, title);
    QCOMPARE(boxes.boxes[0].text, text);
    // Nothing but the name, the comment and the press count is left behind.
    QCOMPARE(scanpassnumber, 0);
    QCOMPARE(image_name, name);
    QCOMPARE(image_comment, QStringLiteral("note"));
    QCOMPARE(Fake().starts, 0);
    QVERIFY(!QFile::exists(TemplatesFilePath()));
    QCOMPARE(QDir(root->path(QStringLiteral("/home"))).entryList(QDir::Files), before);
}

void TestScanRequest::startScanRecordsTemplateLogsAndRunsTheWindow()
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
    const QByteArray scanLogBefore =
        root->readFile(QStringLiteral("/home/pi/KIREL5-IR/KIREL5_scan.log"));

    BoxAnswerer boxes;
    w->on_pushButton_Scan_clicked();

    // The window ran the scan to its end.
    QCOMPARE(Fake().starts, 1);
    QCOMPARE(boxes.titles(), QStringList{QStringLiteral("SCAN COMPLETE")});
    QCOMPARE(QFileInfo(root->path(QStringLiteral("/home/gel1.img"))).size(), qint64(125 * 125 * 2));

    // The settings of this scan are template record 0, on disk too.
    const ScanTempl &t = scanTemplate[0];
    QCOMPARE(t.name, QStringLiteral("startup"));
    QCOMPARE(t.mode, int(kModeFluorescence));
    QCOMPARE(t.resolution, 200);
    QCOMPARE(t.filterCh1, 1);
    QCOMPARE(t.filterCh2, 1);
    QCOMPARE(t.filterLabel, QStringLiteral("O575"));
    QCOMPARE(t.HVch1, 600);
    QCOMPARE(t.HVch2, 0);
    QCOMPARE(t.folder, image_dir);
    QVERIFY(QFile(TemplatesFilePath()).size() > 0);

    // One scan-log record, appended: path, mode, resolution, area in mm, laser, filter, HV.
    const QByteArray scanLog = root->readFile(QStringLiteral("/home/pi/KIREL5-IR/KIREL5_scan.log"));
    QVERIFY(scanLog.startsWith(scanLogBefore));
    const QByteArray expected = "Tue Mar 03 2026 09:05:07  " + image_dir.toLatin1() +
                                "/gel1,2,200,25,0,25,25,1,2,600,0,0,0";
    QCOMPARE(LastLine(scanLog), expected);
}

void TestScanRequest::vesk5000OffersNo200um_data()
{
    QTest::addColumn<bool>("withTemplate");
    QTest::newRow("defaults") << false;
    QTest::newRow("200um restored from a template") << true;
}

void TestScanRequest::vesk5000OffersNo200um()
{
    QFETCH(bool, withTemplate);
    ResetSharedState(kModelVESK5000);
    if (withTemplate) {
        scanTemplate[0].name = QStringLiteral("startup");
        scanTemplate[0].resolution = 200;
        scanTemplate[0].folder = root->path(QStringLiteral("/home"));
        QVERIFY(TemplatesWrite(1));
        scanTemplate[0] = ScanTempl();
    }
    MainWindow w;
    for (QTimer *t : w.findChildren<QTimer *>())
        t->stop();
    QVERIFY(Child<QRadioButton>(w, "radioButton_Res200")->isHidden());
    QVERIFY(Child<QRadioButton>(w, "radioButton_Res100")->isChecked());
    QCOMPARE(scanDur.resolution, 100);
}

QTEST_MAIN(TestScanRequest)
#include "tst_scanrequest.moc"
