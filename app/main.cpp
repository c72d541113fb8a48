// One station executable per scanner model; the build fixes the model.
#include "mainwindow.h"
#include "stationpaths.h"

#include <QApplication>

#ifndef SCANSTATION_MODEL
#error "SCANSTATION_MODEL must name the scanner model of this executable"
#endif

int main(int argc, char *argv[])
{
    StationModel = SCANSTATION_MODEL;
    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    return app.exec();
}
