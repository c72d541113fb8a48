// The scan starts: hand the prepared parameter block to the scanner and tell it to begin.
//
// KIREL-5000/5100 (startkirel5scan): TEST UNIT READY, status read, REQUEST SENSE, TEST UNIT
// READY, status read, the shading table of the laser in use (turned into the correction
// factors of shadingdata, optionally saved as the .sd file), MODE SELECT with the whole
// 30-byte block, START. The bus stays up for the readout.
//
// Imaging-plate readers (startVESK18IIscan): INQUIRY, TEST UNIT READY; a pending error
// condition (no plate, ...) is read with REQUEST SENSE into the sense fields and ends the
// start with -99; otherwise MODE SELECT with the first 12 bytes (17 on the KIREL-3000) and
// START, which the reader answers by disconnecting: phase 1 of the readout begins.
#include "kirelscan.h"

#include "initiator.h"
#include "safeqfile.h"
#include "scanstate.h"
#include "scanwindow.h"
#include "scantransaction.h"
#include "scsicommands.h"

#include <QDebug>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace
{
constexpr int kStartBufferSize = 4040; // the CDB, then the longest DATA IN (shading table)
constexpr DWORD kSettleNs = 2;

constexpr int kInquiryLength = 36;
constexpr int kStatusReadLength = 36;
constexpr int kSenseLength = kSenseBytes;
constexpr int kKirel5ParamsLength = 30;
constexpr int kPlateParamsLength = 12;
constexpr int kKirel3ParamsLength = 17;
constexpr BYTE kModeSelectSaveParams = 0x10; // MODE SELECT byte 1 of the KIREL-5000/5100

constexpr int kResultGpioKirel5 = -1;
constexpr int kResultGpioPlate = -51;
constexpr int kResultPlateCondition = -99;
// The second TEST UNIT READY (KIREL-5000/5100) and the readers' TEST UNIT READY whose
// selection failed: a code of their own, so that the start is seen to have failed.
constexpr int kResultKirel5ReadyNotSelected = -69;
constexpr int kResultPlateReadyNotSelected = -70;
// A START the KIREL-5000/5100 refuses with CHECK CONDITION has started nothing: it fails
// at its status step.
constexpr int kResultStartRefused = -35;

// The shading table selector by channel-1 laser code; IP modes always read table 1.
struct ShadingTable {
    BYTE laserCode;
    BYTE selector;
    const char *trace;
};
constexpr ShadingTable kShadingTables[] = {
    {1, 3, "FL473\n"}, {2, 4, "FL532\n"}, {4, 5, "FL635\n"}, {8, 6, "FL670\n"}};
constexpr BYTE kShadingSelectorIP = 1;

void CdbSet(BYTE *buf, std::initializer_list<BYTE> bytes)
{
    std::memset(buf, 0, 10);
    int i = 0;
    for (BYTE b : bytes)
        buf[i++] = b;
}

// Bus set-up of both starts: false (after the message) when the GPIO cannot be brought up.
bool StartBusPrepare()
{
    if (!Init()) {
        std::fprintf(stderr, "Error : Initializing GPIO\n");
        return false;
    }
    scsiid = kScannerId;
    Reset();
    BusFree();
    BusResetPulse();
    return true;
}

int StartCommonEnding()
{
    std::fprintf(stderr, "Result= %d\n", result);
    BusFree();
    bus.SleepNsec(kSettleNs);
    return result;
}

BYTE ShadingSelector()
{
    if (scanTemplate[0].mode < kModeFluorescence) {
        std::fprintf(stderr, "IP635\n");
        return kShadingSelectorIP;
    }
    for (const ShadingTable &t : kShadingTables) {
        if (t.laserCode == scanparams[kParamLaserCode]) {
            std::fprintf(stderr, "%s", t.trace);
            return t.selector;
        }
    }
    return 0;
}

// Correction factor of a stored shading value: halfway between 1 and v / 33000.
float ShadingFactorOf(unsigned value)
{
    const float ratio = float(value) / 33000.0f - 1.0f;
    return float(double(ratio) * 0.5 + 1.0);
}

void ShadingFactorsStore(const BYTE *answer)
{
    for (int k = 0; k < kShadingColumns * kShadingRows; ++k) {
        const BYTE *p = answer + kShadingHeaderBytes + 2 * k;
        shadingdata[k % kShadingColumns][k / kShadingColumns] = ShadingFactorOf(p[0] << 8 | p[1]);
    }
}

// A shading file that cannot be made or written does not stop the scan: the image does not
// need it. The end of the scan tells the operator.
void ShadingFileWrite(const BYTE *answer)
{
    if (sysparams.shadingdatasave != 1)
        return;
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(answer), kShadingAnswerBytes);
    QString problem;
    if (!SafeQFileWrite(ScanFilePath(".sd"), SafeWrite::New, bytes, &problem))
        ScanFileNoteAdd(QStringLiteral("The shading data was not saved: ") + problem);
    else
        ScanFileMadeAdd(ScanFilePath(".sd"));
}

// One step of the KIREL-5000/5100 start.
int Kirel5Step(BYTE *buf, int dataLength, Transaction::Direction dir, StepCodes codes,
               const char *shortText = nullptr, bool drive = false)
{
    Transaction t;
    t.cdb = buf;
    t.cdbLength = buf[0] == kOpVendorShadingRead ? 10 : 6;
    t.data = buf;
    t.dataLength = dataLength;
    t.direction = dir;
    t.codes = codes;
    t.shortReadText = shortText;
    t.driveBeforeDataIn = drive;
    return TransactionRun(t);
}
} // namespace

int kirel5scan::startkirel5scan()
{
    BYTE buf[kStartBufferSize];
    qDebug() << "*** IN SCAN FUNCTION ***";
    if (!StartBusPrepare())
        return kResultGpioKirel5;

    // 1-5: the scanner is there and its state is read (answers discarded).
    CdbSet(buf, {kOpTestUnitReady});
    if (Kirel5Step(buf, 0, Transaction::NoData, {-1, -2, 0, -3, -4}))
        return StartCommonEnding();
    CdbSet(buf, {kOpVendorStatusRead, 0, 0, 0, kStatusReadLength});
    if (Kirel5Step(buf, kStatusReadLength, Transaction::In, {-5, -6, -7, -8, -9}))
        return StartCommonEnding();
    CdbSet(buf, {kOpRequestSense, 0, 0, 0, kSenseLength});
    if (Kirel5Step(buf, kSenseLength, Transaction::In, {-10, -11, -12, -13, -14}))
        return StartCommonEnding();
    CdbSet(buf, {kOpTestUnitReady});
    if (Kirel5Step(buf, 0, Transaction::NoData, {kResultKirel5ReadyNotSelected, -15, 0, -16, -17}))
        return StartCommonEnding();
    CdbSet(buf, {kOpVendorStatusRead, 0, 0, 0, kStatusReadLength});
    if (Kirel5Step(buf, kStatusReadLength, Transaction::In, {-18, -19, -20, -21, -22},
                   "Bytes Read in M2= %d\n"))
        return StartCommonEnding();

    // 6: the shading table of the laser, then its correction factors.
    const BYTE selector = ShadingSelector();
    CdbSet(buf, {kOpVendorShadingRead, 0, 0x80, 0, 0, selector, 0, kShadingAnswerBytes >> 8,
                 kShadingAnswerBytes & 0xFF});
    if (Kirel5Step(buf, kShadingAnswerBytes, Transaction::In, {-23, -24, -25, -26, -27}, nullptr,
                   true))
        return StartCommonEnding();
    ShadingFactorsStore(buf);
    ShadingFileWrite(buf);

    // 7-8: the parameter block, then START.
    BYTE params[kKirel5ParamsLength];
    std::memcpy(params, scanparams, sizeof params);
    Transaction modeSelect;
    BYTE cdb[6] = {kOpModeSelect6, kModeSelectSaveParams, 0, 0, kKirel5ParamsLength, 0};
    modeSelect.cdb = cdb;
    modeSelect.data = params;
    modeSelect.dataLength = kKirel5ParamsLength;
    modeSelect.direction = Transaction::Out;
    modeSelect.codes = {-28, -29, -30, -31, -32};
    if (TransactionRun(modeSelect))
        return StartCommonEnding();
    CdbSet(buf, {kOpStartStop});
    if (Kirel5Step(buf, 0, Transaction::NoData, {-33, -34, 0, -35, -36}) == 0 &&
        StatusValue == kStatusCheckCondition)
        result = kResultStartRefused;
    return StartCommonEnding();
}

int kirel5scan::startVESK18IIscan()
{
    BYTE buf[kStartBufferSize];
    qDebug() << "*** IN VESK SCAN FUNCTION ***";
    if (!StartBusPrepare())
        return kResultGpioPlate;

    CdbSet(buf, {kOpInquiry, 0, 0, 0, kInquiryLength});
    if (Kirel5Step(buf, kInquiryLength, Transaction::In, {-52, -53, -54, -55, -56}))
        return StartCommonEnding();
    CdbSet(buf, {kOpTestUnitReady});
    if (Kirel5Step(buf, 0, Transaction::NoData, {kResultPlateReadyNotSelected, -57, 0, -58, -59}))
        return StartCommonEnding();

    if (StatusValue == kStatusCheckCondition) {
        // An error condition (no plate, ...): record it for the operator, do not start.
        CdbSet(buf, {kOpRequestSense, 0, 0, 0, kSenseLength});
        if (Kirel5Step(buf, kSenseLength, Transaction::In, {-60, -61, -62, -63, -64}))
            return StartCommonEnding();
        ScanSetup &s = newscansetup;
        s.sensekey = buf[kSenseKeyAt];
        s.sensecode = buf[kSenseCodeAt];
        s.extsensecode = buf[kSenseQualifierAt];
        qDebug().noquote() << QString::asprintf("Sense Key: %02Xh Sense Code: %02X%02Xh",
                                                s.sensekey, s.sensecode, s.extsensecode);
        s.scansensekey = QString::asprintf("%02Xh", s.sensekey);
        s.scansensecode = QString::asprintf("%02X%02Xh", s.sensecode, s.extsensecode);
        s.scanrunningerror = 1;
        BusFree();
        bus.SleepNsec(kSettleNs);
        Cleanup();
        result = kResultPlateCondition;
        return kResultPlateCondition;
    }

    const int length = ScannerType == kModelKIREL3 ? kKirel3ParamsLength : kPlateParamsLength;
    BYTE params[kKirel3ParamsLength];
    std::memcpy(params, scanparams, sizeof params);
    BYTE cdb[6] = {kOpModeSelect6, 0, 0, 0, BYTE(length), 0};
    Transaction modeSelect;
    modeSelect.cdb = cdb;
    modeSelect.data = params;
    modeSelect.dataLength = length;
    modeSelect.direction = Transaction::Out;
    modeSelect.codes = {-60, -61, -62, -63, -64};
    if (TransactionRun(modeSelect))
        return StartCommonEnding();

    // START: the reader answers with two message bytes and disconnects; it reselects the
    // station when the start is done (phase 1 of the readout).
    CdbSet(buf, {kOpStartStop});
    if (KIREL5Arbitration() < 0) {
        result = -65;
        return StartCommonEnding();
    }
    if (!Command(buf, 6)) {
        result = -66;
        return StartCommonEnding();
    }
    if (MessageIn() < 0)
        result = -67;
    if (MessageIn() < 0)
        result = -68;
    ScannerPhase = 1;
    return StartCommonEnding();
}
