// The connection tests: is a scanner on the bus, which one, and has it finished its
// self-diagnosis. Every transaction has the one shape of the bus layer (arbitration with
// IDENTIFY, COMMAND, DATA IN, STATUS, MESSAGE IN, bus free); each step that fails ends the
// series with its own code, which counts down from the step's COMMAND code through its
// DATA IN, STATUS and MESSAGE IN. Arbitration is left to the series, because what a lost
// scanner means differs from step to step.
#include "kirelscan.h"

#include "initiator.h"
#include "logfiles.h"
#include "scanstate.h"
#include "scsicommands.h"

#include <QDebug>
#include <QLoggingCategory>

#include <cstdio>
#include <cstring>
#include <functional>
#include <unistd.h>

namespace
{
Q_LOGGING_CATEGORY(lcScan, "station.scan")

constexpr int kResultGpioInit = -111;
constexpr DWORD kSettleNs = 2;
constexpr int kKirel5Passes = 2;

// DATA IN lengths of the series.
constexpr int kKirel5InquiryLength = 38;
constexpr int kInquiryLength = 36;
constexpr int kSenseLength = 18;
constexpr int kKirel3SenseLength = 16;
constexpr int kModeSenseLength = 17;
constexpr int kStatusReadLength = 36;
constexpr int kBufferStatusLength = 20;
constexpr int kAnswerBufferSize = 64;

// What the tests take from the answers.
constexpr int kVendorAt = 8;
constexpr int kVendorLength = 8;
constexpr int kProductAt = 16;
constexpr int kKirel3ProductLength = 16;
constexpr int kPlateReaderProductLength = 14;
constexpr int kSenseKeyAt = 2;
constexpr int kSenseCodeAt = 12;
constexpr int kSenseQualifierAt = 13;
constexpr int kSenseConfigAt = 15; // KIREL-3000: the scanner's configuration byte

// Sense codes of the imaging-plate readers.
constexpr int kSenseNoPlate = 0x21;       // no plate in the reader: its idle condition
constexpr int kSensePlateInLoader = 0x61; // plate left in the loading area
constexpr int kSenseDoorOpen = 0x62;      // loading-area door open

// KIREL5connectStatus of the KIREL-3000 and the imaging-plate readers.
constexpr int kStateLost = 0;
constexpr int kStateAnswered = 1;
constexpr int kStateStartup = 2;
constexpr int kStateReady = 3;
// The KIREL-5000/5100 counts its boot-log lines in the same variable.
constexpr int kLogLossLogged = 1;
constexpr int kLogConnectLogged = 2;
constexpr int kLogInquiryLogged = 3;

// Status-log events.
const char kEventConnected[] = "Connected";
const char kEventStartup[] = "Startup tests";
const char kEventReady[] = "Ready";
const char kEventNoConnect[] = "No Connect";

// A command descriptor block: 6 bytes unless a 10-byte one is built.
struct Cdb {
    BYTE bytes[10] = {};
    int length = 6;
};

Cdb Cdb6(BYTE opcode, int allocation = 0)
{
    Cdb c;
    c.bytes[0] = opcode;
    c.bytes[4] = BYTE(allocation);
    return c;
}

Cdb BufferStatusCdb()
{
    Cdb c;
    c.length = 10;
    c.bytes[0] = kOpGetDataBufferStatus;
    c.bytes[8] = kBufferStatusLength;
    return c;
}

// One transaction after a won arbitration.
struct Exchange {
    Cdb cdb;
    int dataLength = 0;                // DATA IN bytes expected; 0: no DATA IN
    int firstCode = 0;                 // code of COMMAND; DATA IN, STATUS, MESSAGE IN follow
    const char *bootTag = nullptr;     // boot-log line for the STATUS, e.g. "TUR: STAT="
    bool failOnlyWithoutData = false;  // DATA IN fails only when it gave 0 bytes
    bool reportShortData = false;      // "Bytes Read in IM4= %d" when DATA IN fell short
    const char *lengthTrace = nullptr; // debug trace of the DATA IN count
};

bool BootLogOn()
{
    return sysparams.bootlog == 1;
}

QString HexBytes(const BYTE *bytes, int count, const char *format)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QString::asprintf(format, bytes[i]);
    return text;
}

// COMMAND, DATA IN, then (after `afterData`) STATUS and MESSAGE IN, and the bus left free
// for the next transaction. FALSE with the failed step's code in `result`.
bool Transfer(const Exchange &x, BYTE *data, const std::function<void()> &afterData = {})
{
    int code = x.firstCode;
    Cdb cdb = x.cdb;
    if (!Command(cdb.bytes, cdb.length)) {
        result = code;
        return false;
    }
    if (x.dataLength > 0) {
        --code;
        const int got = DataIn(data, x.dataLength);
        if (x.lengthTrace)
            qCDebug(lcScan).noquote() << x.lengthTrace << got;
        const bool failed = x.failOnlyWithoutData ? got == 0 : got != x.dataLength;
        if (failed) {
            if (x.reportShortData)
                std::fprintf(stderr, "Bytes Read in IM4= %d\n", got);
            result = code;
            return false;
        }
        if (afterData)
            afterData();
    }
    const int status = Status();
    if (x.bootTag && BootLogOn())
        BootLogWrite(QLatin1String(x.bootTag) + QString::number(StatusValue));
    if (status < 0) {
        result = code - 1;
        return false;
    }
    if (MessageIn() < 0) {
        result = code - 2;
        return false;
    }
    BusFree();
    bus.SleepNsec(kSettleNs);
    return true;
}

// Common opening: the bus up, released, and a bus reset pulse. FALSE when the GPIO could
// not be brought up.
bool BusOpen()
{
    if (!Init()) {
        std::fprintf(stderr, "Error : Initializing GPIO\n");
        return false;
    }
    bus.SetSEL(0);
    scsiid = kScannerId;
    Reset();
    BusFree();
    BusResetPulse();
    std::fprintf(stderr, "Scanner Inquiry, SCSI ID= %i\n", scsiid);
    return true;
}

QString StatusLine(const char *event)
{
    return LogTimestamp() + QLatin1String(event);
}

// A status-log line after the newest one.
void AddStatusLine(const char *event)
{
    ++logeventnumber;
    StatusLogUpdate(StatusLine(event));
}

// The newest status-log line rewritten.
void ReplaceStatusLine(const char *event)
{
    StatusLogUpdate(StatusLine(event));
}

void EnterState(int state)
{
    KIREL5connectStatus = state;
    qCDebug(lcScan).noquote() << "Connect status =" << state;
}

void EnterReady()
{
    EnterState(kStateReady);
    AddStatusLine(kEventReady);
}

// The first arbitration of the KIREL-3000 and imaging-plate series failed. The first
// "No Connect" after start-up goes on line 1 of the status log, later ones rewrite line 2.
void NotAnswering()
{
    if (KIREL5connectStatus != kStateLost) {
        EnterState(kStateLost);
        if (BootLogOn())
            BootLogWrite(QStringLiteral("NO CONNECT:"));
    }
    if (scanpassnumber == -1) {
        scanpassnumber = 0;
        logeventnumber = 1;
    } else if (logeventnumber == 1) {
        logeventnumber = 2;
    }
    StatusLogUpdate(StatusLine(kEventNoConnect));
    result = -1;
}

// The first INQUIRY answer since the scanner was lost or the station started: keep its
// identity and tell the operator.
void Identified(const BYTE *inquiry, int productLength)
{
    EnterState(kStateAnswered);
    std::memcpy(vendorID, inquiry + kVendorAt, kVendorLength);
    std::memcpy(scannerID, inquiry + kProductAt, size_t(productLength));
    StatusLogUpdate(QString::fromLatin1(vendorID, kVendorLength) + QLatin1Char(' ') +
                    QString::fromLatin1(scannerID, productLength));
    AddStatusLine(kEventConnected);
    if (BootLogOn()) {
        BootLogWrite(QStringLiteral("CONNECT:"));
        BootLogWrite(QStringLiteral("VND: ") + HexBytes(inquiry, kInquiryLength, " %02X"));
    }
}

// INQUIRY of the KIREL-3000 and imaging-plate series up to its DATA IN; the identity is
// taken when the scanner was not known to be there.
Exchange InquiryExchange()
{
    Exchange x;
    x.cdb = Cdb6(kOpInquiry, kInquiryLength);
    x.dataLength = kInquiryLength;
    x.firstCode = -2;
    return x;
}

// The first exchange of a KIREL-3000 or imaging-plate series: selection and INQUIRY.
// False when the scanner did not answer or the exchange failed, and the series ends.
bool SeriesInquiry(BYTE *data, const std::function<void()> &afterData)
{
    if (KIREL5Arbitration() < 0) {
        NotAnswering();
        return false;
    }
    return Transfer(InquiryExchange(), data, afterData);
}

// TEST UNIT READY, selection done; false when the exchange failed.
bool UnitReadyTransfer(BYTE *data, int firstCode)
{
    Exchange ready;
    ready.cdb = Cdb6(kOpTestUnitReady);
    ready.firstCode = firstCode;
    return Transfer(ready, data);
}

// REQUEST SENSE after a TEST UNIT READY that was not good; the fields go to newscansetup.
bool FetchSense(BYTE *sense, int length, int firstCode)
{
    if (KIREL5Arbitration() < 0) {
        result = firstCode;
        return false;
    }
    Exchange x;
    x.cdb = Cdb6(kOpRequestSense, length);
    x.dataLength = length;
    x.firstCode = firstCode - 1;
    x.lengthTrace = "Request sense DataIn length =";
    if (!Transfer(x, sense))
        return false;
    newscansetup.sensekey = sense[kSenseKeyAt];
    newscansetup.sensecode = sense[kSenseCodeAt];
    newscansetup.extsensecode = sense[kSenseQualifierAt];
    qCDebug(lcScan).noquote() << QString::asprintf("Sense Key: %02Xh Sense Code: %02X%02Xh",
                                                   newscansetup.sensekey, newscansetup.sensecode,
                                                   newscansetup.extsensecode);
    return true;
}

// End of the KIREL-3000 and imaging-plate series: a failure from the identified states
// falls back to "answered", so that the next call identifies the scanner again.
int FinishSeries()
{
    if (result < -1 && KIREL5connectStatus >= kStateStartup) {
        EnterState(kStateAnswered);
        qCDebug(lcScan).noquote() << "Result =" << result;
    }
    Cleanup();
    qCDebug(lcScan).noquote() << "Result =" << result;
    return result;
}

// Sense taken: the series ends here without the fall-back rule.
int EndAfterSense()
{
    BusFree();
    bus.SleepNsec(kSettleNs);
    Cleanup();
    return result;
}

// One pass of the KIREL-5000/5100 series; FALSE when a step failed (both passes end).
bool Kirel5Pass()
{
    BYTE data[kAnswerBufferSize] = {};

    const int arbitration = KIREL5Arbitration();
    if (arbitration < 0) {
        std::fprintf(stderr, "ARBITRATION ERROR %d\n", arbitration);
        result = -1;
        if (KIREL5connectStatus > kLogLossLogged)
            KIREL5connectStatus = kStateLost;
        return false;
    }
    if (BootLogOn() && KIREL5connectStatus <= kLogLossLogged) {
        BootLogWrite(QStringLiteral("CONNECT:"));
        KIREL5connectStatus = kLogConnectLogged;
    }

    Exchange inquiry;
    inquiry.cdb = Cdb6(kOpInquiry, kKirel5InquiryLength);
    inquiry.dataLength = kKirel5InquiryLength;
    inquiry.firstCode = -2;
    inquiry.bootTag = "INQ: STAT=";
    const bool inquired = Transfer(inquiry, data, [&data] {
        if (BootLogOn() && KIREL5connectStatus == kLogConnectLogged) {
            BootLogWrite(QStringLiteral("VND: ") + HexBytes(data, kKirel5InquiryLength, " %02X"));
            KIREL5connectStatus = kLogInquiryLogged;
        }
    });
    if (!inquired)
        return false;

    // TEST UNIT READY, REQUEST SENSE (not kept), TEST UNIT READY. A scanner lost here
    // ends the series with the result as it stands.
    Exchange ready;
    ready.cdb = Cdb6(kOpTestUnitReady);
    ready.firstCode = -6;
    ready.bootTag = "TUR: STAT=";
    Exchange sense;
    sense.cdb = Cdb6(kOpRequestSense, kSenseLength);
    sense.dataLength = kSenseLength;
    sense.firstCode = -9;
    sense.bootTag = "SEN: STAT=";
    sense.reportShortData = true;
    Exchange readyAgain = ready;
    readyAgain.firstCode = -13;
    for (const Exchange *x : {&ready, &sense, &readyAgain})
        if (KIREL5Arbitration() < 0 || !Transfer(*x, data))
            return false;

    if (KIREL5Arbitration() < 0)
        return false;
    Exchange config;
    config.cdb = Cdb6(kOpVendorStatusRead, kStatusReadLength);
    config.dataLength = kStatusReadLength;
    config.firstCode = -16;
    config.bootTag = "CFG: STAT=";
    config.reportShortData = true;
    const bool configRead = Transfer(config, scannerstat, [] {
        if (BootLogOn())
            BootLogWrite(QStringLiteral("CFG: ") +
                         HexBytes(scannerstat, kStatusReadLength, " %02X"));
        std::fprintf(stderr, "Configuration Read %d\n", kStatusReadLength);
        std::fprintf(stderr, "%s \n",
                     qPrintable(HexBytes(scannerstat, kStatusReadLength, "%02X ")));
    });
    if (!configRead)
        return false;

    result = 1;
    const int again = KIREL5Arbitration();
    if (again < 0) {
        std::fprintf(stderr, "ARBITRATION ERROR %d\n", again);
        result = -20;
        return false;
    }
    Exchange buffer;
    buffer.cdb = BufferStatusCdb();
    buffer.dataLength = kBufferStatusLength;
    buffer.firstCode = -21;
    buffer.bootTag = "BUF: STAT=";
    buffer.failOnlyWithoutData = true;
    return Transfer(buffer, data);
}

// KIREL-3000, state 1: the mode sense and a second INQUIRY move it to the start-up tests.
void Kirel3Identify(BYTE *data)
{
    qCDebug(lcScan) << "Start Mode sense";
    if (KIREL5Arbitration() < 0) {
        result = -5;
        return;
    }
    Exchange modeSense;
    modeSense.cdb = Cdb6(kOpModeSense6, kModeSenseLength);
    modeSense.dataLength = kModeSenseLength;
    modeSense.firstCode = -6;
    const bool sensed = Transfer(modeSense, data, [data] {
        qCDebug(lcScan).noquote() << "Mode sense:"
                                  << HexBytes(data, kModeSenseLength, "%02X ").trimmed();
    });
    if (!sensed)
        return;

    if (KIREL5Arbitration() < 0) {
        EnterState(kStateLost);
        if (BootLogOn())
            BootLogWrite(QStringLiteral("NO CONNECT:"));
        ReplaceStatusLine(kEventNoConnect);
        result = -10;
        return;
    }
    Exchange inquiry = InquiryExchange();
    inquiry.firstCode = -11;
    if (!Transfer(inquiry, data))
        return;
    EnterState(kStateStartup);
    AddStatusLine(kEventStartup);
    result = 1;
}
} // namespace

int kirel5scan::testkirel5connected()
{
    if (!BusOpen())
        return kResultGpioInit;
    result = 0;
    for (int pass = 0; pass < kKirel5Passes; ++pass)
        if (!Kirel5Pass())
            break;
    std::fprintf(stderr, "Result= %d\n", result);
    if (BootLogOn() && KIREL5connectStatus == kStateLost) {
        BootLogWrite(QStringLiteral("NO CONNECT:"));
        KIREL5connectStatus = kLogLossLogged;
    }
    Cleanup();
    return result;
}

int kirel5scan::testkirel3connected()
{
    if (!BusOpen())
        return kResultGpioInit;
    result = 1;
    BYTE data[kAnswerBufferSize] = {};

    const bool inquired = SeriesInquiry(data, [&data] {
        if (KIREL5connectStatus < kStateAnswered)
            Identified(data, kKirel3ProductLength);
    });
    if (!inquired)
        return FinishSeries();

    if (KIREL5connectStatus == kStateAnswered) {
        Kirel3Identify(data);
    } else if (KIREL5connectStatus == kStateStartup) {
        // Self-diagnosis under way: TEST UNIT READY until it is good.
        ReplaceStatusLine(kEventStartup);
        if (KIREL5Arbitration() < 0) {
            result = -15;
            return FinishSeries();
        }
        if (!UnitReadyTransfer(data, -16))
            return FinishSeries();
        if (StatusValue == kStatusGood) {
            EnterReady();
        } else {
            if (!FetchSense(data, kKirel3SenseLength, -19))
                return FinishSeries();
            newscansetup.scannerconfig = data[kSenseConfigAt];
            qCDebug(lcScan).noquote()
                << "Sense data:" << HexBytes(data, kKirel3SenseLength, "%02X ").trimmed();
            return EndAfterSense();
        }
    }
    return FinishSeries();
}

int kirel5scan::testVESK18IIconnected()
{
    if (!BusOpen())
        return kResultGpioInit;
    result = 1;
    BYTE data[kAnswerBufferSize] = {};

    const bool inquired = SeriesInquiry(data, [&data] {
        if (KIREL5connectStatus < kStateAnswered)
            Identified(data, kPlateReaderProductLength);
        if (KIREL5connectStatus == kStateAnswered) {
            EnterState(kStateStartup);
            AddStatusLine(kEventStartup);
        }
        if (KIREL5connectStatus == kStateStartup)
            ReplaceStatusLine(kEventStartup);
    });
    if (!inquired)
        return FinishSeries();

    // A reader lost here ends the series with the result as it stands.
    if (KIREL5Arbitration() < 0)
        return FinishSeries();
    if (!UnitReadyTransfer(data, -6))
        return FinishSeries();
    if (StatusValue == kStatusGood) {
        EnterReady();
        return FinishSeries();
    }

    if (!FetchSense(data, kSenseLength, -9))
        return FinishSeries();
    switch (newscansetup.sensecode) {
    case kSenseNoPlate:
        EnterReady();
        break;
    case kSensePlateInLoader:
    case kSenseDoorOpen:
        newscansetup.scansensekey = QString::asprintf("%02Xh", newscansetup.sensekey);
        newscansetup.scansensecode =
            QString::asprintf("%02X%02Xh", newscansetup.sensecode, newscansetup.extsensecode);
        newscansetup.scanrunningerror = 1;
        break;
    default:
        break;
    }
    return EndAfterSense();
}
