// Start Scan: the scan area, the scan geometry and the parameter block of every model,
// the file-name checks, the "startup" template, and the resolutions each model offers.
#include "boxes.h"
#include "fakescanner.h"

#include "datafiles.h"
#include "logfiles.h"
#include "mainwindow.h"
#include "phantomexpect.h"
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
#include <QToolTip>
#include <QtTest>

#include <memory>

namespace
{

// The area the layouts give, micrometres.
struct Um {
    qint64 x0 = 0, y0 = 0, W = 0, H = 0;
};

// One request and what the layouts say it must become.
struct RequestCase {
    int model = kModelKIREL5;
    ScanChoice choice;
    BYTE laserCode = 1; // the channel-1 laser the scanner reported
    // expected
    Um um;
    int bufferlines = 0;
    int bufferreadsize = 0;
    int bufptroffset = 0;
    int bytelinewidth = 0;
    bool averaged = false; // the reader averages 2 x 2 at this resolution
};

// A KIREL-5000/5100 fluorescence request of tiles L to R at 600 V and the pieces it must be
// read in.
RequestCase Kirel5(QPoint L, QPoint R, int resolution, Um um, int bufferlines, int bufferreadsize,
                   BYTE laserCode = 1)
{
    RequestCase c;
    c.choice.mode = kModeFluorescence;
    c.choice.area = kAreaGrid;
    c.choice.cornerL = L;
    c.choice.cornerR = R;
    c.choice.resolution = resolution;
    c.choice.HVch1 = 600;
    c.laserCode = laserCode;
    c.um = um;
    c.bufferlines = bufferlines;
    c.bufferreadsize = bufferreadsize;
    return c;
}

// A reader request at latitude 4 and sensitivity 10000 (which only the VESK-5000 takes):
// the piece, the cut's offset and the reader line in bytes.
RequestCase Reader(int model, int area, QPoint L, QPoint R, int resolution, Um um,
                   int bufferreadsize, int bufptroffset, int bytelinewidth, bool averaged = false)
{
    RequestCase c = Kirel5(L, R, resolution, um, 10, bufferreadsize);
    c.model = model;
    c.choice.mode = kModeIP;
    c.choice.area = area;
    c.choice.latitude = 4;
    c.choice.sensitivity = 10000;
    c.bufptroffset = bufptroffset;
    c.bytelinewidth = bytelinewidth;
    c.averaged = averaged;
    return c;
}

// The 30 bytes from the parameter-block layouts: the readers' own bytes over the first 12
// of the fluorescence block, the KIREL-3's tail after.
QByteArray ExpectedParams(const RequestCase &c)
{
    const ScanChoice &h = c.choice;
    const expect::Area a{c.um.x0, c.um.y0, c.um.W, c.um.H};
    QByteArray b =
        expect::FluorescenceBlock(a, h.resolution, h.filterIndex + 1, c.laserCode, h.HVch1);
    if (c.model == kModelKIREL5)
        return b;
    const bool vesk5000 = c.model == kModelVESK5000;
    b.replace(0, 12,
              expect::ReaderBlock(c.model, a, h.resolution, vesk5000 ? h.latitude : 5,
                                  vesk5000 ? h.sensitivity : 4000));
    if (c.model == kModelKIREL3)
        b.replace(12, 5, QByteArray("\x01\x07\xE4\x02\x07", 5));
    return b;
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
    void fieldsTellWhatTheyCut();
    void startScanRecordsTemplateAndRunsTheWindow();
    void readerLatitudeAndSensitivityAsClicked_data();
    void readerLatitudeAndSensitivityAsClicked();
    void scanWindowPlace_data();
    void scanWindowPlace();
};

void TestScanRequest::areaGeometryAndParameterBlock_data()
{
    QTest::addColumn<RequestCase>("c");
    const QPoint origin(0, 0), bottomLeft(0, 15);
    const Um oneTile{0, 0, 25000, 25000};
    QTest::newRow("kirel5 one tile bottom-left 200um")
        << Kirel5(bottomLeft, bottomLeft, 200, oneTile, 5, 1250);
    RequestCase c = Kirel5({16, 15}, {17, 15}, 100, {400000, 0, 60000, 25000}, 10, 600 * 20, 4);
    c.choice.filterIndex = 2;
    QTest::newRow("kirel5 column 17 is 10mm wider") << c; // column 17 is 35 mm wide
    // 80000 bytes would pass 64 KiB
    QTest::newRow("kirel5 25um 1000px read two lines at a time")
        << Kirel5(bottomLeft, bottomLeft, 25, oneTile, 2, 1000 * 80 / 40 * 2);
    // The preset's corner lies one row under the grid.
    c = Kirel5(origin, {17, 16}, 200, {0, 0, 435000, 359000}, 5, 2175 * 10);
    c.choice.mode = kModeIP;
    c.choice.area = kArea3543;
    QTest::newRow("kirel5 35x43 corner below the grid keeps lower edge 0") << c;

    // model, preset, tiles, resolution, area; piece, cut offset, line bytes
    // 27 mm = 270 reader pixels of 100 um
    QTest::newRow("vesk1800 20x25 plate 200um averaged")
        << Reader(kModelVESK1800, kArea2025, origin, {9, 8}, 200, {0, 27000, 256000, 205000}, 46400,
                  270 * 2, 4640, true);
    QTest::newRow("vesk1800 23x25 plate 50um fills the line") << Reader(
        kModelVESK1800, kArea2325, origin, {9, 8}, 50, {0, 0, 256000, 232000}, 92800, 0, 9280);
    // 204.8 mm: the rows hold 4096 pixels, not 204 mm worth
    QTest::newRow("vesk5000 20x25 plate is 204.8mm") << Reader(
        kModelVESK5000, kArea2025, origin, {9, 7}, 50, {0, 0, 256000, 204800}, 81920, 0, 8192);
    // The bottom tile row sits on the plate's bottom edge.
    QTest::newRow("vesk5000 grid 25um stays inside the line")
        << Reader(kModelVESK5000, kAreaGrid, origin, {9, 7}, 25, {0, 3500, 250000, 200000}, 163840,
                  35 * 8, 16384);
    // 3.5 mm = 70 reader pixels of 50 um
    QTest::newRow("vesk5000 100um averaged offset in whole pixels")
        << Reader(kModelVESK5000, kAreaGrid, {0, 3}, {0, 7}, 100, {0, 3500, 25000, 125000}, 81920,
                  35 * 4, 8192, true);
    QTest::newRow("kirel3 20x25 plate 50um")
        << Reader(kModelKIREL3, kArea2025, origin, {9, 8}, 50, {0, 27000, 256000, 205000}, 92800,
                  270 * 4, 9280);
}

void TestScanRequest::areaGeometryAndParameterBlock()
{
    QFETCH(RequestCase, c);
    ResetSharedState(c.model);
    laserCh1[0] = c.laserCode;

    const ScanChoice &choice = c.choice;
    const ScanAreaUm area = ScanAreaCompute(choice);
    QCOMPARE(area.x0, c.um.x0);
    QCOMPARE(area.y0, c.um.y0);
    QCOMPARE(area.width, c.um.W);
    QCOMPARE(area.height, c.um.H);

    QVERIFY(ScanRequestFill(choice, area));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(scanparams), 30), ExpectedParams(c));
    const ScanSetup &s = newscansetup;
    const int r = choice.resolution;
    QCOMPARE(s.width, qint32(c.um.W / r));
    QCOMPARE(s.height, qint32(c.um.H / r));
    QCOMPARE(s.xstart, qint32(c.um.x0 / r));
    QCOMPARE(s.ystart, qint32(c.um.y0 / r));
    QCOMPARE(s.bufferlines, c.bufferlines);
    QCOMPARE(s.bufferreadsize, c.bufferreadsize);
    QCOMPARE(laserCh1index, 0);
    if (c.model == kModelKIREL5) {
        QCOMPARE(s.shadingincr, 10000 / r); // a node every 10 mm
        return;
    }
    // Readers: one image row is one reader line cut to the area, `height` pixels long.
    QCOMPARE(s.pixwidth, s.height);
    QCOMPARE(s.VESKystart, qint32(c.um.y0 / 100));
    QCOMPARE(s.bufptroffset, c.bufptroffset);
    QCOMPARE(s.bytelinewidth, c.bytelinewidth);
    // The cut spans pixwidth reader pixels, or twice as many where two are averaged.
    const int cutBytes = s.pixwidth * 2 * (c.averaged ? 2 : 1);
    QVERIFY2(s.bufptroffset + cutBytes <= s.bytelinewidth, "the cut reads past the line");
    QCOMPARE(s.latitude, c.model == kModelVESK5000 ? choice.latitude : 5);
    QCOMPARE(s.sensitivity, c.model == kModelVESK5000 ? choice.sensitivity : 4000);
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
    QTest::addColumn<QString>("name");    // as typed
    QTest::addColumn<QString>("comment"); // as typed
    QTest::addColumn<QString>("stored");  // the name kept in image_name
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("model");
    const int kirel5 = int(kModelKIREL5);
    const QString input = QStringLiteral("Input Error");
    const QString separator =
        QStringLiteral("File Name Cannot Contain \"/\", \",\" Or Control Characters!");
    const QString latin1 = QStringLiteral(": Only Latin-1 Characters Can Be Stored!");
    const QString note = QStringLiteral("note");
    QTest::newRow("blank") << QString() << note << QString() << input
                           << "File Name Cannot Be Blank!" << kirel5;
    QTest::newRow("only spaces and .img")
        << "  .img " << note << QString() << input << "File Name Cannot Be Blank!" << kirel5;
    QTest::newRow("folder separator")
        << "../escape" << note << "../escape" << input << separator << kirel5;
    QTest::newRow("tab") << "a\tb" << note << "a\tb" << input << separator << kirel5;
    // A comma would split the scan log's record.
    QTest::newRow("comma") << "gel,2" << note << "gel,2" << input << separator << kirel5;
    // Direction marks and line separators would show the operator another name than is
    // stored; Latin-1 cannot hold them either.
    QTest::newRow("right-to-left override")
        << "gel\u202Egmi" << note << "gel\u202Egmi" << input << separator << kirel5;
    QTest::newRow("line separator")
        << "ge\u2028l" << note << "ge\u2028l" << input << separator << kirel5;
    QTest::newRow("not Latin-1") << "\u017B\u00F3\u0142w" << note << "\u017B\u00F3\u0142w" << input
                                 << "File Name Cannot Contain U+017B" + latin1 << kirel5;
    // A pasted line feed would move the .inf lines after the comment.
    QTest::newRow("line feed in the comment")
        << "gel"
        << "a\nb"
        << "gel" << input << "Comment Cannot Contain Line Breaks Or Control Characters!" << kirel5;
    QTest::newRow("comment not Latin-1")
        << "gel"
        << "\u4E2D\u6587 \u20AC"
        << "gel" << input << "Comment Cannot Contain U+4E2D" + latin1 << kirel5;
    const QString taken = QStringLiteral("File Name Already Exists!");
    // The name is stored without the spaces around it and without a typed ".img".
    QTest::newRow("name in use, typed with .img and spaces")
        << " taken.IMG " << note << "taken"
        << "File Name Error" << taken << kirel5;
    for (const char *ext : {"inf", "raw", "sd", "log"})
        QTest::addRow("only the .%s of the name exists", ext)
            << QStringLiteral("other-%1").arg(QLatin1String(ext)) << note
            << QStringLiteral("other-%1").arg(QLatin1String(ext)) << "File Name Error" << taken
            << kirel5;
    QTest::newRow("a dangling link has the name") << "dangling" << note << "dangling"
                                                  << "File Name Error" << taken << kirel5;
    // The KIREL-3000 cannot scan: refused before a scan window opens.
    QTest::newRow("kirel3 has no scan path")
        << "gel" << note << "gel"
        << "SCAN ERROR"
        << "Scan Error:<ul><li>Scanning is not available on this model</li></ul>"
        << int(kModelKIREL3);
}

void TestScanRequest::fileNameChecks()
{
    QFETCH(QString, name);
    QFETCH(QString, comment);
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
}

// The name holds 100 characters and the comment 32: a key past that is not taken, and the
// field says so instead of dropping it unseen.
void TestScanRequest::fieldsTellWhatTheyCut()
{
    auto w = StartModel(kModelKIREL5);
    w->show();
    for (const auto &[field, limit] :
         {std::pair{"lineEdit_filename", 100}, std::pair{"lineEdit_comment", 32}}) {
        auto *edit = Child<QLineEdit>(*w, field);
        QTest::keyClicks(edit, QString(limit, QLatin1Char('a')));
        QVERIFY(!QToolTip::isVisible());
        QTest::keyClicks(edit, QStringLiteral("b"));
        QCOMPARE(edit->text(), QString(limit, QLatin1Char('a')));
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(),
                 QStringLiteral("At most %1 characters: the rest was not taken").arg(limit));
        QToolTip::hideText();
        QTRY_VERIFY(!QToolTip::isVisible());
    }
}

void TestScanRequest::startScanRecordsTemplateAndRunsTheWindow()
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
}

// The VESK-5000 scans at the latitude and sensitivity the operator clicked, in that order.
void TestScanRequest::readerLatitudeAndSensitivityAsClicked_data()
{
    QTest::addColumn<QString>("latitudeButton");
    QTest::addColumn<QString>("sensitivityButton");
    QTest::addColumn<int>("latitude");
    QTest::addColumn<int>("sensitivity");
    QTest::newRow("4 at 1000") << "radioButton"
                               << "radioButton1000" << 4 << 1000;
    QTest::newRow("4 at 10000") << "radioButton"
                                << "radioButton10000" << 4 << 10000;
    QTest::newRow("5 at 4000") << "radioButton5"
                               << "radioButton4000" << 5 << 4000;
    QTest::newRow("5 at 30000") << "radioButton5"
                                << "radioButton30000" << 5 << 30000;
}

void TestScanRequest::readerLatitudeAndSensitivityAsClicked()
{
    QFETCH(QString, latitudeButton);
    QFETCH(QString, sensitivityButton);
    QFETCH(int, latitude);
    QFETCH(int, sensitivity);
    auto w = StartModel(kModelVESK5000);
    Child<QRadioButton>(*w, qPrintable(latitudeButton))->click();
    Child<QRadioButton>(*w, qPrintable(sensitivityButton))->click();
    Child<QLineEdit>(*w, "lineEdit_filename")->setText(QStringLiteral("plate1"));
    BoxAnswerer boxes;
    w->on_pushButton_Scan_clicked();
    QCOMPARE(Fake().starts, 1);
    QCOMPARE(newscansetup.latitude, latitude);
    QCOMPARE(newscansetup.sensitivity, sensitivity);
}

// The 900 x 750 scan window in a frame of 1 pixel and a 25-pixel title bar (902 x 776
// outside), over a main window's frame of 1002 x 811.
void TestScanRequest::scanWindowPlace_data()
{
    QTest::addColumn<QRect>("owner");
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QPoint>("place");
    const QRect fullHd(0, 0, 1920, 1080);
    QTest::newRow("centred on the main window")
        << QRect(100, 50, 1002, 811) << fullHd << QPoint(100 + 50, 50 + 17);
    QTest::newRow("kept inside the right edge")
        << QRect(1000, 0, 1002, 811) << fullHd << QPoint(1920 - 902, 17);
    // 1024 x 768 with a 28-pixel panel at the top: the window is taller than the space
    // left, and its lower part, with the Stop button, stays on the screen.
    QTest::newRow("1024x768: the Stop button stays on the screen")
        << QRect(0, 28, 1002, 811) << QRect(0, 28, 1024, 740) << QPoint(50, 768 - 776);
}

void TestScanRequest::scanWindowPlace()
{
    QFETCH(QRect, owner);
    QFETCH(QRect, screen);
    QFETCH(QPoint, place);
    QCOMPARE(DialogPlace(owner, QSize(900, 750), QMargins(1, 25, 1, 1), screen), place);
}

QTEST_MAIN(TestScanRequest)
#include "tst_scanrequest.moc"
