#include "simoptions.h"

#include "scanstate.h"
#include "stationpaths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include <cstdio>
#include <cstring>

namespace
{

constexpr int kModels[] = {kModelKIREL5, kModelKIREL3, kModelVESK5000, kModelVESK1800};

const char kScenarioNoLdBoard[] = "no-ld-board";

void OptionError(const QString &text)
{
    std::fprintf(stderr, "scanstation-sim: %s\n", qPrintable(text));
}

bool ModelKnown(int model)
{
    for (int m : kModels)
        if (m == model)
            return true;
    return false;
}

QString ScenarioHelp()
{
    QString text = QStringLiteral("Start-up condition (--scenario):");
    for (const SimScenario &s : SimScenarios())
        text += QStringLiteral("\n  %1 %2").arg(s.name, -16).arg(s.description);
    text += QStringLiteral("\n\nFault of the cable (--cable-fault):");
    for (const CableFaultInfo &f : CableFaults())
        text += QStringLiteral("\n  %1 %2")
                    .arg(QLatin1String(f.name), -16)
                    .arg(QLatin1String(f.description));
    text += QStringLiteral("\n\nFault during a scan (--fault):");
    for (const ScanFaultInfo &f : ScanFaults())
        text += QStringLiteral("\n  %1 %2")
                    .arg(QLatin1String(f.name), -16)
                    .arg(QLatin1String(f.description));
    return text;
}

bool ArgumentGiven(int argc, char *argv[], const char *option)
{
    const std::size_t length = std::strlen(option);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strncmp(argv[i], option, length) == 0 &&
            (argv[i][length] == '\0' || argv[i][length] == '='))
            return true;
    }
    return false;
}

// A whole number of at least `minimum`, or FALSE with a message.
bool IntegerValue(const QCommandLineParser &parser, const char *option, int minimum, int *value)
{
    bool ok = false;
    const QString text = parser.value(QLatin1String(option));
    const int v = text.toInt(&ok);
    if (!ok || v < minimum) {
        OptionError(QStringLiteral("--%1 wants a whole number of at least %2, not \"%3\"")
                        .arg(QLatin1String(option))
                        .arg(minimum)
                        .arg(text));
        return false;
    }
    *value = v;
    return true;
}

} // namespace

const QVector<SimScenario> &SimScenarios()
{
    static const QVector<SimScenario> list = [] {
        QVector<SimScenario> l;
        for (const ScannerScenarioInfo &info : ScannerScenarios())
            l.append(
                {QLatin1String(info.name), QLatin1String(info.description), true, info.scenario});
        l.append({QLatin1String(kScenarioNoLdBoard),
                  QStringLiteral("the laser-diode board is not fitted: no 685 nm diode"), false,
                  ScannerScenario::None});
        return l;
    }();
    return list;
}

bool SimHelpRequested(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        for (const char *help : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], help) == 0)
                return true;
    }
    return false;
}

bool SimAutoScanRequested(int argc, char *argv[])
{
    return ArgumentGiven(argc, argv, "--auto-scan");
}

bool SimOptionsParse(const QCoreApplication &app, SimOptions *options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The scanner station on a virtual scanner: the station's own windows, "
                       "with the scanner bus and the I2C side boards emulated.\n\n") +
        ScenarioHelp());
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption model(
        QStringLiteral("model"),
        QStringLiteral("Scanner model: 11 KIREL-5000/5100, 10 KIREL-3000, "
                       "8 VESK-5000, 4 VESK-1800II (default 11)."),
        QStringLiteral("M"), QStringLiteral("11"));
    const QCommandLineOption root(
        QStringLiteral("root"),
        QStringLiteral("File-system root for the station's files (default: ~/scanstation-sim)."),
        QStringLiteral("DIR"), QDir::home().filePath(QStringLiteral("scanstation-sim")));
    const QCommandLineOption selfTest(
        QStringLiteral("selftest-ms"),
        QStringLiteral("Self-diagnosis time of the scanner after power-on (default 3000)."),
        QStringLiteral("N"), QStringLiteral("3000"));
    const QCommandLineOption scenario(QStringLiteral("scenario"),
                                      QStringLiteral("Start-up condition (listed above)."),
                                      QStringLiteral("NAME"), QStringLiteral("none"));
    const QCommandLineOption trace(
        QStringLiteral("trace"),
        QStringLiteral("Write the virtual scanner's command trace (one JSON line per command)."),
        QStringLiteral("FILE"));
    const QCommandLineOption printStatus(
        QStringLiteral("print-status"),
        QStringLiteral("Print each new text of the status label on standard output."));
    const QCommandLineOption exitWhenReady(
        QStringLiteral("exit-when-ready"),
        QStringLiteral("Exit with status 0 as soon as Start Scan is enabled; with status 1 when "
                       "it is not within the timeout."));
    const QCommandLineOption timeout(
        QStringLiteral("timeout"),
        QStringLiteral("Seconds --exit-when-ready waits for the scanner (default 60)."),
        QStringLiteral("S"), QStringLiteral("60"));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Save a picture: with --auto-scan of the scan window just before it "
                       "closes, otherwise of the main window when the scanner is ready."),
        QStringLiteral("FILE"));
    const QCommandLineOption lineMs(
        QStringLiteral("line-ms"),
        QStringLiteral("Time per scan line in ms; 0 as fast as the bus goes (default 0)."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption fault(QStringLiteral("fault"),
                                   QStringLiteral("Fault the scan meets (listed above)."),
                                   QStringLiteral("NAME"), QStringLiteral("none"));
    const QCommandLineOption faultAfter(
        QStringLiteral("fault-after-lines"),
        QStringLiteral("Lines handed out before the fault strikes (default 10)."),
        QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption autoScan(
        QStringLiteral("auto-scan"),
        QStringLiteral("Once ready, type NAME into the file-name box and press Start Scan; "
                       "print the title and text of the scan's last box, close it and exit "
                       "with 0 for \"SCAN COMPLETE\", else 1. Runs offscreen; --timeout "
                       "bounds the wait for ready."),
        QStringLiteral("NAME"));
    const QCommandLineOption autoStop(
        QStringLiteral("auto-stop"),
        QStringLiteral("With --auto-scan: press Escape in the scan window MS ms after it opened "
                       "and answer Yes to the stop question."),
        QStringLiteral("MS"));
    const QCommandLineOption referee(
        QStringLiteral("referee"),
        QStringLiteral("The cable referee: strict (the first breach of the bus rules ends the "
                       "program), warn (each rule's first breach on standard error), off "
                       "(default warn)."),
        QStringLiteral("MODE"), QStringLiteral("warn"));
    const QCommandLineOption pi(
        QStringLiteral("pi"),
        QStringLiteral("Register access costs of this Pi for the bus clock: pi3 or pi4 "
                       "(default pi3)."),
        QStringLiteral("PI"), QString::fromLatin1(DefaultPiProfile().name));
    const QCommandLineOption cableFault(
        QStringLiteral("cable-fault"),
        QStringLiteral("Fault of the cable, there from the start (listed above)."),
        QStringLiteral("NAME"), QStringLiteral("none"));
    parser.addOptions({model, root, selfTest, scenario, trace, printStatus, exitWhenReady, timeout,
                       screenshot, lineMs, fault, faultAfter, autoScan, autoStop, referee, pi,
                       cableFault});
    parser.process(app);

    if (!parser.positionalArguments().isEmpty()) {
        OptionError(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
        return false;
    }
    bool ok = IntegerValue(parser, "model", 0, &options->model) &&
              IntegerValue(parser, "selftest-ms", 0, &options->selfTestMs) &&
              IntegerValue(parser, "timeout", 1, &options->timeoutS) &&
              IntegerValue(parser, "line-ms", 0, &options->lineMs) &&
              IntegerValue(parser, "fault-after-lines", 0, &options->faultAfterLines);
    if (!ok)
        return false;
    if (!ModelKnown(options->model)) {
        OptionError(QStringLiteral("unknown model %1 (11, 10, 8 or 4)").arg(options->model));
        return false;
    }

    options->scenarioName = parser.value(scenario);
    const SimScenario *chosen = nullptr;
    for (const SimScenario &s : SimScenarios())
        if (s.name == options->scenarioName)
            chosen = &s;
    if (!chosen) {
        OptionError(
            QStringLiteral("unknown scenario \"%1\" (see --help)").arg(options->scenarioName));
        return false;
    }
    if (chosen->onScanner)
        options->scenario = chosen->scannerScenario;
    else
        options->ldBoard = false;

    options->faultName = parser.value(fault);
    if (!ScanFaultFromName(options->faultName, &options->fault)) {
        OptionError(QStringLiteral("unknown fault \"%1\" (see --help)").arg(options->faultName));
        return false;
    }
    if (!CableReferee::modeFromName(parser.value(referee), &options->referee)) {
        OptionError(QStringLiteral("unknown referee mode \"%1\" (strict, warn or off)")
                        .arg(parser.value(referee)));
        return false;
    }
    options->pi = PiProfileByName(parser.value(pi));
    if (!options->pi) {
        OptionError(QStringLiteral("unknown Pi \"%1\" (pi3 or pi4)").arg(parser.value(pi)));
        return false;
    }
    options->cableFaultName = parser.value(cableFault);
    if (!CableFaultFromName(options->cableFaultName, &options->cableFault)) {
        OptionError(
            QStringLiteral("unknown cable fault \"%1\" (see --help)").arg(options->cableFaultName));
        return false;
    }
    options->autoScanName = parser.value(autoScan);
    if (parser.isSet(autoScan) && options->autoScanName.isEmpty()) {
        OptionError(QStringLiteral("--auto-scan wants a file name"));
        return false;
    }
    if (parser.isSet(autoStop)) {
        if (!IntegerValue(parser, "auto-stop", 0, &options->autoStopMs))
            return false;
        if (!parser.isSet(autoScan)) {
            OptionError(QStringLiteral("--auto-stop goes with --auto-scan"));
            return false;
        }
    }

    options->root = QDir(parser.value(root)).absolutePath();
    options->traceFile = parser.value(trace);
    options->printStatus = parser.isSet(printStatus);
    options->exitWhenReady = parser.isSet(exitWhenReady);
    options->screenshotFile = parser.value(screenshot);
    return true;
}

bool SimRootPrepare(const QString &root, int model)
{
    QDir dir(root);
    const QString folders[] = {ModelDataDir(model), ModelDataDir(kModelKIREL5),
                               QStringLiteral("/home")};
    for (const QString &folder : folders)
        if (!dir.mkpath(dir.path() + folder)) {
            OptionError(QStringLiteral("cannot create %1").arg(dir.path() + folder));
            return false;
        }
    return true;
}
