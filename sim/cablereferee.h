// The cable referee: watches the SCSI cable of an emulated register block access by access
// on a virtual clock and records every breach of the rules that a real target and a real
// cable depend on.
//
// Virtual clock: every register access advances it by the cost of that access on the Pi
// profile in use, and a pause of the bus (BusPauseMicroseconds) by its length. Nothing
// depends on the speed of the machine that runs the emulation.
//
// Rules (name: what breaks it):
//   lost-assertion        the Pi asserts a SCSI line whose transceiver points inbound (it
//                         drives against the transceiver's output and never reaches the cable)
//   enable-off            the Pi asserts a SCSI line while the transceivers are disabled
//                         (enable pin GPIO 5 not 0)
//   two-drivers           the Pi's data lines on the cable while the target has held I/O for
//                         more than the data release delay (400 ns); or the Pi on a line that
//                         only a target drives (REQ, MSG, C/D, I/O)
//   blind-read            the Pi takes a byte (ACK) in DATA IN, STATUS or MESSAGE IN while its
//                         data transceivers point outbound: it reads its own pins
//   data-before-strobe    ACK in COMMAND, DATA OUT or MESSAGE OUT less than deskew + cable
//                         skew (55 ns) after the data lines last changed, or the data lines
//                         changing while ACK is asserted
//   parity                an outbound byte whose nine lines are not odd
//   handshake-order       ACK asserted while REQ is released, or released while REQ is
//                         still asserted
//   atn-late              ATN asserted after selection while no MESSAGE OUT has come (the
//                         IDENTIFY must be asked for before SEL is released)
//   atn-after-ack         ATN released in MESSAGE OUT after the byte's ACK
//   bus-free-delay        arbitration (the Pi's BSY on a free bus) less than 800 ns after the
//                         bus went free
//   arbitration-delay     SEL less than 2.4 us after the Pi's arbitration BSY
//   selection-ids         selection without exactly the initiator's bit 0x80 and one target
//                         bit on the data lines
//   selection-without-arbitration   SEL asserted on a free bus without arbitration
//   selection-settle      after arbitration, the IDs put on the data lines less than a bus
//                         clear and a bus settle delay (1.2 us) after SEL; BSY released less
//                         than two deskew delays (90 ns) after the IDs; SEL released less than
//                         two deskew delays after the target's BSY
//   reset-hold            RST released less than the reset hold time (25 us) after asserting it
//   reselection-bsy       the Pi releases its BSY answer to a reselection while the target
//                         still holds SEL
//
// A breach records the virtual time, the bus phase, the rule, the cable's lines and the last
// register accesses. Modes: Strict ends the program with the breach (tests run so, so a
// breach fails the test that caused it), Warn prints each rule's first breach on standard
// error, Record only keeps them, Off checks nothing. Rules on the tolerated list
// (ToleratedRules) are never reported.
#ifndef CABLEREFEREE_H
#define CABLEREFEREE_H

#include "gpioregs.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <limits>

// Costs of register accesses on one Raspberry Pi.
struct PiProfile {
    const char *name;
    quint32 levelReadNs; // one read of GPLEV0 (or of any GPIO register)
    quint32 writeNs;     // one posted register write
};

// "pi3" and "pi4". Figures from measurements of GPLEV0 reads (Pi 2/3 at 1.2 GHz: 55-100 ns;
// Pi 4 at 600 MHz-1.5 GHz: about 175 ns) and of posted writes (4-8 ns on both). Each takes
// the fast end of its range: a fast access is the hard case for a delay made of accesses.
const QVector<PiProfile> &PiProfiles();
const PiProfile *PiProfileByName(const QString &name);
// The profile of a new register block: "pi3", or the one named by the environment
// variable SCANSTATION_SIM_PI (so that the suite can run on each profile).
const PiProfile &DefaultPiProfile();

struct ToleratedRule {
    const char *rule;
    const char *reason;
};
// The rules the referee does not hold against the station, each with its reason.
const QVector<ToleratedRule> &ToleratedRules();

class CableReferee
{
public:
    enum class Mode { Off, Record, Warn, Strict };

    struct Breach {
        quint64 ns;
        QString phase;
        QString rule;
        QString detail;
        DWORD lines;      // asserted on the cable
        QString accesses; // the last register accesses, oldest first
        QString text() const;
    };

    // One register access as the breach shows it.
    struct Access {
        quint64 ns;
        int word;
        DWORD value;
        bool read;
    };

    // The board as it stands after an access.
    struct Board {
        DWORD pi;     // SCSI lines the Pi asserts at its pins
        DWORD reach;  // lines whose transceiver is enabled and points outbound
        bool enabled; // transceivers enabled
        DWORD cable;  // lines asserted on the cable
    };

    static constexpr int kAccessLog = 8;

    CableReferee();

    Mode mode() const { return mode_; }
    void setMode(Mode mode) { mode_ = mode; }
    static bool modeFromName(const QString &name, Mode *mode);

    const QVector<Breach> &breaches() const { return breaches_; }

    // The timing rules and the smallest margin (ns) by which the station met or missed each
    // so far; kNoMargin while none was measured.
    enum Timing {
        DataBeforeStrobe,
        SelectionSettle,
        DataRelease,
        BusFree,
        ArbitrationDelay,
        ResetHold,
        Timings
    };
    static constexpr qint64 kNoMargin = std::numeric_limits<qint64>::max();
    static const char *timingName(Timing t);
    qint64 margin(Timing t) const { return margins_[t]; }
    // Names of the rules broken so far, each once, in order.
    QStringList brokenRules() const;
    void clearBreaches() { breaches_.clear(); }

    // Before an access at `ns` (the state as it stood since the last one), and after it.
    void before(quint64 ns);
    void after(quint64 ns, const Board &board);
    void logAccess(quint64 ns, int word, DWORD value, bool read)
    {
        log_[logNext_] = {ns, word, value, read};
        logNext_ = (logNext_ + 1) % kAccessLog;
    }

private:
    void breach(quint64 ns, const char *rule, const QString &detail);
    void measure(Timing t, qint64 slack)
    {
        if (slack < margins_[t])
            margins_[t] = slack;
    }
    QString accessText() const;

    Mode mode_;
    QVector<Breach> breaches_;
    QStringList warned_;
    Access log_[kAccessLog] = {};
    int logNext_ = 0;

    Board prev_ = {0, 0, false, 0};
    DWORD lost_ = 0;
    quint64 busFreeSince_ = 0;
    quint64 ioSince_ = 0;
    quint64 dataChangedAt_ = 0;
    quint64 arbitrationAt_ = 0;
    quint64 resetAt_ = 0;
    quint64 selectionAt_ = 0;
    quint64 targetBusyAt_ = 0;
    bool arbitrating_ = false;
    bool messageOutSeen_ = false;
    bool dataDriveReported_ = false;
    qint64 margins_[Timings];
};

#endif // CABLEREFEREE_H
