// The initiator's bus transactions over the global `bus`: set-up and teardown around each
// protocol operation, arbitration with selection and IDENTIFY, the information phases and
// the answer to a reselection. Every scanner command follows one pattern:
//
//   KIREL5Arbitration() -> Command(cdb, n) -> [DataIn(buf, n) | DataOut(buf, n)]
//     -> Status() -> MessageIn() -> BusFree() -> bus.SleepNsec(2)
//
// Nothing here retries; each function returns its code at the first failure and leaves the
// lines as they are, and the caller follows with Cleanup() (or BusFree()).
#ifndef INITIATOR_H
#define INITIATOR_H

#include "gpiobus.h"

// Fixed identities: the station is SCSI ID 7, the scanner ID 5.
constexpr BYTE kInitiatorIdBit = 0x80;
constexpr BYTE kScannerIdBit = 0x20;
constexpr int kScannerId = 5;
constexpr BYTE kIdentifyDisconnectLun0 = 0xC0; // IDENTIFY, disconnection allowed, LUN 0
constexpr BYTE kReselectionIds = kInitiatorIdBit | kScannerIdBit;

extern GPIOBUS bus;
extern int scsiid;       // target ID; Init sets -1, the protocol operations 5
extern BOOL restore;     // set FALSE by Init; not read
extern int result;       // last result code of the protocol layer
extern int StatusValue;  // status byte of the last STATUS phase (0 before one is read)
extern int ScannerPhase; // imaging-plate readout phase (0 before the start)

// Installs KillHandler for SIGINT, SIGHUP and SIGTERM and brings the bus up as initiator;
// scsiid = -1. FALSE when a handler cannot be installed or the bus cannot be set up.
BOOL Init();
void Cleanup();
void Reset();
// Releases every line; used after MESSAGE IN to leave the bus.
void BusFree();
// The bus reset that opens every connection test and scan start: RST held for 1 ms, far
// beyond the 25 us the scanner needs to see it; whatever the scanner was doing ends.
constexpr unsigned kBusResetPulseUs = 1000;
void BusResetPulse();
// The handler of SIGINT, SIGHUP and SIGTERM: releases every line with register writes
// alone, then ends the process with status 0; while a scan runs (a hand-over descriptor is
// set) it writes the signal number as one byte there instead, and the scan is ended from
// the event loop.
void KillHandler(int sig);
// The descriptor KillHandler hands a signal to while a scan runs; -1: none, end at once.
void SignalHandoverSet(int fd);

// Up to about one second of 200 us polls for REQ, then TRUE when the bus is in `phase`
// (compared even when REQ never came).
BOOL WaitPhase(BUS::phase_t phase);

// >= 0 (the BSY line, normally 1): the scanner is selected and identified.
// -1: bus not free ("ARBITRATION START, BUS NOT FREE %d") or scanner not selected
// ("KIREL5 NOT SELECTED %d"); -2: the IDENTIFY byte was not taken.
int KIREL5Arbitration();
// Sends IDENTIFY after a selection with ATN; `id` is not used. -1 when MESSAGE OUT never
// came (the caller tests only for 0 and carries on), 0 when the byte was not taken or
// COMMAND did not follow, else the BSY line.
BOOL MessageOutKIREL5(int id);
// Selection of `id` without arbitration and without ATN; the BSY line afterwards.
BOOL Selection(int id);

BOOL Command(BYTE *buf, int count); // TRUE when all `count` CDB bytes were taken
int DataIn(BYTE *buf, int length);  // bytes received, -1 when DATA IN did not come
int DataOut(BYTE *buf, int length); // bytes sent, -1 when DATA OUT did not come
int Status();                       // status byte; -2 no STATUS, -1 no byte
int MessageIn();                    // message byte; -2 no MESSAGE IN, -1 no byte

// The station's answer to a reselection by the scanner: 1 (BSY) when answered;
// -4 not a reselection (I/O released), -5 the IDs 0xA0 did not show, -6 BSY not released,
// -7 SEL not released, -8 BSY not asserted by the target.
int VESK18IIreconnect();

#endif // INITIATOR_H
