// The scanner protocol: the operations that speak the scanners' command set over the bus.
// The class keeps no state; every caller creates one for one call, and the findings go to
// the shared globals (scanstate.h) and the logs.
//
// Connection tests (kirelscan_connect.cpp), one per model, called by the status poll every
// 500 ms until the scanner is ready. Each opens the bus, pulses the bus reset, runs a short
// fixed series of transactions, releases the bus and returns 1 when the series ran to its
// end, -111 when the bus could not be brought up, or the negative code of the first step
// that failed. They keep the connection state in KIREL5connectStatus:
//   -1 nothing heard yet; 0 the scanner stopped answering;
//   KIREL-3000 and imaging-plate readers: 1 answered INQUIRY (or fell back after a
//     failure), 2 identified, self-diagnosis under way, 3 ready;
//   KIREL-5000/5100 (only with the boot log on): 1 loss logged, 2 "CONNECT:" logged,
//     3 INQUIRY data logged; its readiness is the state byte of the status read in
//     scannerstat.
#ifndef KIRELSCAN_H
#define KIRELSCAN_H

#include <QObject>

class kirel5scan : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // KIREL-5000/5100: two passes of INQUIRY, TEST UNIT READY, REQUEST SENSE, TEST UNIT
    // READY, status read (into scannerstat) and GET DATA BUFFER STATUS; codes -1 to -24.
    int testkirel5connected();
    // KIREL-3000: INQUIRY, then by state the MODE SENSE and a second INQUIRY (state 1 -> 2)
    // or TEST UNIT READY with REQUEST SENSE (state 2 -> 3); codes -1 to -23.
    int testkirel3connected();
    // VESK-5000 and VESK-1800II: INQUIRY, TEST UNIT READY and, when that is not good,
    // REQUEST SENSE: no plate is ready, a plate in the loading area or the door open is a
    // start-up error (scanrunningerror); codes -1 to -13.
    int testVESK18IIconnected();

    // Scan starts (kirelscan_start.cpp), once per scan right after the scan window opens.
    // KIREL-5000/5100: status reads, the laser's shading table (into shadingdata and,
    // with shadingdatasave, the .sd file), MODE SELECT with the 30-byte scanparams, START;
    // codes -1 (GPIO) and -1 to -36 per step (-35 also a START refused with CHECK
    // CONDITION), else `result` unchanged.
    int startkirel5scan();
    // Imaging-plate readers: INQUIRY, TEST UNIT READY; an error condition is read into the
    // sense fields (scanrunningerror = 1, -99); else MODE SELECT with 12 bytes (17 on the
    // KIREL-3000) and START, after which ScannerPhase is 1. Codes -51 (GPIO), -52 to -68.
    int startVESK18IIscan();

    // Readouts, called by the read timer until scanrunningflag leaves 1.
    // KIREL-5000/5100 (kirelscan_fluor.cpp): one piece when it is waiting, shading
    // corrected into the image (and raw) file; 52 ILLEGAL REQUEST passed over, -37 bus held,
    // -9 to -12 sense, -38 to -46 buffer status and READ, -112 GPIO, -150 file write.
    int readkirel5scan();
    // VESK-1800II and VESK-5000 (kirelscan_plate.cpp): one step of the phase machine; 1
    // while waiting, -41 to -49 READ, -45 piece cut short (asked again on the next call),
    // -112 GPIO, -150 file write. A READ that was not taken (-41, -42, -46, -47) is sent
    // again on the next call; one whose message bytes were lost is waited for.
    int readVESK18IIscan();
    int readVESK5scan();
};

#endif // KIRELSCAN_H
