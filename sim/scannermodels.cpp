#include "scannermodels.h"

#include "scsicommands.h"
#include "standardcommands.h"

#include <iterator>

namespace
{
// What sets the models apart at start-up. The model number is also the first vendor byte
// of the INQUIRY answer.
struct ModelTraits {
    int model;
    const char *product;   // INQUIRY product text (padded to 16)
    bool statusRead;       // C1h status read and GET DATA BUFFER STATUS (KIREL-5000/5100)
    bool modeSense;        // MODE SENSE of the parameter page (KIREL-3000)
    bool imagingPlateUnit; // TEST UNIT READY reports the plate and the loading area
};

const ModelTraits kModels[] = {
    {kModelKIREL5, "KIREL-5100", true, false, false},
    {kModelKIREL3, "KIREL-3000", false, true, false},
    {kModelVESK5000, "VESK-5000", false, false, true},
    {kModelVESK1800, "VESK-1800II", false, false, true},
};

const ModelTraits &TraitsOf(int model)
{
    for (const auto &traits : kModels)
        if (traits.model == model)
            return traits;
    return kModels[0];
}

const char kVendor[] = "KIREL";
const char kRevision[] = "1.00";
constexpr int kInquiryLength = 38; // standard 36 bytes and two vendor bytes
constexpr int kInquiryAdditionalLengthAt = 4;
constexpr BYTE kHardwareRevision = 0x02;

// C1h status read.
constexpr int kStatusReadLength = 36;
constexpr int kWavelengthAt = 6; // slot n at 6 + 2n, big-endian
constexpr int kChannel1DetectorAt = 28;
constexpr int kScannerStateAt = 32;
constexpr BYTE kSlotUsable = 4;
constexpr BYTE kSlotEmpty = 0;
constexpr BYTE kStateSelfDiagnosis = 4;
constexpr BYTE kStateReady = 6;

// GET DATA BUFFER STATUS: a 4-byte header (3-byte length of what follows) and buffer
// descriptors; the first has the free space at 6-8 and the bytes waiting at 9-11.
constexpr int kBufferStatusLength = 20;
constexpr int kFreeBufferAt = 6;
constexpr int kFilledBufferAt = 9;
constexpr int kScannerBufferBytes = 0x800000 - 1; // 8 MB of image memory, as 24 bits

// MODE SENSE(6) of the KIREL-3000: header and one vendor page of 11 parameter bytes.
constexpr int kModeSenseLength = 17;
constexpr BYTE kParameterPage = 0x20;
constexpr int kModeHeaderLength = 4;

constexpr int kAllocationAt = 4;      // 6-byte CDBs
constexpr int kAllocationAt10Msb = 7; // 10-byte CDBs, 7-8
constexpr int kAllocationAt10Lsb = 8;

void Put24(QByteArray &a, int at, int v)
{
    a[at] = char(v >> 16);
    a[at + 1] = char(v >> 8);
    a[at + 2] = char(v);
}

int Allocation10(const VirtualCommand &c)
{
    return c.byte(kAllocationAt10Msb) << 8 | c.byte(kAllocationAt10Lsb);
}

const ScannerScenarioInfo kScenarios[] = {
    {ScannerScenario::None, "none",
     "the scanner is switched on, runs its self-diagnosis and becomes ready"},
    {ScannerScenario::Off, "off", "the scanner is switched off and never answers"},
    {ScannerScenario::DoorOpen, "door-open",
     "imaging-plate readers: the loading-area door is open (sense code 62h)"},
    {ScannerScenario::PlateInLoader, "plate-in-loader",
     "imaging-plate readers: an imaging plate lies in the loading area (sense code 61h)"},
    {ScannerScenario::NoPlate, "no-plate",
     "imaging-plate readers: no imaging plate in the reader, its idle state (sense code 21h)"},
};
} // namespace

const QVector<ScannerScenarioInfo> &ScannerScenarios()
{
    static const QVector<ScannerScenarioInfo> list(std::begin(kScenarios), std::end(kScenarios));
    return list;
}

bool ScannerScenarioFromName(const QString &name, ScannerScenario *scenario)
{
    for (const auto &info : kScenarios) {
        if (name == QLatin1String(info.name)) {
            *scenario = info.scenario;
            return true;
        }
    }
    return false;
}

QString ScannerScenarioName(ScannerScenario scenario)
{
    for (const auto &info : kScenarios)
        if (info.scenario == scenario)
            return QLatin1String(info.name);
    return QString();
}

ScannerModelSim::ScannerModelSim(int model, const ScannerModelOptions &options, Clock clock)
    : model_(isKnownModel(model) ? model : int(kModelKIREL5)), options_(options),
      clock_(std::move(clock))
{
    if (!clock_) {
        timer_.start();
        clock_ = [this] { return timer_.elapsed(); };
    }
    poweredOnAt_ = clock_();
    scanner_.inquiryData = StandardInquiryData(kVendor, productText(model_), kRevision);
    scanner_.inquiryData[kInquiryAdditionalLengthAt] = char(kInquiryLength - 5);
    scanner_.inquiryData.append(char(model_));
    scanner_.inquiryData.append(char(kHardwareRevision));
    scanner_.modeSenseData = modeSenseData();
    installHandlers();
    if (model_ != kModelKIREL3) {
        scan_.reset(new VirtualScan(scanner_, model_, options_.scan, clock_));
        scan_->install(false); // GET DATA BUFFER STATUS stays the model's, see below
    }
    poweredOn_ = options_.scenario != ScannerScenario::Off;
    scanner_.faults().powerOff = !poweredOn_;
}

ScannerModelSim::~ScannerModelSim()
{
    removeFromBus();
}

bool ScannerModelSim::isKnownModel(int model)
{
    for (const auto &traits : kModels)
        if (traits.model == model)
            return true;
    return false;
}

void ScannerModelSim::installOnBus()
{
    InstallEmulatedRegisters(registers());
}

void ScannerModelSim::removeFromBus()
{
    if (InstalledEmulatedRegisters() == registers())
        InstallEmulatedRegisters(nullptr);
}

void ScannerModelSim::setScenario(ScannerScenario scenario)
{
    options_.scenario = scenario;
    setPoweredOn(scenario != ScannerScenario::Off);
}

void ScannerModelSim::setPoweredOn(bool on)
{
    if (on == poweredOn())
        return;
    if (on) {
        scanner_.reset();
        poweredOnAt_ = clock_();
    }
    poweredOn_ = on;
    scanner_.faults().powerOff = !on;
}

qint64 ScannerModelSim::msSincePowerOn() const
{
    return clock_() - poweredOnAt_;
}

bool ScannerModelSim::selfTestRunning() const
{
    return msSincePowerOn() < options_.selfTestMs;
}

QByteArray ScannerModelSim::vendorText()
{
    return QByteArray(kVendor).leftJustified(8, ' ');
}

QByteArray ScannerModelSim::productText(int model)
{
    return QByteArray(TraitsOf(model).product).leftJustified(16, ' ');
}

bool ScannerModelSim::imagingPlateReader() const
{
    return TraitsOf(model_).imagingPlateUnit;
}

QByteArray ScannerModelSim::statusReadData() const
{
    QByteArray data(kStatusReadLength, '\0');
    for (int slot = 0; slot < kLaserSlots; ++slot) {
        const bool fitted = options_.lasersFitted & (1u << slot);
        data[slot] = char(fitted ? kSlotUsable : kSlotEmpty);
        const int wavelength = fitted ? options_.laserWavelengths[slot] : 0;
        data[kWavelengthAt + 2 * slot] = char(wavelength >> 8);
        data[kWavelengthAt + 2 * slot + 1] = char(wavelength);
    }
    data[kChannel1DetectorAt] = char(options_.channel1Detector ? 1 : 0);
    data[kScannerStateAt] = char(selfTestRunning() ? kStateSelfDiagnosis : kStateReady);
    return data;
}

QByteArray ScannerModelSim::bufferStatusData() const
{
    QByteArray data(kBufferStatusLength, '\0');
    Put24(data, 0, kBufferStatusLength - 3);
    Put24(data, kFreeBufferAt, kScannerBufferBytes - bufferedBytes_);
    Put24(data, kFilledBufferAt, bufferedBytes_);
    return data;
}

QByteArray ScannerModelSim::modeSenseData() const
{
    QByteArray data(kModeSenseLength, '\0');
    data[0] = char(kModeSenseLength - 1); // mode data length
    data[kModeHeaderLength] = char(kParameterPage);
    data[kModeHeaderLength + 1] = char(kModeSenseLength - kModeHeaderLength - 2);
    return data;
}

// The scanner's command set: the standard INQUIRY and REQUEST SENSE, TEST UNIT READY by
// model and the vendor commands of the model. Nothing else (no block device).
void ScannerModelSim::installHandlers()
{
    const HandlerTable standard = StandardCommandHandlers();
    const ModelTraits &traits = TraitsOf(model_);
    HandlerTable table;
    addHandler(table, kOpInquiry, standard.value(kOpInquiry).command);
    addHandler(table, kOpRequestSense, standard.value(kOpRequestSense).command);
    addHandler(table, kOpTestUnitReady,
               [this](VirtualScanner &, VirtualCommand &c) { testUnitReady(c); });
    if (traits.statusRead) {
        addHandler(table, kOpVendorStatusRead, [this](VirtualScanner &, VirtualCommand &c) {
            c.dataIn = statusReadData().left(c.byte(kAllocationAt));
        });
        addHandler(table, kOpGetDataBufferStatus, [this](VirtualScanner &, VirtualCommand &c) {
            if (scan_ && scan_->started())
                scan_->answerBufferStatus(c); // the bytes of the running scan
            else
                c.dataIn = bufferStatusData().left(Allocation10(c));
        });
    }
    if (traits.modeSense)
        addHandler(table, kOpModeSense6, standard.value(kOpModeSense6).command);
    scanner_.setHandlers(table);
}

// Every command passes afterCommand() once its handler has run.
void ScannerModelSim::addHandler(HandlerTable &table, BYTE opcode, CommandHandler handler)
{
    table[opcode].command = [this, handler](VirtualScanner &s, VirtualCommand &c) {
        handler(s, c);
        afterCommand();
    };
}

// A scanner switched off after a command still finishes that command: the fault only
// stops it from answering the next selection.
void ScannerModelSim::afterCommand()
{
    if (powerOffAfter_ > 0 && --powerOffAfter_ == 0)
        setPoweredOn(false);
}

void ScannerModelSim::testUnitReady(VirtualCommand &cmd)
{
    if (selfTestRunning()) {
        scanner_.checkCondition(cmd, Sense::kBecomingReady);
        return;
    }
    if (!imagingPlateReader())
        return;
    switch (options_.scenario) {
    case ScannerScenario::DoorOpen:
        scanner_.checkCondition(cmd, Sense::kDoorOpen);
        break;
    case ScannerScenario::PlateInLoader:
        scanner_.checkCondition(cmd, Sense::kPlateInLoader);
        break;
    case ScannerScenario::NoPlate:
        scanner_.checkCondition(cmd, Sense::kNoPlate);
        break;
    default:
        break;
    }
}
