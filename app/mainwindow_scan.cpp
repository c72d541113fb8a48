// Start Scan: the scan request arrives with its own work.
#include "mainwindow.h"

void MainWindow::on_pushButton_Scan_clicked() {}
