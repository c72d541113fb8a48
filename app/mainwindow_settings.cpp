// Configuration and template slots of the main window: the two buttons that open the
// configuration dialog, and "Save as Template", which hands the current settings to the
// template dialog and applies a template loaded there.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "configdialog.h"
#include "datafiles.h"
#include "scanstate.h"
#include "templatesdialog.h"

#include <iterator>

namespace
{

using Button = QRadioButton *Ui::MainWindow::*;

// Indexed by the template's mode and area values.
const Button kModeButtons[] = {
    &Ui::MainWindow::radioButton_IPmode, &Ui::MainWindow::radioButton_IPVmode,
    &Ui::MainWindow::radioButton_FluorescenceMode, &Ui::MainWindow::radioButton_DigitizingMode};
const Button kAreaButtons[] = {
    &Ui::MainWindow::radioButtonGrid,   &Ui::MainWindow::radioButtonIP3543,
    &Ui::MainWindow::radioButtonIP2340, &Ui::MainWindow::radioButtonIP2040,
    &Ui::MainWindow::radioButtonIP2325, &Ui::MainWindow::radioButtonIP2025};

struct ResolutionButton {
    int micrometres;
    Button button;
};
const ResolutionButton kResolutionButtons[] = {
    {200, &Ui::MainWindow::radioButton_Res200},
    {100, &Ui::MainWindow::radioButton_Res100},
    {50, &Ui::MainWindow::radioButton_Res50},
    {25, &Ui::MainWindow::radioButton_Res25},
};
constexpr int kDefaultResolution = 200;

constexpr int kLaserListSize = int(std::size(laserCh1));

// The index of the checked button of a group; the first when none is checked.
template <std::size_t N> int CheckedIndex(Ui::MainWindow *ui, const Button (&buttons)[N])
{
    for (int i = 0; i < int(N); ++i)
        if ((ui->*buttons[i])->isChecked())
            return i;
    return 0;
}

// Checks the button of a stored value; a value without a button changes nothing.
template <std::size_t N>
void CheckByIndex(Ui::MainWindow *ui, const Button (&buttons)[N], int value)
{
    if (value >= 0 && value < int(N))
        (ui->*buttons[value])->setChecked(true);
}

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
    t.resolution = kDefaultResolution;
    for (const ResolutionButton &r : kResolutionButtons)
        if ((ui->*r.button)->isChecked())
            t.resolution = r.micrometres;

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
// program, so their slots do not run: the estimate keeps the resolution the operator last
// chose, and the controls that the mode locks are set here.
void MainWindow::TemplateApply()
{
    const ScanTempl &t = scanTemplate[0];
    CheckByIndex(ui, kModeButtons, t.mode);
    CheckByIndex(ui, kAreaButtons, t.area);
    for (const ResolutionButton &r : kResolutionButtons)
        if (r.micrometres == t.resolution)
            (ui->*r.button)->setChecked(true);

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
}
