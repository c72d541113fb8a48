#include "initiator.h"

#include <QLoggingCategory>

#include <csignal>
#include <cstdio>
#include <unistd.h>

GPIOBUS bus;
int scsiid = -1;
BOOL restore = FALSE;
int result = 0;
int StatusValue = 0;
int ScannerPhase = 0;

Q_LOGGING_CATEGORY(lcBus, "station.bus")

namespace
{
constexpr useconds_t kPhasePollUs = 200;    // WaitPhase and the bus-free wait
constexpr int kPhasePolls = 5000;           // counter start: 5001 polls, about one second
constexpr useconds_t kSelectionPollUs = 20; // waits for the target's BSY
constexpr int kArbitrationSelectPolls = 1000;
constexpr int kSelectionPolls = 10;
// The arbitration delay is 2.4 us. SleepNsec counts 8 ns per dummy write, but a posted
// write can take as little as 4 ns: 5600 makes 700 writes, 2.8 us at the fastest.
constexpr DWORD kArbitrationDelayNs = 5600;
// The same doubling, with some room, for the selection's delays: a bus clear and a bus
// settle delay (1.2 us) between SEL and the IDs, two deskew delays (90 ns) before BSY and
// SEL are let go.
constexpr DWORD kSelectionSettleNs = 2800;
constexpr DWORD kTwoDeskewNs = 240;
constexpr int kReconnectSamples = 500; // the tight loops of the reselection answer

volatile sig_atomic_t signalHandoverFd = -1;

// Samples until REQ or a non-zero phase, as after IDENTIFY: TRUE when that was seen before
// the handshake sample limit ran out.
bool WaitReqOrPhase()
{
    long remaining = GPIOBUS::kHandshakeSamples;
    DWORD s = bus.Aquire();
    while (!(s & kMaskREQ) && !(s & kMaskPhase) && --remaining > 0)
        s = bus.Aquire();
    return remaining > 0;
}
} // namespace

BOOL Init()
{
    if (std::signal(SIGINT, KillHandler) == SIG_ERR)
        return FALSE;
    if (std::signal(SIGHUP, KillHandler) == SIG_ERR)
        return FALSE;
    if (std::signal(SIGTERM, KillHandler) == SIG_ERR)
        return FALSE;
    if (!bus.Init(BUS::INITIATOR))
        return FALSE;
    scsiid = -1;
    restore = FALSE;
    return TRUE;
}

void Cleanup()
{
    bus.Cleanup();
}

void Reset()
{
    bus.Reset();
}

void BusFree()
{
    bus.Reset();
}

void BusResetPulse()
{
    bus.SetRST(TRUE);
    BusPauseMicroseconds(kBusResetPulseUs);
    bus.SetRST(FALSE);
}

// The GUI thread may be anywhere when the signal comes, even inside a bus wait or stdio: the
// handler only writes registers and calls write() and _exit(). A scan's files and records
// are left to the event loop; the interrupted transaction fails and the scan's end
// releases the bus again.
void KillHandler(int sig)
{
    bus.LinesRelease();
    const int fd = signalHandoverFd;
    if (fd < 0)
        _exit(0);
    const unsigned char number = static_cast<unsigned char>(sig);
    if (write(fd, &number, 1) != 1)
        _exit(128 + sig);
}

void SignalHandoverSet(int fd)
{
    signalHandoverFd = fd;
}

BOOL WaitPhase(BUS::phase_t phase)
{
    int count = kPhasePolls;
    do {
        BusPauseMicroseconds(kPhasePollUs);
        bus.Aquire();
        if (bus.GetREQ())
            break;
    } while (count-- > 0);
    return bus.GetPhase() == phase;
}

int KIREL5Arbitration()
{
    int count = kPhasePolls;
    do {
        BusPauseMicroseconds(kPhasePollUs);
        bus.Aquire();
        if (!bus.GetBSY())
            break;
    } while (count-- > 0);
    if (count <= 0) {
        std::fprintf(stderr, "ARBITRATION START, BUS NOT FREE %d\n", count);
        return -1;
    }

    bus.SetDAT(kInitiatorIdBit);
    bus.SetBSY(TRUE);
    bus.SleepNsec(kArbitrationDelayNs);

    // The station is the only initiator, so arbitration is not checked for a win.
    bus.SetSEL(TRUE);
    bus.SleepNsec(kSelectionSettleNs);
    bus.SetDAT(kReselectionIds);
    bus.SetATN(TRUE);
    bus.SleepNsec(kTwoDeskewNs);
    bus.SetBSY(FALSE);

    count = kArbitrationSelectPolls;
    do {
        bus.Aquire();
        if (bus.GetBSY())
            break;
        BusPauseMicroseconds(kSelectionPollUs);
    } while (count-- > 0);
    if (count <= 0) {
        std::fprintf(stderr, "KIREL5 NOT SELECTED %d\n", -1);
        return -1;
    }
    bus.SleepNsec(kTwoDeskewNs); // MessageOutKIREL5 lets SEL go

    if (MessageOutKIREL5(scsiid) == 0)
        return -2;
    return bus.GetBSY();
}

BOOL MessageOutKIREL5(int id)
{
    Q_UNUSED(id);
    BYTE identify = kIdentifyDisconnectLun0;
    bus.SetDAT(kIdentifyDisconnectLun0);
    bus.SetSEL(FALSE);
    if (!WaitPhase(BUS::msgout))
        return -1;
    if (bus.KIREL5SendHandShake(&identify, 1) < 1) {
        result = -1;
        return 0;
    }
    if (!WaitPhase(BUS::command))
        return 0;
    WaitReqOrPhase();
    bus.SetDAT(0x00);
    return bus.GetBSY();
}

BOOL Selection(int id)
{
    bus.SetDAT(BYTE(kInitiatorIdBit | (1 << id)));
    bus.SetSEL(TRUE);
    int count = kSelectionPolls;
    do {
        BusPauseMicroseconds(kSelectionPollUs);
        bus.Aquire();
        if (bus.GetBSY())
            break;
    } while (count-- > 0);
    bus.SleepNsec(kTwoDeskewNs);
    bus.SetSEL(FALSE);
    return bus.GetBSY();
}

BOOL Command(BYTE *buf, int count)
{
    if (!WaitPhase(BUS::command))
        return FALSE;
    return bus.SendHandShake(buf, count) == count;
}

int DataIn(BYTE *buf, int length)
{
    if (!WaitPhase(BUS::datain))
        return -1;
    return bus.ReceiveHandShake(buf, length);
}

int DataOut(BYTE *buf, int length)
{
    if (!WaitPhase(BUS::dataout))
        return -1;
    return bus.SendHandShake(buf, length);
}

int Status()
{
    StatusValue = 0;
    if (!WaitPhase(BUS::status))
        return -2;
    BYTE value = 0;
    if (bus.ReceiveHandShake(&value, 1) != 1)
        return -1;
    if (value != 0)
        std::fprintf(stderr, "Status = %02X\n", value);
    StatusValue = value;
    return value;
}

int MessageIn()
{
    if (!WaitPhase(BUS::msgin))
        return -2;
    BYTE value = 0;
    if (bus.ReceiveHandShake(&value, 1) != 1)
        return -1;
    return value;
}

int VESK18IIreconnect()
{
    bus.Aquire();
    if (!bus.GetIO())
        return -4;

    qCDebug(lcBus) << "I/O Reconnect";
    int count = kReconnectSamples;
    while (bus.GetDAT() != kReselectionIds) {
        if (--count <= 0)
            return -5;
    }

    qCDebug(lcBus) << "Initiator Reconnect";
    count = kReconnectSamples;
    while (bus.Aquire(), bus.GetBSY()) {
        if (--count <= 0) {
            std::fprintf(stderr, "Reconnect, BSY not released %d\n", count);
            return -6;
        }
    }

    qCDebug(lcBus) << "BSY Released Reconnect";
    bus.SetBSY(TRUE);
    // SEL is the target's now: through an outbound transceiver the station would see only
    // its own released pin and let BSY go while the target still holds SEL.
    bus.SetInitiatorOutbound(FALSE);
    count = kReconnectSamples;
    while (bus.Aquire(), bus.GetSEL()) {
        if (--count <= 0) {
            bus.SetInitiatorOutbound(TRUE);
            std::fprintf(stderr, "Reconnect, SEL not released %d\n", count);
            return -7;
        }
    }
    bus.SetInitiatorOutbound(TRUE);

    qCDebug(lcBus) << "SEL Released Reconnect";
    bus.SetBSY(FALSE);
    count = kReconnectSamples;
    while (bus.Aquire(), !bus.GetBSY()) {
        if (--count <= 0) {
            std::fprintf(stderr, "Reconnect, BSY not asserted %d\n", count);
            return -8;
        }
    }

    qCDebug(lcBus) << "BSY Reconnect";
    return bus.GetBSY();
}
