// The configuration dialog driven as the operator drives it: the tray and module lists it
// shows, "Add", OK and Cancel, and the files OK leaves behind, byte for byte.
#include "configdialog.h"

#include "datafiles.h"
#include "scanstate.h"
#include "settingssupport.h"
#include "stationfixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace
{

const FilterMod kGfp = Module("GFP", 510, "Y510", 0, "", 12);
const FilterMod kCy5 = Module("Cy5", 670, "R670", 575, "O575", 3);
const FilterMod kGfpTwin = Module("GFP", 520, "Y520", 0, "", 13);

// A module file of n numbered modules.
QByteArray NumberedModules(int n)
{
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b += ModuleBytes(Module(QStringLiteral("M%1").arg(i), i, "a", 0, "b", 0));
    return b;
}

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

bool SameModule(const FilterMod &a, const FilterMod &b)
{
    return ModuleBytes(a) == ModuleBytes(b);
}

} // namespace

class TestConfigDialog : public QObject
{
    Q_OBJECT

    MessageBoxCloser *boxes = nullptr;
    std::unique_ptr<TempStationRoot> root;

private slots:
    void initTestCase() { boxes = new MessageBoxCloser; }
    void cleanupTestCase() { delete boxes; }
    void init()
    {
        boxes->shown.clear();
        root = std::make_unique<TempStationRoot>();
        ResetSharedState(kModelKIREL5);
    }
    void cleanup() { root.reset(); }

    void moduleListEnds_data();
    void moduleListEnds();
    void traySelection_data();
    void traySelection();
    void addModule_data();
    void addModule();
    void addRefused_data();
    void addRefused();
    void okWritesFiles_data();
    void okWritesFiles();
    void cancelWritesNothing_data();
    void cancelWritesNothing();
    void unwritableFileKeepsSettings_data();
    void unwritableFileKeepsSettings();
    void imagingPlateLayout_data();
    void imagingPlateLayout();
};

void TestConfigDialog::moduleListEnds_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("modules");

    // A null name ends the list as an empty one does: the data files' test.
    const FilterMod unnamed = Module("", 100, "x", 0, "", 0);
    QTest::newRow("no file") << QByteArray() << 0;
    QTest::newRow("third name empty") << ModulesBytes({kGfp, kCy5, unnamed, kGfpTwin}) << 2;
    QTest::newRow("51 records read up to 50") << NumberedModules(51) << 50;
}

void TestConfigDialog::moduleListEnds()
{
    QFETCH(QByteArray, file);
    QFETCH(int, modules);
    if (!file.isEmpty())
        QVERIFY(root->writeFile(FilterModuleFixedPath(), file));
    const FilterMod installed[kTrayPositions] = {kGfp, kCy5, kGfpTwin, kGfp};
    std::copy(installed, installed + kTrayPositions, filterTray);

    ConfigDialog d(nullptr);
    QCOMPARE(filtercount, modules);
    for (int position = 1; position <= kTrayPositions; ++position)
        QCOMPARE(TrayBox(d, position)->count(), modules);
    if (modules > 0)
        return;
    // With no module to choose from, OK keeps the tray as installed.
    ButtonPress(d, QDialogButtonBox::Ok);
    for (int k = 0; k < kTrayPositions; ++k)
        QVERIFY(SameModule(filterTray[k], installed[k]));
    QCOMPARE(root->readFile(FilterTrayFixedPath()), ModulesBytes({kGfp, kCy5, kGfpTwin, kGfp}));
}

void TestConfigDialog::traySelection_data()
{
    QTest::addColumn<QString>("installed");
    QTest::addColumn<int>("selected");

    QTest::newRow("installed module") << "Cy5" << 1;
    QTest::newRow("name matches no module: first") << "Unknown" << 0;
    QTest::newRow("two modules of that name: first") << "GFP" << 0;
}

void TestConfigDialog::traySelection()
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

void TestConfigDialog::addModule_data()
{
    QTest::addColumn<QStringList>("texts"); // name, channel 1 label, channel 2 label
    QTest::addColumn<QList<int>>("digits"); // hundreds, tens, units of channel 1, then 2
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("module"); // what OK will store
    QTest::addColumn<QString>("entry");

    QTest::newRow("digits 5 1 0 give 510, code 0 shows 000")
        << QStringList{"GFP", "Y510", "none"} << QList<int>{5, 1, 0, 0, 0, 0} << 12
        << ModuleBytes(Module("GFP", 510, "Y510", 0, "none", 12)) << "GFP 510/000";
    QTest::newRow("empty texts") << QStringList{"", "", ""} << QList<int>{1, 4, 0, 1, 7, 0} << 0
                                 << ModuleBytes(Module("BLANK", 140, "-EMPTY-", 170, "-EMPTY-", 0))
                                 << "BLANK 140/170";
}

void TestConfigDialog::addModule()
{
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, digits);
    QFETCH(int, model);
    QFETCH(QByteArray, module);
    QFETCH(QString, entry);
    QVERIFY(root->writeFile(FilterModuleFixedPath(), ModulesBytes({kCy5})));

    ConfigDialog d(nullptr);
    ModuleAdd(d, texts[0], texts[1], texts[2], digits, model);

    QCOMPARE(filtercount, 2);
    QCOMPARE(ModuleBytes(filterModule[1]), module);
    for (int position = 1; position <= kTrayPositions; ++position) {
        QCOMPARE(TrayBox(d, position)->count(), 2);
        QCOMPARE(TrayBox(d, position)->itemText(1), entry);
    }
    // Nothing is stored before OK.
    QCOMPARE(root->readFile(FilterModuleFixedPath()), ModulesBytes({kCy5}));
}

void TestConfigDialog::addRefused_data()
{
    QTest::addColumn<int>("modules");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::newRow("list full") << kMaxFilterModules << "New"
                               << "full";
    // The name field as the form opens it is a prompt, not a module's name.
    QTest::newRow("name not entered") << 1 << "Filter name"
                                      << "name";
}

void TestConfigDialog::addRefused()
{
    QFETCH(int, modules);
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QVERIFY(root->writeFile(FilterModuleFixedPath(), NumberedModules(modules)));

    ConfigDialog d(nullptr);
    QCOMPARE(filtercount, modules);
    Child<QLineEdit>(&d, "lineEdit_FilterModuleName")->setText(name);
    Child<QPushButton>(&d, "pushButton")->click();
    QVERIFY(boxes->OneShown("Input Error", reason));
    QCOMPARE(filtercount, modules);
    QCOMPARE(TrayBox(d, 1)->count(), modules);
}

void TestConfigDialog::okWritesFiles_data()
{
    // The VESK-1800II takes the VESK-5000's way.
    QTest::addColumn<int>("model");
    QTest::newRow("KIREL-5000/5100") << int(kModelKIREL5);
    QTest::newRow("KIREL-3000") << int(kModelKIREL3);
    QTest::newRow("VESK-5000") << int(kModelVESK5000);
}

void TestConfigDialog::okWritesFiles()
{
    QFETCH(int, model);
    ResetSharedState(model);
    const QByteArray modulesBefore = ModulesBytes({kGfp, kCy5});
    const QByteArray trayBefore = ModulesBytes({kGfp, kGfp, kGfp, kGfp});
    QVERIFY(root->writeFile(FilterModuleFixedPath(), modulesBefore));
    QVERIFY(root->writeFile(FilterTrayFixedPath(), trayBefore));
    FilterMod installed[kTrayPositions] = {kGfp, kGfp, kGfp, kGfp};
    std::copy(installed, installed + kTrayPositions, filterTray);
    sysparams = {0, 1, 1, 0, 0};

    ConfigDialog d(nullptr);
    const FilterMod added = Module("New", 139, "a", 140, "b", 7);
    ModuleAdd(d, "New", "a", "b", {1, 3, 9, 1, 4, 0}, 7);
    const int choice[kTrayPositions] = {1, 0, 2, 1};
    for (int k = 0; k < kTrayPositions; ++k)
        TrayBox(d, k + 1)->setCurrentIndex(choice[k]);
    for (const char *box : {"checkBox_RawDataSave", "checkBox_scanlog", "checkBox_readinglog",
                            "checkBox_LD685manctrl"})
        Child<QCheckBox>(&d, box)->setChecked(true);
    for (const char *box : {"checkBox_ShadingDataSave", "checkBox_bootlog"})
        Child<QCheckBox>(&d, box)->setChecked(false);
    ButtonPress(d, QDialogButtonBox::Ok);

    QCOMPARE(d.result(), int(QDialog::Accepted));
    QVERIFY(boxes->shown.isEmpty());
    QCOMPARE(root->readFile(SysParamFixedPath(model)), SysParamBytes(1, 0, 0, 1, 1));
    QCOMPARE(sysparams.readlog, 1);

    const FilterMod chosen[kTrayPositions] = {kCy5, kGfp, added, kCy5};
    if (model == kModelKIREL5) {
        QCOMPARE(root->readFile(FilterTrayFixedPath()), ModulesBytes({kCy5, kGfp, added, kCy5}));
        QCOMPARE(root->readFile(FilterModuleFixedPath()), ModulesBytes({kGfp, kCy5, added}));
        QCOMPARE(filtertraystatus, 1);
        QCOMPARE(LD685manctrl, 1);
    } else {
        QCOMPARE(root->readFile(FilterTrayFixedPath()), trayBefore);
        QCOMPARE(root->readFile(FilterModuleFixedPath()), modulesBefore);
        QCOMPARE(filtertraystatus, 0);
        QCOMPARE(LD685manctrl, 0);
    }
    // The imaging-plate readers still take the hidden choices; the KIREL-3000 keeps its
    // fixed tray.
    for (int k = 0; k < kTrayPositions; ++k)
        QVERIFY(SameModule(filterTray[k], model == kModelKIREL3 ? installed[k] : chosen[k]));
}

void TestConfigDialog::cancelWritesNothing_data()
{
    QTest::addColumn<bool>("moduleFile");
    QTest::newRow("module file") << true;
    QTest::newRow("new station without one") << false;
}

void TestConfigDialog::cancelWritesNothing()
{
    QFETCH(bool, moduleFile);
    const QByteArray modules = ModulesBytes({kGfp, kCy5});
    const int stored = moduleFile ? 2 : 0;
    if (moduleFile)
        QVERIFY(root->writeFile(FilterModuleFixedPath(), modules));
    std::fill(filterTray, filterTray + kTrayPositions, kGfp);
    sysparams = {1, 0, 1, 0, 0};
    LD685manctrl = 1;
    {
        ConfigDialog d(nullptr);
        // The boxes show the settings, each its own; the station's trigger stays hidden.
        const struct {
            const char *box;
            bool on;
        } shown[] = {{"checkBox_RawDataSave", true}, {"checkBox_ShadingDataSave", false},
                     {"checkBox_bootlog", true},     {"checkBox_scanlog", false},
                     {"checkBox_readinglog", false}, {"checkBox_LD685manctrl", true}};
        for (const auto &b : shown)
            QVERIFY2(Child<QCheckBox>(&d, b.box)->isChecked() == b.on, b.box);
        QVERIFY(Child<QCheckBox>(&d, "checkBox_FlipVeskImage")->isHidden());
        ModuleAdd(d, "X", "x1", "x2", {5, 1, 0, 0, 0, 0}, 1);
        for (int k = 1; k <= kTrayPositions; ++k)
            TrayBox(d, k)->setCurrentIndex(1);
        Child<QCheckBox>(&d, "checkBox_readinglog")->setChecked(true);
        Child<QCheckBox>(&d, "checkBox_LD685manctrl")->setChecked(false);
        ButtonPress(d, QDialogButtonBox::Cancel);
        QCOMPARE(d.result(), int(QDialog::Rejected));
    }
    QVERIFY(!QFile::exists(root->path(FilterTrayFixedPath())));
    QVERIFY(!QFile::exists(root->path(SysParamFixedPath(kModelKIREL5))));
    QCOMPARE(root->readFile(FilterModuleFixedPath()), moduleFile ? modules : QByteArray());
    QCOMPARE(sysparams.readlog, 0);
    QCOMPARE(LD685manctrl, 1);
    for (const FilterMod &position : filterTray)
        QVERIFY(SameModule(position, kGfp));
    // The list is again what its file holds: the module given up is gone, and OK in the
    // next dialog does not store it.
    QCOMPARE(filtercount, stored);
    QVERIFY(filterModule[stored].filterlabel.isEmpty());
    ConfigDialog again(nullptr);
    ButtonPress(again, QDialogButtonBox::Ok);
    FilterModulesLoad();
    QCOMPARE(filtercount, stored);
}

void TestConfigDialog::unwritableFileKeepsSettings_data()
{
    QTest::addColumn<QString>("blocked");
    QTest::newRow("tray file") << FilterTrayFixedPath();
    QTest::newRow("module file") << FilterModuleFixedPath();
    QTest::newRow("system parameters") << SysParamFixedPath(kModelKIREL5);
}

void TestConfigDialog::unwritableFileKeepsSettings()
{
    QFETCH(QString, blocked);
    const bool modulesBlocked = blocked == FilterModuleFixedPath();
    if (!modulesBlocked)
        QVERIFY(root->writeFile(FilterModuleFixedPath(), ModulesBytes({kGfp, kCy5})));
    // A folder in the file's place: no one, not even root, can write the file there.
    QVERIFY(QDir().mkpath(root->path(blocked)));
    std::fill(filterTray, filterTray + kTrayPositions, kGfp);
    sysparams = {0, 0, 1, 1, 0};

    ConfigDialog d(nullptr);
    if (modulesBlocked)
        ModuleAdd(d, "X", "x1", "x2", {5, 1, 0, 0, 0, 0}, 1); // the only module
    else
        for (int k = 1; k <= kTrayPositions; ++k)
            TrayBox(d, k)->setCurrentIndex(1);
    Child<QCheckBox>(&d, "checkBox_RawDataSave")->setChecked(true);
    ButtonPress(d, QDialogButtonBox::Ok);

    QVERIFY(boxes->OneShown("FILE ERROR", root->path(blocked)));
    QCOMPARE(d.result(), int(QDialog::Accepted));

    if (blocked == FilterTrayFixedPath()) {
        for (const FilterMod &position : filterTray)
            QVERIFY(SameModule(position, kGfp));
        QCOMPARE(filtertraystatus, 0);
    } else {
        QCOMPARE(filtertraystatus, 1);
    }
    if (modulesBlocked) {
        // As on disk: no module list, and nothing left over for the next OK to store.
        QCOMPARE(filtercount, 0);
        QVERIFY(filterModule[0].filterlabel.isEmpty());
    } else {
        QCOMPARE(filtercount, 2);
    }
    if (blocked == SysParamFixedPath(kModelKIREL5)) {
        QCOMPARE(sysparams.rawdatasave, 0);
    } else {
        QCOMPARE(sysparams.rawdatasave, 1);
        QCOMPARE(root->readFile(SysParamFixedPath(kModelKIREL5)), SysParamBytes(1, 0, 1, 1, 0));
    }
}

void TestConfigDialog::imagingPlateLayout_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<bool>("reduced");
    QTest::newRow("KIREL-5000/5100") << int(kModelKIREL5) << false;
    QTest::newRow("VESK-5000") << int(kModelVESK5000) << true;
}

void TestConfigDialog::imagingPlateLayout()
{
    QFETCH(int, model);
    QFETCH(bool, reduced);
    ResetSharedState(model);
    ConfigDialog d(nullptr);
    QCOMPARE(Child<QGroupBox>(&d, "groupBox")->isHidden(), reduced);
    QCOMPARE(Child<QGroupBox>(&d, "groupBox_FilterTray")->isHidden(), reduced);
    QCOMPARE(Child<QCheckBox>(&d, "checkBox_LD685manctrl")->isHidden(), reduced);
    // The reduced dialog moves its buttons up under the two groups it keeps.
    if (reduced)
        QCOMPARE(Child<QDialogButtonBox>(&d, "buttonBox")->geometry(), QRect(270, 190, 341, 32));
    QCOMPARE(d.size(), reduced ? QSize(649, 242) : QSize(649, 682));
}

QTEST_MAIN(TestConfigDialog)
#include "tst_configdialog.moc"
