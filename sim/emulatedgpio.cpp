#include "emulatedgpio.h"

#include <cstring>

namespace
{
constexpr DWORD kPadsResetValue = 0x0000001B; // slew limited, hysteresis, 8 mA

// The transceiver groups of the interface board.
constexpr DWORD kInitiatorGroup = kMaskSEL | kMaskATN | kMaskACK | kMaskRST;
constexpr DWORD kTargetGroup = kMaskBSY | kMaskMSG | kMaskCD | kMaskREQ | kMaskIO;
constexpr DWORD kDataGroup = kMaskDAT;
constexpr DWORD kScsiLines = kInitiatorGroup | kTargetGroup | kDataGroup;
constexpr DWORD kControlPins =
    (1u << PIN_ACT) | (1u << PIN_ENB) | (1u << PIN_IND) | (1u << PIN_TAD) | (1u << PIN_DTD);
constexpr DWORD kFieldLowBits = 01111111111; // bit 0 of each of the ten 3-bit fields
} // namespace

EmulatedGpio::EmulatedGpio() : profile_(&DefaultPiProfile())
{
    std::memset(gpio_, 0, sizeof gpio_);
    std::memset(pads_, 0, sizeof pads_);
    pads_[PADS_GPIO_0_27] = kPadsResetValue;
    // The BCM2711's pull-control registers at reset, in its own codes.
    for (int pin = 0; pin < 32; ++pin) {
        const DWORD code = (pullUp_ >> pin & 1)     ? kPull2711Up
                           : (pullDown_ >> pin & 1) ? kPull2711Down
                                                    : kPull2711None;
        gpio_[GPIO_PUP_PDN_CNTRL_REG0 + pin / 16] |= code << (pin % 16) * 2;
    }
}

EmulatedGpio::Pull EmulatedGpio::pull(int pin) const
{
    if (bcm2711_) {
        const DWORD code = gpio_[GPIO_PUP_PDN_CNTRL_REG0 + pin / 16] >> (pin % 16) * 2 & 3;
        return code == kPull2711Up ? PullUp : code == kPull2711Down ? PullDown : PullNone;
    }
    return (pullUp_ >> pin & 1) ? PullUp : (pullDown_ >> pin & 1) ? PullDown : PullNone;
}

// BCM283x: a write of GPPUDCLK0 sets the pins of its 1 bits to the control value of GPPUD
// (0 none, 1 down, 2 up).
void EmulatedGpio::clockPulls(DWORD pins)
{
    const DWORD control = gpio_[GPPUD] & 3;
    pullUp_ = (pullUp_ & ~pins) | (control == 2 ? pins : 0);
    pullDown_ = (pullDown_ & ~pins) | (control == 1 ? pins : 0);
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
    return (outputs_ >> pin & 1) && (latch_ >> pin & 1);
}

// The output pins of one function-select register: a field reads 001.
void EmulatedGpio::decodeFunctionSelect(int reg)
{
    const DWORD v = gpio_[GPFSEL0 + reg];
    DWORD fields = v & ~(v >> 1) & ~(v >> 2) & kFieldLowBits;
    DWORD pins = 0;
    for (int k = 0; fields; ++k, fields >>= 3)
        pins |= (fields & 1) << k;
    const int first = reg * 10;
    const DWORD mask = (first + 10 >= 32 ? ~0u : ((1u << (first + 10)) - 1)) & ~((1u << first) - 1);
    outputs_ = (outputs_ & ~mask) | ((pins << first) & mask);
}

void EmulatedGpio::updateStationDrive()
{
    const DWORD low = outputs_ & ~latch_;
    stationDrive_ = low & kScsiLines;
    controlLow_ = low & kControlPins;
    const DWORD high = outputs_ & latch_;
    enabled_ = low >> PIN_ENB & 1;
    if (enabled_) {
        reach_ = ((high >> PIN_IND & 1) ? kInitiatorGroup : 0) |
                 ((high >> PIN_TAD & 1) ? kTargetGroup : 0) |
                 ((high >> PIN_DTD & 1) ? 0 : kDataGroup);
        inbound_ = kScsiLines & ~reach_;
    } else {
        reach_ = 0;
        inbound_ = 0;
    }
    updateCable();
}

void EmulatedGpio::updateCable()
{
    cable_ = (stationDrive_ & reach_) | deviceDrive_ | stuck_;
    referee_.after(now_, {stationDrive_, reach_, enabled_, cable_});
}

void EmulatedGpio::access(int word, DWORD value, bool read, quint32 costNs)
{
    now_ += costNs;
    referee_.before(now_);
    referee_.logAccess(now_, word, value, read);
}

// A write that changed the cable gives the device its turn on the new cable.
void EmulatedGpio::afterWrite()
{
    const DWORD before = cable_;
    updateStationDrive();
    if (!device_ || cable_ == before)
        return;
    // The station's reset reaches the device the moment it is on the cable, before the
    // device's next turn: a reader drops the scan it was running.
    if ((stationDrive_ & reach_ & kMaskRST) && !(before & kMaskRST))
        device_->onBusReset(*this);
    device_->onLevelRead(*this);
}

DWORD EmulatedGpio::readGpio(int word)
{
    ++counters_.gpioReads;
    access(word, 0, true, profile_->levelReadNs);
    if (word == GPLEV0) {
        ++counters_.levelReads;
        if (device_)
            device_->onLevelRead(*this);
        // Through an inbound transceiver the Pi sees the cable, elsewhere its own pin;
        // released lines float high through the terminators; a control pin reads low
        // while it is an output with latch 0; everything else reads high.
        const DWORD seen = (cable_ & inbound_) | (stationDrive_ & ~inbound_);
        return ~(seen | controlLow_);
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
    access(word, value, false, profile_->writeNs);
    switch (word) {
    case GPFSEL0:
    case GPFSEL1:
    case GPFSEL2:
    case GPFSEL3:
        ++counters_.fselWrites;
        gpio_[word] = value;
        decodeFunctionSelect(word - GPFSEL0);
        afterWrite();
        break;
    case GPFSEL4:
    case GPFSEL5:
        ++counters_.fselWrites;
        gpio_[word] = value;
        break;
    case GPSET0:
        ++counters_.latchWrites;
        latch_ |= value;
        afterWrite();
        break;
    case GPCLR0:
        ++counters_.latchWrites;
        latch_ &= ~value;
        afterWrite();
        break;
    case GPPUD:
        ++counters_.pudWrites;
        gpio_[word] = value;
        break;
    case GPPUDCLK0:
        ++counters_.pudClkWrites;
        gpio_[word] = value;
        if (!bcm2711_)
            clockPulls(value);
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
    access(-1, 0, true, profile_->levelReadNs);
    return word >= 0 && word < kPadsWords ? pads_[word] : 0;
}

void EmulatedGpio::writePads(int word, DWORD value)
{
    ++counters_.padsWrites;
    access(-1, value, false, profile_->writeNs);
    // The pads block takes a write only with its password in the top byte.
    if (word >= 0 && word < kPadsWords && (value & 0xFF000000) == kPadsPassword)
        pads_[word] = value & 0x00FFFFFF;
}

void EmulatedGpio::pause(DWORD us)
{
    now_ += quint64(us) * 1000;
    referee_.before(now_);
}
