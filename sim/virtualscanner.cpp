#include "virtualscanner.h"

#include "scsicommands.h"
#include "standardcommands.h"

#include <QIODevice>

namespace
{
constexpr BYTE kReselectIdentify = 0x80; // IDENTIFY, LUN 0, sent by the target
constexpr BYTE kSelectionInitiatorBit = 0x80;
constexpr quint64 kBusSettleNs = 400;
// CDB length by group code (top three bits of the opcode). Groups 6 and 7 are vendor
// specific: the scanners use 6-byte C1h and 10-byte E0h commands.
constexpr int kCdbLengthByGroup[8] = {6, 10, 10, 6, 16, 12, 6, 10};

DWORD PhaseLines(BUS::phase_t phase)
{
    switch (phase) {
    case BUS::dataout:
        return 0;
    case BUS::datain:
        return kMaskIO;
    case BUS::command:
        return kMaskCD;
    case BUS::status:
        return kMaskCD | kMaskIO;
    case BUS::msgout:
        return kMaskMSG | kMaskCD;
    case BUS::msgin:
        return kMaskMSG | kMaskCD | kMaskIO;
    default:
        return 0;
    }
}

QString HexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}
} // namespace

const QVector<CableFaultInfo> &CableFaults()
{
    static const QVector<CableFaultInfo> faults = {
        {CableFault::None, "none", "no fault"},
        {CableFault::PowerOff, "power-off",
         "the scanner is switched off (with a count: after that many data bytes)"},
        {CableFault::StuckBsy, "stuck-bsy", "BSY stuck asserted on the cable"},
        {CableFault::StuckData, "stuck-data", "data bit DB3 stuck asserted on the cable"},
        {CableFault::NoSelect, "no-select", "selection never answered (another SCSI ID)"},
        {CableFault::NoReselect, "no-reselect", "a reader that disconnects never reselects"},
        {CableFault::WrongReselect, "wrong-reselect", "a reader reselects with SCSI ID 6"},
        {CableFault::HoldBsy, "hold-bsy", "the scanner holds BSY after the first command"},
    };
    return faults;
}

bool CableFaultFromName(const QString &name, CableFault *fault)
{
    for (const CableFaultInfo &f : CableFaults())
        if (name == QLatin1String(f.name)) {
            *fault = f.fault;
            return true;
        }
    return false;
}

void VirtualScanner::setCableFault(CableFault fault, int afterDataBytes)
{
    constexpr BYTE kWrongTargetBit = 0x40; // ID 6
    switch (fault) {
    case CableFault::None:
        break;
    case CableFault::PowerOff:
        if (afterDataBytes > 0)
            faults_.powerOffAfterDataBytes = afterDataBytes;
        else
            faults_.unpowered = true;
        break;
    case CableFault::StuckBsy:
        gpio_.setStuckLines(kMaskBSY);
        break;
    case CableFault::StuckData:
        gpio_.setStuckLines(1u << (PIN_DT0 + 3));
        break;
    case CableFault::NoSelect:
        faults_.ignoreSelection = true;
        break;
    case CableFault::NoReselect:
        faults_.neverReselect = true;
        break;
    case CableFault::WrongReselect:
        faults_.reselectIds = BYTE(kSelectionInitiatorBit | kWrongTargetBit);
        break;
    case CableFault::HoldBsy:
        faults_.holdBusyAfterCommand = true;
        break;
    }
}

VirtualScanner::VirtualScanner(int targetId)
    : idBit_(BYTE(1u << targetId)), handlers_(StandardCommandHandlers())
{
    gpio_.attach(this);
}

void VirtualScanner::checkCondition(VirtualCommand &cmd, SenseData sense)
{
    sense_ = sense;
    cmd.status = kStatusCheckCondition;
    cmd.dataIn.clear();
    cmd.dataOutLength = 0;
    cmd.disconnect = false;
}

void VirtualScanner::injectCheckCondition(SenseData sense, int commands)
{
    injectedSense_ = sense;
    injectedChecks_ = commands;
}

void VirtualScanner::reset()
{
    drive_ = 0;
    gpio_.setDeviceDrive(0);
    state_ = State::Idle;
    phase_ = BUS::busfree;
    reselectPending_ = false;
    commandOpen_ = false;
    sense_ = Sense::kNoSense;
    injectedChecks_ = 0;
}

void VirtualScanner::onLevelRead(EmulatedGpio &gpio)
{
    ++steps_;
    if (faults_.unpowered) {
        // Unpowered: the transceivers let go of every line at once and nothing answers.
        if (state_ != State::Idle)
            writeTrace(false);
        drive_ = 0;
        state_ = State::Idle;
        phase_ = BUS::busfree;
        reselectPending_ = false;
        gpio.setDeviceDrive(0);
        return;
    }
    const DWORD station = gpio.stationOnCable();
    if (station & kMaskRST) {
        if (!resetHeld_)
            ++resetsSeen_;
        resetHeld_ = true;
        busReset();
    } else {
        resetHeld_ = false;
        const DWORD wire = gpio.asserted();
        switch (state_) {
        case State::Idle:
            idleStep(wire);
            break;
        case State::Selected:
            if (!(wire & kMaskSEL)) {
                if ((wire & kMaskATN) && !faults_.ignoreAttention)
                    startReceive(BUS::msgout, 1);
                else
                    startCommandPhase();
            }
            break;
        case State::Transfer:
            transferStep(wire);
            break;
        case State::ResetHold:
            if (--resetHold_ <= 0) {
                drive_ = 0;
                state_ = State::Idle;
                phase_ = BUS::busfree;
            }
            break;
        case State::Reselecting:
            // The station answers with BSY; a bus settle delay later the target takes BSY
            // over and lets SEL go. The station must hold its BSY until it sees SEL go.
            if (!answeredAt_ && (station & kMaskBSY))
                answeredAt_ = gpio.nowNs();
            if (answeredAt_ && gpio.nowNs() - answeredAt_ >= kBusSettleNs) {
                answeredAt_ = 0;
                drive_ = kMaskBSY | kMaskIO;
                state_ = State::ReselectAnswered;
            }
            break;
        case State::ReselectAnswered:
            if (!(station & kMaskBSY))
                startMsgIn(QByteArray(1, char(kReselectIdentify)), AfterMsgIn::Resume);
            break;
        }
    }
    gpio.setDeviceDrive(drive_);
}

void VirtualScanner::onBusReset(EmulatedGpio &gpio)
{
    busReset();
    gpio.setDeviceDrive(drive_);
}

void VirtualScanner::idleStep(DWORD wire)
{
    if (faults_.powerOff) {
        drive_ = 0;
        return;
    }
    if (faults_.holdBusy) {
        drive_ = kMaskBSY;
        return;
    }
    drive_ = 0;
    const BYTE ids = BYTE(wire >> PIN_DT0);
    if ((wire & kMaskSEL) && !(wire & (kMaskBSY | kMaskIO)) && (ids & idBit_) &&
        !faults_.ignoreSelection) {
        drive_ = kMaskBSY;
        state_ = State::Selected;
        phase_ = BUS::selection;
        messagesOut_.clear();
        return;
    }
    if (reselectPending_ && !reselectHeld_ && !faults_.neverReselect &&
        !(wire & (kMaskBSY | kMaskSEL))) {
        if (reselectDelay_ > 0) {
            --reselectDelay_;
            return;
        }
        reselectPending_ = false;
        drive_ = kMaskSEL | kMaskIO;
        driveData(faults_.reselectIds ? faults_.reselectIds
                                      : BYTE(kSelectionInitiatorBit | idBit_));
        state_ = State::Reselecting;
        phase_ = BUS::reselection;
    }
}

void VirtualScanner::transferStep(DWORD wire)
{
    switch (hs_) {
    case Handshake::Present:
        if (dataFaultDue())
            return;
        if (sending_)
            driveData(BYTE(out_[pos_]));
        drive_ |= kMaskREQ;
        hs_ = Handshake::WaitAck;
        break;
    case Handshake::WaitAck:
        if (!(wire & kMaskACK))
            break;
        if (sending_) {
            ++pos_;
            // The last message byte taken settles the command: trace it now rather than
            // when the target lets go of the bus on a later sample.
            if (phase_ == BUS::msgin && pos_ == out_.size() && afterMsgIn_ != AfterMsgIn::Resume)
                writeTrace(afterMsgIn_ == AfterMsgIn::Release);
        } else {
            in_.append(char(gpio_.dataByte()));
            if (!gpio_.parityOdd())
                ++parityErrors_;
        }
        drive_ &= ~kMaskREQ;
        hs_ = Handshake::WaitAckRelease;
        break;
    case Handshake::WaitAckRelease:
        if (!(wire & kMaskACK))
            byteDone();
        break;
    }
}

// A byte's ACK has gone: present the next byte at once, or end the phase.
void VirtualScanner::byteDone()
{
    const bool dataPhase = phase_ == BUS::datain || phase_ == BUS::dataout;
    if (dataPhase) {
        ++dataCount_;
        if (phase_ == BUS::datain)
            ++dataInTaken_;
    }
    if (phase_ == BUS::command && in_.size() == 1)
        expected_ = cdbLengthFor(BYTE(in_[0]));
    if (phase_ == BUS::command && faults_.cdbBytesTaken >= 0 &&
        in_.size() >= faults_.cdbBytesTaken && in_.size() < expected_) {
        cmd_ = VirtualCommand();
        cmd_.cdb = in_;
        commandOpen_ = true;
        statusSent_ = false;
        ++commandsTaken_;
        releaseBus(false);
        return;
    }

    const bool more = sending_ ? pos_ < out_.size() : in_.size() < expected_;
    if (!more) {
        // A fault due at the very end of the data still takes the data phase's place.
        if (!dataFaultDue())
            phaseDone();
        return;
    }
    if (dataFaultDue())
        return;
    if (sending_)
        driveData(BYTE(out_[pos_]));
    drive_ |= kMaskREQ;
    hs_ = Handshake::WaitAck;
}

// Injected faults of a data phase, checked before each data byte. TRUE when one struck.
bool VirtualScanner::dataFaultDue()
{
    if (phase_ != BUS::datain && phase_ != BUS::dataout)
        return false;
    if (faults_.powerOffAfterDataBytes >= 0 && dataCount_ >= faults_.powerOffAfterDataBytes) {
        faults_.powerOffAfterDataBytes = -1;
        faults_.unpowered = true;
        writeTrace(false);
        drive_ = 0;
        state_ = State::Idle;
        phase_ = BUS::busfree;
        return true;
    }
    if (faults_.resetAfterDataBytes >= 0 && dataCount_ >= faults_.resetAfterDataBytes) {
        writeTrace(false);
        drive_ = kMaskRST;
        resetHold_ = kResetHoldReads;
        state_ = State::ResetHold;
        phase_ = BUS::busfree;
        return true;
    }
    if (faults_.dataBytesLimit >= 0 && dataCount_ >= faults_.dataBytesLimit) {
        if (phase_ == BUS::dataout)
            cmd_.dataOut = in_;
        switch (faults_.afterDataLimit) {
        case BUS::busfree:
            releaseBus(false);
            break;
        case BUS::msgin:
            startMsgIn(QByteArray(1, char(kMsgCommandComplete)), AfterMsgIn::Release);
            break;
        default:
            startSend(BUS::status, QByteArray(1, char(cmd_.status)));
            break;
        }
        return true;
    }
    return false;
}

void VirtualScanner::phaseDone()
{
    switch (phase_) {
    case BUS::msgout:
        messagesOut_.append(in_);
        if (gpio_.asserted() & kMaskATN)
            startReceive(BUS::msgout, 1);
        else
            startCommandPhase();
        break;
    case BUS::command:
        dispatch();
        break;
    case BUS::datain:
        dataPhaseOver();
        break;
    case BUS::dataout:
        cmd_.dataOut = in_;
        if (entry_.dataOut)
            entry_.dataOut(*this, cmd_);
        dataPhaseOver();
        break;
    case BUS::status:
        statusSent_ = true;
        startMsgIn(QByteArray(1, char(kMsgCommandComplete)), AfterMsgIn::Release);
        break;
    case BUS::msgin:
        switch (afterMsgIn_) {
        case AfterMsgIn::Release:
            releaseBus(true);
            break;
        case AfterMsgIn::Disconnect:
            reselectPending_ = true;
            reselectDelay_ = cmd_.reselectAfterReads;
            releaseBus(false);
            break;
        case AfterMsgIn::Resume:
            continueAfterCommand();
            break;
        }
        break;
    default:
        releaseBus(false);
        break;
    }
}

void VirtualScanner::dataPhaseOver()
{
    startSend(BUS::status, QByteArray(1, char(cmd_.status)));
}

// The phase lines change with REQ released; REQ for the first byte comes on the next
// sample, once they have settled.
void VirtualScanner::setPhase(BUS::phase_t phase)
{
    phase_ = phase;
    drive_ = kMaskBSY | PhaseLines(phase);
    state_ = State::Transfer;
    hs_ = Handshake::Present;
}

void VirtualScanner::startSend(BUS::phase_t phase, const QByteArray &bytes)
{
    setPhase(phase);
    sending_ = true;
    out_ = bytes;
    pos_ = 0;
    dataCount_ = 0;
}

void VirtualScanner::startReceive(BUS::phase_t phase, int count)
{
    setPhase(phase);
    sending_ = false;
    in_.clear();
    expected_ = count;
    dataCount_ = 0;
}

void VirtualScanner::startMsgIn(const QByteArray &messages, AfterMsgIn next)
{
    afterMsgIn_ = next;
    startSend(BUS::msgin, messages);
}

void VirtualScanner::startCommandPhase()
{
    dataInTaken_ = 0;
    parityErrorsBefore_ = parityErrors_;
    startReceive(BUS::command, 1);
}

void VirtualScanner::dispatch()
{
    cmd_ = VirtualCommand();
    cmd_.cdb = in_;
    commandOpen_ = true;
    statusSent_ = false;
    ++commandsTaken_;
    entry_ = CommandEntry();

    const BYTE opcode = cmd_.opcode();
    const bool senseOrInquiry = opcode == kOpRequestSense || opcode == kOpInquiry;
    if (parityErrors_ != parityErrorsBefore_) {
        // A command whose bytes came with bad parity is not run.
        checkCondition(cmd_, Sense::kParityError);
    } else if (injectedChecks_ > 0 && !senseOrInquiry) {
        --injectedChecks_;
        checkCondition(cmd_, injectedSense_);
    } else if (handlers_.contains(opcode)) {
        entry_ = handlers_.value(opcode);
        if (entry_.command)
            entry_.command(*this, cmd_);
    } else {
        checkCondition(cmd_, Sense::kInvalidOpcode);
    }

    if (cmd_.disconnect) {
        QByteArray messages;
        messages.append(char(kMsgSaveDataPointer));
        messages.append(char(kMsgDisconnect));
        startMsgIn(messages, AfterMsgIn::Disconnect);
        return;
    }
    continueAfterCommand();
}

void VirtualScanner::continueAfterCommand()
{
    if (!cmd_.dataIn.isEmpty())
        startSend(BUS::datain, cmd_.dataIn);
    else if (cmd_.dataOutLength > 0)
        startReceive(BUS::dataout, cmd_.dataOutLength);
    else
        startSend(BUS::status, QByteArray(1, char(cmd_.status)));
}

void VirtualScanner::releaseBus(bool completed)
{
    writeTrace(completed);
    if (faults_.holdBusyAfterCommand) {
        faults_.holdBusyAfterCommand = false;
        faults_.holdBusy = true;
    }
    drive_ = 0;
    state_ = State::Idle;
    phase_ = BUS::busfree;
}

// A bus reset drops everything at once. The scanners report no UNIT ATTENTION after it:
// the station resets the bus before every connection test and every scan start, and its
// first command after the reset (TEST UNIT READY on the imaging-plate readers) must find
// the scanner ready, or the station would never see it ready.
void VirtualScanner::busReset()
{
    writeTrace(false);
    drive_ = 0;
    state_ = State::Idle;
    phase_ = BUS::busfree;
    reselectPending_ = false;
}

void VirtualScanner::driveData(BYTE value)
{
    int ones = 0;
    for (int b = 0; b < 8; b++)
        ones += (value >> b) & 1;
    DWORD lines = value;
    if (!(ones & 1))
        lines |= 0x100; // DBP makes the nine lines odd
    drive_ = (drive_ & ~kMaskDAT) | (lines << PIN_DT0);
}

void VirtualScanner::writeTrace(bool completed)
{
    if (!commandOpen_)
        return;
    commandOpen_ = false;
    if (!traceOn_ && !traceDevice_)
        return;
    const QString line =
        QStringLiteral("{\"cdb\":\"%1\",\"out\":\"%2\",\"in\":%3,\"status\":%4}")
            .arg(HexBytes(cmd_.cdb), HexBytes(cmd_.dataOut), QString::number(dataInTaken_),
                 completed && statusSent_ ? QString::number(cmd_.status) : QStringLiteral("null"));
    if (traceOn_)
        trace_.append(line);
    if (traceDevice_)
        traceDevice_->write(line.toLatin1() + '\n');
}

int VirtualScanner::cdbLengthFor(BYTE opcode) const
{
    const auto it = handlers_.constFind(opcode);
    if (it != handlers_.constEnd() && it->cdbLength > 0)
        return it->cdbLength;
    return kCdbLengthByGroup[opcode >> 5];
}
