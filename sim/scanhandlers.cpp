#include "scanhandlers.h"

#include "scsicommands.h"

#include <cmath>
#include <limits>

namespace
{
constexpr int kModelVesk5000 = 8;
constexpr int kModelVesk1800 = 4;

constexpr int kShadingAnswerBytes = 4040;
constexpr int kShadingHeaderBytes = 8;
constexpr int kBufferStatusBytes = 20;
constexpr qint64 kMax24 = 0xFFFFFF;
constexpr int kShadingPitchUm = 10000; // grid pitch in pixels = this / R
constexpr int kVesk1800LineUm = 232000;
constexpr int kVesk5000LineUm = 204800;
constexpr int kMaxPixelValue = 65535;

/* medium error, unrecovered read error */ constexpr SenseData kMediumError{0x03, 0x11, 0x00};
/* hardware error, internal target failure */ constexpr SenseData kHardwareError{0x04, 0x44, 0x00};
/* not ready, no imaging plate in the reader */ constexpr SenseData kPlateMissing{0x02, 0x21, 0x00};

// Parameter block fields.
constexpr int kKirelResolutionAt = 7;
constexpr int kKirelLaserAt = 9;
constexpr int kKirelLeftAt = 16;
constexpr int kKirelLowerAt = 19;
constexpr int kKirelWidthAt = 22;
constexpr int kKirelHeightAt = 25;
constexpr int kKirelBlockBytes = 28;
constexpr int kReaderPitchAt = 1;
constexpr int kReaderLeftAt = 3;
constexpr int kReaderWidthAt = 5;
constexpr int kReaderBlockBytes = 7;

int Big(const QByteArray &a, int at, int bytes)
{
    int v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | BYTE(a[at + i]);
    return v;
}

int TransferLength(const VirtualCommand &c)
{
    return c.byte(6) << 16 | c.byte(7) << 8 | c.byte(8);
}

BYTE ShadingSelectorOfLaser(int laser)
{
    switch (laser) {
    case 1:
        return 3;
    case 2:
        return 4;
    case 4:
        return 5;
    case 8:
        return 6;
    default:
        return 0;
    }
}

void Put16(char *p, int v)
{
    p[0] = char(v >> 8);
    p[1] = char(v);
}
} // namespace

const QVector<ScanFaultInfo> &ScanFaults()
{
    static const QVector<ScanFaultInfo> faults = {
        {ScanFault::None, "none", "the scan runs to its end"},
        {ScanFault::SenseError, "sense-error", "a medium error in the middle of the scan"},
        {ScanFault::IllegalRequestOnce, "illegal-request",
         "one ILLEGAL REQUEST in the middle of the scan; the scan goes on"},
        {ScanFault::BusHeldBusy, "bus-busy", "the scanner holds the bus busy mid-scan"},
        {ScanFault::DataInCutShort, "data-cut", "one piece cut short on the bus, sent again"},
        {ScanFault::NoPlate, "no-plate", "imaging-plate readers: no plate at START"},
        {ScanFault::PowerOff, "power-off", "the scanner is switched off mid-scan"},
        {ScanFault::Stall, "stall", "the scanner keeps answering but sends no more lines"},
        {ScanFault::StartFails, "start-fails", "START ends in CHECK CONDITION"},
    };
    return faults;
}

bool ScanFaultFromName(const QString &name, ScanFault *fault)
{
    for (const ScanFaultInfo &info : ScanFaults()) {
        if (name == QLatin1String(info.name)) {
            *fault = info.fault;
            return true;
        }
    }
    return false;
}

int ReaderLineBytes(int model, int readerPitch)
{
    if (readerPitch <= 0)
        return 0;
    const int lineUm = model == kModelVesk5000 ? kVesk5000LineUm : kVesk1800LineUm;
    return lineUm / readerPitch * 2;
}

int ReaderPieceParts(int model, int readerPitch)
{
    if (model == kModelVesk5000)
        return readerPitch == 25 ? 4 : 2;
    return readerPitch == 50 ? 2 : 1;
}

VirtualScan::VirtualScan(VirtualScanner &scanner, int model, const ScanOptions &options,
                         Clock clock)
    : scanner_(scanner), model_(model), options_(options), clock_(std::move(clock))
{
    timer_.start();
}

VirtualScan::~VirtualScan()
{
    scanner_.registers().attach(&scanner_);
}

bool VirtualScan::plateReader() const
{
    return model_ == kModelVesk1800 || model_ == kModelVesk5000;
}

qint64 VirtualScan::now() const
{
    return clock_ ? clock_() : timer_.elapsed();
}

void VirtualScan::install(bool bufferStatus)
{
    auto bind = [this](void (VirtualScan::*f)(VirtualCommand &)) {
        return [this, f](VirtualScanner &, VirtualCommand &c) { (this->*f)(c); };
    };
    scanner_.setHandler(kOpModeSelect6,
                        {bind(&VirtualScan::modeSelect), bind(&VirtualScan::modeSelectData), 0});
    scanner_.setHandler(kOpStartStop, {bind(&VirtualScan::start), nullptr, 0});
    scanner_.setHandler(kOpRead10, {bind(&VirtualScan::read), nullptr, 0});
    if (!plateReader()) {
        scanner_.setHandler(kOpVendorShadingRead, {bind(&VirtualScan::shadingRead), nullptr, 0});
        if (bufferStatus)
            scanner_.setHandler(kOpGetDataBufferStatus,
                                {bind(&VirtualScan::bufferStatus), nullptr, 0});
    }
    scanner_.registers().attach(this);
}

void VirtualScan::scanRequested()
{
    if (options_.fault == ScanFault::NoPlate && plateReader() && !faultDone_) {
        faultDone_ = true;
        takePlateOut();
    }
}

void VirtualScan::takePlateOut()
{
    scanner_.injectCheckCondition(kPlateMissing, 1);
}

// The pace and the held bus live between the register block and the scanner: they act on
// the samples of the bus, before the scanner's own turn.
void VirtualScan::onLevelRead(EmulatedGpio &gpio)
{
    if (powerOffDue()) {
        // The same switched-off scanner as the cable fault power-off: every line released,
        // nothing answered.
        faultDone_ = true;
        scanner_.faults().unpowered = true;
    }
    if (heldForPace_ && now() >= releaseAt_) {
        heldForPace_ = false;
        scanner_.setReselectionHeld(false);
    }
    if (busyLeft_ > 0 && scanner_.phase() == BUS::busfree && --busyLeft_ == 0)
        scanner_.faults().holdBusy = false;
    scanner_.onLevelRead(gpio);
    // A held bus is held from the very sample on which the scanner lets its last
    // transaction go, not one sample later.
    if (scanner_.faults().holdBusy && scanner_.phase() == BUS::busfree)
        gpio.setDeviceDrive(gpio.deviceDrive() | kMaskBSY);
}

void VirtualScan::onBusReset(EmulatedGpio &gpio)
{
    started_ = false;
    heldForPace_ = false;
    scanner_.setReselectionHeld(false);
    scanner_.onBusReset(gpio);
}

int VirtualScan::stallLine() const
{
    return options_.fault == ScanFault::Stall ? qMin(lines_, options_.faultAfterLines) : lines_;
}

int VirtualScan::linesReady() const
{
    if (!started_)
        return 0;
    if (options_.lineMs <= 0)
        return stallLine();
    return int(qMin<qint64>(stallLine(), (now() - startedAt_) / options_.lineMs));
}

qint64 VirtualScan::lineBytes() const
{
    return plateReader() ? ReaderLineBytes(model_, readerPitch_) : qint64(width_) * 2;
}

qint64 VirtualScan::bytesWaiting() const
{
    return qMax<qint64>(0, linesReady() * lineBytes() - handedOut_);
}

bool VirtualScan::faultDue() const
{
    return !faultDone_ && handedOut_ >= qint64(options_.faultAfterLines) * lineBytes();
}

// Off between two commands, once the last piece before the fault has gone out whole.
bool VirtualScan::powerOffDue() const
{
    return options_.fault == ScanFault::PowerOff && started_ && faultDue() &&
           scanner_.phase() == BUS::busfree && !scanner_.reselectionPending();
}

// A data phase cut short on the last READ is over once the station sends anything else.
void VirtualScan::commandBegins()
{
    if (!cutArmed_)
        return;
    cutArmed_ = false;
    scanner_.faults().dataBytesLimit = -1;
    scanner_.faults().afterDataLimit = BUS::status;
}

void VirtualScan::modeSelect(VirtualCommand &cmd)
{
    commandBegins();
    cmd.dataOutLength = cmd.byte(4);
}

void VirtualScan::modeSelectData(VirtualCommand &cmd)
{
    params_ = cmd.dataOut;
    started_ = false;
    if (plateReader()) {
        if (params_.size() < kReaderBlockBytes)
            return;
        readerPitch_ = BYTE(params_[kReaderPitchAt]);
        plateLeftUm_ = Big(params_, kReaderLeftAt, 2) * 1000;
        lines_ = readerPitch_ ? Big(params_, kReaderWidthAt, 2) * 1000 / readerPitch_ : 0;
        return;
    }
    if (params_.size() < kKirelBlockBytes)
        return;
    resolution_ = BYTE(params_[kKirelResolutionAt]);
    if (resolution_ == 0)
        return;
    xstart_ = Big(params_, kKirelLeftAt, 3) / resolution_;
    ystart_ = Big(params_, kKirelLowerAt, 3) / resolution_;
    width_ = Big(params_, kKirelWidthAt, 3) / resolution_;
    lines_ = Big(params_, kKirelHeightAt, 3) / resolution_;
    const int selector = ShadingSelectorOfLaser(BYTE(params_[kKirelLaserAt]));
    for (int k = 0; k < kPhantomShadingColumns * kPhantomShadingRows; ++k)
        factors_[k % kPhantomShadingColumns][k / kPhantomShadingColumns] =
            ShadingNodeFactor(ShadingTableValue(selector, k));
}

void VirtualScan::shadingRead(VirtualCommand &cmd)
{
    commandBegins();
    const BYTE selector = cmd.byte(5);
    QByteArray data(kShadingAnswerBytes, '\0');
    data[0] = char(0x0F);
    data[1] = char(0xC0);
    data[2] = char(selector);
    data[3] = char(kPhantomShadingColumns);
    data[4] = char(kPhantomShadingRows);
    for (int k = 0; k < kPhantomShadingColumns * kPhantomShadingRows; ++k)
        Put16(data.data() + kShadingHeaderBytes + 2 * k, ShadingTableValue(selector, k));
    cmd.dataIn = data;
}

void VirtualScan::start(VirtualCommand &cmd)
{
    commandBegins();
    if (options_.fault == ScanFault::StartFails && !faultDone_) {
        faultDone_ = true;
        started_ = false;
        scanner_.checkCondition(cmd, kHardwareError);
        return;
    }
    started_ = true;
    startedAt_ = now();
    handedOut_ = 0;
    if (plateReader())
        cmd.disconnect = true; // reselects when the start is done
}

void VirtualScan::bufferStatus(VirtualCommand &cmd)
{
    commandBegins();
    const qint64 waiting = qMin(kMax24, bytesWaiting());
    const qint64 space = kMax24 - waiting;
    QByteArray data(kBufferStatusBytes, '\0');
    for (int i = 0; i < 3; ++i) {
        data[6 + i] = char(space >> (16 - 8 * i));
        data[9 + i] = char(waiting >> (16 - 8 * i));
    }
    cmd.dataIn = data;
    if (options_.fault == ScanFault::Stall && started_ && linesReady() < lines_ &&
        handedOut_ >= stallLine() * lineBytes())
        faultDone_ = true;
    const bool sense =
        options_.fault == ScanFault::SenseError || options_.fault == ScanFault::IllegalRequestOnce;
    if (sense && started_ && faultDue()) {
        faultDone_ = true;
        scanner_.setSense(options_.fault == ScanFault::SenseError ? kMediumError
                                                                  : Sense::kInvalidField);
        cmd.status = kStatusCheckCondition; // the data still goes out
    }
}

void VirtualScan::read(VirtualCommand &cmd)
{
    commandBegins();
    const int length = TransferLength(cmd);
    const bool plate = plateReader();
    if (!started_ || length <= 0 || (!plate && length > bytesWaiting())) {
        scanner_.checkCondition(cmd, Sense::kInvalidField);
        return;
    }
    cmd.dataIn = plate ? readerBytes(handedOut_, length) : fluorescenceBytes(handedOut_, length);

    if (options_.fault == ScanFault::DataInCutShort && faultDue()) {
        // This piece stops short on the bus and is not used up.
        faultDone_ = true;
        cutArmed_ = true;
        scanner_.faults().dataBytesLimit = options_.cutBytes;
        scanner_.faults().afterDataLimit = BUS::busfree;
    } else {
        handedOut_ += length;
    }
    if (options_.fault == ScanFault::BusHeldBusy && faultDue()) {
        faultDone_ = true;
        scanner_.setSense(kHardwareError);
        scanner_.faults().holdBusy = true;
        busyLeft_ = options_.busHeldSamples;
    }
    if (!plate)
        return;

    cmd.disconnect = true;
    if (options_.fault == ScanFault::Stall && handedOut_ > qint64(stallLine()) * lineBytes()) {
        // The piece holds lines the scanner never gets to: it never reselects.
        faultDone_ = true;
        heldForPace_ = true;
        releaseAt_ = std::numeric_limits<qint64>::max();
        scanner_.setReselectionHeld(true);
    } else if (options_.lineMs > 0) {
        const qint64 lastLine = (handedOut_ + lineBytes() - 1) / lineBytes();
        releaseAt_ = startedAt_ + lastLine * options_.lineMs;
        if (now() < releaseAt_) {
            heldForPace_ = true;
            scanner_.setReselectionHeld(true);
        }
    }
}

QByteArray VirtualScan::fluorescenceBytes(qint64 offset, int count) const
{
    QByteArray data(count, '\0');
    char *out = data.data();
    const int inc = kShadingPitchUm / resolution_;
    qint64 pixel = offset / 2;
    for (int b = 0; b + 1 < count; b += 2, ++pixel) {
        const int bedX = xstart_ + int(pixel % width_);
        const int bedY = ystart_ + int(pixel / width_);
        const int nx = qMin(bedX / inc + 1, kPhantomShadingColumns - 1);
        const int ny = qMin(bedY / inc + 1, kPhantomShadingRows - 1);
        const int s = PhantomValue(qint64(bedX) * resolution_, qint64(bedY) * resolution_);
        const long raw = std::lround(double(s) * double(factors_[nx][ny]));
        Put16(out + b, int(qMin<long>(raw, kMaxPixelValue)));
    }
    return data;
}

QByteArray VirtualScan::readerBytes(qint64 offset, int count) const
{
    const int lineLength = ReaderLineBytes(model_, readerPitch_);
    const int parts = ReaderPieceParts(model_, readerPitch_);
    QByteArray piece(count, '\0');
    char *out = piece.data();
    for (int b = 0; b + 1 < count; b += 2) {
        const qint64 at = offset + b;
        const qint64 line = at / lineLength;
        if (line >= lines_)
            break;
        const int pixel = int(at % lineLength) / 2;
        Put16(out + b,
              PhantomValue(plateLeftUm_ + line * readerPitch_, qint64(pixel) * readerPitch_));
    }
    if (parts == 1 || count % parts != 0)
        return piece;
    // The last part goes out first.
    QByteArray sent;
    sent.reserve(count);
    const int part = count / parts;
    for (int p = parts - 1; p >= 0; --p)
        sent.append(piece.constData() + p * part, part);
    return sent;
}
