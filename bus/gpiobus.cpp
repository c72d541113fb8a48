#include "gpiobus.h"

#include <QtGlobal>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

// This file uses no Qt signals; the bus snapshot is called `signals`.
#undef signals

// ---------------------------------------------------------------------------------------
// Requests understood by the optional GPIO SCSI kernel driver.
// ---------------------------------------------------------------------------------------
namespace
{
constexpr unsigned long kDrvSetBase = 0x100;
constexpr unsigned long kDrvSetMode = 0x101;
constexpr unsigned long kDrvSetDrive = 0x102;

constexpr const char *kDriverDevice = "/dev/gpscsidrv";
constexpr const char *kMemDevice = "/dev/mem";
constexpr const char *kGpioMemDevice = "/dev/gpiomem";
constexpr const char *kRangesFile = "/proc/device-tree/soc/ranges";
constexpr const char *kModelFile = "/proc/device-tree/model";
constexpr const char *kCompatibleFile = "/proc/device-tree/compatible";
// The Pi 5's chip: its GPIO pins are driven by the RP1, not by the block this bus maps.
constexpr const char *kRp1Chip = "brcm,bcm2712";
// The Pi 4's chip: pull resistors through GPIO_PUP_PDN_CNTRL_REG0..3.
constexpr const char *kBcm2711Chip = "brcm,bcm2711";
constexpr DWORD kDefaultPeripheralBase = 0x20000000;

constexpr DWORD kDriveStrength16mA = 7;
constexpr DWORD kDriveStrength8mA = 3;

constexpr int kFieldBits = 3;
constexpr DWORD kFieldMask = 7;
constexpr int kPinsPerRegister = 10;

// The register mappings are made once per process and reused by every later Init, so that
// the Init before each protocol operation does not pile up mappings.
volatile DWORD *mappedGpio = nullptr;
volatile DWORD *mappedPads = nullptr;

#ifdef SCANSTATION_BUS_EMULATED
EmulatedRegisters *emulated = nullptr;
#endif

// What the bus reads and writes while it has no register block: before the first Init,
// after an Init that failed (perhaps half-way, with the GPIO block mapped and the pads
// block not) and on a machine that is not a Pi. Its level word reads every line released
// and its writes go nowhere, so a signal, a cleanup or a readout that comes then never
// touches a null block and never drives a pin from a function-select cache never read.
volatile DWORD unmappedGpio[kGpioBlockBytes / sizeof(DWORD)];
volatile DWORD unmappedPads[kPadsBlockBytes / sizeof(DWORD)];
constexpr DWORD kAllLinesReleased = 0xFFFFFFFF;

// Busy pause of about `us` microseconds for the pull-resistor sequence (the pins need 150
// cycles of set-up and hold; a sleep would hand the CPU away for far longer).
void PauseMicroseconds(int us)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
    while (std::chrono::steady_clock::now() < until) {
    }
}
} // namespace

void BusPauseMicroseconds(unsigned us)
{
#ifdef SCANSTATION_BUS_EMULATED
    if (emulated)
        emulated->pause(us);
#endif
    usleep(us);
}

#ifdef SCANSTATION_BUS_EMULATED
void InstallEmulatedRegisters(EmulatedRegisters *regs)
{
    emulated = regs;
}

EmulatedRegisters *InstalledEmulatedRegisters()
{
    return emulated;
}
#endif

bool DeviceTreeNamesRaspberryPi(const char *path)
{
    static const char kPrefix[] = "Raspberry Pi";
    char text[sizeof kPrefix] = {};
    FILE *f = std::fopen(path, "rb");
    if (!f)
        return false;
    const size_t got = std::fread(text, 1, sizeof kPrefix - 1, f);
    std::fclose(f);
    return got == sizeof kPrefix - 1 && std::memcmp(text, kPrefix, got) == 0;
}

bool DeviceTreeIsCompatible(const char *path, const char *name)
{
    FILE *f = std::fopen(path, "rb");
    if (!f)
        return false;
    char text[512] = {};
    const size_t got = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    // A list of NUL-ended names.
    for (size_t at = 0; at < got; at += std::strlen(text + at) + 1)
        if (std::strcmp(text + at, name) == 0)
            return true;
    return false;
}

bool HardwareBuildCanMapRegisters()
{
#if defined(__linux__) && (defined(__arm__) || defined(__aarch64__))
    // On a Pi 5 the mapped block would hold other peripherals' registers, not the pins.
    return DeviceTreeNamesRaspberryPi(kModelFile) &&
           !DeviceTreeIsCompatible(kCompatibleFile, kRp1Chip);
#else
    return false;
#endif
}

bool HardwareIsBcm2711()
{
    return DeviceTreeIsCompatible(kCompatibleFile, kBcm2711Chip);
}

DWORD get_dt_ranges(const char *filename, DWORD offset)
{
    DWORD address = 0xFFFFFFFF;
    FILE *fp = std::fopen(filename, "rb");
    if (fp) {
        unsigned char buf[4];
        std::fseek(fp, offset, SEEK_SET);
        if (std::fread(buf, 1, sizeof buf, fp) == sizeof buf)
            address = DWORD(buf[0]) << 24 | DWORD(buf[1]) << 16 | DWORD(buf[2]) << 8 | buf[3];
        std::fclose(fp);
    }
    return address;
}

// The BCM283x boards (Pi 1 to 3) give the peripheral base as one cell at offset 4. The Pi 4
// gives parent addresses in two cells: offset 4 holds the upper half, 0, and the base follows
// at offset 8. Taking that 0 would map the GPIO and pads blocks at physical address 0.
DWORD PeripheralAddressFrom(const char *rangesFile)
{
    DWORD address = get_dt_ranges(rangesFile, 4);
    if (address == 0)
        address = get_dt_ranges(rangesFile, 8);
    return address == 0xFFFFFFFF ? kDefaultPeripheralBase : address;
}

DWORD bcm_host_get_peripheral_address()
{
    return PeripheralAddressFrom(kRangesFile);
}

const int GPIOBUS::SignalTable[19] = {
    PIN_DT0,     PIN_DT0 + 1, PIN_DT0 + 2, PIN_DT0 + 3, PIN_DT0 + 4, PIN_DT0 + 5, PIN_DT0 + 6,
    PIN_DT0 + 7, PIN_DP,      PIN_SEL,     PIN_ATN,     PIN_RST,     PIN_ACK,     PIN_BSY,
    PIN_MSG,     PIN_CD,      PIN_IO,      PIN_REQ,     -1};

const BUS::phase_t BUS::phase_table[8] = {
    dataout,  // 0 0 0
    datain,   // 0 0 1
    command,  // 0 1 0
    status,   // 0 1 1
    reserved, // 1 0 0
    reserved, // 1 0 1
    msgout,   // 1 1 0
    msgin,    // 1 1 1
};

BUS::phase_t BUS::GetPhase()
{
    if (GetSEL())
        return selection;
    if (!GetBSY())
        return busfree;
    DWORD mci = GetMSG() ? 0x04 : 0x00;
    mci |= GetCD() ? 0x02 : 0x00;
    mci |= GetIO() ? 0x01 : 0x00;
    return GetPhase(mci);
}

// ---------------------------------------------------------------------------------------
// Register seam
// ---------------------------------------------------------------------------------------
#ifdef SCANSTATION_BUS_EMULATED
inline DWORD GPIOBUS::GpioRead(int word) const
{
    return emulated ? emulated->readGpio(word) : gpio[word];
}
inline void GPIOBUS::GpioWrite(int word, DWORD value)
{
    if (emulated)
        emulated->writeGpio(word, value);
    else
        gpio[word] = value;
}
inline DWORD GPIOBUS::LevelRead() const
{
    return emulated ? emulated->readGpio(GPLEV0) : *level;
}
inline DWORD GPIOBUS::PadsRead(int word) const
{
    return emulated ? emulated->readPads(word) : pads[word];
}
inline void GPIOBUS::PadsWrite(int word, DWORD value)
{
    if (emulated)
        emulated->writePads(word, value);
    else
        pads[word] = value;
}
bool GPIOBUS::RegistersReady() const
{
    return emulated || gpio != unmappedGpio;
}
#else
inline DWORD GPIOBUS::GpioRead(int word) const
{
    return gpio[word];
}
inline void GPIOBUS::GpioWrite(int word, DWORD value)
{
    gpio[word] = value;
}
inline DWORD GPIOBUS::LevelRead() const
{
    return *level;
}
inline DWORD GPIOBUS::PadsRead(int word) const
{
    return pads[word];
}
inline void GPIOBUS::PadsWrite(int word, DWORD value)
{
    pads[word] = value;
}
bool GPIOBUS::RegistersReady() const
{
    return gpio != unmappedGpio;
}
#endif

GPIOBUS::GPIOBUS()
{
    RegistersUnmapped();
}

void GPIOBUS::RegistersUnmapped()
{
    unmappedGpio[GPLEV0] = kAllLinesReleased;
    gpio = unmappedGpio;
    pads = unmappedPads;
    level = &gpio[GPLEV0];
}

// Maps the GPIO block (and the pads block when no kernel driver does the pad set-up), or
// reuses the mappings of an earlier Init.
bool GPIOBUS::MapRegisters(DWORD base)
{
    if (!HardwareBuildCanMapRegisters())
        return false;

    if (!mappedGpio) {
        void *map = MAP_FAILED;
        int fd = open(kMemDevice, O_RDWR | O_SYNC);
        if (fd >= 0) {
            map = mmap(nullptr, kGpioBlockBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                       off_t(base) + kGpioBlockOffset);
        } else {
            fd = open(kGpioMemDevice, O_RDWR | O_SYNC);
            if (fd < 0)
                return false;
            map = mmap(nullptr, kGpioBlockBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        }
        close(fd);
        if (map == MAP_FAILED)
            return false;
        mappedGpio = static_cast<volatile DWORD *>(map);
    }
    gpio = mappedGpio;
    level = &gpio[GPLEV0];

    if (drvfd < 0) {
        if (!mappedPads) {
            const int fd = open(kMemDevice, O_RDWR | O_SYNC);
            std::fprintf(stderr, "Activated GpSCSI PADS.%d\n", fd);
            if (fd < 0)
                return false;
            void *map = mmap(nullptr, kPadsBlockBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                             off_t(base) + kPadsBlockOffset);
            close(fd);
            if (map == MAP_FAILED)
                return false;
            mappedPads = static_cast<volatile DWORD *>(map);
        }
        pads = mappedPads;
    }
    return true;
}

BOOL GPIOBUS::Init(mode_e mode)
{
    actmode = mode;
    const DWORD base = bcm_host_get_peripheral_address();
    drvfd = -1;
    RegistersUnmapped();

#ifdef SCANSTATION_BUS_EMULATED
    const bool useHardware = emulated == nullptr;
#else
    const bool useHardware = true;
#endif
    if (useHardware) {
        // The kernel driver drives real pins: only ever on the Pi itself.
        if (HardwareBuildCanMapRegisters()) {
            drvfd = open(kDriverDevice, O_RDWR);
            if (drvfd >= 0) {
                std::fprintf(stderr, "Activated GpSCSI GPIO Driver");
                ioctl(drvfd, kDrvSetBase, base);
                ioctl(drvfd, kDrvSetMode, static_cast<unsigned long>(actmode));
            }
        }
        if (!MapRegisters(base)) {
            RegistersUnmapped();
            return FALSE;
        }
    }

#ifdef SCANSTATION_BUS_EMULATED
    bcm2711 = emulated ? emulated->bcm2711() : HardwareIsBcm2711();
#else
    bcm2711 = HardwareIsBcm2711();
#endif
    DrvConfig(kDriveStrength16mA);

    for (int i = 0; SignalTable[i] >= 0; i++) {
        const int pin = SignalTable[i];
        PinSetSignal(pin, FALSE);
        PinConfig(pin, kGpioInput);
        PullConfig(pin, 0);
    }

    PinSetSignal(PIN_TAD, FALSE);
    PinSetSignal(PIN_IND, FALSE);
    PinSetSignal(PIN_DTD, FALSE);
    PinConfig(PIN_ACT, kGpioOutput);
    PinConfig(PIN_TAD, kGpioOutput);
    PinConfig(PIN_IND, kGpioOutput);
    PinConfig(PIN_DTD, kGpioOutput);
    PinSetSignal(PIN_ENB, FALSE);
    PinSetSignal(PIN_ACT, FALSE);
    PinConfig(PIN_ENB, kGpioOutput);

    for (int i = 0; i < 4; i++)
        gpfsel[i] = GpioRead(GPFSEL0 + i);

    MakeTable();
    return TRUE;
}

void GPIOBUS::Reset()
{
    for (int i = 0; SignalTable[i] >= 0; i++)
        SetSignal(SignalTable[i], FALSE);

    if (actmode == TARGET) {
        SetControl(PIN_TAD, FALSE);
        SetMode(PIN_BSY, kGpioInput);
        SetMode(PIN_MSG, kGpioInput);
        SetMode(PIN_CD, kGpioInput);
        SetMode(PIN_REQ, kGpioInput);
        SetMode(PIN_IO, kGpioInput);
        SetControl(PIN_IND, FALSE);
        SetMode(PIN_SEL, kGpioInput);
        SetMode(PIN_ATN, kGpioInput);
        SetMode(PIN_ACK, kGpioInput);
        SetMode(PIN_RST, kGpioInput);
        SetControl(PIN_DTD, TRUE);
        for (int pin = PIN_DT0; pin <= PIN_DP; pin++)
            SetMode(pin, kGpioInput);
    } else {
        SetControl(PIN_TAD, FALSE);
        SetMode(PIN_BSY, kGpioInput);
        SetMode(PIN_MSG, kGpioInput);
        SetMode(PIN_CD, kGpioInput);
        SetMode(PIN_REQ, kGpioInput);
        SetMode(PIN_IO, kGpioInput);
        // SEL, ATN, ACK, RST and the data pins are outputs only while asserted; asking for
        // output here changes nothing (SetMode).
        SetControl(PIN_IND, TRUE);
        SetMode(PIN_SEL, kGpioOutput);
        SetMode(PIN_ATN, kGpioOutput);
        SetMode(PIN_ACK, kGpioOutput);
        SetMode(PIN_RST, kGpioOutput);
        SetControl(PIN_DTD, FALSE);
        for (int pin = PIN_DT0; pin <= PIN_DP; pin++)
            SetMode(pin, kGpioOutput);
    }
    signals = 0;
    dataFree = true;
}

void GPIOBUS::Cleanup()
{
    if (!RegistersReady())
        return;
    LinesRelease();
    for (int i = 0; SignalTable[i] >= 0; i++)
        PullConfig(SignalTable[i], 0);

    DrvConfig(kDriveStrength8mA);

    if (drvfd >= 0) {
        close(drvfd);
        drvfd = -1;
        std::fprintf(stderr, "Closed GpSCSI GPIO Driver.\n");
    }
}

void GPIOBUS::LinesRelease()
{
    // The lines are released before the transceivers go off: a pin left asserted behind a
    // disabled transceiver would be an assertion the cable never sees.
    for (int i = 0; SignalTable[i] >= 0; i++) {
        const int pin = SignalTable[i];
        PinSetSignal(pin, FALSE);
        PinConfig(pin, kGpioInput);
    }

    PinSetSignal(PIN_ENB, TRUE);
    PinSetSignal(PIN_TAD, FALSE);
    PinSetSignal(PIN_IND, FALSE);
    PinSetSignal(PIN_DTD, FALSE);
    PinConfig(PIN_ACT, kGpioInput);
    PinConfig(PIN_TAD, kGpioInput);
    PinConfig(PIN_IND, kGpioInput);
    PinConfig(PIN_DTD, kGpioInput);
}

// ---------------------------------------------------------------------------------------
// Signals
// ---------------------------------------------------------------------------------------
DWORD GPIOBUS::Aquire()
{
    signals = ~LevelRead();
    return signals;
}

BOOL GPIOBUS::GetBSY()
{
    return GetSignal(PIN_BSY);
}

void GPIOBUS::SetBSY(BOOL ast)
{
    if (ast) {
        SetControl(PIN_TAD, TRUE);
        SetSignal(PIN_BSY, TRUE);
    } else {
        // Released before the transceivers turn inbound, so that BSY never stands asserted
        // at a pin whose transceiver no longer carries it.
        SetMode(PIN_BSY, kGpioInput);
        SetMode(PIN_MSG, kGpioInput);
        SetMode(PIN_CD, kGpioInput);
        SetMode(PIN_REQ, kGpioInput);
        SetMode(PIN_IO, kGpioInput);
        SetControl(PIN_TAD, FALSE);
    }
}

BOOL GPIOBUS::GetSEL()
{
    return GetSignal(PIN_SEL);
}

void GPIOBUS::SetSEL(BOOL ast)
{
    SetSignal(PIN_SEL, ast);
}

BOOL GPIOBUS::GetATN()
{
    return GetSignal(PIN_ATN);
}

void GPIOBUS::SetATN(BOOL ast)
{
    SetSignal(PIN_ATN, ast);
}

BOOL GPIOBUS::GetACK()
{
    return GetSignal(PIN_ACK);
}

void GPIOBUS::SetACK(BOOL ast)
{
    SetSignal(PIN_ACK, ast);
}

BOOL GPIOBUS::GetRST()
{
    return GetSignal(PIN_RST);
}

void GPIOBUS::SetRST(BOOL ast)
{
    SetSignal(PIN_RST, ast);
}

BOOL GPIOBUS::GetMSG()
{
    return GetSignal(PIN_MSG);
}

void GPIOBUS::SetMSG(BOOL ast)
{
    SetSignal(PIN_MSG, ast);
}

BOOL GPIOBUS::GetCD()
{
    return GetSignal(PIN_CD);
}

void GPIOBUS::SetCD(BOOL ast)
{
    SetSignal(PIN_CD, ast);
}

// An initiator turns its data lines with I/O: inbound while the target sends. The pins
// are released before the transceivers turn, never asserted against an inbound one.
BOOL GPIOBUS::GetIO()
{
    const BOOL ast = GetSignal(PIN_IO);
    if (actmode == INITIATOR) {
        if (ast) {
            DataPinsToInput();
            SetControl(PIN_DTD, TRUE);
            dataFree = false;
        } else {
            SetControl(PIN_DTD, FALSE);
        }
    }
    return ast;
}

// A target turns its data lines with I/O: outbound while it sends.
void GPIOBUS::SetIO(BOOL ast)
{
    SetSignal(PIN_IO, ast);
    if (actmode == TARGET) {
        if (ast) {
            SetControl(PIN_DTD, FALSE);
        } else {
            SetControl(PIN_DTD, TRUE);
            DataPinsToInput();
        }
    }
}

BOOL GPIOBUS::GetREQ()
{
    return GetSignal(PIN_REQ);
}

void GPIOBUS::SetREQ(BOOL ast)
{
    SetSignal(PIN_REQ, ast);
}

BYTE GPIOBUS::GetDAT()
{
    Aquire();
    return BYTE((signals >> PIN_DT0) & 0xFF);
}

// Outside a send the data lines carry a byte only from bus free to the first information
// phase (arbitration, selection, the IDENTIFY byte). Once a phase has begun the target may
// turn the bus round at any moment, so a byte put there then (the C0h before a DATA IN)
// stays off the lines: it would still be driving when the target's data came.
void GPIOBUS::SetDAT(BYTE dat)
{
    if (dataFree)
        PutDAT(dat);
}

// Three writes per byte and no branch: each data and parity pin is output (asserted) for a
// 1 bit and input (released) for a 0 bit.
void GPIOBUS::PutDAT(BYTE dat)
{
    gpfsel[0] = (gpfsel[0] & tblDatMsk[0][dat]) | tblDatSet[0][dat];
    GpioWrite(GPFSEL0, gpfsel[0]);
    gpfsel[1] = (gpfsel[1] & tblDatMsk[1][dat]) | tblDatSet[1][dat];
    GpioWrite(GPFSEL1, gpfsel[1]);
    gpfsel[2] = (gpfsel[2] & tblDatMsk[2][dat]) | tblDatSet[2][dat];
    GpioWrite(GPFSEL2, gpfsel[2]);
}

BYTE GPIOBUS::GetPHASEDAT()
{
    Aquire();
    BYTE ret = 0;
    ret |= GetMSG() ? 0x01 : 0;
    ret |= GetCD() ? 0x02 : 0;
    ret |= GetSignal(PIN_IO) ? 0x04 : 0;
    ret |= GetREQ() ? 0x08 : 0;
    ret |= GetACK() ? 0x10 : 0;
    ret |= GetBSY() ? 0x20 : 0;
    ret |= GetSEL() ? 0x40 : 0;
    ret |= GetATN() ? 0x80 : 0;
    return ret;
}

void GPIOBUS::SleepNsec(DWORD ns)
{
    DWORD writes = (ns + 7) / 8;
    while (writes--)
        GpioWrite(GPPUD, 0);
}

// ---------------------------------------------------------------------------------------
// Handshakes
// ---------------------------------------------------------------------------------------
namespace
{
// How a handshake wait ended.
enum WaitEnd { kWaitMet, kWaitAborted, kWaitTimedOut };

// One wait of a handshake: samples until `done` holds for the snapshot or `abort` ends the
// transfer. A condition met on the very last sample counts as a timeout.
template <class Done, class Abort> WaitEnd HandshakeWait(GPIOBUS &b, Done done, Abort abort)
{
    for (long remaining = GPIOBUS::kHandshakeSamples; remaining > 0;) {
        const DWORD s = b.Aquire();
        --remaining;
        if (abort(s))
            return kWaitAborted;
        if (done(s))
            return remaining > 0 ? kWaitMet : kWaitTimedOut;
    }
    return kWaitTimedOut;
}

bool ReqAsserted(DWORD s)
{
    return s & kMaskREQ;
}
bool ReqReleased(DWORD s)
{
    return !(s & kMaskREQ);
}
bool AckAsserted(DWORD s)
{
    return s & kMaskACK;
}
bool AckReleased(DWORD s)
{
    return !(s & kMaskACK);
}
bool RstAsserted(DWORD s)
{
    return s & kMaskRST;
}
} // namespace

// The initiator's byte loop of SendHandShake, KIREL5SendHandShake (send) and
// ReceiveHandShake (receive). The phase is that of the current snapshot.
int GPIOBUS::InitiatorTransfer(BYTE *buf, int count, bool send)
{
    const DWORD phase = signals & kMaskPhase;
    const auto phaseChanged = [phase](DWORD s) { return (s & kMaskPhase) != phase; };
    int i = 0;
    for (; i < count; i++) {
        WaitEnd w;
        w = HandshakeWait(*this, ReqAsserted, phaseChanged);
        if (w != kWaitMet)
            break;
        if (send) {
            PutDAT(buf[i]);
            SetSignal(PIN_ATN, FALSE);
            SleepNsec(100);
            SetSignal(PIN_ACK, TRUE);
            GpioWrite(GPSET0, 1u << PIN_ACT);
        } else {
            GpioWrite(GPSET0, 1u << PIN_ACT);
            SleepNsec(1);
            buf[i] = GetDAT();
            SetSignal(PIN_ACK, TRUE);
        }
        w = HandshakeWait(*this, ReqReleased, phaseChanged);
        SetSignal(PIN_ACK, FALSE);
        GpioWrite(GPCLR0, 1u << PIN_ACT);
        if (w != kWaitMet)
            break;
    }
    // The target may turn the bus round as soon as the last ACK is gone: the data lines
    // are released within a few writes, well inside the data release delay.
    if (send && count > 0) {
        DataPinsToInput();
        dataFree = false;
    }
    return i;
}

int GPIOBUS::ReceiveHandShake(BYTE *buf, int count)
{
    if (actmode == TARGET) {
        int i = 0;
        for (; i < count; i++) {
            WaitEnd w;
            SetSignal(PIN_REQ, TRUE);
            w = HandshakeWait(*this, AckAsserted, RstAsserted);
            if (w != kWaitMet)
                break;
            SleepNsec(1);
            buf[i] = GetDAT();
            SetSignal(PIN_REQ, FALSE);
            w = HandshakeWait(*this, AckReleased, RstAsserted);
            if (w != kWaitMet)
                break;
        }
        return i;
    }
    if (drvfd >= 0)
        return int(read(drvfd, buf, count));
    return InitiatorTransfer(buf, count, false);
}

int GPIOBUS::SendHandShake(BYTE *buf, int count)
{
    if (actmode == TARGET) {
        int i = 0;
        WaitEnd w = kWaitMet;
        for (; i < count; i++) {
            SetDAT(buf[i]);
            SleepNsec(100);
            w = HandshakeWait(*this, AckReleased, RstAsserted);
            if (w != kWaitMet)
                break;
            SetSignal(PIN_REQ, TRUE);
            w = HandshakeWait(*this, AckAsserted, RstAsserted);
            SetSignal(PIN_REQ, FALSE);
            if (w != kWaitMet)
                break;
        }
        if (w == kWaitMet)
            w = HandshakeWait(*this, AckReleased, RstAsserted);
        return i;
    }
    if (drvfd >= 0)
        return int(write(drvfd, buf, count));
    return InitiatorTransfer(buf, count, true);
}

int GPIOBUS::KIREL5SendHandShake(BYTE *buf, int count)
{
    Aquire();
    return InitiatorTransfer(buf, count, true);
}

int GPIOBUS::MonitorHandShake(BYTE *buf, BYTE *phase, int count)
{
    int i = 0;
    for (; i < count; i++) {
        WaitEnd w;
        w = HandshakeWait(*this, ReqAsserted, RstAsserted);
        if (w != kWaitMet)
            break;
        w = HandshakeWait(*this, AckAsserted, RstAsserted);
        if (w != kWaitMet)
            break;
        SleepNsec(1);
        buf[i] = GetDAT();
        *phase = GetPHASEDAT();
        w = HandshakeWait(*this, ReqReleased, RstAsserted);
        if (w != kWaitMet)
            break;
        w = HandshakeWait(*this, AckReleased, RstAsserted);
        if (w != kWaitMet)
            break;
    }
    return i;
}

// ---------------------------------------------------------------------------------------
// Pin and pad configuration
// ---------------------------------------------------------------------------------------
void GPIOBUS::DrvConfig(DWORD drive)
{
    if (drvfd >= 0) {
        ioctl(drvfd, kDrvSetDrive, static_cast<unsigned long>(drive));
        return;
    }
    const DWORD data = PadsRead(PADS_GPIO_0_27);
    PadsWrite(PADS_GPIO_0_27, (data & ~kPadsDriveMask) | drive | kPadsPassword);
}

void GPIOBUS::PinConfig(int pin, int mode)
{
    if (pin < 0)
        return;
    const int index = pin / kPinsPerRegister;
    const int shift = (pin % kPinsPerRegister) * kFieldBits;
    const DWORD word = GpioRead(GPFSEL0 + index);
    GpioWrite(GPFSEL0 + index, (word & ~(kFieldMask << shift)) | (DWORD(mode & 7) << shift));
}

// The BCM2835 pull-resistor procedure: write the control value to GPPUD, wait 150 cycles,
// clock it into the pin through GPPUDCLK0, wait 150 cycles, then clear both.
void GPIOBUS::PullConfig(int pin, int mode)
{
    if (pin < 0)
        return;
    if (bcm2711) {
        // The BCM2711 ignores GPPUD: each pin has a field of its own. The BCM2835 codes
        // (0 none, 1 down, 2 up) become 00 none, 10 down, 01 up there.
        static const DWORD kFieldOf[4] = {kPull2711None, kPull2711Down, kPull2711Up, kPull2711None};
        const int word = GPIO_PUP_PDN_CNTRL_REG0 + pin / 16;
        const int shift = (pin % 16) * 2;
        const DWORD value = GpioRead(word);
        GpioWrite(word, (value & ~(3u << shift)) | kFieldOf[mode & 3] << shift);
        return;
    }
    GpioWrite(GPPUD, DWORD(mode & 3));
    PauseMicroseconds(1);
    GpioWrite(GPPUDCLK0, 1u << pin);
    PauseMicroseconds(1);
    GpioWrite(GPPUD, 0);
    GpioWrite(GPPUDCLK0, 0);
}

void GPIOBUS::PinSetSignal(int pin, BOOL ast)
{
    if (pin < 0)
        return;
    GpioWrite(ast ? GPSET0 : GPCLR0, 1u << pin);
}

// For every byte value, the masks and bits that put the byte and its odd parity on
// GPIO 10..18 through GPFSEL0..2 (10 pins per register, 3 bits per pin).
void GPIOBUS::MakeTable()
{
    static const int pintbl[kDataPins] = {PIN_DT0,     PIN_DT0 + 1, PIN_DT0 + 2,
                                          PIN_DT0 + 3, PIN_DT0 + 4, PIN_DT0 + 5,
                                          PIN_DT0 + 6, PIN_DT0 + 7, PIN_DP};
    for (int v = 0; v < 256; v++) {
        int parity = 0;
        for (int b = 0; b < 8; b++)
            parity ^= (v >> b) & 1;
        const DWORD bits = DWORD(v) | (parity ? 0u : 0x100u);

        for (int i = 0; i < 3; i++) {
            tblDatMsk[i][v] = 0xFFFFFFFF;
            tblDatSet[i][v] = 0;
        }
        for (int j = 0; j < kDataPins; j++) {
            const int index = pintbl[j] / kPinsPerRegister;
            const int shift = (pintbl[j] % kPinsPerRegister) * kFieldBits;
            tblDatMsk[index][v] &= ~(kFieldMask << shift);
            if (bits & (1u << j))
                tblDatSet[index][v] |= DWORD(kGpioOutput) << shift;
        }
    }
}

void GPIOBUS::SetControl(int pin, BOOL ast)
{
    PinSetSignal(pin, ast);
}

// Only a switch to input does anything: a pin becomes an output (asserted) through
// SetSignal or SetDAT alone.
void GPIOBUS::SetMode(int pin, int mode)
{
    if (mode == kGpioOutput)
        return;
    const int index = pin / kPinsPerRegister;
    const int shift = (pin % kPinsPerRegister) * kFieldBits;
    gpfsel[index] &= ~(kFieldMask << shift);
    GpioWrite(GPFSEL0 + index, gpfsel[index]);
}

BOOL GPIOBUS::GetSignal(int pin)
{
    return (signals >> pin) & 1;
}

void GPIOBUS::SetSignal(int pin, BOOL ast)
{
    const int index = pin / kPinsPerRegister;
    const int shift = (pin % kPinsPerRegister) * kFieldBits;
    DWORD data = gpfsel[index] & ~(kFieldMask << shift);
    if (ast)
        data |= DWORD(kGpioOutput) << shift;
    GpioWrite(GPFSEL0 + index, data);
    gpfsel[index] = data;
}

// GPIO 10..18 to input in one write of the cached GPFSEL1 (all nine are in that register;
// the data tables hold the mask that clears their fields).
void GPIOBUS::DataPinsToInput()
{
    static_assert(PIN_DT0 / kPinsPerRegister == 1 && PIN_DP / kPinsPerRegister == 1,
                  "data pins share GPFSEL1");
    gpfsel[1] &= tblDatMsk[1][0];
    GpioWrite(GPFSEL1, gpfsel[1]);
}
