// A software stand-in for the Pi's GPIO and pads register blocks with a SCSI cable on the
// interface pins.
//
// The cable is a wired-OR bus: a line reads asserted (0 in GPLEV0) when either side drives
// it. The station drives a SCSI line by making its pin an output with latch 0 (the only
// way the bus code ever drives one); the device on the other end (BusDevice) drives its
// own lines through setDeviceDrive(). Every read of GPLEV0 first gives the device a turn
// (BusDevice::onLevelRead), so the device advances synchronously with the station's
// sampling and nothing depends on thread timing.
//
// Every access is counted for the benchmark and for tests of the access budget.
#ifndef EMULATEDGPIO_H
#define EMULATEDGPIO_H

#include "gpioregs.h"

class EmulatedGpio;

// The far side of the cable.
class BusDevice
{
public:
    virtual ~BusDevice() = default;
    // Called on every read of GPLEV0, before the level is composed.
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

    static constexpr int kGpioWords = 41; // 164 bytes
    static constexpr int kPadsWords = 14; // 56 bytes

    EmulatedGpio();

    DWORD readGpio(int word) override;
    void writeGpio(int word, DWORD value) override;
    DWORD readPads(int word) override;
    void writePads(int word, DWORD value) override;

    // The device on the cable (nullptr: none; its lines are then only setDeviceDrive()).
    void attach(BusDevice *device) { device_ = device; }

    // SCSI lines asserted by the device (bit n = GPIO n).
    void setDeviceDrive(DWORD mask) { deviceDrive_ = mask; }
    DWORD deviceDrive() const { return deviceDrive_; }
    // SCSI lines the station asserts: signal pins that are outputs with latch 0.
    DWORD stationDrive() const { return stationDrive_; }
    // Lines asserted on the cable.
    DWORD asserted() const { return stationDrive_ | deviceDrive_; }
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

    const Counters &counters() const { return counters_; }
    void resetCounters() { counters_ = Counters(); }

private:
    void updateStationDrive();

    DWORD gpio_[kGpioWords];
    DWORD pads_[kPadsWords];
    DWORD latch_ = 0;
    DWORD stationDrive_ = 0;
    DWORD controlLow_ = 0; // control pins driven low
    DWORD deviceDrive_ = 0;
    BusDevice *device_ = nullptr;
    Counters counters_;
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
