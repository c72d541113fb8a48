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
// The cable referee judges every register access of the station on the bus clock of the
// Pi of --pi and reports breaches as --referee says (warn: each rule once on standard
// error). The scanner scans at the pace of --line-ms and meets the fault of --fault; Start Scan
// tells it that a scan was asked for, as the readers' no-plate fault strikes there.
// Then it follows the status poll (StatusWatch) for --print-status, --exit-when-ready and
// --screenshot, and runs the unattended scan of --auto-scan (AutoScan), offscreen.
// Exit status: the window's; with --exit-when-ready 0 when ready; with --auto-scan 0 for
// "SCAN COMPLETE" and 1 for any other end; 1 when not ready within the timeout; 2 for a
// bad command line or root folder; 128 + the signal when SIGINT, SIGHUP or SIGTERM cut a
// scan short.
#include "autoscan.h"
#include "emulatedi2c.h"
#include "mainwindow.h"
#include "scannermodels.h"
#include "simoptions.h"
#include "stationpaths.h"
#include "statuswatch.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace
{

constexpr int kExitNotReady = 1;
constexpr int kExitUsage = 2;

// An unattended scan runs offscreen unless the command line names a platform.
std::vector<char *> PlatformArguments(int argc, char *argv[])
{
    static char platform[] = "-platform";
    static char offscreen[] = "offscreen";
    std::vector<char *> args(argv, argv + argc);
    bool named = false;
    for (int i = 1; i < argc; ++i)
        named = named || std::strcmp(argv[i], "-platform") == 0;
    if (SimAutoScanRequested(argc, argv) && !named) {
        args.push_back(platform);
        args.push_back(offscreen);
    }
    args.push_back(nullptr);
    return args;
}

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

    std::vector<char *> args = PlatformArguments(argc, argv);
    int argCount = int(args.size()) - 1;
    QApplication app(argCount, args.data());
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
    scannerOptions.scan.lineMs = options.lineMs;
    scannerOptions.scan.fault = options.fault;
    scannerOptions.scan.faultAfterLines = options.faultAfterLines;
    ScannerModelSim scanner(options.model, scannerOptions);
    scanner.scanner().registers().referee().setMode(options.referee);
    scanner.scanner().registers().setProfile(*options.pi);
    scanner.scanner().setCableFault(options.cableFault);
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

    std::fprintf(stderr,
                 "scanstation-sim: model %d, scenario %s, fault %s, %d ms per line, files "
                 "under %s\n",
                 options.model, qPrintable(options.scenarioName), qPrintable(options.faultName),
                 options.lineMs, qPrintable(options.root));

    int status = 0;
    {
        MainWindow window;
        window.show();
        // Faults that strike when the scan is asked for are armed as Start Scan goes down,
        // before its slot runs.
        auto *startScan = window.findChild<QPushButton *>(QStringLiteral("pushButton_Scan"));
        if (VirtualScan *scan = scanner.scan(); scan && startScan)
            QObject::connect(startScan, &QPushButton::pressed, [scan] { scan->scanRequested(); });

        const bool autoScan = !options.autoScanName.isEmpty();
        std::unique_ptr<AutoScan> pilot;
        if (autoScan)
            pilot.reset(new AutoScan(
                window, {options.autoScanName, options.screenshotFile, options.autoStopMs}));
        StatusWatch watch(window, {options.printStatus, options.exitWhenReady,
                                   autoScan ? QString() : options.screenshotFile});
        QTimer notReady;
        notReady.setSingleShot(true);
        QObject::connect(&notReady, &QTimer::timeout, [&options] {
            std::fprintf(stderr, "scanstation-sim: the scanner was not ready within %d s\n",
                         options.timeoutS);
            QCoreApplication::exit(kExitNotReady);
        });
        QObject::connect(&watch, &StatusWatch::ready, &notReady, &QTimer::stop);
        if (pilot)
            // Queued: the scan runs after the poll's tick, not inside it.
            QObject::connect(&watch, &StatusWatch::ready, pilot.get(), &AutoScan::Run,
                             Qt::QueuedConnection);
        if (options.exitWhenReady || autoScan)
            notReady.start(options.timeoutS * 1000);
        status = app.exec();
    }

    app.removeEventFilter(&attendant);
    scanner.scanner().setTraceDevice(nullptr);
    I2cInstallBus(nullptr);
    return status;
}
