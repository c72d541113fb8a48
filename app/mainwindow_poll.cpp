// The status poll: the 500 ms timer's slot that watches the scanner until it is ready, and
// the manual switch of the 685 nm laser diode. Both arrive with the polling work.
#include "mainwindow.h"

void MainWindow::ScannerTest() {}

void MainWindow::on_pushButton_LD685toggle_clicked() {}
