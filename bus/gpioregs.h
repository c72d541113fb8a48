// The BCM283x GPIO and pads registers that the scanner bus uses, the pin map of the SCSI
// interface board, and the seam through which a register block other than the Pi's own
// can be put under the bus.
//
// Two builds of the bus share this header. The station build (scanstation_bus) reaches the
// registers through the pointers that GPIOBUS::Init maps: one volatile load or store per
// access. The emulated build (scanstation_bus_emu) sends every access to an installed
// EmulatedRegisters block instead, so that the tests and the simulator run the very same
// bus code against a software bus.
#ifndef GPIOREGS_H
#define GPIOREGS_H

#include "scanstate.h"

// Word indices into the GPIO block (BCM2835 names).
enum GpioRegister {
    GPFSEL0 = 0, // function select, 10 pins per 32-bit word, 3 bits per pin
    GPFSEL1 = 1,
    GPFSEL2 = 2,
    GPFSEL3 = 3,
    GPFSEL4 = 4,
    GPFSEL5 = 5,
    GPSET0 = 7,     // write 1 bits to raise the output latch of pins 0-31
    GPCLR0 = 10,    // write 1 bits to lower the output latch of pins 0-31
    GPLEV0 = 13,    // pin levels of pins 0-31
    GPPUD = 37,     // pull-up/down control; also the target of the timing dummy writes
    GPPUDCLK0 = 38, // clocks the GPPUD value into the pins of its 1 bits
    // BCM2711 (Pi 4) only, which has no GPPUD/GPPUDCLK0: two bits per pin, pin n in
    // register n / 16 at bit 2 (n mod 16); 00 none, 01 pull-up, 10 pull-down.
    GPIO_PUP_PDN_CNTRL_REG0 = 57,
    GPIO_PUP_PDN_CNTRL_REG3 = 60,
};

// Pull settings of the BCM2711 pull-control fields.
constexpr DWORD kPull2711None = 0;
constexpr DWORD kPull2711Up = 1;
constexpr DWORD kPull2711Down = 2;

// Word index into the pads block: drive control of GPIO 0-27.
constexpr int PADS_GPIO_0_27 = 11;
constexpr DWORD kPadsPassword = 0x5A000000; // must accompany every pads write
constexpr DWORD kPadsDriveMask = 0x00000007;

// Function-select field values.
constexpr int kGpioInput = 0;
constexpr int kGpioOutput = 1;

// Byte sizes of the two mappings and their offsets from the peripheral base.
constexpr DWORD kGpioBlockOffset = 0x200000;
constexpr DWORD kGpioBlockBytes = 0xF4; // through the BCM2711's last pull-control register
constexpr DWORD kPadsBlockOffset = 0x100000;
constexpr DWORD kPadsBlockBytes = 56;

// BCM GPIO numbers of the interface board.
enum GpioPin {
    PIN_ACT = 4,  // activity pin, high while ACK is asserted by an initiator handshake
    PIN_ENB = 5,  // transceiver enable, 0 while the bus is in use
    PIN_IND = 6,  // initiator-direction: 1 = SEL/ATN/ACK/RST transceivers drive the bus
    PIN_TAD = 7,  // target-direction: 1 = BSY/MSG/C/D/REQ/I/O transceivers drive the bus
    PIN_DTD = 8,  // data-direction: 1 = data and parity inbound, 0 = outbound
    PIN_DT0 = 10, // DB0..DB7 on GPIO 10..17
    PIN_DP = 18,  // odd parity of DB0..DB7
    PIN_ATN = 19,
    PIN_RST = 20,
    PIN_ACK = 21,
    PIN_REQ = 22,
    PIN_MSG = 23,
    PIN_CD = 24,
    PIN_IO = 25,
    PIN_BSY = 26,
    PIN_SEL = 27,
};

constexpr int kDataPins = 9; // DB0..DB7 and DBP, GPIO 10..18

// Masks of a bus snapshot (bit n = GPIO n asserted).
constexpr DWORD kMaskDAT = 0x0007FC00; // DB0..DB7, DBP (GPIO 10..18; ATN is GPIO 19)
constexpr DWORD kMaskATN = 1u << PIN_ATN;
constexpr DWORD kMaskRST = 0x00100000;
constexpr DWORD kMaskACK = 0x00200000;
constexpr DWORD kMaskREQ = 0x00400000;
constexpr DWORD kMaskMSG = 1u << PIN_MSG;
constexpr DWORD kMaskCD = 1u << PIN_CD;
constexpr DWORD kMaskIO = 1u << PIN_IO;
constexpr DWORD kMaskBSY = 1u << PIN_BSY;
constexpr DWORD kMaskSEL = 1u << PIN_SEL;
constexpr DWORD kMaskPhase = 0x03800000; // MSG | C/D | I/O
static_assert(kMaskPhase == (kMaskMSG | kMaskCD | kMaskIO), "phase mask");
static_assert(kMaskDAT == ((1u << kDataPins) - 1) << PIN_DT0, "data mask");

// A register block that stands in for the Pi's GPIO and pads blocks. Word indices are
// those above; every access of the bus goes through exactly one call.
class EmulatedRegisters
{
public:
    virtual ~EmulatedRegisters() = default;
    virtual DWORD readGpio(int word) = 0;
    virtual void writeGpio(int word, DWORD value) = 0;
    virtual DWORD readPads(int word) = 0;
    virtual void writePads(int word, DWORD value) = 0;
    // The bus pauses for `us` microseconds (the block's clock goes on by as much).
    virtual void pause(DWORD us) { (void)us; }
    // TRUE for the BCM2711's block (pull resistors through the pull-control registers).
    virtual bool bcm2711() const { return false; }
};

// A pause of the bus code between two samples of the bus: usleep, which the emulated
// block's clock also counts.
void BusPauseMicroseconds(unsigned us);

// Emulated build only (the station build does not define them). Puts `regs` under the bus
// (nullptr takes it away again); GPIOBUS::Init then uses it instead of mapping the Pi's
// registers. The block must outlive its installation.
void InstallEmulatedRegisters(EmulatedRegisters *regs);
EmulatedRegisters *InstalledEmulatedRegisters();

// The real register path is tried only by an ARM Linux build on a machine whose device
// tree names a Raspberry Pi other than the Pi 5; everywhere else Init fails as a failed
// mapping does.
bool HardwareBuildCanMapRegisters();
// TRUE when the device-tree model file at `path` begins with "Raspberry Pi".
bool DeviceTreeNamesRaspberryPi(const char *path);
// TRUE when the device-tree compatible list at `path` holds `name`.
bool DeviceTreeIsCompatible(const char *path, const char *name);
// TRUE on a Pi 4 (BCM2711), whose pull resistors are set through their own registers.
bool HardwareIsBcm2711();

#endif // GPIOREGS_H
