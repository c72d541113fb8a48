// The scanner's SCSI bus driven through the Pi's GPIO registers.
//
// A line is asserted by pulling it low and released by letting it float. Every signal pin
// has its output latch preset to 0 by Init; the bus then asserts a line by switching the
// pin's function to output and releases it by switching it back to input. It never drives
// a SCSI line high. Reading inverts GPLEV0, so a 1 in `signals` means asserted.
//
// The data path is kept to a few register accesses per byte:
//   - SetDAT puts a byte and its parity on the bus with three precomputed writes of
//     GPFSEL0..2 (tables made once by MakeTable), no read-modify-write;
//   - every wait samples GPLEV0 once per turn;
//   - the getters work on the cached snapshot.
// Timing is done by polling and by counted dummy writes (SleepNsec); nothing sleeps except
// the two 1 us pauses of the pull-resistor sequence.
#ifndef GPIOBUS_H
#define GPIOBUS_H

#include "gpioregs.h"
#include "scsi.h"

// Physical base of the peripheral block: the big-endian word at offset 4 of
// "/proc/device-tree/soc/ranges", or 0x20000000 when it cannot be read.
DWORD bcm_host_get_peripheral_address();
// The same, from a given ranges file.
DWORD PeripheralAddressFrom(const char *rangesFile);
// Big-endian 32-bit word at `offset` of `filename`; 0xFFFFFFFF when unreadable.
DWORD get_dt_ranges(const char *filename, DWORD offset);

// Qt's `signals` keyword is a macro; the snapshot field keeps its name inside the class.
#pragma push_macro("signals")
#undef signals

class GPIOBUS final : public BUS
{
public:
    // Until Init maps the registers, the bus reads and writes a stand-in block.
    GPIOBUS();

    BOOL Init(mode_e mode) override;
    void Reset() override;
    void Cleanup() override;
    // Releases every SCSI line and the transceiver controls with register writes alone: the
    // part of Cleanup that is safe inside a signal handler.
    void LinesRelease();

    DWORD Aquire() override;

    BOOL GetBSY() override;
    void SetBSY(BOOL ast) override;
    BOOL GetSEL() override;
    void SetSEL(BOOL ast) override;
    BOOL GetATN() override;
    void SetATN(BOOL ast) override;
    BOOL GetACK() override;
    void SetACK(BOOL ast) override;
    BOOL GetRST() override;
    void SetRST(BOOL ast) override;
    BOOL GetMSG() override;
    void SetMSG(BOOL ast) override;
    BOOL GetCD() override;
    void SetCD(BOOL ast) override;
    BOOL GetIO() override;
    void SetIO(BOOL ast) override;
    BOOL GetREQ() override;
    void SetREQ(BOOL ast) override;
    BYTE GetDAT() override;
    void SetDAT(BYTE dat) override;

    // Byte handshakes; each returns the number of bytes completed. A wait that runs out of
    // samples, a change of the phase lines (initiator) or RST (target, monitor) ends the
    // transfer early.
    int ReceiveHandShake(BYTE *buf, int count) override;
    int SendHandShake(BYTE *buf, int count) override;

    // (ns + 7) / 8 dummy writes of GPPUD, each taken as 8 ns.
    void SleepNsec(DWORD ns) override;

    // Control lines in the low five bits (MSG, C/D, I/O, REQ, ACK), BSY, SEL, ATN above
    // them, from a fresh sample.
    BYTE GetPHASEDAT();
    // Watches `count` bytes go by without driving anything.
    int MonitorHandShake(BYTE *buf, BYTE *phase, int count);
    // The initiator's message-out send: always drives the pins itself (never the kernel
    // driver) and samples the bus afresh before it takes the phase.
    int KIREL5SendHandShake(BYTE *buf, int count);
    // Points the SEL, ATN, ACK and RST transceivers outbound (the station drives them) or
    // inbound (the station sees the cable's SEL, as it must during a reselection, when SEL
    // is the target's). Nothing of the four may be asserted while they point inbound.
    void SetInitiatorOutbound(BOOL outbound) { SetControl(PIN_IND, outbound); }

    // The number of samples after which a handshake wait gives up.
    static constexpr long kHandshakeSamples = 30000000;

private:
    // Register seam: one volatile access in the station build, a call into the installed
    // emulated block in the emulated build.
    inline DWORD GpioRead(int word) const;
    inline void GpioWrite(int word, DWORD value);
    inline DWORD LevelRead() const;
    inline DWORD PadsRead(int word) const;
    inline void PadsWrite(int word, DWORD value);
    bool RegistersReady() const;
    bool MapRegisters(DWORD base);
    void RegistersUnmapped();

    void DrvConfig(DWORD drive);
    void PinConfig(int pin, int mode);
    void PullConfig(int pin, int mode);
    void PinSetSignal(int pin, BOOL ast);
    void MakeTable();
    void SetControl(int pin, BOOL ast);
    void SetMode(int pin, int mode);
    BOOL GetSignal(int pin);
    void SetSignal(int pin, BOOL ast);
    void DataPinsToInput();
    void PutDAT(BYTE dat);
    int InitiatorTransfer(BYTE *buf, int count, bool send);

    mode_e actmode;
    volatile DWORD *gpio;
    volatile DWORD *pads;
    volatile DWORD *level;
    DWORD gpfsel[4];
    DWORD signals;
    DWORD tblDatMsk[3][256];
    DWORD tblDatSet[3][256];
    int drvfd = -1; // kept -1 until a driver is opened, so Cleanup never closes a stranger
    // SetDAT may put a byte on the data lines: from Reset until a send or a phase with I/O.
    bool dataFree = true;
    bool bcm2711 = false; // pull resistors through the pull-control registers

    static const int SignalTable[19];
};

#pragma pop_macro("signals")

#endif // GPIOBUS_H
