// The options of scanstation-sim (the station executables have none): which scanner to
// play, where the station's files go, and what the simulator reports on its own.
#ifndef SIMOPTIONS_H
#define SIMOPTIONS_H

#include "scannermodels.h"

#include <QString>
#include <QVector>

class QCoreApplication;

struct SimOptions {
    int model = 11;
    QString root; // file-system root of every fixed station path
    int selfTestMs = 3000;
    QString scenarioName = QStringLiteral("none");
    ScannerScenario scenario = ScannerScenario::None;
    bool ldBoard = true; // the laser-diode board answers on the I2C bus
    QString traceFile;
    bool printStatus = false;
    bool exitWhenReady = false;
    int timeoutS = 60;
    QString screenshotFile;
    // Scanning: time per scan line (0: as fast as the bus goes), the fault the scan meets
    // and after how many lines, and the file name of an unattended scan (empty: none).
    int lineMs = 0;
    QString faultName = QStringLiteral("none");
    ScanFault fault = ScanFault::None;
    int faultAfterLines = 10;
    QString autoScanName;
    int autoStopMs = -1; // Escape in the scan window this long after it opened; -1: never
    // The cable referee (cablereferee.h): how it reports breaches, and the Pi whose
    // register costs make the bus clock.
    CableReferee::Mode referee = CableReferee::Mode::Warn;
    // A fault of the cable (virtualscanner.h), there from the start.
    QString cableFaultName = QStringLiteral("none");
    CableFault cableFault = CableFault::None;
    const PiProfile *pi = &DefaultPiProfile();
};

// A start-up condition the simulator can play: one of the scanner's scenarios, or one of
// the side boards'.
struct SimScenario {
    QString name;
    QString description;
    bool onScanner; // a condition of the scanner (else of the side boards)
    ScannerScenario scannerScenario;
};

const QVector<SimScenario> &SimScenarios();

// TRUE when the command line asks for the help or version text, which needs no display.
bool SimHelpRequested(int argc, char *argv[]);
// TRUE when the command line asks for an unattended scan, which runs without a display.
bool SimAutoScanRequested(int argc, char *argv[]);

// Reads the command line of `app`. The help and version texts and unknown options end the
// program as QCommandLineParser does; a value out of range is reported on standard error
// and gives FALSE.
bool SimOptionsParse(const QCoreApplication &app, SimOptions *options);

// Creates the root with the model's data folder, the filter folder of the KIREL-5000/5100
// and the "home" folder for the images. FALSE when one cannot be created.
bool SimRootPrepare(const QString &root, int model);

#endif // SIMOPTIONS_H
