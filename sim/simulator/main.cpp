// scanstation-sim: the scanner station without a Pi and without a scanner.
//
// The simulator runs the station's own main window and library unchanged. Before it builds
// the window it does what the station executables do (fix the scanner model) and what the
// Pi's hardware would otherwise provide:
//  1. the station's files go under a root folder of their own (StationRoot);
//  2. the I2C side boards are emulated (EmulatedI2cBus), the laser-diode board left out
//     with the scenario "no-ld-board";
//  3. the bus's register block is the virtual scanner of the chosen model, self-diagnosis
//     time and start-up condition as asked, its command trace written on request.
// Then it follows the status poll (StatusWatch) for --print-status, --exit-when-ready and
// --screenshot. Exit status: the window's, 0 when ready with --exit-when-ready, 1 when not
// ready within the timeout, 2 for a bad command line or root folder.
#include "emulatedi2c.h"
#include "mainwindow.h"
#include "scannermodels.h"
#include "simoptions.h"
#include "stationpaths.h"
#include "statuswatch.h"

#include <QApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>

namespace
{

constexpr int kExitNotReady = 1;
constexpr int kExitUsage = 2;

} // namespace

int main(int argc, char *argv[])
{
    // The help text needs no display, so it is given without one.
    if (SimHelpRequested(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("scanstation-sim"));
        SimOptions options;
        SimOptionsParse(app, &options); // prints the text and ends the program
        return 0;
    }

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("scanstation-sim"));
    SimOptions options;
    if (!SimOptionsParse(app, &options))
        return kExitUsage;

    // 1. The station's files.
    if (!SimRootPrepare(options.root, options.model))
        return kExitUsage;
    StationRoot = options.root;
    StationModel = options.model;

    // 2. The side boards.
    EmulatedI2cBus boards;
    if (!options.ldBoard) {
        boards.converter.present = false;
        boards.diodeSwitch.present = false;
    }
    I2cInstallBus(&boards);

    // 3. The scanner.
    ScannerModelOptions scannerOptions;
    scannerOptions.selfTestMs = options.selfTestMs;
    scannerOptions.scenario = options.scenario;
    ScannerModelSim scanner(options.model, scannerOptions);
    QFile trace(options.traceFile);
    if (!options.traceFile.isEmpty()) {
        if (!trace.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            std::fprintf(stderr, "scanstation-sim: cannot write %s\n",
                         qPrintable(options.traceFile));
            return kExitUsage;
        }
        scanner.scanner().setTraceDevice(&trace);
    }
    scanner.installOnBus();
    LoadingAreaAttendant attendant(scanner);
    app.installEventFilter(&attendant);

    std::fprintf(stderr, "scanstation-sim: model %d, scenario %s, files under %s\n", options.model,
                 qPrintable(options.scenarioName), qPrintable(options.root));

    int status = 0;
    {
        MainWindow window;
        window.show();
        StatusWatch watch(window,
                          {options.printStatus, options.exitWhenReady, options.screenshotFile});
        if (options.exitWhenReady)
            QTimer::singleShot(options.timeoutS * 1000, [&options] {
                std::fprintf(stderr, "scanstation-sim: the scanner was not ready within %d s\n",
                             options.timeoutS);
                QCoreApplication::exit(kExitNotReady);
            });
        status = app.exec();
    }

    app.removeEventFilter(&attendant);
    scanner.scanner().setTraceDevice(nullptr);
    I2cInstallBus(nullptr);
    return status;
}
