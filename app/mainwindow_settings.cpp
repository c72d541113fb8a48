// Configuration and template slots of the main window.
#include "mainwindow.h"

void MainWindow::on_pushButton_Config_clicked() {}

void MainWindow::on_pushButtonSettings_clicked() {}

// The "Templates" button has no action of its own.
void MainWindow::on_pushButtonTemplates_clicked() {}

void MainWindow::on_pushButtonTemplateSave_clicked() {}
