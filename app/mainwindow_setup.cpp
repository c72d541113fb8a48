// Resolution, scan mode, destination folder and Help, and the read-time and file-size
// estimate under the scan area.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "scanstate.h"

#include <cstdio>

namespace
{

constexpr int kSecondsPerMinute = 60;
constexpr int kSecondsPerHour = 3600;
constexpr int kBaseResolution = 200; // the estimate constants are per tile at 200 um

} // namespace

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

void MainWindow::on_radioButton_IPmode_clicked() {}

void MainWindow::on_radioButton_IPVmode_clicked() {}

void MainWindow::on_radioButton_FluorescenceMode_clicked() {}

void MainWindow::on_radioButton_DigitizingMode_clicked() {}

// The two filter lists follow each other through the form's own connections.
void MainWindow::on_comboBox_FilterCh1_currentIndexChanged(int) {}

void MainWindow::on_pushButtonFolder_clicked() {}

void MainWindow::on_pushButtonHelp_clicked() {}
