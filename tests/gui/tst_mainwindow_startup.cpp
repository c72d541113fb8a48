// Start-up of the main window for each scanner model: the form each model gets, the
// settings restored from the templates or their defaults, the filter lists, the scan-area
// picture, the "not connected yet" state and the logs.
#include "logfiles.h"
#include "mainwindow.h"
#include "scanstate.h"
#include "scantile.h"
#include "settingssupport.h"
#include "stationfixture.h"
#include "stationpaths.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace
{

// The "startup" record the station restores its settings from.
ScanTempl Startup(int mode, int area, QPointF L, QPointF R, QPointF C)
{
    ScanTempl t;
    t.name = QStringLiteral("startup");
    t.comment = QStringLiteral("last scan");
    t.mode = mode;
    t.area = area;
    t.scancornerL = L;
    t.scancornerR = R;
    t.scancornerC = C;
    t.resolution = 200;
    t.filterLabel = QStringLiteral("IP");
    t.HVch1 = 750;
    t.folder = QStringLiteral("/data/scans");
    return t;
}

// A templates file of that one record, then the empty name that ends the list.
QByteArray StartupFile(const ScanTempl &t)
{
    return TemplateBytes(t) + StringBytes(QLatin1String(""));
}

} // namespace

class TestMainWindowStartup : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempStationRoot> root;
    // Start-up as the station does it, with the status poll running.
    std::unique_ptr<MainWindow> StartModel(int model) { return MainWindowStart(model, true); }

private slots:
    void init()
    {
        root = std::make_unique<TempStationRoot>();
        QVERIFY(root->isValid());
    }
    void cleanup() { root.reset(); }

    void formShapePerModel_data();
    void formShapePerModel();
    void gapsClosedAndNothingOverlaps_data();
    void gapsClosedAndNothingOverlaps();
    void defaultsWithoutTemplates_data();
    void defaultsWithoutTemplates();
    void settingsRestoredFromTemplates_data();
    void settingsRestoredFromTemplates();
    void tilesBeyondTheBedAreFlaggedButNotDrawn();
    void cutCornerTilesShowTheirShapes();
    void notConnectedUntilThePollFindsTheScanner_data();
    void notConnectedUntilThePollFindsTheScanner();
    void laserLists_data();
    void laserLists();
    void kirel3ShowsItsFixedTray();
    void emptyTrayPositionShowsNoIconAndNoText();
    void logFilesCreatedAtStartup_data();
    void logFilesCreatedAtStartup();
    void scanAreaViewPlacesSceneOriginForTheClickArithmetic_data();
    void scanAreaViewPlacesSceneOriginForTheClickArithmetic();
};

// Widget names, separated by spaces.
static QStringList Names(const char *names)
{
    return QString::fromLatin1(names).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

void TestMainWindowStartup::formShapePerModel_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("banner");
    QTest::addColumn<QString>("statusHeading");
    QTest::addColumn<QStringList>("hidden");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("checkedAndLocked");

    const QStringList alwaysHidden = Names("pushButton_LD685toggle pushButton_Config");
    const QStringList veskHidden =
        alwaysHidden + Names("groupBox_ScanMode pushButtonTemplates pushButtonTemplateSave "
                             "radioButtonIP2040 radioButtonIP2340 radioButtonIP3543 "
                             "groupBox_Channel1 groupBox_Channel2 checkBox_enableCh1 "
                             "checkBox_enableCh2 label label_2 label_3 labelLDmonitor "
                             "labelLDtemperature");

    QTest::newRow("KIREL-5000/5100")
        << int(kModelKIREL5) << "KIREL5 IMAGE READER"
        << "KIREL-5100 "
        << "Lasers"
        << alwaysHidden + Names("groupBoxScanLatitude groupBoxScanSensitivity label_statuslog "
                                "label_scannercondition")
        << Names("groupBox_ScanMode radioButton_IPVmode radioButton_DigitizingMode "
                 "radioButton_Res25 groupBox_Channel1 groupBox_Channel2 checkBox_enableCh1 "
                 "label_3 spinBox_HVch1 radioButtonIP3543 radioButtonIP2325 pushButtonTemplates "
                 "pushButtonTemplateSave labelLDmonitor labelLDtemperature labelSCSIboardTemp")
        << QStringList{};
    QTest::newRow("KIREL-3000")
        << int(kModelKIREL3) << "KIREL3 IMAGE READER"
        << "KIREL-3000 "
        << "Status Log"
        << alwaysHidden + Names("radioButton_IPVmode radioButton_DigitizingMode "
                                "pushButtonTemplates pushButtonTemplateSave radioButton_Res25 "
                                "radioButtonIP3543 radioButton radioButton1000 radioButton10000 "
                                "radioButton30000 groupBox_Channel2 checkBox_enableCh1 "
                                "checkBox_enableCh2 label_3 labelLDmonitor labelLDtemperature "
                                "spinBox_HVch1 horizontalSlider_HVch1")
        << Names("radioButton_IPmode radioButton_FluorescenceMode groupBox_Channel1 "
                 "comboBox_Laser1 comboBox_FilterCh1 radioButtonIP2040 radioButtonIP2025 "
                 "radioButtonIP2325 groupBoxScanSensitivity groupBoxScanLatitude label_statuslog "
                 "label_scannercondition")
        << Names("radioButton5 radioButton4000");
    QTest::newRow("VESK-5000") << int(kModelVESK5000) << "VESK IMAGE READER"
                               << "VESK-5000 "
                               << "Status Log" << veskHidden + Names("radioButtonIP2325")
                               << Names("radioButton_Res25 radioButton radioButton5 "
                                        "radioButton1000 radioButton4000 radioButton10000 "
                                        "radioButton30000 radioButtonGrid radioButtonIP2025 "
                                        "label_statuslog label_scannercondition")
                               << QStringList{};
    QTest::newRow("VESK-1800II")
        << int(kModelVESK1800) << "VESK IMAGE READER"
        << "VESK-1800II "
        << "Status Log"
        << veskHidden + Names("radioButton_Res25 radioButton radioButton1000 radioButton10000 "
                              "radioButton30000")
        << Names("radioButtonIP2325 radioButtonIP2025 radioButtonGrid groupBoxScanSensitivity "
                 "groupBoxScanLatitude")
        << Names("radioButton5 radioButton4000");
}

void TestMainWindowStartup::formShapePerModel()
{
    QFETCH(int, model);
    QFETCH(QString, title);
    QFETCH(QString, banner);
    QFETCH(QString, statusHeading);
    QFETCH(QStringList, hidden);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, checkedAndLocked);

    auto w = StartModel(model);
    QCOMPARE(ScannerType, model);
    QCOMPARE(w->windowTitle(), title);
    QCOMPARE(Child<QLabel>(*w, "labelbannerR")->text(), banner);
    QCOMPARE(Child<QLabel>(*w, "labelbannerL")->text(), QStringLiteral("KIREL"));
    QCOMPARE(Child<QLabel>(*w, "labellasers")->text(), statusHeading);
    QCOMPARE(w->size(), QSize(1000, 785));
    QCOMPARE(w->minimumSize(), QSize(1000, 785));
    QCOMPARE(w->maximumSize(), QSize(1000, 785));
    for (const QString &name : hidden)
        QVERIFY2(w->findChild<QWidget *>(name)->isHidden(), qPrintable(name));
    for (const QString &name : shown)
        QVERIFY2(!w->findChild<QWidget *>(name)->isHidden(), qPrintable(name));
    for (const QString &name : checkedAndLocked) {
        auto *button = w->findChild<QAbstractButton *>(name);
        QVERIFY2(button->isChecked() && !button->isEnabled(), qPrintable(name));
    }
    if (model == kModelKIREL3)
        QCOMPARE(Child<QGroupBox>(*w, "groupBox_Channel1")->title(),
                 QStringLiteral("Laser and Filter"));
}

void TestMainWindowStartup::gapsClosedAndNothingOverlaps_data()
{
    QTest::addColumn<int>("model");
    QTest::newRow("KIREL-5000/5100") << int(kModelKIREL5);
    QTest::newRow("KIREL-3000") << int(kModelKIREL3);
    QTest::newRow("VESK-5000") << int(kModelVESK5000);
    QTest::newRow("VESK-1800II") << int(kModelVESK1800);
}

// The groups a model keeps are stacked without holes, and no two visible controls of the
// window lie on each other (the status-log labels share the status group on purpose).
void TestMainWindowStartup::gapsClosedAndNothingOverlaps()
{
    QFETCH(int, model);
    auto w = StartModel(model);

    const char *const column[] = {"groupBox_Resolution",     "groupBox_ScanMode",
                                  "groupBox_Channel1",       "groupBox_Channel2",
                                  "groupBoxScanSensitivity", "groupBoxScanLatitude"};
    int bottom = -1;
    for (const char *name : column) {
        QWidget *group = Child<QWidget>(*w, name);
        if (group->isHidden())
            continue;
        if (bottom >= 0)
            QVERIFY2(group->y() > bottom && group->y() - bottom <= 10, name);
        bottom = group->geometry().bottom();
    }

    QWidget *central = w->centralWidget();
    QList<QWidget *> visible;
    for (QWidget *child : central->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        if (!child->isHidden())
            visible << child;
    const QStringList overlayOnStatus = {"label_statuslog", "label_scannercondition"};
    for (int i = 0; i < visible.size(); ++i)
        for (int j = i + 1; j < visible.size(); ++j) {
            QWidget *a = visible[i];
            QWidget *b = visible[j];
            const bool statusOverlay =
                (a->objectName() == "groupBox" && overlayOnStatus.contains(b->objectName())) ||
                (b->objectName() == "groupBox" && overlayOnStatus.contains(a->objectName()));
            if (!statusOverlay)
                QVERIFY2(!a->geometry().intersects(b->geometry()),
                         qPrintable(a->objectName() + " / " + b->objectName()));
        }
    const QRect centralArea(0, 0, 1000, 785 - 20); // under the menu bar
    for (QWidget *w2 : visible)
        QVERIFY2(centralArea.contains(w2->geometry()), qPrintable(w2->objectName()));

    // The plate-size buttons the model keeps stand side by side without holes.
    QList<QWidget *> plates;
    for (const char *name : {"radioButtonGrid", "radioButtonIP2040", "radioButtonIP2340",
                             "radioButtonIP3543", "radioButtonIP2025", "radioButtonIP2325"})
        if (!Child<QWidget>(*w, name)->isHidden())
            plates << Child<QWidget>(*w, name);
    for (int i = 1; i < plates.size(); ++i)
        QCOMPARE(plates[i]->x() - plates[i - 1]->x(), plates[1]->x() - plates[0]->x());
}

void TestMainWindowStartup::defaultsWithoutTemplates_data()
{
    gapsClosedAndNothingOverlaps_data();
}

void TestMainWindowStartup::defaultsWithoutTemplates()
{
    QFETCH(int, model);
    auto w = StartModel(model);

    QCOMPARE(templatecount, 0);
    QVERIFY(Child<QAbstractButton>(*w, "radioButton_IPmode")->isChecked());
    QVERIFY(Child<QAbstractButton>(*w, "radioButtonGrid")->isChecked());
    // The VESK-5000 offers no 200 um: its start-up default falls back to 100 um.
    const char *resolutionButton =
        model == kModelVESK5000 ? "radioButton_Res100" : "radioButton_Res200";
    QVERIFY(Child<QAbstractButton>(*w, resolutionButton)->isChecked());
    QCOMPARE(scanTemplate[0].resolution, 200);
    QCOMPARE(scancornerL, QPointF(0, 0));
    QCOMPARE(scancornerR, QPointF(0, 0));
    QCOMPARE(scancornerC, QPointF(0, 0));
    QCOMPARE(FlaggedTiles(), QList<QPoint>{QPoint(0, 0)});
    QGraphicsScene *scene = Child<QGraphicsView>(*w, "graphicsView_ScanArea")->scene();
    QVERIFY(scene);
    QCOMPARE(item[0][0]->scene(), scene);
    QVERIFY(!item[1][0]->scene());
    QCOMPARE(image_dir, root->path("/home"));
    const bool at100 = model == kModelVESK5000;
    QCOMPARE(Child<QLabel>(*w, "labelScanTime")->text(),
             at100 ? QStringLiteral("Read time: 39sec") : QStringLiteral("Read time: 37sec"));
    QCOMPARE(Child<QLabel>(*w, "labelFileSize")->text(),
             at100 ? QStringLiteral("File size: 0.1 MB") : QStringLiteral("File size: 0.0 MB"));
    QCOMPARE(scanDur.num, 1);
    QCOMPARE(scanDur.resolution, at100 ? 100 : 200);
    // IP mode scans at a fixed high voltage and a fixed laser and filter.
    QVERIFY(!Child<QSpinBox>(*w, "spinBox_HVch1")->isEnabled());
    QVERIFY(!Child<QComboBox>(*w, "comboBox_FilterCh1")->isEnabled());
    QVERIFY(!Child<QComboBox>(*w, "comboBox_Laser1")->isEnabled());
    if (model == kModelVESK5000) {
        QVERIFY(Child<QAbstractButton>(*w, "radioButton5")->isChecked());
        QVERIFY(Child<QAbstractButton>(*w, "radioButton30000")->isChecked());
        QVERIFY(!Child<QAbstractButton>(*w, "radioButton1000")->isEnabled());
    }
}

struct RestoreCase {
    int model, mode, area;
    QPoint L, R;
    int resolution, filter;
    const char *modeButton, *areaButton; // after "radioButton"
    int shownResolution;
    bool hvEditable, laserAndFilterEditable;
    const char *readTime, *fileSize;
};
Q_DECLARE_METATYPE(RestoreCase)

void TestMainWindowStartup::settingsRestoredFromTemplates_data()
{
    QTest::addColumn<RestoreCase>("t");
    QTest::newRow("fluorescence 3x3 tiles at 50um") << RestoreCase{kModelKIREL5,
                                                                   kModeFluorescence,
                                                                   kAreaGrid,
                                                                   {2, 3},
                                                                   {4, 5},
                                                                   50,
                                                                   2,
                                                                   "_FluorescenceMode",
                                                                   "Grid",
                                                                   50,
                                                                   true,
                                                                   true,
                                                                   "1min 47sec",
                                                                   "4.6 MB"};
    QTest::newRow("IP 20x40 plate at 100um")
        << RestoreCase{kModelKIREL5, kModeIP,  kArea2040, {0, 8}, {15, 15}, 100,         1,
                       "_IPmode",    "IP2040", 100,       false,  false,    "9min 7sec", "16.4 MB"};
    QTest::newRow("IP-V whole bed at 25um over an hour") << RestoreCase{
        kModelKIREL5, kModeIPV, kAreaGrid, {0, 0}, {17, 15},           25,        3, "_IPVmode",
        "Grid",       25,       true,      false,  "1hrs 17min 23sec", "588.8 MB"};
    QTest::newRow("digitizing one tile at 25um") << RestoreCase{
        kModelKIREL5,      kModeDigitizing, kArea2325, {5, 5}, {5, 5}, 25,      0,
        "_DigitizingMode", "IP2325",        25,        true,   true,   "51sec", "2.0 MB"};
    QTest::newRow("damaged resolution scans at 200um") << RestoreCase{kModelKIREL5,
                                                                      kModeFluorescence,
                                                                      kAreaGrid,
                                                                      {0, 0},
                                                                      {0, 0},
                                                                      0,
                                                                      0,
                                                                      "_FluorescenceMode",
                                                                      "Grid",
                                                                      200,
                                                                      true,
                                                                      true,
                                                                      "37sec",
                                                                      "0.0 MB"};
    QTest::newRow("damaged filter position selects the first") << RestoreCase{kModelKIREL5,
                                                                              kModeFluorescence,
                                                                              kAreaGrid,
                                                                              {0, 0},
                                                                              {0, 0},
                                                                              200,
                                                                              7,
                                                                              "_FluorescenceMode",
                                                                              "Grid",
                                                                              200,
                                                                              true,
                                                                              true,
                                                                              "37sec",
                                                                              "0.0 MB"};
    QTest::newRow("KIREL-3000 fluorescence 20x25") << RestoreCase{
        kModelKIREL3,        kModeFluorescence, kArea2025, {0, 0}, {9, 7}, 100,          1,
        "_FluorescenceMode", "IP2025",          100,       true,   true,   "5min 55sec", "10.2 MB"};
    QTest::newRow("VESK-1800II 20x25 at 50um") << RestoreCase{
        kModelVESK1800, kModeIP, kArea2025, {0, 0}, {9, 7},        50,       0, "_IPmode",
        "IP2025",       50,      false,     false,  "11min 15sec", "40.9 MB"};
}

void TestMainWindowStartup::settingsRestoredFromTemplates()
{
    QFETCH(RestoreCase, t);
    const QPoint L = t.L, R = t.R;
    ScanTempl file =
        Startup(t.mode, t.area, L, R, QPointF((L.x() + R.x()) / 2, (L.y() + R.y()) / 2 + 1));
    file.resolution = t.resolution;
    file.filterCh1 = file.filterCh2 = t.filter;
    file.HVch1 = 600;
    QVERIFY(root->writeFile(TemplatesFixedPath(t.model), StartupFile(file)));

    auto w = StartModel(t.model);
    QCOMPARE(templatecount, 1);
    for (const QString &button : {QLatin1String("radioButton") + QLatin1String(t.modeButton),
                                  QLatin1String("radioButton") + QLatin1String(t.areaButton),
                                  QStringLiteral("radioButton_Res%1").arg(t.shownResolution)})
        QVERIFY2(Child<QAbstractButton>(*w, button)->isChecked(), qPrintable(button));
    QCOMPARE(scancornerL, QPointF(L));
    QCOMPARE(scancornerR, QPointF(R));
    QCOMPARE(scancornerC, file.scancornerC);
    QCOMPARE(FlaggedTiles(), TilesBetween(L, R));
    QCOMPARE(image_dir, file.folder);
    QCOMPARE(Child<QLabel>(*w, "labelFolder")->text(), file.folder);
    QCOMPARE(scan_HVch1, 600);
    auto *hv = Child<QSpinBox>(*w, "spinBox_HVch1");
    QCOMPARE(hv->value(), 600);
    QCOMPARE(Child<QSlider>(*w, "horizontalSlider_HVch1")->value(), 600);
    QCOMPARE(hv->isEnabled(), t.hvEditable && t.mode != kModeIP);
    QCOMPARE(Child<QComboBox>(*w, "comboBox_FilterCh1")->isEnabled(), t.laserAndFilterEditable);
    QCOMPARE(Child<QComboBox>(*w, "comboBox_Laser1")->isEnabled(), t.laserAndFilterEditable);
    const int position = t.filter >= 0 && t.filter < kTrayPositions ? t.filter : 0;
    QCOMPARE(Child<QComboBox>(*w, "comboBox_FilterCh1")->currentIndex(), position);
    QCOMPARE(Child<QComboBox>(*w, "comboBox_FilterCh2")->currentIndex(), position);
    QCOMPARE(Child<QLabel>(*w, "labelScanTime")->text(),
             QLatin1String("Read time: ") + QLatin1String(t.readTime));
    QCOMPARE(Child<QLabel>(*w, "labelFileSize")->text(),
             QLatin1String("File size: ") + QLatin1String(t.fileSize));
    QCOMPARE(scanDur.num, (R.x() - L.x() + 1) * (R.y() - L.y() + 1));
}

// A template made for the KIREL-5000/5100's large bed, loaded on the VESK-1800II: every
// tile of the rectangle keeps its flag, only those on the reader's bed are drawn.
void TestMainWindowStartup::tilesBeyondTheBedAreFlaggedButNotDrawn()
{
    QVERIFY(root->writeFile(TemplatesFixedPath(kModelVESK1800),
                            StartupFile(Startup(kModeIP, kArea3543, {0, 2}, {16, 16}, {8, 8}))));

    auto w = StartModel(kModelVESK1800);
    QCOMPARE(FlaggedTiles(), TilesBetween(QPoint(0, 2), QPoint(16, 15)));
    QGraphicsScene *scene = Child<QGraphicsView>(*w, "graphicsView_ScanArea")->scene();
    for (int c = 0; c < kTileColumns; ++c)
        for (int r = 0; r < kTileRows; ++r) {
            const bool onBed = c < 10 && r < 9 && !(c == 0 && (r == 7 || r == 8));
            QCOMPARE(item[c][r]->scene() == scene, onBed && tileflag[c][r] == 1);
        }
    QVERIFY(scene->sceneRect().contains(scene->itemsBoundingRect()));
}

void TestMainWindowStartup::cutCornerTilesShowTheirShapes()
{
    QVERIFY(root->writeFile(TemplatesFixedPath(kModelVESK1800),
                            StartupFile(Startup(kModeIP, kAreaGrid, {0, 6}, {1, 8}, {0, 8}))));

    auto w = StartModel(kModelVESK1800);
    QGraphicsScene *scene = Child<QGraphicsView>(*w, "graphicsView_ScanArea")->scene();
    QVERIFY(!item[0][7]->scene());
    QVERIFY(!item[0][8]->scene());
    QCOMPARE(item[0][6]->scene(), scene);
    QCOMPARE(item[1][7]->scene(), scene);
    QCOMPARE(item[0][6]->pos(), QPointF(-153, 68));
    for (QGraphicsPathItem *corner : {corner2aGraphic, corner2bGraphic})
        QVERIFY(corner && corner->scene() == scene && corner->pos() == QPointF(-153, 102));
    for (QGraphicsPathItem *corner : {corner3aGraphic, corner3bGraphic})
        QVERIFY(corner && corner->scene() == scene && corner->pos() == QPointF(-153, 136));
    // Red triangle and green pentagon together fill the tile's square.
    QCOMPARE(corner2aGraphic->brush().color(), QColor(Qt::red));
    QCOMPARE(corner2bGraphic->brush().color(), QColor(Qt::green));
    QCOMPARE(corner2aGraphic->path().boundingRect().united(corner2bGraphic->path().boundingRect()),
             QRectF(-17, -17, 34, 34));
}

void TestMainWindowStartup::notConnectedUntilThePollFindsTheScanner_data()
{
    gapsClosedAndNothingOverlaps_data();
}

void TestMainWindowStartup::notConnectedUntilThePollFindsTheScanner()
{
    QFETCH(int, model);
    // Stale run state from before must not survive start-up.
    ResetSharedState(model);
    scannerconfig[28] = 1;
    LDconfig[0] = 1;
    LD685status = 1;
    newscansetup.lastsensekey = 6;
    auto w = std::make_unique<MainWindow>();

    auto *scan = Child<QPushButton>(*w, "pushButton_Scan");
    QVERIFY(!scan->isEnabled());
    QVERIFY(scan->isDefault());
    QCOMPARE(scan->styleSheet(),
             QStringLiteral("QPushButton { background-color : rgba(255,0,0,125); }"));
    auto *status = Child<QLabel>(*w, "labelstatus");
    QCOMPARE(status->text(), QStringLiteral("No connection - Power off?"));
    QCOMPARE(status->styleSheet(), QStringLiteral("QLabel { background-color : red; }"));
    auto *toggle = Child<QPushButton>(*w, "pushButton_LD685toggle");
    QCOMPARE(toggle->text(), QStringLiteral("LD685 IS OFF"));
    QVERIFY(toggle->isHidden());
    QCOMPARE(KIREL5connectStatus, -1);
    QCOMPARE(scanpassnumber, -1);
    QCOMPARE(logeventnumber, 1);
    QCOMPARE(LD685status, 0);
    QCOMPARE(int(scannerconfig[28]), 0);
    QCOMPARE(int(LDconfig[0]), 0);
    QCOMPARE(newscansetup.lastsensekey, 0);
    QCOMPARE(ScannerType, model);

    bool polling = false;
    for (QTimer *timer : w->findChildren<QTimer *>())
        polling =
            polling || (timer->isActive() && timer->interval() == 500 && !timer->isSingleShot());
    QVERIFY(polling);
}

void TestMainWindowStartup::laserLists_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QStringList>("channel1");
    QTest::newRow("KIREL-5000/5100: filled by the poll") << int(kModelKIREL5) << QStringList{};
    QTest::newRow("KIREL-3000: three fixed lasers")
        << int(kModelKIREL3) << QStringList{"635nm", "532nm", "473nm"};
    QTest::newRow("VESK-5000: none") << int(kModelVESK5000) << QStringList{};
}

void TestMainWindowStartup::laserLists()
{
    QFETCH(int, model);
    QFETCH(QStringList, channel1);
    auto w = StartModel(model);

    auto *laser1 = Child<QComboBox>(*w, "comboBox_Laser1");
    QCOMPARE(ComboTexts(laser1), channel1);
    for (int i = 0; i < laser1->count(); ++i)
        QVERIFY(!laser1->itemIcon(i).isNull());
    auto *laser2 = Child<QComboBox>(*w, "comboBox_Laser2");
    QCOMPARE(ComboTexts(laser2), (QStringList{"473nm", "532nm", "635nm", "670nm", "685nm"}));
    for (int i = 0; i < laser2->count(); ++i)
        QVERIFY(!laser2->itemIcon(i).isNull());
    const QStringList wavelengths = {"685", "473", "532", "635", "635"};
    for (int i = 0; i < wavelengths.size(); ++i)
        QCOMPARE(laserCh1wavelength[i], wavelengths[i]);
}

void TestMainWindowStartup::kirel3ShowsItsFixedTray()
{
    QVERIFY(root->writeFile(
        FilterTrayFixedPath(),
        ModulesBytes({Module("M1", 999, "X999", 510, "C2a", 0), Module("M2", 0, "", 0, "", 0),
                      Module("M3", 111, "X111", 600, "C2c", 0),
                      Module("M4", 222, "X222", 0, "", 0)})));

    auto w = StartModel(kModelKIREL3);
    auto *filter1 = Child<QComboBox>(*w, "comboBox_FilterCh1");
    QCOMPARE(ComboTexts(filter1), (QStringList{"IP", "R R665", "G O575", "B Y520"}));
    const QStringList icons = {":/img/KIREL5-Filter-Y510_i.png", ":/img/KIREL5-Filter-R665_i.png",
                               ":/img/KIREL5-Filter-O575_i.png", ":/img/KIREL5-Filter-Y510_i.png"};
    for (int i = 0; i < kTrayPositions; ++i) {
        QCOMPARE(iconnameCh1Pos[i], icons[i]);
        QVERIFY(!filter1->itemIcon(i).isNull());
    }
    // Channel 2 of the tray is not fixed: it keeps what the file holds.
    QCOMPARE(ComboTexts(Child<QComboBox>(*w, "comboBox_FilterCh2")),
             (QStringList{"C2a", "", "C2c", ""}));
}

void TestMainWindowStartup::emptyTrayPositionShowsNoIconAndNoText()
{
    QVERIFY(root->writeFile(
        FilterTrayFixedPath(),
        ModulesBytes({Module("LPY", 520, "Y520", 0, "", 0), Module("EMPTY", 0, "", 0, "", 0),
                      Module("LPO", 575, "O575", 0, "", 0),
                      Module("LPR", 670, "R670", 0, "", 0)})));

    auto w = StartModel(kModelKIREL5);
    auto *filter1 = Child<QComboBox>(*w, "comboBox_FilterCh1");
    QCOMPARE(ComboTexts(filter1), (QStringList{"Y520", "", "O575", "R670"}));
    QVERIFY(filter1->itemIcon(1).isNull());
    QVERIFY(iconnameCh1Pos[1].isEmpty());
    for (int i : {0, 2, 3})
        QVERIFY(!filter1->itemIcon(i).isNull());
    auto *filter2 = Child<QComboBox>(*w, "comboBox_FilterCh2");
    QCOMPARE(filter2->count(), kTrayPositions);
    for (int i = 0; i < kTrayPositions; ++i)
        QVERIFY(filter2->itemIcon(i).isNull());
    // Choosing a tray position on one channel chooses it on the other.
    filter1->setCurrentIndex(3);
    QCOMPARE(filter2->currentIndex(), 3);
    filter2->setCurrentIndex(2);
    QCOMPARE(filter1->currentIndex(), 2);
}

void TestMainWindowStartup::logFilesCreatedAtStartup_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("boot");
    QTest::addColumn<QString>("bootHeader");
    QTest::newRow("KIREL-5000/5100") << int(kModelKIREL5) << "/home/pi/KIREL5-IR/KIREL5_boot.log"
                                     << "KIREL-5000/5100 BOOT LOG - ";
    QTest::newRow("KIREL-3000") << int(kModelKIREL3) << "/home/pi/KIREL3-IR/KIREL3_boot.log"
                                << "KIREL-3000 BOOT LOG - ";
    QTest::newRow("VESK-5000") << int(kModelVESK5000) << "/home/pi/VESK-IR/VESK_boot.log"
                               << "VESK-5000 BOOT LOG - ";
    QTest::newRow("VESK-1800II") << int(kModelVESK1800) << "/home/pi/VESK-IR/VESK_boot.log"
                                 << "VESK-1802 BOOT LOG - ";
}

void TestMainWindowStartup::logFilesCreatedAtStartup()
{
    QFETCH(int, model);
    QFETCH(QString, boot);
    QFETCH(QString, bootHeader);
    auto w = StartModel(model);

    QVERIFY(root->readFile(boot).startsWith(bootHeader.toLatin1()));
    const QString dir = ModelDataDir(model);
    for (const char *kind : {"error", "scan"}) {
        bool found = false;
        for (const QString &name : QDir(root->path(dir)).entryList(QDir::Files))
            found = found || name.endsWith(QStringLiteral("_%1.log").arg(QLatin1String(kind)));
        QVERIFY2(found, kind);
    }
}

void TestMainWindowStartup::scanAreaViewPlacesSceneOriginForTheClickArithmetic_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QPoint>("origin");
    QTest::newRow("KIREL-5000/5100") << int(kModelKIREL5) << QPoint(501, 241);
    QTest::newRow("KIREL-3000") << int(kModelKIREL3) << QPoint(501, 239);
    QTest::newRow("VESK-5000") << int(kModelVESK5000) << QPoint(501, 242);
    QTest::newRow("VESK-1800II") << int(kModelVESK1800) << QPoint(491, 234);
}

// The click-to-tile arithmetic works in window pixels with offsets of its own per model:
// scene point (0, 0) must sit where they put it, so that for instance the KIREL-5000/5100's
// tile (0, 0) covers window x 321..340, y 81..100. (The tests of the area selection click
// every tile.)
void TestMainWindowStartup::scanAreaViewPlacesSceneOriginForTheClickArithmetic()
{
    QFETCH(int, model);
    QFETCH(QPoint, origin);
    auto w = StartModel(model);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));

    auto *view = Child<QGraphicsView>(*w, "graphicsView_ScanArea");
    QCOMPARE(view->sceneRect(), QRectF(-250, -170, 500, 400));
    auto toWindow = [&](QPointF scenePoint) {
        return view->viewport()->mapTo(w.get(), view->mapFromScene(scenePoint));
    };
    QCOMPARE(toWindow(QPointF(0, 0)), origin);
    QCOMPARE(toWindow(QPointF(-180, -160)), origin + QPoint(-180, -160));
    // The whole bed picture is inside the view.
    QVERIFY(view->viewport()->rect().contains(
        view->mapFromScene(view->scene()->itemsBoundingRect()).boundingRect()));
}

QTEST_MAIN(TestMainWindowStartup)
#include "tst_mainwindow_startup.moc"
