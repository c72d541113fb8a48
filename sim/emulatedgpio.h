// A software stand-in for the Pi's GPIO and pads register blocks, the interface board's
// transceivers and a SCSI cable on the interface pins.
//
// The board: the Pi asserts a SCSI line by making its pin an output with latch 0 (the only
// way the bus code ever drives one). The line reaches the cable only through an enabled
// transceiver that points outbound: enable pin GPIO 5 driven 0 turns the transceivers on;
// GPIO 6 high points SEL, ATN, ACK and RST outbound, GPIO 7 high BSY, MSG, C/D, REQ and
// I/O, GPIO 8 low the data and parity lines. GPLEV0 shows a cable line only through an
// enabled transceiver that points inbound; otherwise the Pi reads its own pin.
//
// The cable is a wired-OR bus: a line is asserted when the Pi (through its transceiver) or
// the device on the other end (BusDevice, through setDeviceDrive()) asserts it, and the
// terminators release it otherwise.
//
// Every access is evaluated in order on a virtual clock (the costs of a Pi profile, see
// cablereferee.h): the device takes a turn on every read of GPLEV0 and after every write
// that changes the cable, and the referee judges the board after each access. The device
// advances synchronously with the station's accesses, so nothing depends on thread timing.
//
// Function-select fields are decoded once, when a GPFSEL register is written.
// Every access is counted for the benchmark and for tests of the access budget.
#ifndef EMULATEDGPIO_H
#define EMULATEDGPIO_H

#include "cablereferee.h"
#include "gpioregs.h"

class EmulatedGpio;

// The far side of the cable.
class BusDevice
{
public:
    virtual ~BusDevice() = default;
    // Called on every read of GPLEV0, before the level is composed, and after every write
    // that changed the cable.
    virtual void onLevelRead(EmulatedGpio &gpio) = 0;
    // Called as soon as the station asserts RST. A real device sees the reset at once, also
    // when the station holds it without sampling the bus (the 1 ms pulse before a series).
    virtual void onBusReset(EmulatedGpio &gpio) { (void)gpio; }
};

class EmulatedGpio : public EmulatedRegisters
{
public:
    // Register access counts since the last resetCounters().
    struct Counters {
        quint64 gpioReads = 0;
        quint64 gpioWrites = 0;
        quint64 levelReads = 0;   // GPLEV0
        quint64 fselReads = 0;    // GPFSEL0..5
        quint64 fselWrites = 0;   // GPFSEL0..5
        quint64 latchWrites = 0;  // GPSET0, GPCLR0
        quint64 pudWrites = 0;    // GPPUD (pull control and timing dummy writes)
        quint64 pudClkWrites = 0; // GPPUDCLK0
        quint64 padsReads = 0;
        quint64 padsWrites = 0;
    };

    static constexpr int kGpioWords = 61; // 244 bytes, through GPIO_PUP_PDN_CNTRL_REG3
    static constexpr int kPadsWords = 14; // 56 bytes

    EmulatedGpio();

    DWORD readGpio(int word) override;
    void writeGpio(int word, DWORD value) override;
    DWORD readPads(int word) override;
    void writePads(int word, DWORD value) override;
    void pause(DWORD us) override;
    bool bcm2711() const override { return bcm2711_; }
    // The chip of the block: BCM283x (GPPUD and GPPUDCLK0) or BCM2711 (pull-control
    // registers; GPPUD and its clock do nothing).
    void setBcm2711(bool on) { bcm2711_ = on; }

    // The device on the cable (nullptr: none; its lines are then only setDeviceDrive()).
    void attach(BusDevice *device) { device_ = device; }

    // SCSI lines asserted by the device (bit n = GPIO n).
    void setDeviceDrive(DWORD mask)
    {
        if (mask != deviceDrive_) {
            deviceDrive_ = mask;
            updateCable();
        }
    }
    DWORD deviceDrive() const { return deviceDrive_; }
    // Lines held asserted on the cable whatever either side does (a broken transceiver,
    // missing terminator power).
    void setStuckLines(DWORD mask)
    {
        stuck_ = mask;
        updateCable();
    }
    // SCSI lines the station asserts at its pins: signal pins that are outputs with latch 0.
    DWORD stationDrive() const { return stationDrive_; }
    // The station's lines that reach the cable through enabled, outbound transceivers.
    DWORD stationOnCable() const { return stationDrive_ & reach_; }
    // Lines whose transceiver is enabled and points outbound; whether they are enabled.
    DWORD outbound() const { return reach_; }
    bool transceiversEnabled() const { return enabled_; }
    // Lines asserted on the cable.
    DWORD asserted() const { return cable_; }
    // The data byte on the cable and whether DBP completes odd parity over the nine lines.
    BYTE dataByte() const { return BYTE(asserted() >> PIN_DT0); }
    bool parityOdd() const;

    // Register state as the station left it.
    DWORD functionSelect(int reg) const { return gpio_[GPFSEL0 + reg]; }
    int pinFunction(int pin) const;
    DWORD outputLatch() const { return latch_; }
    // Level of a push-pull control pin (activity, enable, the three direction pins).
    bool controlPinHigh(int pin) const;
    DWORD padsDrive() const { return pads_[PADS_GPIO_0_27]; }
    DWORD pullControl() const { return gpio_[GPPUD]; }
    enum Pull { PullNone, PullUp, PullDown };
    // The pull resistor of a pin as the chip has set it (reset: GPIO 0-8 up, 9-27 down).
    Pull pull(int pin) const;

    const Counters &counters() const { return counters_; }
    void resetCounters() { counters_ = Counters(); }

    // Virtual time in ns: starts as if the bus had been free for a second.
    quint64 nowNs() const { return now_; }
    const PiProfile &profile() const { return *profile_; }
    void setProfile(const PiProfile &profile) { profile_ = &profile; }
    CableReferee &referee() { return referee_; }

private:
    void decodeFunctionSelect(int reg);
    void updateStationDrive();
    void updateCable();
    void access(int word, DWORD value, bool read, quint32 costNs);
    void clockPulls(DWORD pins);
    void afterWrite();

    DWORD gpio_[kGpioWords];
    DWORD pads_[kPadsWords];
    DWORD latch_ = 0;
    DWORD outputs_ = 0; // pins 0-31 whose function is output, decoded from GPFSEL0-3
    DWORD stationDrive_ = 0;
    DWORD controlLow_ = 0; // control pins driven low
    DWORD deviceDrive_ = 0;
    DWORD stuck_ = 0;
    DWORD reach_ = 0;
    DWORD inbound_ = 0;
    bool enabled_ = false;
    DWORD cable_ = 0;
    BusDevice *device_ = nullptr;
    Counters counters_;
    bool bcm2711_ = false;
    DWORD pullUp_ = 0x000001FF;   // GPIO 0-8
    DWORD pullDown_ = 0x0FFFFE00; // GPIO 9-27
    quint64 now_ = 1000000000;
    const PiProfile *profile_;
    CableReferee referee_;
};

// Puts an emulated block under the bus for the lifetime of the guard.
class EmulatedRegistersGuard
{
public:
    explicit EmulatedRegistersGuard(EmulatedRegisters *regs) { InstallEmulatedRegisters(regs); }
    ~EmulatedRegistersGuard() { InstallEmulatedRegisters(nullptr); }
    EmulatedRegistersGuard(const EmulatedRegistersGuard &) = delete;
    EmulatedRegistersGuard &operator=(const EmulatedRegistersGuard &) = delete;
};

#endif // EMULATEDGPIO_H
