// The four scanner models on the virtual scanner: what each one answers while the station
// looks for it at start-up, from power-on through the self-diagnosis to ready.
//
// A ScannerModelSim owns one VirtualScanner and gives it the command set of its model:
//
//   all models       12h INQUIRY: 38 bytes, vendor "KIREL   ", a product naming the model
//                    ("KIREL-5100      ", "KIREL-3000      ", "VESK-5000       ",
//                    "VESK-1800II     "), revision "1.00", two vendor bytes (model number,
//                    hardware revision); cut to the allocation length
//                    03h REQUEST SENSE: 18-byte fixed-format sense, cleared once reported
//                    00h TEST UNIT READY: while the self-diagnosis runs CHECK CONDITION,
//                    NOT READY / BECOMING READY (02h, 04h, 01h); afterwards by model:
//   KIREL-5000/5100  TEST UNIT READY good
//                    C1h status read: 36 bytes; 0-3 laser slot states (4 fitted and usable,
//                    0 empty), 6-13 the slot wavelengths in nm (16 bits, big-endian), 28 the
//                    channel-1 detector (1 present), 32 the scanner state (4 self-diagnosis,
//                    6 ready)
//                    34h GET DATA BUFFER STATUS: 20 bytes; 9-11 image bytes waiting (0 while
//                    no scan runs), 6-8 free buffer space
//   KIREL-3000       TEST UNIT READY good
//                    1Ah MODE SENSE(6): 17 bytes (header and the scanner's parameter page)
//   VESK-5000,       TEST UNIT READY good with an imaging plate in the reader; CHECK
//   VESK-1800II      CONDITION, NOT READY with sense code 21h without one, 61h with a plate
//                    in the loading area, 62h with the loading-area door open
//
// Scenarios put the scanner in one of the conditions the station must cope with at start-
// up (ScannerScenario). Opcodes the model does not know answer CHECK CONDITION, ILLEGAL
// REQUEST; the scan commands (MODE SELECT, START, the shading read, READ(10)) join the
// model tables when the scan is built.
//
// Time: the self-diagnosis runs for `selfTestMs` after power-on (construction, or
// setPoweredOn(true) after being off), measured on the model's clock: a QElapsedTimer
// unless the caller hands in its own (tests do, so that nothing depends on real time).
//
// Typical use (simulator):
//   ScannerModelOptions options;
//   options.selfTestMs = 3000;
//   ScannerScenarioFromName("door-open", &options.scenario);
//   ScannerModelSim model(11, options);
//   model.installOnBus();             // the bus now talks to this scanner
//   model.scanner().setTraceDevice(&traceFile);
#ifndef SCANNERMODELS_H
#define SCANNERMODELS_H

#include "scanhandlers.h"
#include "virtualscanner.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

// Conditions at start-up.
enum class ScannerScenario {
    None,          // switched on, self-diagnosis, then ready (imaging-plate readers: a plate
                   // in the reader)
    Off,           // switched off: no answer to selection
    DoorOpen,      // imaging-plate readers: loading-area door open (sense code 62h)
    PlateInLoader, // imaging-plate readers: plate in the loading area (sense code 61h)
    NoPlate,       // imaging-plate readers: no plate in the reader, their idle state (21h)
};

struct ScannerScenarioInfo {
    ScannerScenario scenario;
    const char *name;        // as given on the command line: "none", "off", "door-open", ...
    const char *description; // one line for --help
};

// Every scenario, "none" first.
const QVector<ScannerScenarioInfo> &ScannerScenarios();
// TRUE and the scenario when `name` is one of ScannerScenarios().
bool ScannerScenarioFromName(const QString &name, ScannerScenario *scenario);
QString ScannerScenarioName(ScannerScenario scenario);

// Sense conditions of the models besides the generic ones of virtualscanner.h.
namespace Sense
{
/* not ready, no imaging plate in the reader */ constexpr SenseData kNoPlate{0x02, 0x21, 0x00};
/* not ready, imaging plate in the loading area */
constexpr SenseData kPlateInLoader{0x02, 0x61, 0x00};
/* not ready, loading-area door open */ constexpr SenseData kDoorOpen{0x02, 0x62, 0x00};
} // namespace Sense

// The KIREL-5000/5100 laser slots.
constexpr int kLaserSlots = 4;

struct ScannerModelOptions {
    int selfTestMs = 3000; // self-diagnosis time after power-on
    ScannerScenario scenario = ScannerScenario::None;
    // KIREL-5000/5100: bit n set = laser slot n fitted and usable; with its wavelength.
    unsigned lasersFitted = 0x0F;
    int laserWavelengths[kLaserSlots] = {473, 532, 635, 670};
    bool channel1Detector = true; // KIREL-5000/5100: channel-1 detector fitted
    ScanOptions scan;             // scanning (scanhandlers.h): line pace and scan faults
};

class ScannerModelSim
{
public:
    // Milliseconds on a monotonic clock; only differences count.
    using Clock = std::function<qint64()>;

    // `model` is a ScannerType value (11, 10, 8 or 4); an unknown one plays the
    // KIREL-5000/5100. An empty clock means a QElapsedTimer started here.
    explicit ScannerModelSim(int model, const ScannerModelOptions &options = {}, Clock clock = {});
    // Takes the register block away from the bus if it is still installed there.
    ~ScannerModelSim();
    ScannerModelSim(const ScannerModelSim &) = delete;
    ScannerModelSim &operator=(const ScannerModelSim &) = delete;

    static bool isKnownModel(int model);

    int model() const { return model_; }
    const ScannerModelOptions &options() const { return options_; }
    VirtualScanner &scanner() { return scanner_; }
    EmulatedRegisters *registers() { return &scanner_.registers(); }
    // The scanning of the model (scanhandlers.h); none on the KIREL-3000.
    VirtualScan *scan() { return scan_.get(); }

    // Puts this scanner's register block under the bus (and takes it away again).
    void installOnBus();
    void removeFromBus();

    // Scenario changes while running (the door closed, the plate taken out, ...).
    ScannerScenario scenario() const { return options_.scenario; }
    void setScenario(ScannerScenario scenario);

    // Switching on starts a new self-diagnosis; switching off makes the scanner ignore
    // selection (the scenario Off starts with the scanner off).
    bool poweredOn() const { return poweredOn_; }
    void setPoweredOn(bool on);
    // The scanner answers `commands` more commands and then goes off (0: never). For
    // tests of a scanner lost in the middle of a series.
    void setPowerOffAfterCommands(int commands) { powerOffAfter_ = commands; }

    // Self-diagnosis on the model's clock.
    qint64 msSincePowerOn() const;
    bool selfTestRunning() const;

    // The INQUIRY vendor and product texts of a model (8 and 16 characters).
    static QByteArray vendorText();
    static QByteArray productText(int model);

    // Answers of the vendor commands as they stand now (also used by tests).
    QByteArray statusReadData() const;   // C1h, 36 bytes (KIREL-5000/5100)
    QByteArray bufferStatusData() const; // 34h, 20 bytes
    QByteArray modeSenseData() const;    // 1Ah, 17 bytes (KIREL-3000)

    // Image bytes the scanner holds for the station (reported by GET DATA BUFFER STATUS).
    void setBufferedBytes(int bytes) { bufferedBytes_ = bytes; }
    int bufferedBytes() const { return bufferedBytes_; }

private:
    void installHandlers();
    void addHandler(HandlerTable &table, BYTE opcode, CommandHandler handler);
    void afterCommand();
    void testUnitReady(VirtualCommand &cmd);
    bool imagingPlateReader() const;

    int model_;
    ScannerModelOptions options_;
    Clock clock_;
    QElapsedTimer timer_;
    qint64 poweredOnAt_ = 0;
    bool poweredOn_ = true;
    int powerOffAfter_ = 0;
    int bufferedBytes_ = 0;
    VirtualScanner scanner_;
    std::unique_ptr<VirtualScan> scan_; // goes before the scanner it sits on
};

#endif // SCANNERMODELS_H
