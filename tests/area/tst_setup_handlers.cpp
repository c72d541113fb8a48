// The small choices of the main window: resolution with the read-time and file-size estimate,
// scan mode with the high voltage, laser and filter it implies, the KIREL-3000's fluorescence
// controls, the destination folder and the Help box.
#include "settingssupport.h"
#include "maker.h"
#include "stationpaths.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGraphicsView>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

#include <cstring>

namespace
{

// What the folder chooser was asked and what it answers.
struct ChooserScript {
    QString answer;
    QString start;
    int calls = 0;
} chooser;

QString ChooserFake(QWidget *, const QString &, const QString &start)
{
    ++chooser.calls;
    chooser.start = start;
    return chooser.answer;
}

} // namespace

class TestSetupHandlers : public QObject
{
    Q_OBJECT

private:
    MessageBoxCloser *boxes = nullptr;
    std::unique_ptr<TempStationRoot> root;
    std::unique_ptr<MainWindow> w;

    void Start(int model) { w = MainWindowStart(model); }
    void ClickButton(const char *name) { Child<QAbstractButton>(*w, name)->click(); }
    QString Text(const char *label) { return Child<QLabel>(*w, label)->text(); }
    QSpinBox *HV() { return Child<QSpinBox>(*w, "spinBox_HVch1"); }
    QSlider *HVSlider() { return Child<QSlider>(*w, "horizontalSlider_HVch1"); }
    QComboBox *Laser() { return Child<QComboBox>(*w, "comboBox_Laser1"); }
    QComboBox *Filter() { return Child<QComboBox>(*w, "comboBox_FilterCh1"); }

private slots:
    void initTestCase() { boxes = new MessageBoxCloser; }
    void cleanupTestCase() { delete boxes; }
    void init()
    {
        boxes->shown.clear();
        root = std::make_unique<TempStationRoot>();
        QVERIFY(root->isValid());
        chooser = ChooserScript();
    }
    void cleanup()
    {
        w.reset();
        root.reset();
    }

    void resolutionRefreshesTheEstimate_data();
    void resolutionRefreshesTheEstimate();
    void fileSizeAtEveryTileCount_data();
    void fileSizeAtEveryTileCount();
    void modesFreeOrForceTheHighVoltage_data();
    void modesFreeOrForceTheHighVoltage();
    void ipModesChooseLaserAndFilter_data();
    void ipModesChooseLaserAndFilter();
    void kirel3FluorescenceControls();
    void folderChoice_data();
    void folderChoice();
    void helpBox();
};

struct EstimateCase {
    int shgStart;
    int scanInit;
    int tiles;
    const char *button;
    int resolution;
    QString readTime;
    QString fileSize;
};
Q_DECLARE_METATYPE(EstimateCase)

void TestSetupHandlers::resolutionRefreshesTheEstimate_data()
{
    // The station's constants give an odd number of seconds; the round figures need others.
    QTest::addColumn<EstimateCase>("t");
    QTest::newRow("one tile at 100um") << EstimateCase{
        25, 10, 1, "radioButton_Res100", 100, "Read time: 39sec", "File size: 0.1 MB"};
    QTest::newRow("one tile at 50um") << EstimateCase{
        25, 10, 1, "radioButton_Res50", 50, "Read time: 43sec", "File size: 0.5 MB"};
    QTest::newRow("59 seconds") << EstimateCase{
        25, 10, 12, "radioButton_Res200", 200, "Read time: 59sec", "File size: 0.4 MB"};
    QTest::newRow("exactly one minute") << EstimateCase{
        25, 11, 12, "radioButton_Res200", 200, "Read time: 1min 0sec", "File size: 0.4 MB"};
    QTest::newRow("just under an hour") << EstimateCase{
        26, 10, 890, "radioButton_Res100", 100, "Read time: 59min 56sec", "File size: 113.7 MB"};
    QTest::newRow("exactly one hour") << EstimateCase{
        26, 10, 891, "radioButton_Res100", 100, "Read time: 1hrs 0min 0sec", "File size: 113.9 MB"};
    // 9 x 4 x 0.0319444.. MB: just above 1.15.
    QTest::newRow("nine tiles at 100um") << EstimateCase{
        25, 10, 9, "radioButton_Res100", 100, "Read time: 1min 11sec", "File size: 1.2 MB"};
}

void TestSetupHandlers::fileSizeAtEveryTileCount_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("factor"); // 200 um over the resolution
    QTest::newRow("200um") << "radioButton_Res200" << 1;
    QTest::newRow("100um") << "radioButton_Res100" << 2;
    QTest::newRow("50um") << "radioButton_Res50" << 4;
    QTest::newRow("25um") << "radioButton_Res25" << 8;
}

// Every tile count of the bed: a tile is the single-precision value with the bits 3D02D82F
// megabytes at 200 um, times the square of the factor, rounded to single precision and shown
// to one decimal. Counts such as 9 at 100 um lie on a rounding boundary.
void TestSetupHandlers::fileSizeAtEveryTileCount()
{
    QFETCH(QString, button);
    QFETCH(int, factor);
    const quint32 bits = 0x3D02D82Fu;
    float tileMB = 0;
    std::memcpy(&tileMB, &bits, sizeof tileMB);
    Start(kModelKIREL5);
    for (int tiles = 1; tiles <= kTileColumns * kTileRows; ++tiles) {
        scanDur.num = tiles;
        ClickButton(qPrintable(button));
        const float size = float(double(tiles) * double(tileMB) * factor * factor);
        QCOMPARE(Text("labelFileSize"), QString::asprintf("File size: %.1f MB", double(size)));
    }
}

void TestSetupHandlers::resolutionRefreshesTheEstimate()
{
    QFETCH(EstimateCase, t);
    Start(kModelKIREL5);
    ClickButton("radioButton_Res25");
    scanDur.SHGstart = t.shgStart;
    scanDur.scaninit = t.scanInit;
    scanDur.num = t.tiles;
    ClickButton(t.button);
    QCOMPARE(scanDur.resolution, t.resolution);
    QCOMPARE(Text("labelScanTime"), t.readTime);
    QCOMPARE(Text("labelFileSize"), t.fileSize);
    // The record keeps what fits in its 20 bytes.
    QCOMPARE(QString::fromLatin1(scanDur.duration), t.readTime.left(19));
    QCOMPARE(QString::fromLatin1(scanDur.filesize), t.fileSize.left(19));
}

void TestSetupHandlers::modesFreeOrForceTheHighVoltage_data()
{
    QTest::addColumn<QString>("freeMode");
    QTest::newRow("from fluorescence") << "radioButton_FluorescenceMode";
    QTest::newRow("from digitizing") << "radioButton_DigitizingMode";
}

void TestSetupHandlers::modesFreeOrForceTheHighVoltage()
{
    QFETCH(QString, freeMode);
    Start(kModelKIREL5);
    // Start-up in IP mode has all four locked; fluorescence and digitizing free them.
    QVERIFY(!HV()->isEnabled() && !HVSlider()->isEnabled());
    QVERIFY(!Laser()->isEnabled() && !Filter()->isEnabled());
    const int hv = HV()->value();
    ClickButton(qPrintable(freeMode));
    QVERIFY(HV()->isEnabled() && HVSlider()->isEnabled());
    QVERIFY(Laser()->isEnabled() && Filter()->isEnabled());
    QCOMPARE(HV()->value(), hv);
    // The KIREL-5000/5100 keeps its plate sizes in every mode.
    QVERIFY(!Child<QWidget>(*w, "radioButtonIP2040")->isHidden());
    HV()->setValue(900);
    QCOMPARE(HVSlider()->value(), 900);

    ClickButton("radioButton_IPVmode");
    QCOMPARE(HV()->value(), 900);
    QVERIFY(HV()->isEnabled() && HVSlider()->isEnabled());

    ClickButton("radioButton_IPmode");
    QCOMPARE(HV()->value(), 750);
    QCOMPARE(HVSlider()->value(), 750);
    QVERIFY(!HV()->isEnabled() && !HVSlider()->isEnabled());

    // IP-V opens the voltage again at the value IP left.
    ClickButton("radioButton_IPVmode");
    QCOMPARE(HV()->value(), 750);
    QVERIFY(HV()->isEnabled() && HVSlider()->isEnabled());
}

void TestSetupHandlers::ipModesChooseLaserAndFilter_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("listBuilt");
    QTest::addColumn<QList<int>>("codes"); // laser code of each list entry
    QTest::addColumn<QStringList>("trayLabels");
    QTest::addColumn<int>("laser");
    QTest::addColumn<bool>("laserEnabled");
    QTest::addColumn<int>("filter");
    QTest::addColumn<bool>("filterEnabled");

    const QStringList twoIP = {"Y520", "IP", "O575", "IP"};
    const QStringList noIP = {"Y520", "R665", "O575", ""};
    // IP-V takes IP's choice of laser and filter: one row shows it does.
    QTest::newRow("last 635nm entry and last IP position")
        << "radioButton_IPmode" << true << QList<int>{1, 4, 2, 4, 8} << twoIP << 3 << false << 3
        << false;
    QTest::newRow("IP-V: last 635nm entry and last IP position")
        << "radioButton_IPVmode" << true << QList<int>{1, 4, 2, 4, 8} << twoIP << 3 << false << 3
        << false;
    QTest::newRow("no 635nm laser takes the first entry")
        << "radioButton_IPmode" << true << QList<int>{1, 2, 8, 16} << twoIP << 0 << false << 3
        << false;
    QTest::newRow("list not built yet leaves the laser")
        << "radioButton_IPmode" << false << QList<int>{1, 4, 2} << twoIP << 2 << true << 3 << false;
    QTest::newRow("tray without IP position leaves the filter")
        << "radioButton_IPmode" << true << QList<int>{4, 8} << noIP << 0 << false << 2 << true;
}

void TestSetupHandlers::ipModesChooseLaserAndFilter()
{
    QFETCH(QString, mode);
    QFETCH(bool, listBuilt);
    QFETCH(QList<int>, codes);
    QFETCH(QStringList, trayLabels);
    QFETCH(int, laser);
    QFETCH(bool, laserEnabled);
    QFETCH(int, filter);
    QFETCH(bool, filterEnabled);

    Start(kModelKIREL5);
    ClickButton("radioButton_FluorescenceMode");
    // The channel-1 list as the poll builds it from the scanner's lasers.
    for (int i = 0; i < codes.size(); ++i) {
        Laser()->addItem(QStringLiteral("laser %1").arg(codes[i]));
        laserCh1[i] = BYTE(codes[i]);
    }
    scannerconfig[28] = listBuilt ? 1 : 0;
    Laser()->setCurrentIndex(codes.size() - 1);
    for (int i = 0; i < kTrayPositions; ++i)
        filterTray[i].labelCh1 = trayLabels[i];
    Filter()->setCurrentIndex(2);

    ClickButton(qPrintable(mode));
    QCOMPARE(Laser()->currentIndex(), laser);
    QCOMPARE(Laser()->isEnabled(), laserEnabled);
    QCOMPARE(Filter()->currentIndex(), filter);
    QCOMPARE(Filter()->isEnabled(), filterEnabled);
    // Channel 2 follows the filter position.
    QCOMPARE(Child<QComboBox>(*w, "comboBox_FilterCh2")->currentIndex(), filter);
}

void TestSetupHandlers::kirel3FluorescenceControls()
{
    Start(kModelKIREL3);
    auto *view = Child<QGraphicsView>(*w, "graphicsView_ScanArea");
    const QRect viewPlace = view->geometry();
    const QRect areaPlace = Child<QWidget>(*w, "groupBoxScanArea")->geometry();
    ClickButton("radioButtonIP2025");
    QCOMPARE(scancornerR, QPointF(9, 7));

    ClickButton("radioButton_FluorescenceMode");
    for (const char *plate :
         {"radioButtonIP2040", "radioButtonIP2340", "radioButtonIP2025", "radioButtonIP2325"})
        QVERIFY2(Child<QWidget>(*w, plate)->isHidden(), plate);
    QVERIFY(Child<QAbstractButton>(*w, "radioButtonGrid")->isChecked());
    QCOMPARE(scancornerR, QPointF(9, 7)); // the plate's tiles stay selected
    // The sensitivity buttons become the four gains, the highest chosen.
    for (const char *gain :
         {"radioButton1000", "radioButton4000", "radioButton10000", "radioButton30000"}) {
        auto *button = Child<QAbstractButton>(*w, gain);
        QVERIFY2(!button->isHidden() && button->isEnabled(), gain);
    }
    QCOMPARE(Child<QAbstractButton>(*w, "radioButton30000")->text(), QStringLiteral("F1000"));
    QVERIFY(Child<QAbstractButton>(*w, "radioButton30000")->isChecked());
    QVERIFY(Laser()->isEnabled() && Filter()->isEnabled());
    QCOMPARE(ComboTexts(Laser()), (QStringList{"635nm", "532nm", "473nm"}));
    // The picture stays where the click arithmetic expects it.
    QCOMPARE(view->geometry(), viewPlace);
    QCOMPARE(Child<QWidget>(*w, "groupBoxScanArea")->geometry(), areaPlace);

    // Back in IP mode the fluorescence controls stay; the tray's IP position is chosen again.
    ClickButton("radioButton_IPmode");
    QVERIFY(Child<QWidget>(*w, "radioButtonIP2025")->isHidden());
    QCOMPARE(Child<QAbstractButton>(*w, "radioButton4000")->text(), QStringLiteral("F10"));
    QCOMPARE(Filter()->currentText(), QStringLiteral("IP"));
    QVERIFY(!Filter()->isEnabled());
}

void TestSetupHandlers::folderChoice_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("taken");
    QTest::newRow("chosen folder") << "/data/plates/run 7" << true;
    QTest::newRow("cancelled keeps the folder") << "" << false;
}

void TestSetupHandlers::folderChoice()
{
    QFETCH(QString, answer);
    QFETCH(bool, taken);
    const FolderChooser dialog = FolderChooserRun;
    FolderChooserRun = ChooserFake;
    chooser.answer = answer;
    Start(kModelKIREL5);
    const QString before = image_dir;
    QCOMPARE(before, root->path("/home"));

    ClickButton("pushButtonFolder");
    FolderChooserRun = dialog;
    QCOMPARE(chooser.calls, 1);
    QCOMPARE(chooser.start, root->path("/home"));
    QCOMPARE(image_dir, taken ? answer : before);
    QCOMPARE(Text("labelFolder"), taken ? answer : before);
}

void TestSetupHandlers::helpBox()
{
    Start(kModelKIREL5);
    ClickButton("pushButtonHelp");
    QCOMPARE(boxes->shown.size(), 1);
    QCOMPARE(boxes->shown[0].title, QStringLiteral("Version & Contact  Info"));
    QCOMPARE(boxes->shown[0].text, QStringLiteral("Version 1.08 24-Jul-2020        \n\n      ") +
                                       QStringLiteral(SCANSTATION_MAKER_WEB));
}

QTEST_MAIN(TestSetupHandlers)
#include "tst_setup_handlers.moc"
