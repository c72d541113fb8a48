// The main window's side of the settings: "System Settings" rebuilding the filter selectors
// after a saved tray, and "Save as Template" capturing the settings before the template
// dialog and applying a template loaded there.
#include "mainwindow.h"
#include "scantile.h"

#include "configdialog.h"
#include "scanstate.h"
#include "settingssupport.h"
#include "stationfixture.h"
#include "templatesdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGraphicsItem>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

#include <memory>

namespace
{

constexpr int kModel = kModelKIREL5;

const QString kOrange = QStringLiteral(":/img/KIREL5-Filter-O575_i.png");
const QString kRed = QStringLiteral(":/img/KIREL5-Filter-R665_i.png");

ScanTempl Templ(const QString &name, int mode, int area, int resolution, QPointF l, QPointF r,
                int filterPosition, int HV, const QString &folder)
{
    ScanTempl t;
    t.name = name;
    t.comment = QLatin1String("");
    t.mode = mode;
    t.area = area;
    t.scancornerL = l;
    t.scancornerR = r;
    t.scancornerC = QPointF(l.x() + int((r.x() - l.x()) / 2), l.y() + int((r.y() - l.y()) / 2) + 1);
    t.resolution = resolution;
    t.filterCh1 = filterPosition;
    t.filterCh2 = filterPosition;
    t.filterLabel = QStringLiteral("label");
    t.HVch1 = HV;
    t.folder = folder;
    return t;
}

// Runs the template dialog from the window: action on the dialog, then Exit.
void TemplatesRun(MainWindow &w, std::function<void(TemplatesDialog *)> action)
{
    WhenShown<TemplatesDialog>([action](TemplatesDialog *d) {
        action(d);
        Child<QPushButton>(d, "pushButton_Exit")->click();
    });
    Child<QPushButton>(&w, "pushButtonTemplateSave")->click();
}

// Loads the first row of the template dialog's table, the newest template.
void NewestTemplateLoad(MainWindow &w)
{
    TemplatesRun(w, [](TemplatesDialog *d) {
        Child<QTableWidget>(d, "tableWidget_templates")->selectRow(0);
        Child<QPushButton>(d, "pushButton_Delete_2")->click();
    });
}

} // namespace

class TestMainWindowSettings : public QObject
{
    Q_OBJECT

    MessageBoxCloser *boxes = nullptr;
    std::unique_ptr<TempStationRoot> root;

    // Writes the templates file, then starts the window with the status poll stopped.
    std::unique_ptr<MainWindow> Start(const QList<ScanTempl> &templates)
    {
        if (!root->writeFile(TemplatesFixedPath(kModel), TemplatesBytes(templates)))
            qFatal("templates file not written");
        return MainWindowStart(kModel);
    }

private slots:
    void initTestCase() { boxes = new MessageBoxCloser; }
    void cleanupTestCase() { delete boxes; }
    void init() { root = std::make_unique<TempStationRoot>(); }
    void cleanup() { root.reset(); }

    void loadedTemplateShown();
    void loadedTemplateModeLocks_data();
    void loadedTemplateModeLocks();
    void captureBeforeDialog();
    void settingsRebuildFilterSelectors_data();
    void settingsRebuildFilterSelectors();
    void settingsCancelKeepsSelectors();
};

// Templates "A", "B", "C": loading row 0 puts C onto the window.
void TestMainWindowSettings::loadedTemplateShown()
{
    const ScanTempl startup =
        Templ("startup", kModeIP, kAreaGrid, 200, {0, 0}, {0, 0}, 0, 750, "/home/start");
    const ScanTempl c =
        Templ("C", kModeFluorescence, kArea2340, 50, {2, 3}, {4, 5}, 2, 800, "/data/c");
    auto w = Start({startup, Templ("A", kModeIP, kAreaGrid, 200, {0, 0}, {1, 1}, 0, 750, "/a"),
                    Templ("B", kModeIPV, kAreaGrid, 100, {0, 0}, {2, 2}, 1, 500, "/b"), c});
    QCOMPARE(templatecount, 4);

    NewestTemplateLoad(*w);

    QCOMPARE(templateload, 1);
    QVERIFY(Child<QRadioButton>(w.get(), "radioButton_FluorescenceMode")->isChecked());
    QVERIFY(Child<QRadioButton>(w.get(), "radioButtonIP2340")->isChecked());
    QVERIFY(Child<QRadioButton>(w.get(), "radioButton_Res50")->isChecked());
    QCOMPARE(scancornerL, QPointF(2, 3));
    QCOMPARE(scancornerR, QPointF(4, 5));
    QCOMPARE(FlaggedTiles(), TilesBetween({2, 3}, {4, 5}));
    QVERIFY(!item[0][0]->scene());
    // Nine tiles at the template's 50 um: 35 s and 8 s a tile; 9 x 16 tiles' worth at 200 um.
    QCOMPARE(scanDur.num, 9);
    QCOMPARE(scanDur.resolution, 50);
    QCOMPARE(Child<QLabel>(w.get(), "labelScanTime")->text(),
             QStringLiteral("Read time: 1min 47sec"));
    QCOMPARE(Child<QLabel>(w.get(), "labelFileSize")->text(), QStringLiteral("File size: 4.6 MB"));
    QCOMPARE(Child<QLabel>(w.get(), "labelFolder")->text(), QStringLiteral("/data/c"));
    QCOMPARE(scan_HVch1, 800);
    QCOMPARE(Child<QSpinBox>(w.get(), "spinBox_HVch1")->value(), 800);
    QCOMPARE(Child<QComboBox>(w.get(), "comboBox_FilterCh1")->currentIndex(), 2);
}

void TestMainWindowSettings::loadedTemplateModeLocks_data()
{
    QTest::addColumn<int>("startMode");
    QTest::addColumn<int>("loadedMode");
    QTest::addColumn<bool>("voltageFree");
    QTest::addColumn<bool>("filterFree");
    QTest::addColumn<int>("laser"); // list entry selected after the load

    // The list holds 473, 635 and 670 nm, the 670 nm laser selected: IP and IP-V read with
    // the 635 nm laser; another mode keeps the operator's laser.
    QTest::newRow("IP locks all") << int(kModeFluorescence) << int(kModeIP) << false << false << 1;
    QTest::newRow("IP-V locks laser and filter")
        << int(kModeIP) << int(kModeIPV) << true << false << 1;
    QTest::newRow("fluorescence after IP frees all")
        << int(kModeIP) << int(kModeFluorescence) << true << true << 2;
}

void TestMainWindowSettings::loadedTemplateModeLocks()
{
    QFETCH(int, startMode);
    QFETCH(int, loadedMode);
    QFETCH(bool, voltageFree);
    QFETCH(bool, filterFree);
    QFETCH(int, laser);
    auto w = Start({Templ("startup", startMode, kAreaGrid, 200, {0, 0}, {0, 0}, 0, 750, "/s"),
                    Templ("T", loadedMode, kAreaGrid, 200, {1, 1}, {1, 1}, 1, 600, "/t")});
    // The channel-1 list as the poll builds it from the scanner's lasers.
    auto *lasers = Child<QComboBox>(w.get(), "comboBox_Laser1");
    const BYTE codes[] = {1, 4, 8};
    for (BYTE code : codes) {
        laserCh1[lasers->count()] = code;
        lasers->addItem(QString::number(code));
    }
    scannerconfig[28] = 1;
    lasers->setCurrentIndex(2);
    NewestTemplateLoad(*w);

    QCOMPARE(Child<QSpinBox>(w.get(), "spinBox_HVch1")->isEnabled(), voltageFree);
    QCOMPARE(Child<QComboBox>(w.get(), "comboBox_FilterCh1")->isEnabled(), filterFree);
    QCOMPARE(lasers->currentIndex(), laser);
    QCOMPARE(lasers->isEnabled(), filterFree);
}

// The dialog opens on the window's settings; closing it without a load changes nothing.
void TestMainWindowSettings::captureBeforeDialog()
{
    QVERIFY(root->writeFile(
        FilterTrayFixedPath(),
        ModulesBytes({Module("a", 0, "", 0, "", 0), Module("b", 0, "", 0, "", 0),
                      Module("c", 0, "", 0, "", 0), Module("R", 670, "R R665", 0, "", 4)})));
    auto w =
        Start({Templ("startup", kModeFluorescence, kAreaGrid, 200, {0, 0}, {1, 1}, 0, 750, "/s")});
    // What the poll does when the scanner reports its lasers: here a 635 nm laser, code 4.
    laserCh1[0] = 1;
    laserCh1[1] = 4;
    auto *lasers = Child<QComboBox>(w.get(), "comboBox_Laser1");
    lasers->addItem(QStringLiteral("473nm"));
    lasers->addItem(QStringLiteral("635nm"));
    lasers->setCurrentIndex(1);
    Child<QRadioButton>(w.get(), "radioButton_DigitizingMode")->setChecked(true);
    Child<QRadioButton>(w.get(), "radioButton_Res100")->setChecked(true);
    Child<QSpinBox>(w.get(), "spinBox_HVch1")->setValue(600);
    Child<QComboBox>(w.get(), "comboBox_FilterCh1")->setCurrentIndex(3);
    image_dir = QStringLiteral("/data/now");

    ScanTempl seen;
    QString modeShown;
    TemplatesRun(*w, [&seen, &modeShown](TemplatesDialog *d) {
        seen = scanTemplate[0];
        modeShown = Child<QLabel>(d, "label_modetext")->text();
    });

    QCOMPARE(seen.name, QStringLiteral("startup"));
    QCOMPARE(seen.mode, int(kModeDigitizing));
    QCOMPARE(seen.area, int(kAreaGrid));
    QCOMPARE(seen.scancornerR, QPointF(1, 1));
    QCOMPARE(seen.resolution, 100);
    QCOMPARE(int(seen.laserCh1), 5); // the laser code plus one
    QCOMPARE(int(seen.laserCh2), 0);
    QCOMPARE(seen.filterCh1, 3);
    QCOMPARE(seen.filterType, 4);
    QCOMPARE(seen.filterLabel, QStringLiteral("R R665"));
    QCOMPARE(seen.HVch1, 600);
    QCOMPARE(seen.folder, QStringLiteral("/data/now"));
    QCOMPARE(modeShown, QStringLiteral("Digitizing"));
    QCOMPARE(templateload, 0);
    QCOMPARE(image_dir, QStringLiteral("/data/now"));
}

void TestMainWindowSettings::settingsRebuildFilterSelectors_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("icon");

    // The colour bands of the codes are the data files' test.
    QTest::newRow("170 red") << 170 << kRed;
    QTest::newRow("0 none") << 0 << QString();
}

// The tray saved in the dialog: channel 1 and channel 2 of position 3 carry the code under
// test, and both selectors list the new tray with the icons of its codes.
void TestMainWindowSettings::settingsRebuildFilterSelectors()
{
    QFETCH(int, code);
    QFETCH(QString, icon);
    QVERIFY(root->writeFile(FilterModuleFixedPath(),
                            ModulesBytes({Module("One", 520, "Y520", 0, "", 1),
                                          Module("Two", 580, "R580", 550, "O550", 2),
                                          Module("Test", code, "T1", code, "T2", 3)})));
    auto w =
        Start({Templ("startup", kModeFluorescence, kAreaGrid, 200, {0, 0}, {0, 0}, 1, 750, "/s")});
    QVERIFY(Child<QPushButton>(w.get(), "pushButton_LD685toggle")->isHidden());

    WhenShown<ConfigDialog>([](ConfigDialog *d) {
        const int choice[] = {0, 1, 2, 1};
        for (int k = 0; k < kTrayPositions; ++k)
            Child<QComboBox>(d, QStringLiteral("comboBox_TrayPos%1").arg(k + 1))
                ->setCurrentIndex(choice[k]);
        Child<QCheckBox>(d, "checkBox_LD685manctrl")->setChecked(true);
        Child<QDialogButtonBox>(d, "buttonBox")->button(QDialogButtonBox::Ok)->click();
    });
    Child<QPushButton>(w.get(), "pushButtonSettings")->click();

    QCOMPARE(filtertraystatus, 1);
    QVERIFY(!Child<QPushButton>(w.get(), "pushButton_LD685toggle")->isHidden());
    QCOMPARE(iconnameCh1Pos[2], icon);
    QCOMPARE(iconnameCh2Pos[2], icon);
    QCOMPARE(iconnameCh2Pos[1], kOrange);

    auto *ch1 = Child<QComboBox>(w.get(), "comboBox_FilterCh1");
    auto *ch2 = Child<QComboBox>(w.get(), "comboBox_FilterCh2");
    QCOMPARE(ComboTexts(ch1), (QStringList{"Y520", "R580", "T1", "R580"}));
    QCOMPARE(ComboTexts(ch2), (QStringList{"", "O550", "T2", "O550"}));
    QCOMPARE(ch1->itemIcon(2).isNull(), icon.isEmpty());
    QCOMPARE(ch2->itemIcon(2).isNull(), icon.isEmpty());
    QVERIFY(ch2->itemIcon(0).isNull());
    // The position of the current settings is selected again.
    QCOMPARE(ch1->currentIndex(), 1);
    QCOMPARE(ch2->currentIndex(), 1);
}

void TestMainWindowSettings::settingsCancelKeepsSelectors()
{
    QVERIFY(root->writeFile(
        FilterTrayFixedPath(),
        ModulesBytes({Module("a", 520, "A1", 0, "", 0), Module("b", 580, "B1", 0, "", 0),
                      Module("c", 550, "C1", 0, "", 0), Module("d", 0, "", 0, "", 0)})));
    QVERIFY(
        root->writeFile(FilterModuleFixedPath(), ModuleBytes(Module("Other", 670, "X", 0, "", 0))));
    auto w = MainWindowStart(kModel);
    auto *ch1 = Child<QComboBox>(w.get(), "comboBox_FilterCh1");
    ch1->setCurrentIndex(2);

    WhenShown<ConfigDialog>([](ConfigDialog *d) {
        Child<QCheckBox>(d, "checkBox_LD685manctrl")->setChecked(true);
        Child<QDialogButtonBox>(d, "buttonBox")->button(QDialogButtonBox::Cancel)->click();
    });
    Child<QPushButton>(w.get(), "pushButtonSettings")->click();

    QCOMPARE(filtertraystatus, 0);
    QVERIFY(Child<QPushButton>(w.get(), "pushButton_LD685toggle")->isHidden());
    QCOMPARE(ch1->itemText(0), QStringLiteral("A1"));
    QCOMPARE(ch1->itemText(2), QStringLiteral("C1"));
    QCOMPARE(ch1->currentIndex(), 2);
    QCOMPARE(filterTray[0].labelCh1, QStringLiteral("A1"));

    // The configuration button opens the same dialog and nothing else.
    WhenShown<ConfigDialog>([](ConfigDialog *d) {
        Child<QDialogButtonBox>(d, "buttonBox")->button(QDialogButtonBox::Cancel)->click();
    });
    Child<QPushButton>(w.get(), "pushButton_Config")->click();
    QCOMPARE(ch1->itemText(0), QStringLiteral("A1"));
}

QTEST_MAIN(TestMainWindowSettings)
#include "tst_mainwindow_settings.moc"
