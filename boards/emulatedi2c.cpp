#include "emulatedi2c.h"

#include <algorithm>
#include <cmath>

namespace
{

constexpr int kMaxAddress = 0x7F;

// Converter: configuration bit 15 starts a conversion; bits 14..12 choose the input, and
// the values 4 to 7 are the four single-ended inputs 0 to 3.
constexpr BYTE kConverterResultRegister = 0x00;
constexpr BYTE kConverterConfigRegister = 0x01;
constexpr quint16 kConfigStartConversion = 0x8000;
constexpr int kConfigInputShift = 12;
constexpr int kConfigInputMask = 0x7;
constexpr int kConfigFirstSingleEnded = 4;
constexpr int kResultShift = 4;
constexpr int kResultMax = 0xFFF;

constexpr BYTE kSwitchOutputRegister = 0x05;
constexpr BYTE kSwitchDiodeOn = 0x54;
constexpr BYTE kSwitchDiodeOff = 0x55;

constexpr int kClockTempWhole = 17;
constexpr int kClockTempFraction = 18;
constexpr int kClockFractionShift = 6;

quint16 CountsToWord(double counts)
{
    const long r = std::lround(counts);
    return quint16(std::clamp(r, 0L, long(kResultMax)) << kResultShift);
}

} // namespace

// ---------------------------------------------------------------------------------------

ssize_t EmulatedI2cBoard::write(const BYTE *data, size_t count)
{
    if (!present)
        return -1;
    ++writesSinceOpen;
    size_t moved = count;
    if (writesSinceOpen == shortWriteAt && moved > 0)
        --moved;
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(moved));
    writes.append(bytes);
    received(bytes);
    return ssize_t(moved);
}

ssize_t EmulatedI2cBoard::read(BYTE *data, size_t count)
{
    if (!present)
        return -1;
    ++reads;
    size_t moved = count;
    if (shortReads && moved > 0)
        --moved;
    answer(data, moved);
    return ssize_t(moved);
}

// ---------------------------------------------------------------------------------------

EmulatedConverter::EmulatedConverter() : EmulatedI2cBoard(kAddress)
{
    setBoardTemperature(25.0f);
    setMonitorVoltage(0.0f);
}

void EmulatedConverter::setBoardTemperature(float celsius)
{
    resultWord[0] = CountsToWord(double(celsius) * 10.0 + 500.0);
}

void EmulatedConverter::setMonitorVoltage(float volts)
{
    resultWord[1] = CountsToWord(double(volts) * 1000.0);
}

void EmulatedConverter::setResultWord(int input, quint16 word)
{
    resultWord[input] = word;
}

void EmulatedConverter::received(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    pointer = BYTE(bytes[0]);
    if (pointer != kConverterConfigRegister || bytes.size() < 3)
        return;
    configWord = quint16((BYTE(bytes[1]) << 8) | BYTE(bytes[2]));
    const int mux = (configWord >> kConfigInputShift) & kConfigInputMask;
    if ((configWord & kConfigStartConversion) && mux >= kConfigFirstSingleEnded)
        lastInput = mux - kConfigFirstSingleEnded;
}

void EmulatedConverter::answer(BYTE *data, size_t count)
{
    quint16 word = configWord;
    if (pointer == kConverterResultRegister)
        word = lastInput < 0 ? 0 : resultWord[lastInput];
    for (size_t i = 0; i < count; ++i)
        data[i] = BYTE(i % 2 == 0 ? word >> 8 : word & 0xFF);
}

// ---------------------------------------------------------------------------------------

void EmulatedSwitch::received(const QByteArray &bytes)
{
    if (bytes.size() < 2 || BYTE(bytes[0]) != kSwitchOutputRegister)
        return;
    if (BYTE(bytes[1]) == kSwitchDiodeOn)
        on = true;
    else if (BYTE(bytes[1]) == kSwitchDiodeOff)
        on = false;
}

void EmulatedSwitch::answer(BYTE *data, size_t count)
{
    std::fill(data, data + count, BYTE(on ? kSwitchDiodeOn : kSwitchDiodeOff));
}

// ---------------------------------------------------------------------------------------

EmulatedClock::EmulatedClock() : EmulatedI2cBoard(kAddress)
{
    setTemperature(25.0f);
}

void EmulatedClock::setTemperature(float celsius)
{
    const long quarters = std::lround(double(celsius) * 4.0);
    regs[kClockTempWhole] = BYTE(quarters / 4);
    regs[kClockTempFraction] = BYTE((quarters % 4) << kClockFractionShift);
}

void EmulatedClock::received(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    pointer = BYTE(bytes[0]) % kRegisters;
    for (int i = 1; i < bytes.size(); ++i) {
        regs[pointer] = BYTE(bytes[i]);
        pointer = (pointer + 1) % kRegisters;
    }
}

void EmulatedClock::answer(BYTE *data, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        data[i] = regs[pointer];
        pointer = (pointer + 1) % kRegisters;
    }
}

// ---------------------------------------------------------------------------------------

EmulatedI2cBus::EmulatedI2cBus() = default;

EmulatedI2cBus::~EmulatedI2cBus()
{
    if (I2cInstalledBus() == this)
        I2cInstallBus(nullptr);
}

int EmulatedI2cBus::open()
{
    if (openFails)
        return -1;
    ++opens;
    converter.busOpened();
    diodeSwitch.busOpened();
    clock.busOpened();
    const int fd = nextDescriptor++;
    selected.insert(fd, kNoAddress);
    return fd;
}

bool EmulatedI2cBus::selectAddress(int fd, int address)
{
    ++selects;
    if (!selected.contains(fd) || address < 0 || address > kMaxAddress)
        return false;
    const EmulatedI2cBoard *board = boardAt(address);
    if (board && board->claimedByDriver)
        return false;
    selected[fd] = address;
    return true;
}

EmulatedI2cBoard *EmulatedI2cBus::boardAt(int address)
{
    switch (address) {
    case EmulatedConverter::kAddress:
        return &converter;
    case EmulatedSwitch::kAddress:
        return &diodeSwitch;
    case EmulatedClock::kAddress:
        return &clock;
    default:
        return nullptr; // nothing at that address acknowledges
    }
}

EmulatedI2cBoard *EmulatedI2cBus::boardFor(int fd)
{
    return boardAt(selected.value(fd, kNoAddress));
}

ssize_t EmulatedI2cBus::write(int fd, const BYTE *data, size_t count)
{
    EmulatedI2cBoard *board = boardFor(fd);
    return board ? board->write(data, count) : -1;
}

ssize_t EmulatedI2cBus::read(int fd, BYTE *data, size_t count)
{
    EmulatedI2cBoard *board = boardFor(fd);
    return board ? board->read(data, count) : -1;
}

void EmulatedI2cBus::close(int fd)
{
    if (selected.remove(fd) > 0)
        ++closes;
}
