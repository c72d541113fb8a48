// One-call SCSI transactions for service use, and the parser of the service command line.
//
// The standard wrappers address any SCSI ID with a plain selection (no arbitration, no
// ATN, hence no IDENTIFY). Each performs one complete transaction and leaves the bus
// released. They return 0 or a byte count on success and a negative code on failure, and
// leave that code in `result` too:
//   -1 selection failed (BSY not seen)   -2 COMMAND failed   -3 the data phase gave no bytes
//   -4 STATUS failed                     -5 MESSAGE IN failed
// Multi-byte CDB fields are big-endian; the data-in wrappers clear the first 4 bytes of
// `buf` before reading.
#ifndef SCSICOMMANDS_H
#define SCSICOMMANDS_H

#include "initiator.h"

// SCSI operation codes used by the station.
enum ScsiOpcode : BYTE {
    kOpTestUnitReady = 0x00,
    kOpRequestSense = 0x03,
    kOpInquiry = 0x12,
    kOpModeSelect6 = 0x15,
    kOpModeSense6 = 0x1A,
    kOpStartStop = 0x1B,
    kOpReadCapacity = 0x25,
    kOpRead10 = 0x28,
    kOpWrite10 = 0x2A,
    kOpGetDataBufferStatus = 0x34,
    kOpVendorStatusRead = 0xC1,
    kOpVendorShadingRead = 0xE0,
};

// Status bytes and messages.
constexpr BYTE kStatusGood = 0x00;
constexpr BYTE kStatusCheckCondition = 0x02;
constexpr BYTE kMsgCommandComplete = 0x00;
constexpr BYTE kMsgSaveDataPointer = 0x02;
constexpr BYTE kMsgDisconnect = 0x04;

int TestUnitReady(int id);           // 0
int RequestSense(int id, BYTE *buf); // up to 256 bytes
int ModeSense(int id, BYTE *buf);    // all pages, up to 256 bytes
int Inquiry(int id, BYTE *buf);      // up to 255 bytes
int ReadCapacity(int id, BYTE *buf); // 8 bytes
int Read10(int id, DWORD bstart, DWORD blength, DWORD length, BYTE *buf);
int Write10(int id, DWORD bstart, DWORD blength, DWORD length, BYTE *buf);

// Scanner wrappers.
// Arbitration, REQUEST SENSE of 18 bytes (discarded), STATUS, MESSAGE IN: `StatusValue`;
// -91 arbitration, -92 COMMAND, -93 not exactly 18 bytes, -94 STATUS, -95 MESSAGE IN.
int RequestKIREL5Sense();
// TEST UNIT READY on a target the caller already holds: 0; -2, -4, -5 as above.
int TestKirel5Ready(int id);
// A 10-byte command with DATA IN on a target the caller already holds in COMMAND phase:
// bytes received; -1 the bus is not in COMMAND phase, -2, -3, -4, -5 as above.
int KIREL5CommandDataIn(int id, DWORD length, BYTE *cdb, BYTE *buf);

// The service command text and its length including the appended line feed.
constexpr int kServiceCommandSize = 256;
constexpr int kServiceCommandMaxText = kServiceCommandSize - 2; // room for "\n" and NUL
extern char kirel5command[kServiceCommandSize];
extern int kirel5comlength;

// Prints the version line; FALSE (after the usage text) when there is no argument or it
// is "-h".
BOOL Banner(int argc, char **argv);
// Parses "-i ID -c command": TRUE when the ID is 0..6 and a command of 1 to 254
// characters was given (a line feed is then appended).
BOOL ParseArgument(int argc, char **argv);

#endif // SCSICOMMANDS_H
