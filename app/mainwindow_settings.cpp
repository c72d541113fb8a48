// Configuration and template slots of the main window: the two buttons that open the
// configuration dialog, and "Save as Template", which hands the current settings to the
// template dialog and applies a template loaded there.
#include "mainwindow.h"
#include "mainwindow_buttons.h"
#include "ui_mainwindow.h"

#include "configdialog.h"
#include "datafiles.h"
#include "scanstate.h"
#include "templatesdialog.h"

#include <iterator>

using namespace mainwindow_buttons;

namespace
{

constexpr int kLaserListSize = int(std::size(laserCh1));

bool TrayPositionValid(int position)
{
    return position >= 0 && position < kTrayPositions;
}

} // namespace

void MainWindow::on_pushButton_Config_clicked()
{
    ConfigDialog dialog(this);
    dialog.setModal(true);
    dialog.exec();
}

void MainWindow::on_pushButtonSettings_clicked()
{
    filtertraystatus = 0;
    ConfigDialog dialog(this);
    dialog.setModal(true);
    dialog.exec();

    ui->pushButton_LD685toggle->setVisible(LD685manctrl == 1);
    if (filtertraystatus != 1)
        return;

    // A new tray was saved: both selectors list it anew, each position with its icon.
    FilterIconsUpdate();
    FilterListsFill();
    const int position = scanTemplate[0].filterCh1;
    if (TrayPositionValid(position)) {
        ui->comboBox_FilterCh1->setCurrentIndex(position);
        ui->comboBox_FilterCh2->setCurrentIndex(position);
    }
}

// Choosing a template is done from the list itself; the button has nothing to add.
void MainWindow::on_pushButtonTemplates_clicked() {}

void MainWindow::on_pushButtonTemplateSave_clicked()
{
    TemplateCapture();
    templateload = 0;
    TemplatesDialog dialog(this);
    dialog.setModal(true);
    dialog.exec();
    if (templateload == 1)
        TemplateApply();
}

// The window's settings into element 0; its name and comment stay. The filter is kept as
// the tray position, as the scan request keeps it, because that is what start-up, the
// settings button and a loaded template select again.
void MainWindow::TemplateCapture()
{
    ScanTempl &t = scanTemplate[0];
    t.mode = CheckedIndex(ui, kModeButtons);
    t.area = CheckedIndex(ui, kAreaButtons);
    t.scancornerL = scancornerL;
    t.scancornerR = scancornerR;
    t.scancornerC = scancornerC;
    t.resolution = CheckedValue(ui, kResolutionButtons, kDefaultResolution);

    // The laser code plus one; "none" while the scanner has not reported its lasers.
    const int laser = ui->comboBox_Laser1->currentIndex();
    t.laserCh1 = laser >= 0 && laser < kLaserListSize ? BYTE(laserCh1[laser] + 1) : 0;
    t.laserCh2 = 0;

    int position = ui->comboBox_FilterCh1->currentIndex();
    if (!TrayPositionValid(position))
        position = 0;
    t.filterCh1 = position;
    t.filterCh2 = position;
    t.filterType = filterTray[position].filterType;
    t.filterLabel = filterTray[position].labelCh1;

    t.HVch1 = ui->spinBox_HVch1->value();
    t.HVch2 = 0;
    t.folder = image_dir;
}

// Element 0, loaded in the template dialog, onto the window. The buttons are checked by
// program, so their slots do not run: the estimate follows the checked resolution here,
// and the controls and the laser that the mode fixes are set here.
void MainWindow::TemplateApply()
{
    ScanTempl &t = scanTemplate[0];
    // A template whose corners lie off this bed brings no area: the default one.
    if (!ScanCornersOnBed(ScannerType, t.scancornerL, t.scancornerR, t.scancornerC)) {
        t.area = kAreaGrid;
        t.scancornerL = t.scancornerR = t.scancornerC = QPointF(0, 0);
    }
    CheckByIndex(ui, kModeButtons, t.mode);
    CheckByIndex(ui, kAreaButtons, t.area);
    CheckByValue(ui, kResolutionButtons, t.resolution);
    scanDur.resolution = CheckedValue(ui, kResolutionButtons, kDefaultResolution);

    scancornerL = t.scancornerL;
    scancornerR = t.scancornerR;
    scancornerC = t.scancornerC;
    for (int i = 0; i < kTileColumns; ++i)
        for (int j = 0; j < kTileRows; ++j) {
            const bool inside = scancornerL.x() <= i && i <= scancornerR.x() &&
                                scancornerL.y() <= j && j <= scancornerR.y();
            tileflag[i][j] = inside ? 1 : 0;
            if (inside)
                TileShow(i, j);
            else
                TileHide(i, j);
        }
    scanDur.num =
        int((scancornerR.x() - scancornerL.x() + 1) * (scancornerR.y() - scancornerL.y() + 1));
    EstimateRefresh();

    image_dir = t.folder;
    ui->labelFolder->setText(image_dir);
    scan_HVch1 = t.HVch1;
    ui->spinBox_HVch1->setValue(scan_HVch1);

    if (TrayPositionValid(t.filterCh1)) {
        ui->comboBox_FilterCh1->setCurrentIndex(t.filterCh1);
        ui->comboBox_FilterCh2->setCurrentIndex(t.filterCh1);
    }

    // IP mode scans at a fixed voltage; IP and IP-V use the fixed laser and filter. A
    // template of another mode gives the controls back, as that mode's button would.
    const bool ip = ui->radioButton_IPmode->isChecked();
    const bool fixedFilter = ip || ui->radioButton_IPVmode->isChecked();
    ui->spinBox_HVch1->setEnabled(!ip);
    ui->horizontalSlider_HVch1->setEnabled(!ip);
    ui->comboBox_FilterCh1->setEnabled(!fixedFilter);
    ui->comboBox_Laser1->setEnabled(!fixedFilter);
    if (fixedFilter)
        LaserForIP();
}
