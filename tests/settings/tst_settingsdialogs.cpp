// The configuration and template dialogs driven as the operator drives them, the files they
// leave behind, and the main window's side of both.
#include "configdialog.h"
#include "mainwindow.h"
#include "scantile.h"
#include "templatesdialog.h"

#include "datafiles.h"
#include "scanstate.h"
#include "settingssupport.h"
#include "stationfixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGraphicsItem>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace
{

const FilterMod kGfp = Module("GFP", 510, "Y510", 0, "", 12);
const FilterMod kCy5 = Module("Cy5", 670, "R670", 575, "O575", 3);
const FilterMod kGfpTwin = Module("GFP", 520, "Y520", 0, "", 13);

QComboBox *TrayBox(ConfigDialog &d, int position)
{
    return Child<QComboBox>(&d, QStringLiteral("comboBox_TrayPos%1").arg(position));
}

QString PositionLabel(ConfigDialog &d, int channel, int position)
{
    return Child<QLabel>(&d, QStringLiteral("label_Ch%1Pos%2Name").arg(channel).arg(position))
        ->text();
}

// Fills in the new module's fields and presses "Add". `digits` are the hundreds, tens and
// units of channel 1, then of channel 2.
void ModuleAdd(ConfigDialog &d, const QString &name, const QString &ch1Label,
               const QString &ch2Label, const QList<int> &digits, int model)
{
    Child<QLineEdit>(&d, "lineEdit_FilterModuleName")->setText(name);
    Child<QLineEdit>(&d, "lineEdit_FilterModuleCh1Name")->setText(ch1Label);
    Child<QLineEdit>(&d, "lineEdit_FilterModuleCh2Name")->setText(ch2Label);
    for (int i = 0; i < 6; ++i)
        Child<QComboBox>(&d,
                         QStringLiteral("comboBox_Filter_Ch%1_%2").arg(i / 3 + 1).arg(i % 3 + 1))
            ->setCurrentIndex(digits[i]);
    Child<QComboBox>(&d, "comboBox_Filter_Model")->setCurrentIndex(model);
    QTest::mouseClick(Child<QPushButton>(&d, "pushButton"), Qt::LeftButton);
}

void ButtonPress(ConfigDialog &d, QDialogButtonBox::StandardButton which)
{
    Child<QDialogButtonBox>(&d, "buttonBox")->button(which)->click();
}

constexpr int kModel = kModelKIREL5;

ScanTempl Templ(const QString &name, int mode, int area, int resolution, int laser,
                const QString &filterLabel, int HV, const QString &folder)
{
    ScanTempl t;
    t.name = name;
    t.comment = name.isEmpty() ? QString() : name + QStringLiteral(" comment");
    t.mode = mode;
    t.area = area;
    t.scancornerL = QPointF(2, 3);
    t.scancornerR = QPointF(4, 5);
    t.scancornerC = QPointF(3, 5);
    t.resolution = resolution;
    t.laserCh1 = BYTE(laser);
    t.filterCh1 = 1;
    t.filterCh2 = 1;
    t.filterLabel = filterLabel;
    t.HVch1 = HV;
    t.folder = folder;
    return t;
}

const ScanTempl kCurrent =
    Templ("startup", kModeFluorescence, kAreaGrid, 100, 3, "Y510", 600, "/home/pi/images");
const ScanTempl kA = Templ("A", kModeIP, kArea3543, 200, 1, "IP", 750, "/home/a");
const ScanTempl kB = Templ("B", kModeIPV, kArea2040, 100, 2, "G O575", 500, "/home/b");
const ScanTempl kC = Templ("C", kModeFluorescence, kArea2340, 50, 2, "R R665", 800, "/home/c");

void ListSet(const QList<ScanTempl> &list)
{
    for (int i = 0; i < list.size(); ++i)
        scanTemplate[i] = list[i];
    templatecount = list.size();
}

// Every element and the count, to see that nothing at all changed.
QByteArray AllTemplatesBytes()
{
    QByteArray b = Be32(quint32(templatecount));
    for (const ScanTempl &t : scanTemplate)
        b += TemplateBytes(t);
    return b;
}

QTableWidget *Table(TemplatesDialog &d)
{
    return Child<QTableWidget>(&d, "tableWidget_templates");
}

QStringList RowNames(TemplatesDialog &d)
{
    QStringList names;
    for (int r = 0; r < Table(d)->rowCount(); ++r)
        names << Table(d)->item(r, 0)->text();
    return names;
}

void Press(TemplatesDialog &d, const char *button)
{
    QTest::mouseClick(Child<QPushButton>(&d, QLatin1String(button)), Qt::LeftButton);
}

QString Shown(TemplatesDialog &d, const char *label)
{
    return Child<QLabel>(&d, QLatin1String(label))->text();
}

const QString kOrange = QStringLiteral(":/img/KIREL5-Filter-O575_i.png");
const QString kRed = QStringLiteral(":/img/KIREL5-Filter-R665_i.png");

// Runs the template dialog from the window: action on the dialog, then Exit.
void TemplatesRun(MainWindow &w, std::function<void(TemplatesDialog *)> action)
{
    WhenShown<TemplatesDialog>([action](TemplatesDialog *d) {
        action(d);
        Child<QPushButton>(d, "pushButton_Exit")->click();
    });
    Child<QPushButton>(&w, "pushButtonTemplateSave")->click();
}

} // namespace

class TestSettingsDialogs : public QObject
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
    void init()
    {
        boxes->shown.clear();
        root = std::make_unique<TempStationRoot>();
        ResetSharedState(kModel);
    }
    void cleanup() { root.reset(); }

    void traySelection_data();
    void traySelection();
    void addModule_data();
    void addModule();
    void dialogCloses_data();
    void dialogCloses();

    void currentSettingsTexts_data();
    void currentSettingsTexts();
    void saveDeleteLoad();
    void refusedChangesNothing_data();
    void refusedChangesNothing();
    void loadedTemplateApplied_data();
    void loadedTemplateApplied();
    void settingsFromTheWindow_data();
    void settingsFromTheWindow();
};

void TestSettingsDialogs::traySelection_data()
{
    QTest::addColumn<QString>("installed");
    QTest::addColumn<int>("selected");

    QTest::newRow("installed module") << "Cy5" << 1;
    QTest::newRow("name matches no module: first") << "Unknown" << 0;
    QTest::newRow("two modules of that name: first") << "GFP" << 0;
}

void TestSettingsDialogs::traySelection()
{
    QFETCH(QString, installed);
    QFETCH(int, selected);
    const QList<FilterMod> modules = {kGfp, kCy5, kGfpTwin};
    QVERIFY(root->writeFile(FilterModuleFixedPath(), ModulesBytes(modules)));
    for (FilterMod &position : filterTray)
        position = Module(installed, 0, "", 0, "", 0);

    ConfigDialog d(nullptr);
    for (int position = 1; position <= kTrayPositions; ++position) {
        QCOMPARE(TrayBox(d, position)->currentIndex(), selected);
        QCOMPARE(PositionLabel(d, 1, position), modules[selected].labelCh1);
        QCOMPARE(PositionLabel(d, 2, position), modules[selected].labelCh2);
    }
    // An entry shows both codes, three places each.
    QCOMPARE(TrayBox(d, 3)->itemText(0), QStringLiteral("GFP 510/  0"));
    // The labels follow the operator's choice too.
    TrayBox(d, 4)->setCurrentIndex(1);
    QCOMPARE(PositionLabel(d, 1, 4), modules[1].labelCh1);
    QCOMPARE(PositionLabel(d, 2, 4), modules[1].labelCh2);
}

void TestSettingsDialogs::addModule_data()
{
    QTest::addColumn<QByteArray>("file");   // the module file before
    QTest::addColumn<QStringList>("texts"); // name, channel 1 label, channel 2 label
    QTest::addColumn<QList<int>>("digits"); // hundreds, tens, units of channel 1, then 2
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("module"); // what OK will store; empty when refused
    QTest::addColumn<QString>("entry");     // the new entry, or part of the refusal

    const QByteArray one = ModulesBytes({kCy5});
    const QList<int> digits = {5, 1, 0, 0, 0, 0};
    QTest::newRow("digits 5 1 0 give 510, code 0 shows 000")
        << one << QStringList{"GFP", "Y510", "none"} << digits << 12
        << ModuleBytes(Module("GFP", 510, "Y510", 0, "none", 12)) << "GFP 510/000";
    QTest::newRow("empty texts") << one << QStringList{"", "", ""} << QList<int>{1, 4, 0, 1, 7, 0}
                                 << 0
                                 << ModuleBytes(Module("BLANK", 140, "-EMPTY-", 170, "-EMPTY-", 0))
                                 << "BLANK 140/170";
    QByteArray full;
    for (int i = 0; i < kMaxFilterModules; ++i)
        full += ModuleBytes(Module(QStringLiteral("M%1").arg(i), i, "a", 0, "b", 0));
    QTest::newRow("list full") << full << QStringList{"New", "a", "b"} << digits << 0
                               << QByteArray() << "full";
    // The name field as the form opens it is a prompt, not a module's name.
    QTest::newRow("name not entered")
        << one << QStringList{"Filter name", "a", "b"} << digits << 0 << QByteArray() << "name";
}

void TestSettingsDialogs::addModule()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, digits);
    QFETCH(int, model);
    QFETCH(QByteArray, module);
    QFETCH(QString, entry);
    QVERIFY(root->writeFile(FilterModuleFixedPath(), file));

    ConfigDialog d(nullptr);
    const int before = filtercount;
    ModuleAdd(d, texts[0], texts[1], texts[2], digits, model);

    const bool added = !module.isEmpty();
    QCOMPARE(filtercount, before + (added ? 1 : 0));
    if (added)
        QCOMPARE(ModuleBytes(filterModule[before]), module);
    else
        QVERIFY(boxes->OneShown("Input Error", entry));
    for (int position = 1; position <= kTrayPositions; ++position) {
        QCOMPARE(TrayBox(d, position)->count(), filtercount);
        if (added)
            QCOMPARE(TrayBox(d, position)->itemText(before), entry);
    }
    // Nothing is stored before OK.
    QCOMPARE(root->readFile(FilterModuleFixedPath()), file);
}

void TestSettingsDialogs::dialogCloses_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("moduleFile");
    QTest::addColumn<QString>("blocked");   // a folder in this file's place: unwritable to all
    QTest::addColumn<QList<int>>("choice"); // module chosen for each tray position, -1 none

    // The VESK-1800II takes the VESK-5000's way.
    const QList<int> mixed = {1, 0, 2, 1};
    QTest::newRow("OK, KIREL-5000/5100") << int(kModelKIREL5) << true << true << "" << mixed;
    QTest::newRow("OK, KIREL-3000") << int(kModelKIREL3) << true << true << "" << mixed;
    QTest::newRow("OK, VESK-5000") << int(kModelVESK5000) << true << true << "" << mixed;
    QTest::newRow("OK, tray file unwritable")
        << int(kModelKIREL5) << true << true << FilterTrayFixedPath() << mixed;
    QTest::newRow("OK, system parameters unwritable")
        << int(kModelKIREL5) << true << true << SysParamFixedPath(kModelKIREL5) << mixed;
    // A position left without a choice keeps its module.
    QTest::newRow("OK, module file unwritable")
        << int(kModelKIREL5) << true << false << FilterModuleFixedPath()
        << QList<int>{0, -1, 0, -1};
    QTest::newRow("Cancel") << int(kModelKIREL5) << false << true << "" << mixed;
}

// The dialog shows the settings, takes a new module, a tray and the system parameters. OK stores
// each file that can be written (the tray and the modules on the KIREL-5000/5100 alone) and keeps
// the settings of a file that cannot be; Cancel stores nothing and keeps every setting.
void TestSettingsDialogs::dialogCloses()
{
    QFETCH(int, model);
    QFETCH(bool, ok);
    QFETCH(bool, moduleFile);
    QFETCH(QString, blocked);
    QFETCH(QList<int>, choice);
    ResetSharedState(model);
    QList<FilterMod> modules;
    if (moduleFile)
        modules = {kGfp, kCy5};
    const QByteArray modulesBefore = moduleFile ? ModulesBytes(modules) : QByteArray();
    const QByteArray trayBefore = ModulesBytes({kGfp, kGfp, kGfp, kGfp});
    if (moduleFile)
        QVERIFY(root->writeFile(FilterModuleFixedPath(), modulesBefore));
    if (blocked != FilterTrayFixedPath())
        QVERIFY(root->writeFile(FilterTrayFixedPath(), trayBefore));
    if (!blocked.isEmpty())
        QVERIFY(QDir().mkpath(root->path(blocked)));
    std::fill(filterTray, filterTray + kTrayPositions, kGfp);
    sysparams = {1, 0, 1, 0, 0};
    LD685manctrl = 1;

    ConfigDialog d(nullptr);
    // The imaging-plate readers have no filters: their dialog keeps the system parameters and
    // the logs, its buttons moved up under them.
    const bool reduced = model == kModelVESK5000;
    QCOMPARE(Child<QGroupBox>(&d, "groupBox")->isHidden(), reduced);
    QCOMPARE(Child<QGroupBox>(&d, "groupBox_FilterTray")->isHidden(), reduced);
    QCOMPARE(Child<QCheckBox>(&d, "checkBox_LD685manctrl")->isHidden(), reduced);
    QCOMPARE(d.size(), reduced ? QSize(649, 242) : QSize(649, 682));
    if (reduced)
        QCOMPARE(Child<QDialogButtonBox>(&d, "buttonBox")->geometry(), QRect(270, 190, 341, 32));
    // The boxes show the settings, each its own; then each is turned over.
    const char *const settingBoxes[] = {"checkBox_RawDataSave", "checkBox_ShadingDataSave",
                                        "checkBox_bootlog",     "checkBox_scanlog",
                                        "checkBox_readinglog",  "checkBox_LD685manctrl"};
    const bool on[] = {true, false, true, false, false, true};
    for (int i = 0; i < 6; ++i) {
        auto *box = Child<QCheckBox>(&d, settingBoxes[i]);
        QVERIFY2(box->isChecked() == on[i], settingBoxes[i]);
        box->setChecked(!on[i]);
    }
    if (model == kModelKIREL5)
        QVERIFY(Child<QCheckBox>(&d, "checkBox_FlipVeskImage")->isHidden());
    const FilterMod added = Module("New", 139, "a", 140, "b", 7);
    ModuleAdd(d, "New", "a", "b", {1, 3, 9, 1, 4, 0}, 7);
    modules << added;
    QList<FilterMod> chosen;
    for (int k = 0; k < kTrayPositions; ++k) {
        TrayBox(d, k + 1)->setCurrentIndex(choice[k]);
        chosen << (choice[k] < 0 ? kGfp : modules[choice[k]]);
    }
    ButtonPress(d, ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);

    const bool kirel5 = ok && model == kModelKIREL5;
    const bool trayWritten = kirel5 && blocked != FilterTrayFixedPath();
    const bool modulesWritten = kirel5 && blocked != FilterModuleFixedPath();
    const bool sysWritten = ok && blocked != SysParamFixedPath(model);
    if (blocked.isEmpty())
        QVERIFY(boxes->shown.isEmpty());
    else
        QVERIFY(boxes->OneShown("FILE ERROR", root->path(blocked)));
    if (blocked != FilterTrayFixedPath())
        QCOMPARE(root->readFile(FilterTrayFixedPath()),
                 trayWritten ? ModulesBytes(chosen) : trayBefore);
    if (blocked != FilterModuleFixedPath())
        QCOMPARE(root->readFile(FilterModuleFixedPath()),
                 modulesWritten ? ModulesBytes(modules) : modulesBefore);
    if (blocked != SysParamFixedPath(model))
        QCOMPARE(root->readFile(SysParamFixedPath(model)),
                 sysWritten ? SysParamBytes(0, 1, 0, 1, 1) : QByteArray());
    QCOMPARE(sysparams.readlog, sysWritten ? 1 : 0);
    QCOMPARE(filtertraystatus, trayWritten ? 1 : 0);
    QCOMPARE(LD685manctrl, kirel5 ? 0 : 1);
    // The imaging-plate readers still take the hidden choices; the KIREL-3000 keeps its
    // fixed tray.
    const bool trayTaken = ok && model != kModelKIREL3 && blocked != FilterTrayFixedPath();
    for (int k = 0; k < kTrayPositions; ++k)
        QCOMPARE(ModuleBytes(filterTray[k]), ModuleBytes(trayTaken ? chosen[k] : kGfp));
    if (ok && model != kModelKIREL5)
        return;
    // The list is what its file holds: a module not stored is gone, and OK in the next
    // dialog does not store it.
    const int stored = modules.size() - (modulesWritten ? 0 : 1);
    QCOMPARE(filtercount, stored);
    QVERIFY(filterModule[stored].filterlabel.isEmpty());
    ConfigDialog again(nullptr);
    ButtonPress(again, QDialogButtonBox::Ok);
    FilterModulesLoad();
    QCOMPARE(filtercount, stored);
}

void TestSettingsDialogs::currentSettingsTexts_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("area");
    QTest::addColumn<int>("resolution");
    QTest::addColumn<int>("laser");
    QTest::addColumn<int>("HV");
    QTest::addColumn<QString>("slot0");     // wavelength the poll found in laser slot 0
    QTest::addColumn<QStringList>("texts"); // mode, area, resolution, laser, HV

    // The stored laser is the laser code plus one: codes 1 and 2 are the lasers of slots 0
    // and 1, 4 the 635 nm, 8 the 670 nm laser, 16 the 685 nm diode.
    QTest::newRow("IP, 35x43, no laser") << 0 << 1 << 200 << 0 << 1000 << "473"
                                         << QStringList{"IP", "35x43cm", "200µm", "none", "1000 V"};
    QTest::newRow("digitizing, 20x25, slot-0 laser")
        << 3 << 5 << 25 << 2 << 250 << "473"
        << QStringList{"Digitizing", "20x25cm", " 25µm", "473nm", " 250 V"};
    QTest::newRow("slot 0 holds the 532 nm laser")
        << 2 << 0 << 100 << 2 << 600 << "532"
        << QStringList{"Fluorescence", "Grid", "100µm", "532nm", " 600 V"};
    QTest::newRow("slot-1 laser") << 2 << 0 << 100 << 3 << 600 << "473"
                                  << QStringList{"Fluorescence", "Grid", "100µm", "532nm",
                                                 " 600 V"};
    QTest::newRow("635nm") << 0 << 0 << 100 << 5 << 750 << "473"
                           << QStringList{"IP", "Grid", "100µm", "635nm", " 750 V"};
    QTest::newRow("685nm diode") << 2 << 0 << 100 << 17 << 600 << "473"
                                 << QStringList{"Fluorescence", "Grid", "100µm", "685nm", " 600 V"};
    QTest::newRow("laser value of no laser shows the number")
        << 1 << 0 << 50 << 7 << 750 << "473" << QStringList{"IP-V", "Grid", " 50µm", "7", " 750 V"};
}

void TestSettingsDialogs::currentSettingsTexts()
{
    QFETCH(int, mode);
    QFETCH(int, area);
    QFETCH(int, resolution);
    QFETCH(int, laser);
    QFETCH(int, HV);
    QFETCH(QString, slot0);
    QFETCH(QStringList, texts);
    laserCh1wavelength[1] = slot0;
    ScanTempl t = Templ("X", mode, area, resolution, laser, "G O575", HV, "/home/x");
    t.laserCh2 = BYTE(laser);
    t.filterCh2 = 3;
    ListSet({kCurrent, kA, kB, t});
    scanTemplate[0] = t;

    TemplatesDialog d(nullptr);
    QCOMPARE(Shown(d, "label_modetext"), texts[0]);
    QCOMPARE(Shown(d, "label_areatext"), texts[1]);
    QCOMPARE(Shown(d, "label_resolutiontext"), texts[2]);
    QCOMPARE(Shown(d, "label_laserch1text"), texts[3]);
    QCOMPARE(Shown(d, "label_HVch1text"), texts[4]);
    QCOMPARE(Shown(d, "label_filterch1text"), QStringLiteral("G O575"));
    QCOMPARE(Shown(d, "label_foldertext"), QStringLiteral("/home/x"));
    // The table (newest first) words its cells by the same rules, the lasers on both channels;
    // numbers are shown plain.
    const QStringList cells = {
        "X",      "X comment", texts[0], texts[1], QString::number(resolution),
        texts[3], texts[3],    "G O575", "3",      QString::number(HV),
        "0",      "/home/x"};
    QCOMPARE(Table(d)->columnCount(), cells.size());
    for (int col = 0; col < cells.size(); ++col)
        QCOMPARE(Table(d)->item(0, col)->text(), cells[col]);
}

// Save puts the template after the list, element 0 staying the current settings (the next
// scan renames element 0 "startup" and leaves the template alone). Delete closes the gap; both
// store the list. Load then copies a template into element 0 and stores nothing.
void TestSettingsDialogs::saveDeleteLoad()
{
    ListSet({kCurrent, kB, kC});
    TemplatesDialog d(nullptr);
    Child<QLineEdit>(&d, "lineEdit_name")->setText("A");
    Press(d, "pushButton_save");
    // Element 0 (a capture: its laser is the code plus one) is not stored under the scan
    // request's name, which would make start-up read its laser as a list position.
    ScanTempl current = kCurrent;
    current.name = QStringLiteral("Last Settings");
    current.comment = QStringLiteral("Not displayed");
    ScanTempl saved = kCurrent;
    saved.name = QStringLiteral("A");
    saved.comment = QLatin1String(""); // left untouched: empty, not null
    QCOMPARE(TemplateBytes(scanTemplate[0]), TemplateBytes(current));
    QCOMPARE(root->readFile(TemplatesFixedPath(kModel)), TemplatesBytes({current, kB, kC, saved}));
    QCOMPARE(RowNames(d), (QStringList{"A", "C", "B"}));

    Table(d)->selectRow(1);
    Press(d, "pushButton_Delete");
    QCOMPARE(templatecount, 3);
    QCOMPARE(RowNames(d), (QStringList{"A", "B"}));
    const QByteArray stored = TemplatesBytes({current, kB, saved});
    QCOMPARE(root->readFile(TemplatesFixedPath(kModel)), stored);
    // The scan request writes one record past the list: that record must end the list
    // instead of repeating the last template.
    QCOMPARE(TemplateBytes(scanTemplate[3]), TemplateBytes(ScanTempl()));

    Table(d)->selectRow(1);
    Press(d, "pushButton_Delete_2");
    QCOMPARE(templateload, 1);
    QCOMPARE(TemplateBytes(scanTemplate[0]), TemplateBytes(kB));
    QCOMPARE(templatecount, 3);
    // The group shows the loaded template; how it words each setting is the test above's.
    QCOMPARE(Shown(d, "label_areatext"), QStringLiteral("20x40cm"));
    QCOMPARE(Shown(d, "label_foldertext"), QStringLiteral("/home/b"));
    QCOMPARE(root->readFile(TemplatesFixedPath(kModel)), stored);
}

// Refused or failed, a button leaves the list, element 0 and the file as they were.
void TestSettingsDialogs::refusedChangesNothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("full");     // the list holds every template it can
    QTest::addColumn<QString>("name");  // typed for the new template
    QTest::addColumn<bool>("blocked");  // a folder in the file's place, row 1 selected
    QTest::addColumn<QString>("title"); // the box, empty for none
    QTest::addColumn<QString>("says");  // part of its text; the file's path when blocked
    const QString input = QStringLiteral("Input Error");
    // With the focus the table has a current row, yet nothing is selected.
    QTest::newRow("Delete, nothing selected")
        << "pushButton_Delete" << false << "D" << false << QString() << QString();
    QTest::newRow("Load, nothing selected")
        << "pushButton_Delete_2" << false << "D" << false << QString() << QString();
    QTest::newRow("Save without a name") << "pushButton_save" << false << "" << false << input
                                         << "Please enter a name for this new template";
    QTest::newRow("Save to a full list")
        << "pushButton_save" << true << "one too many" << false << input << "full";
    // No one, not even root, can write the file through a folder.
    QTest::newRow("Save, file unwritable")
        << "pushButton_save" << false << "D" << true << "FILE ERROR" << QString();
    QTest::newRow("Delete, file unwritable")
        << "pushButton_Delete" << false << "D" << true << "FILE ERROR" << QString();
}

void TestSettingsDialogs::refusedChangesNothing()
{
    QFETCH(QString, button);
    QFETCH(bool, full);
    QFETCH(QString, name);
    QFETCH(bool, blocked);
    QFETCH(QString, title);
    QFETCH(QString, says);
    QList<ScanTempl> list{kCurrent, kA, kB, kC};
    for (int i = list.size(); full && i < kMaxTemplates; ++i)
        list << Templ(QStringLiteral("T%1").arg(i), 0, 0, 200, 0, "IP", 750, "/home");
    ListSet(list);
    const QByteArray before = AllTemplatesBytes();
    if (blocked) {
        QVERIFY(QDir().mkpath(root->path(TemplatesFixedPath(kModel))));
        says = root->path(TemplatesFixedPath(kModel));
    }

    TemplatesDialog d(nullptr);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    const QStringList rows = RowNames(d);
    Child<QLineEdit>(&d, "lineEdit_name")->setText(name);
    Child<QLineEdit>(&d, "lineEdit_comment")->setText("refused");
    if (blocked) {
        Table(d)->selectRow(1);
    } else {
        Table(d)->setFocus();
        QTRY_VERIFY(Table(d)->hasFocus());
        QVERIFY(Table(d)->selectionModel()->selectedRows().isEmpty());
    }
    Press(d, button.toLatin1().constData());

    if (title.isEmpty())
        QVERIFY(boxes->shown.isEmpty());
    else
        QVERIFY(boxes->OneShown(title, says));
    QCOMPARE(AllTemplatesBytes(), before);
    QCOMPARE(templateload, 0);
    QCOMPARE(RowNames(d), rows);
    QCOMPARE(Shown(d, "label_modetext"), QStringLiteral("Fluorescence"));
    // The folder, nothing written.
    QCOMPARE(QFile::exists(root->path(TemplatesFixedPath(kModel))), blocked);
}

void TestSettingsDialogs::loadedTemplateApplied_data()
{
    QTest::addColumn<int>("startMode");
    QTest::addColumn<int>("loadedMode");
    QTest::addColumn<QString>("modeButton");
    QTest::addColumn<int>("laser"); // list entry selected after the load

    // The list holds 473, 635 and 670 nm, the 670 nm laser selected: IP and IP-V read with
    // the 635 nm laser; another mode keeps the operator's laser.
    QTest::newRow("fluorescence after IP frees all")
        << int(kModeIP) << int(kModeFluorescence) << "radioButton_FluorescenceMode" << 2;
    QTest::newRow("IP locks all") << int(kModeFluorescence) << int(kModeIP) << "radioButton_IPmode"
                                  << 1;
    QTest::newRow("IP-V locks laser and filter")
        << int(kModeIP) << int(kModeIPV) << "radioButton_IPVmode" << 1;
}

// The dialog opens on the window's settings, captured into element 0; loading row 0 puts
// template C onto the window.
void TestSettingsDialogs::loadedTemplateApplied()
{
    QFETCH(int, startMode);
    QFETCH(int, loadedMode);
    QFETCH(QString, modeButton);
    QFETCH(int, laser);
    QVERIFY(root->writeFile(
        FilterTrayFixedPath(),
        ModulesBytes({Module("a", 0, "", 0, "", 0), Module("b", 0, "", 0, "", 0),
                      Module("c", 0, "", 0, "", 0), Module("R", 670, "R R665", 0, "", 4)})));
    ScanTempl startup = Templ("startup", startMode, kAreaGrid, 200, 0, "IP", 750, "/home/start");
    ScanTempl c = kC;
    c.mode = loadedMode;
    c.filterCh1 = c.filterCh2 = 2; // the startup record's is 1
    c.scancornerL = QPointF(3, 4); // one tile down and right of the startup record's
    c.scancornerR = QPointF(5, 6);
    auto w = Start({startup, kA, kB, c});
    // The channel-1 list as the poll builds it from the scanner's lasers.
    auto *lasers = Child<QComboBox>(w.get(), "comboBox_Laser1");
    const BYTE codes[] = {1, 4, 8};
    for (BYTE code : codes) {
        laserCh1[lasers->count()] = code;
        lasers->addItem(QString::number(code));
    }
    scannerconfig[28] = 1;
    lasers->setCurrentIndex(2);
    Child<QRadioButton>(w.get(), "radioButton_Res100")->setChecked(true);
    Child<QSpinBox>(w.get(), "spinBox_HVch1")->setValue(600);
    Child<QComboBox>(w.get(), "comboBox_FilterCh1")->setCurrentIndex(3);
    image_dir = QStringLiteral("/data/now");

    ScanTempl seen;
    TemplatesRun(*w, [&seen](TemplatesDialog *d) {
        seen = scanTemplate[0];
        Table(*d)->selectRow(0);
        Child<QPushButton>(d, "pushButton_Delete_2")->click();
    });
    QCOMPARE(seen.name, QStringLiteral("startup"));
    QCOMPARE(seen.mode, startMode);
    QCOMPARE(seen.scancornerR, QPointF(4, 5));
    QCOMPARE(seen.resolution, 100);
    QCOMPARE(int(seen.laserCh1), 9); // the laser code plus one
    QCOMPARE(seen.filterCh1, 3);
    QCOMPARE(seen.filterType, 4);
    QCOMPARE(seen.filterLabel, QStringLiteral("R R665"));
    QCOMPARE(seen.HVch1, 600);
    QCOMPARE(seen.folder, QStringLiteral("/data/now"));

    QCOMPARE(templateload, 1);
    QVERIFY(Child<QRadioButton>(w.get(), modeButton)->isChecked());
    QVERIFY(Child<QRadioButton>(w.get(), "radioButtonIP2340")->isChecked());
    QVERIFY(Child<QRadioButton>(w.get(), "radioButton_Res50")->isChecked());
    QCOMPARE(scancornerL, QPointF(3, 4));
    QCOMPARE(scancornerR, QPointF(5, 6));
    QCOMPARE(FlaggedTiles(), TilesBetween({3, 4}, {5, 6}));
    QVERIFY(!item[2][3]->scene());
    // Nine tiles at the template's 50 um: 35 s and 8 s a tile; 9 x 16 tiles' worth at 200 um.
    QCOMPARE(scanDur.num, 9);
    QCOMPARE(scanDur.resolution, 50);
    QCOMPARE(Child<QLabel>(w.get(), "labelScanTime")->text(),
             QStringLiteral("Read time: 1min 47sec"));
    QCOMPARE(Child<QLabel>(w.get(), "labelFileSize")->text(), QStringLiteral("File size: 4.6 MB"));
    QCOMPARE(Child<QLabel>(w.get(), "labelFolder")->text(), QStringLiteral("/home/c"));
    QCOMPARE(scan_HVch1, 800);
    QCOMPARE(Child<QSpinBox>(w.get(), "spinBox_HVch1")->value(), 800);
    QCOMPARE(Child<QComboBox>(w.get(), "comboBox_FilterCh1")->currentIndex(), 2);

    // IP mode fixes the voltage; IP and IP-V fix the laser and the filter.
    const bool filterFree = loadedMode != kModeIP && loadedMode != kModeIPV;
    QCOMPARE(Child<QSpinBox>(w.get(), "spinBox_HVch1")->isEnabled(), loadedMode != kModeIP);
    QCOMPARE(Child<QComboBox>(w.get(), "comboBox_FilterCh1")->isEnabled(), filterFree);
    QCOMPARE(lasers->currentIndex(), laser);
    QCOMPARE(lasers->isEnabled(), filterFree);
}

void TestSettingsDialogs::settingsFromTheWindow_data()
{
    QTest::addColumn<bool>("ok");
    QTest::newRow("OK") << true;
    QTest::newRow("Cancel") << false;
}

// "System Settings": a tray saved in the dialog rebuilds both selectors with the icons of its
// codes (code 0 has none); Cancel leaves them and the position chosen on the window as they were.
void TestSettingsDialogs::settingsFromTheWindow()
{
    QFETCH(bool, ok);
    QVERIFY(root->writeFile(
        FilterTrayFixedPath(),
        ModulesBytes({Module("a", 520, "A1", 0, "", 0), Module("b", 580, "B1", 0, "", 0),
                      Module("c", 550, "C1", 0, "", 0), Module("d", 0, "", 0, "", 0)})));
    QVERIFY(root->writeFile(FilterModuleFixedPath(),
                            ModulesBytes({Module("One", 520, "Y520", 0, "", 1),
                                          Module("Two", 580, "R580", 550, "O550", 2),
                                          Module("Red", 170, "T1", 170, "T2", 3),
                                          Module("None", 0, "Z1", 0, "Z2", 4)})));
    auto w = Start({Templ("startup", kModeFluorescence, kAreaGrid, 200, 0, "IP", 750, "/s")});
    auto *ch1 = Child<QComboBox>(w.get(), "comboBox_FilterCh1");
    auto *ch2 = Child<QComboBox>(w.get(), "comboBox_FilterCh2");
    ch1->setCurrentIndex(2);

    WhenShown<ConfigDialog>([ok](ConfigDialog *d) {
        for (int k = 0; k < kTrayPositions; ++k)
            TrayBox(*d, k + 1)->setCurrentIndex(k);
        Child<QCheckBox>(d, "checkBox_LD685manctrl")->setChecked(true);
        ButtonPress(*d, ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
    });
    Child<QPushButton>(w.get(), "pushButtonSettings")->click();

    QCOMPARE(filtertraystatus, ok ? 1 : 0);
    QCOMPARE(Child<QPushButton>(w.get(), "pushButton_LD685toggle")->isHidden(), !ok);
    const QStringList ch1Texts =
        ok ? QStringList{"Y520", "R580", "T1", "Z1"} : QStringList{"A1", "B1", "C1", ""};
    QCOMPARE(ComboTexts(ch1), ch1Texts);
    QCOMPARE(filterTray[0].labelCh1, ch1Texts[0]);
    // A new tray selects the position of the current settings (the startup record's 1) again.
    QCOMPARE(ch1->currentIndex(), ok ? 1 : 2);
    QCOMPARE(ch2->currentIndex(), ch1->currentIndex());
    if (!ok)
        return;
    QCOMPARE(ComboTexts(ch2), (QStringList{"", "O550", "T2", "Z2"}));
    QCOMPARE(iconnameCh1Pos[2], kRed);
    QCOMPARE(iconnameCh2Pos[2], kRed);
    QCOMPARE(iconnameCh2Pos[1], kOrange);
    QVERIFY(iconnameCh1Pos[3].isEmpty() && iconnameCh2Pos[3].isEmpty());
    for (int i = 0; i < kTrayPositions; ++i) {
        QCOMPARE(ch1->itemIcon(i).isNull(), i == 3);
        QCOMPARE(ch2->itemIcon(i).isNull(), i == 0 || i == 3);
    }
}

QTEST_MAIN(TestSettingsDialogs)
#include "tst_settingsdialogs.moc"
