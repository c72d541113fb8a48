// Resolution, scan mode, destination folder and Help, and the read-time and file-size
// estimate under the scan area.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "maker.h"
#include "scanstate.h"
#include "stationpaths.h"

#include <QFileDialog>
#include <QMessageBox>

#include <algorithm>
#include <cstdio>

namespace
{

constexpr int kSecondsPerMinute = 60;
constexpr int kSecondsPerHour = 3600;
constexpr int kBaseResolution = 200; // the estimate constants are per tile at 200 um

constexpr int kIPHighVoltage = 750;
constexpr int kConfigChannel1List = 28; // scannerconfig entry: channel-1 laser list built
constexpr BYTE kLaserCode635 = 4;       // laserCh1 code of the 635 nm laser
const char kIPFilterLabel[] = "IP";     // channel-1 label of the tray's imaging-plate position

QString FolderChooserDialog(QWidget *parent, const QString &title, const QString &start)
{
    return QFileDialog::getExistingDirectory(
        parent, title, start, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

} // namespace

FolderChooser FolderChooserRun = FolderChooserDialog;

// Read time: start-up and initialisation, plus the tiles at the chosen resolution (each
// halving of the pixel pitch doubles the read time of a tile). File size: a tile's bytes at
// 200 um times the square of the resolution factor.
void MainWindow::EstimateRefresh()
{
    const int resolution = scanDur.resolution > 0 ? scanDur.resolution : kBaseResolution;
    const int e = scanDur.SHGstart + scanDur.scaninit +
                  (scanDur.num * scanDur.tile * kBaseResolution) / resolution;
    scanDur.estimate = e;

    QString duration;
    if (e < kSecondsPerMinute)
        duration = QString::asprintf("Read time: %isec", e);
    else if (e >= kSecondsPerHour)
        duration = QString::asprintf("Read time: %ihrs %imin %isec", e / kSecondsPerHour,
                                     (e % kSecondsPerHour) / kSecondsPerMinute,
                                     (e % kSecondsPerHour) % kSecondsPerMinute);
    else
        duration = QString::asprintf("Read time: %imin %isec", e / kSecondsPerMinute,
                                     e % kSecondsPerMinute);
    // The record keeps what fits in its 20 bytes; the label shows the whole text.
    std::snprintf(scanDur.duration, sizeof scanDur.duration, "%s", duration.toLatin1().constData());
    ui->labelScanTime->setText(duration);

    const int factor = kBaseResolution / resolution;
    scanDur.scanfsize = float(double(scanDur.num) * double(scanDur.tilefsize) * factor * factor);
    const QString filesize = QString::asprintf("File size: %.1f MB", double(scanDur.scanfsize));
    std::snprintf(scanDur.filesize, sizeof scanDur.filesize, "%s", filesize.toLatin1().constData());
    ui->labelFileSize->setText(filesize);
}

void MainWindow::on_radioButton_Res200_clicked()
{
    scanDur.resolution = 200;
    EstimateRefresh();
}

void MainWindow::on_radioButton_Res100_clicked()
{
    scanDur.resolution = 100;
    EstimateRefresh();
}

void MainWindow::on_radioButton_Res50_clicked()
{
    scanDur.resolution = 50;
    EstimateRefresh();
}

void MainWindow::on_radioButton_Res25_clicked()
{
    scanDur.resolution = 25;
    EstimateRefresh();
}

// IP mode scans at a fixed high voltage.
void MainWindow::on_radioButton_IPmode_clicked()
{
    ui->spinBox_HVch1->setValue(kIPHighVoltage);
    ui->spinBox_HVch1->setEnabled(false);
    ui->horizontalSlider_HVch1->setEnabled(false);
    LaserAndFilterForIP();
}

// IP-V lets the operator choose the high voltage; the value stays as it is.
void MainWindow::on_radioButton_IPVmode_clicked()
{
    ui->spinBox_HVch1->setEnabled(true);
    ui->horizontalSlider_HVch1->setEnabled(true);
    LaserAndFilterForIP();
}

// Imaging plates are read with the red laser (the last 635 nm entry of the list the poll
// built from the scanner's lasers) through the tray's "IP" position.
void MainWindow::LaserAndFilterForIP()
{
    LaserForIP();
    for (int i = 0; i < kTrayPositions; ++i)
        if (filterTray[i].labelCh1 == QLatin1String(kIPFilterLabel)) {
            ui->comboBox_FilterCh1->setCurrentIndex(i);
            ui->comboBox_FilterCh1->setEnabled(false);
        }
}

// The laser of IP and IP-V: the last 635 nm entry, the first entry when there is none.
// Before the poll has built the list the laser box is left as it is.
void MainWindow::LaserForIP()
{
    if (scannerconfig[kConfigChannel1List] != 1)
        return;
    int entry = 0;
    const int entries = std::min(ui->comboBox_Laser1->count(), int(sizeof laserCh1));
    for (int i = 0; i < entries; ++i)
        if (laserCh1[i] == kLaserCode635)
            entry = i;
    ui->comboBox_Laser1->setCurrentIndex(entry);
    ui->comboBox_Laser1->setEnabled(false);
}

void MainWindow::on_radioButton_FluorescenceMode_clicked()
{
    ui->spinBox_HVch1->setEnabled(true);
    ui->horizontalSlider_HVch1->setEnabled(true);
    ui->comboBox_FilterCh1->setEnabled(true);
    ui->comboBox_Laser1->setEnabled(true);
    if (ScannerType == kModelKIREL3)
        Kirel3FluorescenceShape();
}

// The KIREL-3000 reads fluorescence only in free-grid areas, and its sensitivity buttons
// become the photomultiplier gains. Its scan request still sends sensitivity 4000 and
// latitude 5. Nothing of this is undone when the operator goes back to IP mode.
void MainWindow::Kirel3FluorescenceShape()
{
    for (QRadioButton *plate : {ui->radioButtonIP2040, ui->radioButtonIP2340, ui->radioButtonIP2025,
                                ui->radioButtonIP2325})
        plate->hide();
    ui->radioButtonGrid->setChecked(true);

    const struct {
        QRadioButton *button;
        const char *gain;
    } gains[] = {{ui->radioButton1000, "F1"},
                 {ui->radioButton4000, "F10"},
                 {ui->radioButton10000, "F100"},
                 {ui->radioButton30000, "F1000"}};
    for (const auto &g : gains) {
        g.button->show();
        g.button->setText(QString::fromLatin1(g.gain));
    }
    ui->radioButton30000->setChecked(true);
    ui->radioButton4000->setChecked(false);
    ui->radioButton4000->setEnabled(true);

    // The groups keep their places: the sensitivity group was given room for all four gains
    // at start-up, and the scan area must stay where the click arithmetic expects it. Only
    // the gaps are closed again for the controls now shown and hidden.
    FormGapsClose();
}

void MainWindow::on_radioButton_DigitizingMode_clicked()
{
    ui->spinBox_HVch1->setEnabled(true);
    ui->horizontalSlider_HVch1->setEnabled(true);
    ui->comboBox_FilterCh1->setEnabled(true);
    ui->comboBox_Laser1->setEnabled(true);
}

// The two filter lists follow each other through the form's own connections.
void MainWindow::on_comboBox_FilterCh1_currentIndexChanged(int) {}

// A cancelled chooser keeps the folder there was: an empty destination would put the images
// at the root of the file system.
void MainWindow::on_pushButtonFolder_clicked()
{
    const QString dir = FolderChooserRun(this, QStringLiteral("Open Directory"), DefaultImageDir());
    if (dir.isEmpty())
        return;
    image_dir = dir;
    ui->labelFolder->setText(image_dir);
}

void MainWindow::on_pushButtonHelp_clicked()
{
    QMessageBox::information(this, QStringLiteral("Version & Contact  Info"),
                             QStringLiteral("Version 1.08 24-Jul-2020        \n\n      ") +
                                 QStringLiteral(SCANSTATION_MAKER_WEB),
                             QMessageBox::Ok);
}
