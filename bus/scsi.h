// The scanner bus as the initiator code sees it: signal get/set, phase decoding and the
// byte handshakes of a SCSI bus. GPIOBUS (gpiobus.h) is its only implementation.
//
// A 1 from a getter means the line is asserted (pulled low on the cable). The getters read
// the snapshot of the last Aquire(); callers sample first.
#ifndef SCSI_H
#define SCSI_H

#include "scanstate.h"

class BUS
{
public:
    enum mode_e {
        TARGET = 0,
        INITIATOR = 1, // the only mode the station uses
        MONITOR = 2,
    };

    enum phase_t {
        busfree = 0,
        arbitration = 1,
        selection = 2,
        reselection = 3,
        command = 4,
        execute = 5,
        datain = 6,
        dataout = 7,
        status = 8,
        msgin = 9,
        msgout = 10,
        reserved = 11,
    };

    virtual BOOL Init(mode_e mode) = 0;
    virtual void Reset() = 0;
    virtual void Cleanup() = 0;
    virtual DWORD Aquire() = 0;
    virtual BOOL GetBSY() = 0;
    virtual void SetBSY(BOOL ast) = 0;
    virtual BOOL GetSEL() = 0;
    virtual void SetSEL(BOOL ast) = 0;
    virtual BOOL GetATN() = 0;
    virtual void SetATN(BOOL ast) = 0;
    virtual BOOL GetACK() = 0;
    virtual void SetACK(BOOL ast) = 0;
    virtual BOOL GetRST() = 0;
    virtual void SetRST(BOOL ast) = 0;
    virtual BOOL GetMSG() = 0;
    virtual void SetMSG(BOOL ast) = 0;
    virtual BOOL GetCD() = 0;
    virtual void SetCD(BOOL ast) = 0;
    virtual BOOL GetIO() = 0;
    virtual void SetIO(BOOL ast) = 0;
    virtual BOOL GetREQ() = 0;
    virtual void SetREQ(BOOL ast) = 0;
    virtual BYTE GetDAT() = 0;
    virtual void SetDAT(BYTE dat) = 0;
    virtual int ReceiveHandShake(BYTE *buf, int count) = 0;
    virtual int SendHandShake(BYTE *buf, int count) = 0;
    virtual void SleepNsec(DWORD ns) = 0;
    virtual ~BUS() = default;

    // SEL asserted: selection; BSY released: bus free; otherwise the information phase
    // named by MSG, C/D and I/O. Reads I/O through GetIO(), so an initiator turns its data
    // lines with the phase.
    phase_t GetPhase();

    // The information phase of MSG*4 + C/D*2 + I/O (1 = asserted).
    static phase_t GetPhase(DWORD mci) { return phase_table[mci & 7]; }

private:
    static const phase_t phase_table[8];
};

#endif // SCSI_H
