// Choosing the scan area on the bed picture: clicks on the tiles, the imaging-plate sizes
// and the latitude buttons. The selection itself is drawn by mainwindow_scene.cpp
// (TileShow, TileHide); the click handling arrives with the area selection.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QEvent>
#include <QMouseEvent>

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    QMainWindow::mousePressEvent(event);
}

void MainWindow::mouseMoveEvent(QMouseEvent *) {}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->graphicsView_ScanArea && event->type() == QEvent::MouseMove)
        qDebug() << "mousemoved";
    return false;
}

void MainWindow::on_radioButtonIP2040_clicked() {}

void MainWindow::on_radioButtonIP2340_clicked() {}

void MainWindow::on_radioButtonIP2025_clicked() {}

void MainWindow::on_radioButtonIP2325_clicked() {}

void MainWindow::on_radioButtonIP3543_clicked() {}

void MainWindow::on_radioButtonGrid_clicked() {}

void MainWindow::on_radioButton5_clicked() {}

void MainWindow::on_radioButton_clicked() {}
