// Start-up of the main window for each scanner model: the form, the settings restored from
// the templates or their defaults, the filter lists and the scan-area picture.
#include "logfiles.h"
#include "mainwindow.h"
#include "scanstate.h"
#include "scantile.h"
#include "settingssupport.h"
#include "stationfixture.h"
#include "stationpaths.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFileInfo>
#include <QGraphicsPathItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QGraphicsView>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <limits>
#include <memory>

class TestMainWindowStartup : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempStationRoot> root;

private slots:
    void init()
    {
        root = std::make_unique<TempStationRoot>();
        QVERIFY(root->isValid());
    }
    void cleanup() { root.reset(); }

    void firstStartPerModel_data();
    void firstStartPerModel();
    void settingsRestoredFromTemplates_data();
    void settingsRestoredFromTemplates();
};

static QStringList Names(const char *names)
{
    return QString::fromLatin1(names).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

void TestMainWindowStartup::firstStartPerModel_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("banner");
    QTest::addColumn<QString>("statusHeading");
    QTest::addColumn<QStringList>("hidden");
    QTest::addColumn<QStringList>("checkedAndLocked");
    QTest::addColumn<QPoint>("origin"); // where scene point (0, 0) sits in the window

    // Every control each model hides, whole: a control a list forgets stays on the form.
    const QStringList alwaysHidden = Names("pushButton_LD685toggle pushButton_Config");
    const QStringList veskHidden =
        alwaysHidden + Names("groupBox_ScanMode pushButtonTemplates pushButtonTemplateSave "
                             "radioButtonIP2040 radioButtonIP2340 radioButtonIP3543 "
                             "groupBox_Channel1 groupBox_Channel2 checkBox_enableCh1 "
                             "checkBox_enableCh2 label label_2 label_3 labelLDmonitor "
                             "labelLDtemperature");
    const QStringList fixedReading =
        Names("radioButton radioButton1000 radioButton10000 radioButton30000");

    QTest::newRow("KIREL-5000/5100")
        << int(kModelKIREL5) << "KIREL5 IMAGE READER"
        << "KIREL-5100 "
        << "Lasers"
        << alwaysHidden + Names("groupBoxScanLatitude groupBoxScanSensitivity label_statuslog "
                                "label_scannercondition")
        << QStringList{} << QPoint(501, 241);
    QTest::newRow("KIREL-3000")
        << int(kModelKIREL3) << "KIREL3 IMAGE READER"
        << "KIREL-3000 "
        << "Status Log"
        << alwaysHidden + fixedReading +
               Names("radioButton_IPVmode radioButton_DigitizingMode pushButtonTemplates "
                     "pushButtonTemplateSave radioButton_Res25 radioButtonIP3543 "
                     "groupBox_Channel2 checkBox_enableCh1 checkBox_enableCh2 label_3 "
                     "labelLDmonitor labelLDtemperature spinBox_HVch1 horizontalSlider_HVch1")
        << Names("radioButton5 radioButton4000") << QPoint(501, 239);
    // The VESK-5000 writes no line at 200 um: that button goes too.
    QTest::newRow("VESK-5000") << int(kModelVESK5000) << "VESK IMAGE READER"
                               << "VESK-5000 "
                               << "Status Log"
                               << veskHidden + Names("radioButtonIP2325 radioButton_Res200")
                               << QStringList{} << QPoint(501, 242);
    QTest::newRow("VESK-1800II") << int(kModelVESK1800) << "VESK IMAGE READER"
                                 << "VESK-1800II "
                                 << "Status Log"
                                 << veskHidden + fixedReading + Names("radioButton_Res25")
                                 << Names("radioButton5 radioButton4000") << QPoint(491, 234);
}

// A first start of each model over stale run state: the form, the defaults, the logs, the "not
// connected yet" state with the poll running, and the scan-area view where the click
// arithmetic's window pixels expect it (the KIREL-5000/5100's tile (0, 0): x 321..340, y 81..100).
void TestMainWindowStartup::firstStartPerModel()
{
    QFETCH(int, model);
    QFETCH(QString, title);
    QFETCH(QString, banner);
    QFETCH(QString, statusHeading);
    QFETCH(QStringList, hidden);
    QFETCH(QStringList, checkedAndLocked);
    QFETCH(QPoint, origin);
    ResetSharedState(model);
    scannerconfig[28] = 1;
    LDconfig[0] = 1;
    LD685status = 1;
    newscansetup.lastsensekey = 6;
    auto w = std::make_unique<MainWindow>();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));

    QCOMPARE(w->windowTitle(), title);
    QCOMPARE(Child<QLabel>(*w, "labelbannerR")->text(), banner);
    QCOMPARE(Child<QLabel>(*w, "labellasers")->text(), statusHeading);
    QCOMPARE(w->size(), QSize(1000, 785));
    for (const QString &name : hidden)
        QVERIFY2(w->findChild<QWidget *>(name)->isHidden(), qPrintable(name));
    for (const QString &name : checkedAndLocked) {
        auto *button = w->findChild<QAbstractButton *>(name);
        QVERIFY2(button->isChecked() && !button->isEnabled(), qPrintable(name));
    }
    if (model == kModelKIREL3)
        QCOMPARE(Child<QGroupBox>(*w, "groupBox_Channel1")->title(),
                 QStringLiteral("Laser and Filter"));

    // The groups a model keeps are stacked without holes.
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

    QCOMPARE(templatecount, 0);
    QVERIFY(Child<QAbstractButton>(*w, "radioButton_IPmode")->isChecked());
    QVERIFY(Child<QAbstractButton>(*w, "radioButtonGrid")->isChecked());
    // The VESK-5000 offers no 200 um: its start-up default falls back to 100 um.
    const char *resolutionButton =
        model == kModelVESK5000 ? "radioButton_Res100" : "radioButton_Res200";
    QVERIFY(Child<QAbstractButton>(*w, resolutionButton)->isChecked());
    QCOMPARE(scanTemplate[0].resolution, 200);
    QCOMPARE(scancornerR, QPointF(0, 0));
    QCOMPARE(FlaggedTiles(), QList<QPoint>{QPoint(0, 0)});
    QCOMPARE(image_dir, root->path("/home"));
    QCOMPARE(Child<QLabel>(*w, "labelScanTime")->text(), model == kModelVESK5000
                                                             ? QStringLiteral("Read time: 39sec")
                                                             : QStringLiteral("Read time: 37sec"));
    // IP mode scans at a fixed high voltage and a fixed laser and filter.
    QVERIFY(!Child<QSpinBox>(*w, "spinBox_HVch1")->isEnabled());
    QVERIFY(!Child<QComboBox>(*w, "comboBox_Laser1")->isEnabled());
    if (model == kModelVESK5000) {
        QVERIFY(Child<QAbstractButton>(*w, "radioButton5")->isChecked());
        QVERIFY(Child<QAbstractButton>(*w, "radioButton30000")->isChecked());
        QVERIFY(!Child<QAbstractButton>(*w, "radioButton1000")->isEnabled());
    }
    for (const QString &log : {BootLogPath(), ErrorLogPath(), ScanLogPath()})
        QVERIFY2(QFileInfo::exists(log), qPrintable(log));

    // Not connected until the poll finds the scanner; nothing of a run before survives.
    QVERIFY(!Child<QPushButton>(*w, "pushButton_Scan")->isEnabled());
    QCOMPARE(Child<QLabel>(*w, "labelstatus")->text(),
             QStringLiteral("No connection - Power off?"));
    QCOMPARE(KIREL5connectStatus, -1);
    QCOMPARE(scanpassnumber, -1);
    QCOMPARE(logeventnumber, 1);
    QCOMPARE(LD685status, 0);
    QCOMPARE(int(scannerconfig[28]), 0);
    QCOMPARE(int(LDconfig[0]), 0);
    QCOMPARE(newscansetup.lastsensekey, 0);
    bool polling = false;
    for (QTimer *timer : w->findChildren<QTimer *>())
        polling =
            polling || (timer->isActive() && timer->interval() == 500 && !timer->isSingleShot());
    QVERIFY(polling);

    // Choosing a tray position on one channel chooses it on the other.
    auto *filter1 = Child<QComboBox>(*w, "comboBox_FilterCh1");
    auto *filter2 = Child<QComboBox>(*w, "comboBox_FilterCh2");
    filter1->setCurrentIndex(3);
    QCOMPARE(filter2->currentIndex(), 3);
    filter2->setCurrentIndex(2);
    QCOMPARE(filter1->currentIndex(), 2);

    auto *view = Child<QGraphicsView>(*w, "graphicsView_ScanArea");
    QCOMPARE(item[0][0]->scene(), view->scene());
    QCOMPARE(view->viewport()->mapTo(w.get(), view->mapFromScene(QPointF(0, 0))), origin);
    // The KIREL-5000/5100's rows, numbered from the bottom up, are labelled on both sides of
    // the bed; the two-digit numbers stand 5 further left, so that they clear the bed.
    if (model != kModelKIREL5)
        return;
    QMultiMap<QString, QPointF> labels;
    QList<QRectF> rects;
    QPainterPath handle;
    for (QGraphicsItem *graphic : view->scene()->items()) {
        if (auto *text = qgraphicsitem_cast<QGraphicsTextItem *>(graphic))
            labels.insert(text->toPlainText(), text->pos());
        if (auto *rect = qgraphicsitem_cast<QGraphicsRectItem *>(graphic))
            rects << rect->rect();
        if (auto *path = qgraphicsitem_cast<QGraphicsPathItem *>(graphic))
            handle = path->path();
    }
    // Under the bed, the two small blocks and the tray handle with its rounded lower corners.
    QVERIFY(rects.contains(QRectF(-54, 183, 10, 15)) && rects.contains(QRectF(46, 183, 10, 15)));
    QVERIFY(handle.contains(QPointF(-49, 214)) && handle.contains(QPointF(51, 214)));
    for (int n = 1; n <= 16; ++n) {
        const QString number = QString::number(n);
        const QPointF left(n < 10 ? -195 : -200, 138 - 20 * (n - 1));
        QCOMPARE(labels.count(number), 2);
        QVERIFY2(labels.contains(number, left), qPrintable(number));
        QVERIFY2(labels.contains(number, left + QPointF(380, 0)), qPrintable(number));
    }
}

struct RestoreCase {
    int model, mode, area;
    QPointF L, R;
    int resolution, filter;
    const char *modeButton, *areaButton; // after "radioButton"
    int shownResolution;
};
Q_DECLARE_METATYPE(RestoreCase)

void TestMainWindowStartup::settingsRestoredFromTemplates_data()
{
    QTest::addColumn<RestoreCase>("t");
    const auto row = [](const char *tag, int model, int mode, int area, QPointF L, QPointF R,
                        int res, int filter, const char *modeButton, const char *areaButton,
                        int shownRes) {
        QTest::newRow(tag) << RestoreCase{model, mode,   area,       L,          R,
                                          res,   filter, modeButton, areaButton, shownRes};
    };
    row("fluorescence 3x3 tiles at 50um", kModelKIREL5, kModeFluorescence, kAreaGrid, {2, 3},
        {4, 5}, 50, 2, "_FluorescenceMode", "Grid", 50);
    row("IP 20x40 plate at 100um", kModelKIREL5, kModeIP, kArea2040, {0, 8}, {15, 15}, 100, 1,
        "_IPmode", "IP2040", 100);
    row("IP-V whole bed at 25um", kModelKIREL5, kModeIPV, kAreaGrid, {0, 0}, {17, 15}, 25, 3,
        "_IPVmode", "Grid", 25);
    row("damaged resolution scans at 200um", kModelKIREL5, kModeFluorescence, kAreaGrid, {0, 0},
        {0, 0}, 0, 0, "_FluorescenceMode", "Grid", 200);
    row("damaged filter position selects the first", kModelKIREL5, kModeFluorescence, kAreaGrid,
        {0, 0}, {0, 0}, 200, 7, "_FluorescenceMode", "Grid", 200);
    row("KIREL-3000 fluorescence 20x25", kModelKIREL3, kModeFluorescence, kArea2025, {0, 0}, {9, 7},
        100, 1, "_FluorescenceMode", "IP2025", 100);
    // A resolution the model does not read gives way to its coarsest one. The two readers
    // share their data folder, so a VESK-5000's 25 um reaches the VESK-1800II.
    row("VESK-1800II reads no 25um: 200um", kModelVESK1800, kModeIP, kArea2025, {0, 0}, {9, 7}, 25,
        0, "_IPmode", "IP2025", 200);
    row("VESK-5000 reads no 200um: 100um", kModelVESK5000, kModeIP, kArea2025, {0, 0}, {9, 7}, 200,
        0, "_IPmode", "IP2025", 100);
    // A 35x43cm plate whose corner is no number or lies off the model's bed is no area: the
    // station starts on the default one, the first tile of the grid.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char *tag;
        int model;
        QPointF L, R;
    } offBed[] = {{"NaN", kModelKIREL5, {nan, 0}, {1, 1}},
                  {"-1e300", kModelKIREL5, {-1e300, 0}, {1, 1}},
                  {"(40, 15): 1025 mm wide on a 460 mm bed", kModelKIREL5, {0, 0}, {40, 15}},
                  {"left corner right of the right one", kModelKIREL5, {5, 0}, {1, 1}},
                  // The KIREL-5000/5100's plate reaches past the reader's 10 x 9 tiles.
                  {"35x43 plate on the VESK-1800II", kModelVESK1800, {0, 2}, {16, 16}}};
    for (const auto &o : offBed)
        row(o.tag, o.model, kModeIP, kArea3543, o.L, o.R, 200, 0, "_IPmode", "Grid", 200);
}

void TestMainWindowStartup::settingsRestoredFromTemplates()
{
    QFETCH(RestoreCase, t);
    const bool offBed = t.area != kAreaGrid && t.areaButton == QLatin1String("Grid");
    const QPoint L = offBed ? QPoint(0, 0) : t.L.toPoint(),
                 R = offBed ? QPoint(0, 0) : t.R.toPoint();
    // The "startup" record, then the empty name that ends the list.
    ScanTempl file;
    file.name = QStringLiteral("startup");
    file.mode = t.mode;
    file.area = t.area;
    file.scancornerL = t.L;
    file.scancornerR = t.R;
    file.scancornerC = offBed ? t.L : QPointF((L.x() + R.x()) / 2, (L.y() + R.y()) / 2 + 1);
    file.resolution = t.resolution;
    file.filterCh1 = file.filterCh2 = t.filter;
    file.HVch1 = 600;
    file.folder = QStringLiteral("/data/scans");
    QVERIFY(root->writeFile(TemplatesFixedPath(t.model),
                            TemplateBytes(file) + StringBytes(QLatin1String(""))));

    auto w = MainWindowStart(t.model, true);
    QCOMPARE(templatecount, 1);
    for (const QString &button : {QLatin1String("radioButton") + QLatin1String(t.modeButton),
                                  QLatin1String("radioButton") + QLatin1String(t.areaButton),
                                  QStringLiteral("radioButton_Res%1").arg(t.shownResolution)})
        QVERIFY2(Child<QAbstractButton>(*w, button)->isChecked(), qPrintable(button));
    QCOMPARE(scancornerL, QPointF(L));
    QCOMPARE(scancornerR, QPointF(R));
    QCOMPARE(scancornerC, offBed ? QPointF(0, 0) : file.scancornerC);
    QCOMPARE(FlaggedTiles(), TilesBetween(L, R));
    QCOMPARE(scanDur.num, (R.x() - L.x() + 1) * (R.y() - L.y() + 1));
    QCOMPARE(scanDur.resolution, t.shownResolution);
    QCOMPARE(Child<QLabel>(*w, "labelFolder")->text(), file.folder);
    QCOMPARE(scan_HVch1, 600);
    // IP mode fixes the voltage; IP and IP-V fix the laser and the filter.
    auto *hv = Child<QSpinBox>(*w, "spinBox_HVch1");
    QCOMPARE(hv->value(), 600);
    QCOMPARE(hv->isEnabled(), t.mode != kModeIP);
    QCOMPARE(Child<QComboBox>(*w, "comboBox_Laser1")->isEnabled(),
             t.mode != kModeIP && t.mode != kModeIPV);
    const int position = t.filter >= 0 && t.filter < kTrayPositions ? t.filter : 0;
    QCOMPARE(Child<QComboBox>(*w, "comboBox_FilterCh1")->currentIndex(), position);
    QCOMPARE(Child<QComboBox>(*w, "comboBox_FilterCh2")->currentIndex(), position);
}

QTEST_MAIN(TestMainWindowStartup)
#include "tst_mainwindow_startup.moc"
