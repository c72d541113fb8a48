// The imaging-plate readout: a phase machine driven by the 50 ms read timer. The reader
// answers every command by disconnecting and reselects the station when it is done, so
// each call either finds nothing to do and returns 1, or completes one step:
//
//   phase 1  the reader reselects when START is done -> phase 2
//   phase 2  1.5 s of settling, then the first READ(10) -> phase 3
//   phase 3  the reader reselects with a piece: take it, ask at once for the next one (so
//            the reader works while the station cuts), then cut the wanted pixels out of
//            each reader line, or average 2 x 2 at the coarse resolution, and write the
//            rows into the image file from its last row upwards
//   phase 4  a piece was lost on the bus (DATA IN cut short), or the next READ was not
//            taken: the next call asks for it again -> phase 3
//
// The reader's piece: bufferlines reader lines of bytelinewidth bytes, 16-bit pixels most
// significant byte first, pixel p of a line at p x the reader's pitch from the plate's
// bottom edge; it comes in one, two or four DATA IN transfers whose order the station
// reverses (the last transfer holds the first bytes of the piece).
//
// Image rows (scanstatus counts them; the scan ends when it reaches width):
//   bufptroffset is on every row the byte offset, inside a reader line, of the first
//   wanted reader pixel (the plate's lower edge in reader pixels, two bytes each);
//   direct    one row per reader line: pixwidth pixels from byte bufptroffset;
//   averaged  one row per two reader lines, at twice the reader's pitch: pixel j is the
//             mean of reader pixels p0 + 2j and p0 + 2j + 1 of both lines, p0 being
//             bufptroffset / 2.
// A row never reads past its reader line: pixels beyond it are 0.
#include "kirelscan.h"

#include "initiator.h"
#include "scanstate.h"
#include "scantransaction.h"
#include "scanwindow.h"
#include "scsicommands.h"

#include <QFile>
#include <QLoggingCategory>

#include <cstdio>
#include <cstring>

namespace
{
Q_LOGGING_CATEGORY(lcScanRead, "station.scan.read")

enum PlatePhase {
    kPhaseIdle = 0,
    kPhaseStarting = 1,
    kPhaseSettling = 2,
    kPhaseReading = 3,
    kPhaseAskAgain = 4,
};
constexpr qint64 kSettlingMs = 1499; // the first READ goes out once more than this has passed
constexpr int kResultWaiting = 1;
constexpr int kBytesPerPixel = 2;

// How a member of the family delivers a piece at a resolution.
struct PlateLayout {
    int transfers;   // DATA IN transfers per piece
    int readerPitch; // um between reader pixels and reader lines
    int linesPerRow; // reader lines per image row: 1 direct, 2 averaged 2 x 2
    bool written;    // rows go into the image file
};

PlateLayout PlateLayoutFor(int model, int resolution)
{
    if (model == kModelVESK5000) {
        switch (resolution) {
        case 25:
            return {4, 25, 1, true};
        case 50:
            return {2, 50, 1, true};
        case 100:
            return {2, 50, 2, true};
        default: // 200 um: the reader has no such pitch and nothing is written
            return {2, 50, 4, false};
        }
    }
    switch (resolution) {
    case 50:
        return {2, 50, 1, true};
    case 200:
        return {1, 100, 2, true};
    default:
        return {1, resolution, 1, true};
    }
}

// READ(10) of one piece; the reader disconnects after the command. 0, or the code of the
// step that failed (also in `result`).
int PieceRequest(const int codes[4])
{
    const qint32 n = newscansetup.bufferreadsize;
    BYTE cdb[10] = {kOpRead10, 0, 0, 0, 0, 0, BYTE(n >> 16), BYTE(n >> 8), BYTE(n), 0};
    if (KIREL5Arbitration() < 0)
        return result = codes[0];
    if (!Command(cdb, sizeof cdb))
        return result = codes[1];
    if (MessageIn() < 0)
        return result = codes[2];
    if (MessageIn() < 0)
        return result = codes[3];
    return 0;
}

constexpr int kFirstReadCodes[4] = {-41, -42, -43, -44};
constexpr int kNextReadCodes[4] = {-46, -47, -48, -49};

// Once its COMMAND phase went through, the reader has the READ: a message byte lost after
// it must not bring a second READ (the reader would get two), the reader reselects with
// the piece. Without arbitration or with the CDB not taken whole it has nothing to do.
bool ReadTaken(int code, const int codes[4])
{
    return code == codes[2] || code == codes[3];
}

// Receives the piece into imagedata in the reader's order. False when a transfer fell
// short (-45).
bool PieceReceive(const PlateLayout &layout)
{
    const int part = newscansetup.bufferreadsize / layout.transfers;
    for (int t = 0; t < layout.transfers; ++t) {
        if (DataIn(imagedata, part) != part)
            return false;
        // Transfer t holds the bytes of part (transfers - 1 - t); the last stays in front.
        if (t < layout.transfers - 1)
            std::memcpy(imagedata + (layout.transfers - 1 - t) * part, imagedata, part);
    }
    return true;
}

int Big16(const BYTE *p)
{
    return p[0] << 8 | p[1];
}

// Builds `rows` image rows from the piece in calimagedata at the front of imagedata.
void RowsCut(const PlateLayout &layout, int rows)
{
    const ScanSetup &s = newscansetup;
    const int rowBytes = s.pixwidth * 2;
    const int lineBytes = s.bytelinewidth;
    if (layout.linesPerRow == 1) {
        const int first = s.bufptroffset;
        const int inside = qBound(0, lineBytes - first, rowBytes);
        for (int m = 0; m < rows; ++m) {
            BYTE *row = imagedata + m * rowBytes;
            std::memcpy(row, calimagedata + m * lineBytes + first, inside);
            std::memset(row + inside, 0, rowBytes - inside);
        }
        return;
    }
    // 2 x 2: two reader lines and two neighbouring reader pixels per image pixel.
    const int firstPixel = s.bufptroffset / kBytesPerPixel;
    const int linePixels = lineBytes / 2;
    for (int m = 0; m < rows; ++m) {
        const BYTE *upper = calimagedata + (2 * m) * lineBytes;
        const BYTE *lower = upper + lineBytes;
        BYTE *row = imagedata + m * rowBytes;
        for (int j = 0; j < s.pixwidth; ++j) {
            const int p = firstPixel + 2 * j;
            int value = 0;
            if (p + 1 < linePixels) {
                const int sum = Big16(upper + 2 * p) + Big16(upper + 2 * p + 2) +
                                Big16(lower + 2 * p) + Big16(lower + 2 * p + 2);
                value = sum / 4; // the mean, truncated (at most 65535)
            }
            row[2 * j] = BYTE(value >> 8);
            row[2 * j + 1] = BYTE(value);
        }
    }
}

// Rows from the front of imagedata into the image file, from row width - 1 - scanstatus
// upwards, one write each.
bool RowsWrite(int rows)
{
    const ScanSetup &s = newscansetup;
    const int rowBytes = s.pixwidth * 2;
    qint64 position = qint64(ScanFileSize) - qint64(rowBytes) * s.scanstatus;
    for (linestep = 0; linestep < rows; ++linestep) {
        widthstep = rowBytes;
        if (!ImageRowWrite(kirelscanfile_img, position, imagedata + linestep * rowBytes, rowBytes))
            return false;
        position -= rowBytes;
    }
    return kirelscanfile_img.flush();
}

// Preview, histogram and progress of the rows just written.
void RowsBook(int rows, bool written)
{
    ScanSetup &s = newscansetup;
    if (written) {
        const int pixels = qMin(s.height, s.pixwidth);
        HistogramLinesCount(imagedata, rows, pixels, s.pixwidth * 2);
        PreviewLinesSample(imagedata, rows, pixels, s.pixwidth * 2);
    }
    s.previewbuffer += float(rows) * s.previewscale;
    s.scanstatus += rows;
    if (s.previewbuffer >= 1.0f)
        s.newpreviewflag = 1;
    if (s.width <= s.scanstatus && s.scanrunningflag == 1)
        s.scanrunningflag = 0;
}

int StartCompleted()
{
    if (MessageIn() < 0) {
        std::fprintf(stderr, " VESK18II MessageIn Reconnect Error\n");
        return ReadErrorEnding();
    }
    Status(); // not used
    if (MessageIn() < 0) {
        std::fprintf(stderr, " VESK18II MessageIn Reconnect Error-2\n");
        return ReadErrorEnding();
    }
    ScannerPhase = kPhaseSettling;
    scanstart_epochsecs = ScanNowMs();
    qCDebug(lcScanRead) << "Phase 2 Started";
    return ReadNormalEnding();
}

int FirstPieceRequest()
{
    scancurrent_epochsecs = ScanNowMs();
    if (scancurrent_epochsecs - scanstart_epochsecs <= kSettlingMs) {
        result = kResultWaiting;
        return kResultWaiting;
    }
    const int failed = PieceRequest(kFirstReadCodes);
    if (failed && !ReadTaken(failed, kFirstReadCodes))
        return ReadErrorEnding();
    ScannerPhase = kPhaseReading;
    scanstart_epochsecs = 0;
    if (failed)
        return ReadErrorEnding();
    qCDebug(lcScanRead) << "Phase 3 Started";
    BusFree();
    return result;
}

int LostPieceRequest()
{
    const int failed = PieceRequest(kNextReadCodes);
    if (failed && !ReadTaken(failed, kNextReadCodes))
        return ReadErrorEnding();
    ScannerPhase = kPhaseReading;
    if (failed)
        return ReadErrorEnding();
    BusFree();
    return result;
}

int PieceTake(const PlateLayout &layout)
{
    ScanSetup &s = newscansetup;
    if (MessageIn() < 0) {
        result = -44;
        return ReadErrorEnding();
    }
    if (!PieceReceive(layout)) {
        result = -45;
        ScannerPhase = kPhaseAskAgain;
        return ReadErrorEnding();
    }
    Status(); // not used
    if (MessageIn() < 0) {
        std::fprintf(stderr, " VESK18II MessageIn Reconnect Error-2\n");
        return ReadErrorEnding();
    }
    BusFree();

    qCDebug(lcScanRead) << "scanstatus" << s.scanstatus << "bufferlines" << s.bufferlines << "width"
                        << s.width;
    const int rowsPerPiece = s.bufferlines / layout.linesPerRow;
    bool askFailed = false;
    if (s.scanstatus + rowsPerPiece < s.width) {
        const int failed = PieceRequest(kNextReadCodes);
        askFailed = failed != 0;
        if (failed && !ReadTaken(failed, kNextReadCodes))
            ScannerPhase = kPhaseAskAgain; // the next call asks again
    }
    if (scanstart_epochsecs == 0)
        scanstart_epochsecs = ScanNowMs() / 1000;

    const int pieceBytes = qMin(s.bufferlines * s.bytelinewidth, kImageBufferSize);
    std::memcpy(calimagedata, imagedata, pieceBytes);
    const int rows = qMax(0, qMin(rowsPerPiece, s.width - s.scanstatus));
    if (layout.written) {
        RowsCut(layout, rows);
        if (!RowsWrite(rows)) {
            ImageWriteFailed(kirelscanfile_img);
            return ReadNormalEnding();
        }
    }
    RowsBook(rows, layout.written);
    return askFailed ? ReadErrorEnding() : ReadNormalEnding();
}

int PlateRead(int model)
{
    if (ScannerPhase == kPhaseSettling)
        return FirstPieceRequest();
    if (ScannerPhase == kPhaseAskAgain)
        return LostPieceRequest();
    if (VESK18IIreconnect() < 0) {
        result = kResultWaiting;
        return kResultWaiting;
    }
    if (ScannerPhase == kPhaseStarting)
        return StartCompleted();
    if (ScannerPhase == kPhaseReading)
        return PieceTake(PlateLayoutFor(model, newscansetup.resolution));
    return ReadNormalEnding();
}
} // namespace

int kirel5scan::readVESK18IIscan()
{
    return PlateRead(kModelVESK1800);
}

int kirel5scan::readVESK5scan()
{
    return PlateRead(kModelVESK5000);
}
