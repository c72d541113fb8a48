// The KIREL-5000/5100 readout: one call fetches at most one piece of the running scan.
//
//  1. GET DATA BUFFER STATUS: how many image bytes the scanner holds. A CHECK CONDITION
//     is read with REQUEST SENSE: ILLEGAL REQUEST is passed over (code 52, the scan goes
//     on), any other key ends the scan after the piece that is waiting. A bus held busy
//     ends the scan with -37 after reading the scanner's status and sense.
//  2. The first data: the 685 nm diode is switched on and the start time noted.
//  3. READ(10) of one piece of bufferlines lines, once that many bytes are waiting. The
//     last piece of a scan whose height is not a whole number of pieces is read with the
//     lines that remain.
//  4. Shading correction of every pixel (shadingcorrection.h) and histogram counts.
//  5. The lines go into the image file from its last row upwards, each line in one write,
//     and uncorrected into the raw file; a row that cannot be written ends the scan
//     (scanwriteerror).
//  6. Preview sampling and the progress count.
#include "kirelscan.h"

#include "initiator.h"
#include "ldcontrol.h"
#include "logfiles.h"
#include "scanstate.h"
#include "scantransaction.h"
#include "scanwindow.h"
#include "scsicommands.h"
#include "shadingcorrection.h"

#include <QFile>

#include <cstdio>

namespace
{
constexpr int kResultIllegalRequest = 52;
constexpr BYTE kSenseKeyIllegalRequest = 0x05;
constexpr BYTE kLaser685 = 16;

BYTE senseAnswer[kSenseBytes];

// REQUEST SENSE after a CHECK CONDITION: the error-log line and the sense texts. 0 when
// read; otherwise the code (-9 to -12) or kArbitrationErrorNoCode.
int SenseRead(const char *statusTag)
{
    BYTE cdb[6] = {kOpRequestSense, 0, 0, 0, kSenseBytes, 0};
    Transaction t;
    t.cdb = cdb;
    t.data = senseAnswer;
    t.dataLength = kSenseBytes;
    t.direction = Transaction::In;
    t.codes = {0, -9, -10, -11, -12};
    t.shortReadText = "Bytes Read in IM4= %d\n";
    t.statusLogTag = statusTag;
    const int rc = TransactionRun(t);
    if (rc)
        return rc;
    const BYTE key = senseAnswer[kSenseKeyAt];
    const BYTE code = senseAnswer[kSenseCodeAt];
    const BYTE qualifier = senseAnswer[kSenseQualifierAt];
    ErrorLogWrite(
        QString::asprintf("Sense Key: %02Xh Sense Code: %02X%02Xh", key, code, qualifier));
    newscansetup.scansensekey = QString::asprintf("%02Xh", key);
    newscansetup.scansensecode = QString::asprintf("%02X%02Xh", code, qualifier);
    return 0;
}

void ScanEndedByScanner()
{
    newscansetup.scanrunningerror = 1;
    newscansetup.scanrunningflag = -1;
}

// The bus stayed busy: the scanner is stuck in a transaction. Take its status and message
// anyway, then its sense; the scan ends with an error whatever the sense says.
int BusHeld()
{
    result = kResultBusHeld;
    const int status = Status();
    std::fprintf(stderr, " Read scanner Status= %d\n", status);
    ReadLogValue("-37: STAT=", status);
    if (MessageIn() < 0)
        std::fprintf(stderr, " MessageIn Error at -37\n");
    if (SenseRead("SEN1: STAT=") != 0)
        return ReadErrorEnding();
    ScanEndedByScanner();
    result = kResultBusHeld;
    return ReadErrorEnding();
}

void FirstDataBook()
{
    if (newscansetup.buffersize <= 0)
        return;
    // No detector reported leaves the laser list empty and its index -1.
    const bool diode = laserCh1index >= 0 && laserCh1index < int(sizeof laserCh1) &&
                       laserCh1[laserCh1index] == kLaser685;
    if (diode && LD685status == 0) {
        newLD.LD685modecontrol(1);
        LD685status = 1;
    }
    if (scanstart_epochsecs == 0)
        scanstart_epochsecs = ScanNowMs() / 1000;
}

// Rows of the piece into a file from row `height - 1 - scanstatus` upwards, one write each.
bool PieceRowsWrite(QFile &file, const BYTE *piece, int lines)
{
    const ScanSetup &s = newscansetup;
    const int rowBytes = s.width * 2;
    qint64 position = qint64(ScanFileSize) - qint64(s.width) * s.scanstatus * 2;
    for (linestep = 0; linestep < lines; ++linestep) {
        widthstep = rowBytes;
        if (!ImageRowWrite(file, position, piece + qint64(linestep) * rowBytes, rowBytes))
            return false;
        position -= rowBytes;
    }
    return file.flush();
}
} // namespace

int kirel5scan::readkirel5scan()
{
    ScanSetup &s = newscansetup;
    BYTE answer[kBufferStatusBytes] = {};

    // 1. Buffer status.
    if (KIREL5Arbitration() < 0)
        return BusHeld();
    BYTE statusCdb[10] = {kOpGetDataBufferStatus, 0, 0, 0, 0, 0, 0, 0, kBufferStatusBytes, 0};
    if (!Command(statusCdb, sizeof statusCdb)) {
        result = -38;
        return ReadErrorEnding();
    }
    if (DataIn(answer, kBufferStatusBytes) == 0) {
        result = -39;
        return ReadErrorEnding();
    }
    for (BYTE b : answer)
        std::fprintf(stderr, "%02X ", b);
    std::fprintf(stderr, " \n");
    const int status = Status();
    ReadLogValue("BUF: STAT=", status);
    if (status < 0) {
        result = -40;
        return ReadErrorEnding();
    }
    if (MessageIn() < 0) {
        result = -41;
        return ReadErrorEnding();
    }
    BusFree();
    bus.SleepNsec(2);
    if (sysparams.readlog == 1) {
        QString line = QStringLiteral("INQ: ");
        for (BYTE b : answer)
            line += QString::asprintf(" %02X", b);
        ReadLog(line);
    }
    if (status == kStatusCheckCondition) {
        if (SenseRead("SEN2: STAT=") != 0)
            return ReadErrorEnding();
        if (senseAnswer[kSenseKeyAt] == kSenseKeyIllegalRequest) {
            result = kResultIllegalRequest;
            return ReadErrorEnding();
        }
        ScanEndedByScanner(); // the piece that is waiting is still read
    }
    const BYTE *waiting = answer + kBufferStatusWaitingAt;
    s.buffersize = waiting[0] << 16 | waiting[1] << 8 | waiting[2];

    // 2. First data.
    FirstDataBook();

    // 3. One piece, once it is there whole.
    const int lines = qMin(s.bufferlines, s.height - s.scanstatus);
    if (lines <= 0)
        return ReadNormalEnding();
    const int pieceBytes = lines == s.bufferlines ? s.bufferreadsize : lines * s.width * 2;
    if (pieceBytes > s.buffersize || pieceBytes > kImageBufferSize)
        return ReadNormalEnding();
    BYTE readCdb[10] = {
        kOpRead10,        0, 0, 0, 0, 0, BYTE(pieceBytes >> 16), BYTE(pieceBytes >> 8),
        BYTE(pieceBytes), 0};
    Transaction read;
    read.cdb = readCdb;
    read.cdbLength = sizeof readCdb;
    read.data = imagedata;
    read.dataLength = pieceBytes;
    read.direction = Transaction::In;
    read.codes = {-42, -43, -44, -45, -46};
    read.statusLogTag = "DIN: STAT=";
    if (TransactionRun(read))
        return ReadErrorEnding();

    // 4. Shading correction.
    ShadingCorrectPiece(imagedata, calimagedata, s.width, lines, s.xstart, s.ystart + s.scanstatus,
                        s.shadingincr);

    // 5. Image and raw rows.
    if (!PieceRowsWrite(kirelscanfile_img, calimagedata, lines)) {
        ImageWriteFailed(kirelscanfile_img);
        return ReadNormalEnding();
    }
    if (sysparams.rawdatasave == 1 && !PieceRowsWrite(kirelscanfile_raw, imagedata, lines)) {
        ImageWriteFailed(kirelscanfile_raw);
        return ReadNormalEnding();
    }

    // 6. Preview and progress.
    PreviewLinesSample(calimagedata, lines, s.width, s.width * 2);
    PreviewPieceBook();
    if (s.height <= s.scanstatus && s.scanrunningflag == 1)
        s.scanrunningflag = 0;
    return ReadNormalEnding();
}
