// A software SCSI target at ID 5 that plays the scanner's half of the bus on an emulated
// register block, so that the station's own bus code runs unchanged against it.
//
// Run of one connection, advanced one step per sample of GPLEV0 (onLevelRead):
//   1. selection: SEL with the target's ID bit and BSY released -> the target asserts BSY;
//   2. once SEL is released: MESSAGE OUT while ATN is asserted (IDENTIFY), then COMMAND;
//      the CDB length follows from the group code of its first byte (or the handler);
//   3. the handler of the opcode decides the rest (see VirtualCommand): DATA IN or DATA OUT,
//      the status byte, or a disconnect (SAVE DATA POINTER, DISCONNECT, bus free) with a
//      later reselection (0xA0 on the data lines, SEL and I/O; after the station's BSY
//      answer: IDENTIFY 0x80 in MESSAGE IN, then the data phase and the rest);
//   4. STATUS, MESSAGE IN (COMMAND COMPLETE), bus free.
// Each byte is one REQ/ACK handshake. REQ is released before the phase lines change, and
// the phase lines settle one sample before REQ comes for the first byte of a phase. RST
// from the station puts the target back to bus free at once.
//
// Handler contract (CommandEntry):
//   - `command` runs once the CDB is complete, with `cdb` set. It fills `dataIn` (DATA IN
//     follows when not empty), or `dataOutLength` (DATA OUT of that many bytes follows),
//     and `status` (GOOD by default; checkCondition() sets CHECK CONDITION and the sense).
//     Setting `disconnect` makes the target disconnect after COMMAND and reselect after
//     `reselectAfterReads` samples of a free bus; the data phase and status come after
//     the reselection.
//   - `dataOut`, when set, runs after DATA OUT with `dataOut` holding the bytes taken (fewer
//     than asked when the station stopped early); it may still change `status`.
//   - `cdbLength` (0 = by group code) fixes the CDB length of the opcode.
//   - An opcode without handler answers CHECK CONDITION, ILLEGAL REQUEST / INVALID COMMAND
//     OPERATION CODE. The standard handler set is in standardcommands.h; a scanner model
//     installs its own table (setHandlers) or replaces single opcodes (setHandler).
//
// Command trace (on request): one JSON object per line for every command taken, written
// when the target leaves the bus after it:
//   {"cdb":"28 00 00 00 00 00 00 04 e2 00","out":"<data-out bytes>","in":<data-in count>,
//    "status":<status byte, or null when the target disconnected instead>}
// Hex bytes are lower case and separated by single blanks; "in" counts the DATA IN bytes
// the station took during that connection.
#ifndef VIRTUALSCANNER_H
#define VIRTUALSCANNER_H

#include "emulatedgpio.h"
#include "scsi.h"

#include <QByteArray>
#include <QHash>
#include <QStringList>
#include <QVector>

#include <functional>

class QIODevice;
class VirtualScanner;

// Fixed-format sense: key, additional sense code and qualifier.
struct SenseData {
    BYTE key = 0;
    BYTE asc = 0;
    BYTE ascq = 0;
    bool operator==(const SenseData &o) const
    {
        return key == o.key && asc == o.asc && ascq == o.ascq;
    }
};

namespace Sense
{
constexpr SenseData kNoSense{0x00, 0x00, 0x00};
/* not ready, cause not reportable */ constexpr SenseData kNotReady{0x02, 0x04, 0x00};
/* not ready, becoming ready */ constexpr SenseData kBecomingReady{0x02, 0x04, 0x01};
/* illegal request, invalid command operation code */
constexpr SenseData kInvalidOpcode{0x05, 0x20, 0x00};
/* illegal request, logical block address out of range */
constexpr SenseData kLbaOutOfRange{0x05, 0x21, 0x00};
/* illegal request, invalid field in CDB */ constexpr SenseData kInvalidField{0x05, 0x24, 0x00};
/* aborted command, SCSI parity error */ constexpr SenseData kParityError{0x0B, 0x47, 0x00};
} // namespace Sense

// One command as the handler sees and shapes it.
struct VirtualCommand {
    QByteArray cdb;     // as taken in COMMAND
    QByteArray dataOut; // DATA OUT bytes (for the dataOut handler)
    // Filled by the handler:
    QByteArray dataIn;     // bytes for DATA IN; empty: no DATA IN
    int dataOutLength = 0; // bytes to take in DATA OUT; 0: no DATA OUT
    BYTE status = 0x00;
    bool disconnect = false;
    int reselectAfterReads = 0;

    BYTE opcode() const { return cdb.isEmpty() ? 0 : BYTE(cdb[0]); }
    BYTE byte(int i) const { return i < cdb.size() ? BYTE(cdb[i]) : 0; }
};

using CommandHandler = std::function<void(VirtualScanner &, VirtualCommand &)>;

struct CommandEntry {
    CommandHandler command;
    CommandHandler dataOut;
    int cdbLength = 0;
};

using HandlerTable = QHash<BYTE, CommandEntry>;

// A small block device behind READ(10), WRITE(10) and READ CAPACITY.
struct RamDisk {
    int blockSize = 512;
    QByteArray bytes = QByteArray(2048 * 512, '\0');
    int blocks() const { return bytes.size() / blockSize; }
};

// Faults a real cable brings, played by the target and its cable (setCableFault).
enum class CableFault {
    None,
    PowerOff,      // the scanner switched off: every line released at once, no more answers
    StuckBsy,      // BSY stuck asserted on the cable (terminator power or a transceiver)
    StuckData,     // DB3 stuck asserted on the cable
    NoSelect,      // selection never answered (another SCSI ID, cable unplugged)
    NoReselect,    // a disconnected command never reselects
    WrongReselect, // reselection with ID 6 instead of 5
    HoldBsy,       // BSY held after the first command
};

struct CableFaultInfo {
    CableFault fault;
    const char *name; // as given on the command line
    const char *description;
};
// Every cable fault, "none" first.
const QVector<CableFaultInfo> &CableFaults();
bool CableFaultFromName(const QString &name, CableFault *fault);

// Faults the target plays on request; all off by default.
struct TargetFaults {
    bool powerOff = false;                     // no answer to selection (scanner switched off)
    bool holdBusy = false;                     // BSY held asserted while the target is idle
    bool ignoreAttention = false;              // no MESSAGE OUT for ATN: straight to COMMAND
    int cdbBytesTaken = -1;                    // take only this many CDB bytes, then leave the bus
    int dataBytesLimit = -1;                   // end the data phase after this many bytes ...
    BUS::phase_t afterDataLimit = BUS::status; // ... going to status, msgin or busfree
    int resetAfterDataBytes = -1;              // assert RST after this many data bytes
    bool unpowered = false;                    // switched off: drives nothing, answers nothing
    int powerOffAfterDataBytes = -1;           // unpowered after this many data bytes
    bool ignoreSelection = false;              // not this target's ID
    bool neverReselect = false;
    BYTE reselectIds = 0;              // 0: the initiator's and the target's bit
    bool holdBusyAfterCommand = false; // holdBusy from the end of the next command
};

class VirtualScanner : public BusDevice
{
public:
    static constexpr int kDefaultTargetId = 5;
    static constexpr int kResetHoldReads = 4; // samples for which an injected RST is held

    // Starts with the standard handler set (standardcommands.h).
    explicit VirtualScanner(int targetId = kDefaultTargetId);

    // The register block this target sits on; install it under the bus to use it.
    EmulatedGpio &registers() { return gpio_; }

    void setHandlers(const HandlerTable &table) { handlers_ = table; }
    void setHandler(BYTE opcode, const CommandEntry &entry) { handlers_[opcode] = entry; }
    void removeHandler(BYTE opcode) { handlers_.remove(opcode); }

    TargetFaults &faults() { return faults_; }
    // Puts a fault of the cable on this target and its register block; a power-off strikes
    // after `afterDataBytes` bytes of data phases (0: at once).
    void setCableFault(CableFault fault, int afterDataBytes = 0);

    // Sense data as REQUEST SENSE reports it; checkCondition() from a handler sets it.
    SenseData sense() const { return sense_; }
    void setSense(SenseData sense) { sense_ = sense; }
    void checkCondition(VirtualCommand &cmd, SenseData sense);
    // The next `commands` commands other than INQUIRY and REQUEST SENSE end with CHECK
    // CONDITION and this sense, without running their handler.
    void injectCheckCondition(SenseData sense, int commands = 1);

    // Data answered by the standard handlers.
    QByteArray inquiryData;
    QByteArray modeSenseData; // empty: a header and block descriptor of `disk`
    RamDisk disk;

    // Reselection: a disconnected command waits for it; held, it does not start.
    bool reselectionPending() const { return reselectPending_; }
    void setReselectionHeld(bool held) { reselectHeld_ = held; }

    // Command trace.
    void setTraceEnabled(bool on) { traceOn_ = on; }
    void setTraceDevice(QIODevice *device) { traceDevice_ = device; }
    QStringList traceLines() const { return trace_; }
    void clearTrace() { trace_.clear(); }

    // What the target saw.
    BUS::phase_t phase() const { return phase_; }
    int commandsTaken() const { return commandsTaken_; }
    QByteArray lastCdb() const { return cmd_.cdb; }
    QByteArray messagesOut() const { return messagesOut_; } // of the last connection
    quint64 steps() const { return steps_; }
    int resetsSeen() const { return resetsSeen_; } // bus resets from the station
    int parityErrors() const { return parityErrors_; }

    // Power-on state: bus released, nothing pending, sense cleared.
    void reset();

    void onLevelRead(EmulatedGpio &gpio) override;
    // The station's RST: every command and a pending reselection are dropped, the bus is
    // released at once.
    void onBusReset(EmulatedGpio &gpio) override;

private:
    enum class State { Idle, Selected, Transfer, ResetHold, Reselecting, ReselectAnswered };
    enum class Handshake { Present, WaitAck, WaitAckRelease };
    enum class AfterMsgIn { Release, Disconnect, Resume };

    void idleStep(DWORD wire);
    void transferStep(DWORD wire);
    void byteDone();
    void phaseDone();
    bool dataFaultDue();
    void setPhase(BUS::phase_t phase);
    void startSend(BUS::phase_t phase, const QByteArray &bytes);
    void startReceive(BUS::phase_t phase, int count);
    void startMsgIn(const QByteArray &messages, AfterMsgIn next);
    void startCommandPhase();
    void dispatch();
    void continueAfterCommand();
    void dataPhaseOver();
    void releaseBus(bool completed);
    void busReset();
    void driveData(BYTE value);
    void writeTrace(bool completed);
    int cdbLengthFor(BYTE opcode) const;

    EmulatedGpio gpio_;
    BYTE idBit_;
    HandlerTable handlers_;
    TargetFaults faults_;
    SenseData sense_;
    SenseData injectedSense_;
    int injectedChecks_ = 0;

    State state_ = State::Idle;
    Handshake hs_ = Handshake::Present;
    AfterMsgIn afterMsgIn_ = AfterMsgIn::Release;
    BUS::phase_t phase_ = BUS::busfree;
    DWORD drive_ = 0;
    bool sending_ = false;
    QByteArray out_;
    int pos_ = 0;
    QByteArray in_;
    int expected_ = 0;
    int dataCount_ = 0;
    int resetHold_ = 0;

    VirtualCommand cmd_;
    CommandEntry entry_;
    bool commandOpen_ = false; // a command taken and not yet traced
    bool statusSent_ = false;
    int dataInTaken_ = 0;
    QByteArray messagesOut_;
    bool reselectPending_ = false;
    bool reselectHeld_ = false;
    int reselectDelay_ = 0;
    quint64 answeredAt_ = 0; // when the station's BSY answered the reselection

    bool traceOn_ = false;
    QIODevice *traceDevice_ = nullptr;
    QStringList trace_;

    int commandsTaken_ = 0;
    int resetsSeen_ = 0;
    bool resetHeld_ = false;
    quint64 steps_ = 0;
    int parityErrors_ = 0;
    int parityErrorsBefore_ = 0; // at the start of the command in hand
};

#endif // VIRTUALSCANNER_H
