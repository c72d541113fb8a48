#include "emulatedgpio.h"

#include <cstring>

namespace
{
constexpr DWORD kPadsResetValue = 0x0000001B; // slew limited, hysteresis, 8 mA
} // namespace

EmulatedGpio::EmulatedGpio()
{
    std::memset(gpio_, 0, sizeof gpio_);
    std::memset(pads_, 0, sizeof pads_);
    pads_[PADS_GPIO_0_27] = kPadsResetValue;
}

bool EmulatedGpio::parityOdd() const
{
    DWORD lines = (asserted() >> PIN_DT0) & 0x1FF;
    int ones = 0;
    for (; lines; lines &= lines - 1)
        ++ones;
    return ones & 1;
}

int EmulatedGpio::pinFunction(int pin) const
{
    return int((gpio_[GPFSEL0 + pin / 10] >> ((pin % 10) * 3)) & 7);
}

bool EmulatedGpio::controlPinHigh(int pin) const
{
    return pinFunction(pin) == kGpioOutput && (latch_ >> pin & 1);
}

void EmulatedGpio::updateStationDrive()
{
    DWORD drive = 0;
    for (int pin = PIN_DT0; pin <= PIN_SEL; pin++) {
        if (pinFunction(pin) == kGpioOutput && !(latch_ >> pin & 1))
            drive |= 1u << pin;
    }
    const bool resetBegins = (drive & kMaskRST) && !(stationDrive_ & kMaskRST);
    stationDrive_ = drive;

    DWORD low = 0;
    for (int pin = PIN_ACT; pin <= PIN_DTD; pin++) {
        if (pinFunction(pin) == kGpioOutput && !(latch_ >> pin & 1))
            low |= 1u << pin;
    }
    controlLow_ = low;
    if (resetBegins && device_)
        device_->onBusReset(*this);
}

DWORD EmulatedGpio::readGpio(int word)
{
    ++counters_.gpioReads;
    if (word == GPLEV0) {
        ++counters_.levelReads;
        if (device_)
            device_->onLevelRead(*this);
        // Released SCSI lines float high through the terminators; a control pin reads low
        // while it is an output with latch 0; everything else reads high.
        return ~(asserted() | controlLow_);
    }
    if (word >= GPFSEL0 && word <= GPFSEL5)
        ++counters_.fselReads;
    if (word < 0 || word >= kGpioWords)
        return 0;
    return gpio_[word];
}

void EmulatedGpio::writeGpio(int word, DWORD value)
{
    ++counters_.gpioWrites;
    switch (word) {
    case GPFSEL0:
    case GPFSEL1:
    case GPFSEL2:
    case GPFSEL3:
    case GPFSEL4:
    case GPFSEL5:
        ++counters_.fselWrites;
        gpio_[word] = value;
        updateStationDrive();
        break;
    case GPSET0:
        ++counters_.latchWrites;
        latch_ |= value;
        updateStationDrive();
        break;
    case GPCLR0:
        ++counters_.latchWrites;
        latch_ &= ~value;
        updateStationDrive();
        break;
    case GPPUD:
        ++counters_.pudWrites;
        gpio_[word] = value;
        break;
    case GPPUDCLK0:
        ++counters_.pudClkWrites;
        gpio_[word] = value;
        break;
    default:
        if (word >= 0 && word < kGpioWords && word != GPLEV0)
            gpio_[word] = value;
        break;
    }
}

DWORD EmulatedGpio::readPads(int word)
{
    ++counters_.padsReads;
    return word >= 0 && word < kPadsWords ? pads_[word] : 0;
}

void EmulatedGpio::writePads(int word, DWORD value)
{
    ++counters_.padsWrites;
    // The pads block takes a write only with its password in the top byte.
    if (word >= 0 && word < kPadsWords && (value & 0xFF000000) == kPadsPassword)
        pads_[word] = value & 0x00FFFFFF;
}
