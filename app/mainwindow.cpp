// Start-up of the station and the shape of the main window for each scanner model.
#include "mainwindow.h"
#include "mainwindow_buttons.h"
#include "ui_mainwindow.h"

#include "datafiles.h"
#include "logfiles.h"
#include "scanstate.h"
#include "scantile.h"
#include "stationpaths.h"

#include <QGraphicsPathItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QToolTip>
#include <QTimer>

#include <cstring>
#include <initializer_list>

using namespace mainwindow_buttons;

namespace
{

constexpr int kStatusPollMs = 500;
// Megabytes of one tile at 200 um, the base of the file-size estimate. It is this exact
// single-precision value (bits 3D02D82F): the shown sizes round to one decimal, and a
// neighbouring value tips 20 tile counts to the other side of a rounding boundary.
constexpr float kTileFileSizeMB = 0x1.05B05Ep-5f;

// Start-up styles: nothing connected yet, Start Scan not allowed, laser diode off.
const char kStyleToggleOff[] = "QPushButton { background-color : rgba(0,255,0,0); }";
const char kStyleScanDisabled[] = "QPushButton { background-color : rgba(255,0,0,125); }";
const char kStyleStatusNone[] = "QLabel { background-color : red; }";

const char kIconLaser473[] = ":/img/KIREL5-Laser-473.png";
const char kIconLaser532[] = ":/img/KIREL5-Laser-532.png";
const char kIconLaser635[] = ":/img/KIREL5-Laser-635.png";
const char kIconLaser670[] = ":/img/KIREL5-Laser-670.png";

struct LaserEntry {
    const char *text;
    const char *icon;
};

// The KIREL-3000 has three fixed lasers; it reports none of them.
const LaserEntry kKirel3Lasers[] = {
    {"635nm", kIconLaser635},
    {"532nm", kIconLaser532},
    {"473nm", kIconLaser473},
};

// Channel 2 is offered every laser the family knows; the 685 nm diode shares the deep-red icon.
const LaserEntry kChannel2Lasers[] = {
    {"473nm", kIconLaser473}, {"532nm", kIconLaser532}, {"635nm", kIconLaser635},
    {"670nm", kIconLaser670}, {"685nm", kIconLaser670},
};

// Wavelength text by laser code; entry 0 stands for the 685 nm diode. The poll swaps
// entries 1 and 2 when the first two laser slots hold the other laser.
const char *const kLaserWavelengths[] = {"685", "473", "532", "635", "635"};

constexpr int kGroupGap = 8;          // between the groups of the left column
constexpr int kGroupBottomMargin = 6; // under the last row of a group's choices

void LaserListAdd(QComboBox *box, const LaserEntry &entry)
{
    box->addItem(QIcon(QString::fromLatin1(entry.icon)), QString::fromLatin1(entry.text));
}

void HideAll(std::initializer_list<QWidget *> widgets)
{
    for (QWidget *w : widgets)
        w->hide();
}

// Ends the group just under its lowest choice that is not hidden.
void GroupFitToChoices(QGroupBox *group)
{
    int bottom = 0;
    for (QAbstractButton *choice : group->findChildren<QAbstractButton *>())
        if (!choice->isHidden())
            bottom = qMax(bottom, choice->geometry().bottom());
    if (bottom > 0)
        group->resize(group->width(), bottom + kGroupBottomMargin);
}

void CheckAndLock(QAbstractButton *button)
{
    button->setChecked(true);
    button->setEnabled(false);
}

} // namespace

// The icons live in the station library; registering them here keeps the linker from
// dropping them. (Resource registration must not sit inside a namespace.)
static void ResourcesInit()
{
    static bool done = false;
    if (!done) {
        Q_INIT_RESOURCE(resources);
        done = true;
    }
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ResourcesInit();

    // 1. Model of this build and run counters; the form.
    ScannerType = StationModel;
    mouseClicked = 0;
    LD685manctrl = 0;
    scanpassnumber = -1;
    logeventnumber = 0;
    ui->setupUi(this);
    // The name and comment fields hold at most 100 and 32 characters (their placeholders
    // say so): what a paste or a key loses past that is said at the field.
    for (QLineEdit *field : {ui->lineEdit_filename, ui->lineEdit_comment})
        connect(field, &QLineEdit::inputRejected, field, [field] {
            QToolTip::showText(field->mapToGlobal(QPoint(0, field->height())),
                               QStringLiteral("At most %1 characters: the rest was not taken")
                                   .arg(field->maxLength()),
                               field);
        });

    // 2-5. Saved settings, filter tray, the KIREL-3000's fixed lasers, system parameters.
    TemplatesLoad();
    FilterTrayLoad();
    if (ScannerType == kModelKIREL3)
        for (const LaserEntry &entry : kKirel3Lasers)
            LaserListAdd(ui->comboBox_Laser1, entry);
    SysParamsLoad();

    // 6. Nothing is known about the scanner yet.
    ui->pushButton_LD685toggle->setStyleSheet(kStyleToggleOff);
    ui->pushButton_LD685toggle->setText(QStringLiteral("LD685 IS OFF"));
    ui->pushButton_Scan->setStyleSheet(kStyleScanDisabled);
    ui->pushButton_Scan->setEnabled(false);
    ui->labelstatus->setStyleSheet(kStyleStatusNone);
    ui->labelstatus->setText(QStringLiteral("No connection - Power off?"));
    std::memset(scannerconfig, 0, sizeof scannerconfig);
    std::memset(LDconfig, 0, sizeof LDconfig);

    // 7. The last scan's settings, or the defaults.
    if (templatecount > 0)
        StartupSettingsRestore();
    else
        StartupSettingsDefault();
    // IP mode scans at a fixed high voltage, so the operator cannot set one.
    if (ui->radioButton_IPmode->isChecked()) {
        ui->spinBox_HVch1->setEnabled(false);
        ui->horizontalSlider_HVch1->setEnabled(false);
    }

    // 8-10. Laser and filter lists.
    LaserListsFill();
    FilterIconsUpdate();
    FilterListsFill();
    int filterIndex = scanTemplate[0].filterCh1;
    if (filterIndex < 0 || filterIndex >= kTrayPositions)
        filterIndex = 0;
    ui->comboBox_FilterCh1->setCurrentIndex(filterIndex);
    ui->comboBox_FilterCh2->setCurrentIndex(filterIndex);
    if (ui->radioButton_IPmode->isChecked() || ui->radioButton_IPVmode->isChecked()) {
        ui->comboBox_FilterCh1->setEnabled(false);
        ui->comboBox_Laser1->setEnabled(false);
    }

    // 11. Scan-area picture with the selected tiles, and the first estimate.
    ScanAreaBuild();
    scanDur.LDstart = 10;
    scanDur.SHGstart = 25;
    scanDur.scaninit = 10;
    scanDur.tile = 2;
    scanDur.tilefsize = kTileFileSizeMB;
    scanDur.resolution = scanTemplate[0].resolution;
    scanDur.num =
        int((scancornerR.x() - scancornerL.x() + 1) * (scancornerR.y() - scancornerL.y() + 1));
    EstimateRefresh();

    // 12. Side boards: nothing read yet; the poll shows what it finds.
    LD685count = 0;
    LD685status = 0;
    SCSIboardtempcol = 0;
    scantimercount = 0;
    ui->pushButton_LD685toggle->hide();
    ui->pushButton_Config->hide();
    KIREL5connectStatus = -1;

    // 13-15. Logs, the model's form, the status log and sense memory.
    LogFilesCreate();
    DataFileLoadProblemsLog();
    FormShape();
    logeventnumber = 1;
    newscansetup.lastsensekey = 0;
    newscansetup.lastsensecode = 0;
    newscansetup.lastextsensecode = 0;

    // 16. Poll the scanner until it is ready.
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &MainWindow::ScannerTest);
    timer->start(kStatusPollMs);
}

MainWindow::~MainWindow()
{
    // Tile, corner and frame items that are out of the scene belong to nobody else; those in
    // the scene go with it. The globals must not point at them once the window is gone.
    auto release = [](QGraphicsItem *graphic) {
        if (graphic && !graphic->scene())
            delete graphic;
    };
    for (int c = 0; c < kTileColumns; ++c)
        for (int r = 0; r < kTileRows; ++r) {
            release(item[c][r]);
            item[c][r] = nullptr;
        }
    for (QGraphicsPathItem **corner :
         {&corner2aGraphic, &corner2bGraphic, &corner3aGraphic, &corner3bGraphic}) {
        release(*corner);
        *corner = nullptr;
    }
    for (QGraphicsRectItem *frame : {border2025l, border2025r, border2025t, border2025b,
                                     border2325l, border2325r, border2325b})
        release(frame);
    delete ui;
}

// No templates yet: IP mode, the whole grid option, 200 um, the first tile, "/home".
void MainWindow::StartupSettingsDefault()
{
    ui->radioButton_IPmode->setChecked(true);
    ui->radioButtonGrid->setChecked(true);
    ui->radioButton_Res200->setChecked(true);
    scanTemplate[0].resolution = kDefaultResolution;
    scancornerL = scancornerR = scancornerC = QPointF(0, 0);
    tileflag[0][0] = 1;
    image_dir = DefaultImageDir();
    ui->labelFolder->setText(image_dir);
    if (ScannerType == kModelVESK5000) {
        ui->radioButton5->setChecked(true);
        ui->radioButton30000->setChecked(true);
        ui->radioButton1000->setEnabled(false);
    }
}

// Template record 0 holds the settings of the last scan.
void MainWindow::StartupSettingsRestore()
{
    ScanTempl &last = scanTemplate[0];

    QRadioButton *const modeButtons[] = {ui->radioButton_IPmode, ui->radioButton_IPVmode,
                                         ui->radioButton_FluorescenceMode,
                                         ui->radioButton_DigitizingMode};
    const bool modeKnown = last.mode >= kModeIP && last.mode <= kModeDigitizing;
    modeButtons[modeKnown ? last.mode : kModeIP]->setChecked(true);

    QRadioButton *const areaButtons[] = {ui->radioButtonGrid,   ui->radioButtonIP3543,
                                         ui->radioButtonIP2340, ui->radioButtonIP2040,
                                         ui->radioButtonIP2325, ui->radioButtonIP2025};
    const bool areaKnown = last.area >= kAreaGrid && last.area <= kArea2025;
    areaButtons[areaKnown ? last.area : kAreaGrid]->setChecked(true);

    // A resolution the station does not offer (a damaged file) would leave no button checked
    // and nothing to divide the estimate by: such a record scans at 200 um.
    switch (last.resolution) {
    case 100:
        ui->radioButton_Res100->setChecked(true);
        break;
    case 50:
        ui->radioButton_Res50->setChecked(true);
        break;
    case 25:
        ui->radioButton_Res25->setChecked(true);
        break;
    default:
        last.resolution = kDefaultResolution;
        ui->radioButton_Res200->setChecked(true);
        break;
    }

    // Corners that are no numbers or lie off this bed (a damaged record, or one made on
    // another model) are no area: the default one, the first tile of the grid.
    if (!ScanCornersOnBed(ScannerType, last.scancornerL, last.scancornerR, last.scancornerC)) {
        last.area = kAreaGrid;
        last.scancornerL = last.scancornerR = last.scancornerC = QPointF(0, 0);
        areaButtons[kAreaGrid]->setChecked(true);
    }
    scancornerL = last.scancornerL;
    scancornerR = last.scancornerR;
    scancornerC = last.scancornerC;
    for (int i = 0; i < kTileColumns; ++i)
        for (int j = 0; j < kTileRows; ++j)
            if (scancornerL.x() <= i && i <= scancornerR.x() && scancornerL.y() <= j &&
                j <= scancornerR.y())
                tileflag[i][j] = 1;

    image_dir = last.folder;
    ui->labelFolder->setText(image_dir);
    scan_HVch1 = last.HVch1;
    ui->spinBox_HVch1->setValue(scan_HVch1);

    // The templates do not carry the VESK-5000's latitude and sensitivity: every run starts
    // at latitude 5 with the highest sensitivity, as without templates.
    if (ScannerType == kModelVESK5000) {
        ui->radioButton5->setChecked(true);
        ui->radioButton30000->setChecked(true);
        ui->radioButton1000->setEnabled(false);
    }
}

void MainWindow::LaserListsFill()
{
    for (const LaserEntry &entry : kChannel2Lasers)
        LaserListAdd(ui->comboBox_Laser2, entry);
    for (int i = 0; i < int(sizeof kLaserWavelengths / sizeof kLaserWavelengths[0]); ++i)
        laserCh1wavelength[i] = QString::fromLatin1(kLaserWavelengths[i]);
}

void MainWindow::FilterListsFill()
{
    const int selected = ui->comboBox_FilterCh1->currentIndex();
    ui->comboBox_FilterCh1->clear();
    ui->comboBox_FilterCh2->clear();
    for (int i = 0; i < kTrayPositions; ++i) {
        ui->comboBox_FilterCh1->addItem(iconCh1Pos[i], filterTray[i].labelCh1);
        ui->comboBox_FilterCh2->addItem(iconCh2Pos[i], filterTray[i].labelCh2);
    }
    if (selected >= 0 && selected < kTrayPositions)
        ui->comboBox_FilterCh1->setCurrentIndex(selected);
}

// Title, banner and the controls each model has; then the gaps are closed.
void MainWindow::FormShape()
{
    switch (ScannerType) {
    case kModelKIREL3:
        setWindowTitle(QStringLiteral("KIREL3 IMAGE READER"));
        ui->labelbannerR->setText(QStringLiteral("KIREL-3000 "));
        ui->labellasers->setText(QStringLiteral("Status Log"));
        ui->labelchannels->setText(QStringLiteral("Scanner Condition"));
        ui->groupBox_Channel1->setTitle(QStringLiteral("Laser and Filter"));
        HideAll({ui->radioButton_IPVmode, ui->radioButton_DigitizingMode, ui->pushButtonTemplates,
                 ui->pushButtonTemplateSave, ui->radioButton_Res25, ui->radioButtonIP3543,
                 ui->radioButton, ui->radioButton1000, ui->radioButton10000, ui->radioButton30000,
                 ui->groupBox_Channel2, ui->checkBox_enableCh1, ui->checkBox_enableCh2, ui->label_3,
                 ui->labelLDmonitor, ui->labelLDtemperature, ui->spinBox_HVch1,
                 ui->horizontalSlider_HVch1});
        CheckAndLock(ui->radioButton5);
        CheckAndLock(ui->radioButton4000);
        break;
    case kModelVESK5000:
    case kModelVESK1800:
        setWindowTitle(QStringLiteral("VESK IMAGE READER"));
        ui->labellasers->setText(QStringLiteral("Status Log"));
        ui->labelchannels->setText(QStringLiteral("Scanner Condition"));
        HideAll({ui->groupBox_ScanMode, ui->pushButtonTemplates, ui->pushButtonTemplateSave,
                 ui->radioButtonIP2040, ui->radioButtonIP2340, ui->radioButtonIP3543,
                 ui->groupBox_Channel1, ui->groupBox_Channel2, ui->checkBox_enableCh1,
                 ui->checkBox_enableCh2, ui->label, ui->label_2, ui->label_3, ui->labelLDmonitor,
                 ui->labelLDtemperature});
        if (ScannerType == kModelVESK5000) {
            ui->labelbannerR->setText(QStringLiteral("VESK-5000 "));
            ui->radioButtonIP2325->hide();
            // The VESK-5000 writes no line at 200 um.
            ui->radioButton_Res200->hide();
        } else {
            // The VESK-1800II reads at latitude 5 and sensitivity 4000 only.
            ui->labelbannerR->setText(QStringLiteral("VESK-1800II "));
            HideAll({ui->radioButton_Res25, ui->radioButton, ui->radioButton1000,
                     ui->radioButton10000, ui->radioButton30000});
            CheckAndLock(ui->radioButton5);
            CheckAndLock(ui->radioButton4000);
        }
        break;
    case kModelKIREL5:
    default:
        setWindowTitle(QStringLiteral("KIREL5 IMAGE READER"));
        ui->labelbannerR->setText(QStringLiteral("KIREL-5100 "));
        HideAll({ui->groupBoxScanLatitude, ui->groupBoxScanSensitivity, ui->label_statuslog,
                 ui->label_scannercondition});
        break;
    }
    ResolutionOfferedEnsure();
    FormGapsClose();
}

// A restored resolution that the model does not read (a record that another model left in
// the shared data folder, or a damaged one) would leave no resolution checked, an estimate
// for it, and a scan that Start Scan refuses: the coarsest resolution the model reads takes
// its place, as the operator would see it chosen.
void MainWindow::ResolutionOfferedEnsure()
{
    for (const ValueButton &b : kResolutionButtons)
        if ((ui->*b.button)->isChecked() && !(ui->*b.button)->isHidden())
            return;
    for (const ValueButton &b : kResolutionButtons) {
        if ((ui->*b.button)->isHidden())
            continue;
        (ui->*b.button)->setChecked(true);
        scanDur.resolution = b.value;
        EstimateRefresh();
        return;
    }
}

// Stacks the groups of the left column that the model keeps, one under the other, and
// lines up the plate-size buttons the model keeps under the picture.
void MainWindow::FormGapsClose()
{
    // Channel 1 without its high-voltage row (KIREL-3000) is one row shorter.
    QGroupBox *const ch1 = ui->groupBox_Channel1;
    if (ui->spinBox_HVch1->isHidden() && ui->horizontalSlider_HVch1->isHidden())
        ch1->resize(ch1->width(), ui->horizontalSlider_HVch1->y());

    // A choice group whose last row the model hides for good is one row shorter. The
    // KIREL-3000's sensitivity group keeps its height: fluorescence mode shows the hidden
    // sensitivities again.
    GroupFitToChoices(ui->groupBox_ScanMode);
    if (ScannerType != kModelKIREL3)
        GroupFitToChoices(ui->groupBoxScanSensitivity);

    struct Block {
        QWidget *group;
        std::initializer_list<QWidget *> companions; // moved with the group
    };
    const Block column[] = {
        {ui->groupBox_Resolution, {}},
        {ui->groupBox_ScanMode, {}},
        {ui->groupBox_Channel1, {ui->checkBox_enableCh1, ui->label, ui->label_2, ui->label_3}},
        {ui->groupBox_Channel2, {ui->checkBox_enableCh2}},
        {ui->groupBoxScanSensitivity, {}},
        {ui->groupBoxScanLatitude, {}},
    };
    int y = ui->groupBox_Resolution->y();
    for (const Block &block : column) {
        if (block.group->isHidden())
            continue;
        const int dy = y - block.group->y();
        block.group->move(block.group->x(), y);
        for (QWidget *companion : block.companions)
            companion->move(companion->x(), companion->y() + dy);
        y += block.group->height() + kGroupGap;
    }

    QRadioButton *const plates[] = {ui->radioButtonGrid,   ui->radioButtonIP2040,
                                    ui->radioButtonIP2340, ui->radioButtonIP3543,
                                    ui->radioButtonIP2025, ui->radioButtonIP2325};
    const int pitch = ui->radioButtonIP2040->x() - ui->radioButtonGrid->x();
    int x = ui->radioButtonGrid->x();
    for (QRadioButton *plate : plates) {
        if (plate->isHidden())
            continue;
        plate->move(x, plate->y());
        x += pitch;
    }
}
