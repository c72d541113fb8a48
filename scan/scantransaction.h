// Pieces shared by the scan starts and the readouts (kirelscan_start.cpp,
// kirelscan_fluor.cpp, kirelscan_plate.cpp): one bus transaction of the fixed pattern with
// a code per phase, the two endings of a read, and the one-write-per-line row writer of
// the image files.
#ifndef SCANTRANSACTION_H
#define SCANTRANSACTION_H

#include "scanstate.h"

#include <QString>

class QFile;

// Where the scan parameter block and the scanner's answers keep what the scan uses.
constexpr int kParamResolution = 7; // scanparams: resolution in um
constexpr int kParamLaserCode = 9;  // scanparams: channel-1 laser code
constexpr int kShadingHeaderBytes = 8;
constexpr int kShadingAnswerBytes = 4040; // 8 header bytes, 48 x 42 big-endian values
constexpr int kBufferStatusBytes = 20;
constexpr int kBufferStatusWaitingAt = 9; // bytes 9..11: image bytes waiting
constexpr int kSenseBytes = 18;
constexpr int kSenseKeyAt = 2;
constexpr int kSenseCodeAt = 12;
constexpr int kSenseQualifierAt = 13;

// Code of each phase of one transaction; 0 = the phase does not report a code of its own.
struct StepCodes {
    int arbitration;
    int command;
    int data;
    int status;
    int message;
};

// One transaction: arbitration, COMMAND, the data phase if any, STATUS, MESSAGE IN, bus
// free and the 2 ns settle.
struct Transaction {
    enum Direction { NoData, In, Out };

    BYTE *cdb = nullptr;
    int cdbLength = 6;
    BYTE *data = nullptr;
    int dataLength = 0;
    Direction direction = NoData;
    StepCodes codes = {};
    // DATA IN fails only when it brought nothing (the buffer status), instead of on any
    // count other than dataLength.
    bool anyDataInCount = false;
    // Printed with the count on standard error when DATA IN fell short ("... %d\n").
    const char *shortReadText = nullptr;
    // Scanning-log tag of the status byte ("BUF: STAT="), written when readlog is on.
    const char *statusLogTag = nullptr;
    // The start drives C0h on the data lines between COMMAND and the shading DATA IN.
    bool driveBeforeDataIn = false;

    // Outcome.
    int received = 0; // DATA IN bytes, or DATA OUT result
    int status = 0;   // the status byte
};

// Returned by TransactionRun when arbitration failed on a step that has no code for it:
// "ARBITRATION ERROR %d\n" has been printed and `result` is left alone.
constexpr int kArbitrationErrorNoCode = 1;

// Runs the transaction. 0 when every phase passed (the bus is then free); otherwise the
// failing phase's code, which is also stored in `result`, or kArbitrationErrorNoCode. On a
// failure the bus is left as it stands: the caller's ending frees it.
int TransactionRun(Transaction &t);

// The endings of a read call.
// Normal: free the bus twice around the settle delays; returns `result` unchanged.
int ReadNormalEnding();
// Error: "Error Result= %d\n", the scanning-log line "ERR: RES=", then the GPIO bus is
// released and brought up again; returns `result`, or -112 when the bus does not come
// back.
int ReadErrorEnding();

// Scanning-log line, written only when the system parameter readlog is on; the second
// form makes its text (tag and number) only then.
void ReadLog(const QString &text);
void ReadLogValue(const char *tag, int value);

// Writes one image row of `bytes` bytes at byte offset `position` of an open image file:
// one seek, one write. False when either failed (disk full, file gone).
bool ImageRowWrite(QFile &file, qint64 position, const BYTE *row, int bytes);
// Ends a scan whose image or raw file refused a row: scanwriteerror = 1, the scan stops
// (scanrunningflag -1), the error log names the file. `result` becomes kResultWriteFailed.
constexpr int kResultWriteFailed = -150;
void ImageWriteFailed(const QFile &file);

// The KIREL-5000/5100 readout found the bus held busy and could not read the sense either.
constexpr int kResultBusHeld = -37;

// Milliseconds since the epoch from the scan clock of the scan window.
qint64 ScanNowMs();

#endif // SCANTRANSACTION_H
