// Emulated side boards on an emulated I2C bus, for the tests and the simulator.
//
// Install an EmulatedI2cBus with I2cInstallBus() and the side-board operations talk to it
// instead of "/dev/i2c-1". It carries the station's three boards at their addresses:
//   48h  converter  input 0: board temperature, input 1: diode monitor voltage; the input
//                   converted is the one named by the last configuration word written
//   62h  switch     keeps the diode state written as 05h 54h (on) / 05h 55h (off)
//   68h  clock      19 registers, the temperature in registers 17 and 18
//
// Each board records every write it receives and counts its reads, so a test sees what
// the station sent; and each can fail the way hardware fails:
// - off the bus (present = false): nothing acknowledges the address. Selecting the address
//   still succeeds, because on the Linux device selecting only records the address for the
//   following transfers and puts nothing on the wires; the first write then fails (-1),
//   exactly as on a Pi whose board is unplugged.
// - claimed by a kernel driver: selecting the address is refused, as the Linux device
//   refuses an address that a loaded driver (a clock driver at 68h, say) has bound.
// - a chosen write, or the reads, move one byte less than asked: a transfer cut short.
#ifndef EMULATEDI2C_H
#define EMULATEDI2C_H

#include "i2cdevice.h"

#include <QByteArray>
#include <QHash>
#include <QList>

class EmulatedI2cBoard
{
public:
    explicit EmulatedI2cBoard(int address) : busAddress(address) {}
    virtual ~EmulatedI2cBoard() = default;
    int address() const { return busAddress; }

    // How the board fails (all off by default).
    bool present = true;
    bool claimedByDriver = false;
    int shortWriteAt = 0; // this write (1 = first) after each open moves one byte less
    bool shortReads = false;

    // What the station did to the board.
    QList<QByteArray> writes; // every write that reached the board, in order
    int reads = 0;

    // Called by the bus. They return the bytes moved, or -1 when nothing answers.
    void busOpened() { writesSinceOpen = 0; }
    ssize_t write(const BYTE *data, size_t count);
    ssize_t read(BYTE *data, size_t count);

protected:
    // The bytes of one write that got through, and the bytes one read hands back.
    virtual void received(const QByteArray &bytes) = 0;
    virtual void answer(BYTE *data, size_t count) = 0;

private:
    int busAddress;
    int writesSinceOpen = 0;
};

// The converter: registers 00h (conversion result) and 01h (configuration); the first byte
// of a write sets the register pointer, a configuration word follows it.
class EmulatedConverter : public EmulatedI2cBoard
{
public:
    static constexpr int kAddress = 0x48;
    static constexpr int kInputs = 4;

    EmulatedConverter();
    // Input 0: 500 counts at 0 °C and 10 counts per °C; input 1: one count per mV.
    void setBoardTemperature(float celsius);
    void setMonitorVoltage(float volts);
    // The result register of one input exactly as it is read: the 12-bit result in the
    // upper 12 bits, high byte first.
    void setResultWord(int input, quint16 word);
    // The input of the last conversion started, -1 before any.
    int convertedInput() const { return lastInput; }

protected:
    void received(const QByteArray &bytes) override;
    void answer(BYTE *data, size_t count) override;

private:
    quint16 resultWord[kInputs] = {};
    quint16 configWord = 0;
    BYTE pointer = 0;
    int lastInput = -1;
};

// The switch that turns the 685 nm diode on and off.
class EmulatedSwitch : public EmulatedI2cBoard
{
public:
    static constexpr int kAddress = 0x62;

    EmulatedSwitch() : EmulatedI2cBoard(kAddress) {}
    bool diodeOn() const { return on; }
    void setDiodeOn(bool state) { on = state; }

protected:
    void received(const QByteArray &bytes) override;
    void answer(BYTE *data, size_t count) override;

private:
    bool on = false;
};

// The clock: 19 registers read and written from the register pointer on, which advances
// with every byte and wraps after the last register.
class EmulatedClock : public EmulatedI2cBoard
{
public:
    static constexpr int kAddress = 0x68;
    static constexpr int kRegisters = 19;

    EmulatedClock();
    // Whole degrees into register 17, quarter degrees into bits 7..6 of register 18.
    void setTemperature(float celsius);
    void setRegister(int index, BYTE value) { regs[index] = value; }
    BYTE reg(int index) const { return regs[index]; }

protected:
    void received(const QByteArray &bytes) override;
    void answer(BYTE *data, size_t count) override;

private:
    BYTE regs[kRegisters] = {};
    int pointer = 0;
};

class EmulatedI2cBus : public I2cBus
{
public:
    EmulatedI2cBus();
    ~EmulatedI2cBus() override; // uninstalls itself if it is still installed

    EmulatedConverter converter;
    EmulatedSwitch diodeSwitch;
    EmulatedClock clock;

    bool openFails = false; // the device cannot be opened (no driver, no permission)

    // Counts of the calls that reached the bus.
    int opens = 0;
    int closes = 0;
    int selects = 0;
    int openDescriptors() const { return selected.size(); }

    int open() override;
    bool selectAddress(int fd, int address) override;
    ssize_t write(int fd, const BYTE *data, size_t count) override;
    ssize_t read(int fd, BYTE *data, size_t count) override;
    void close(int fd) override;

private:
    EmulatedI2cBoard *boardAt(int address); // nullptr: nothing at that address
    EmulatedI2cBoard *boardFor(int fd);     // the board at the descriptor's address

    static constexpr int kNoAddress = -1;
    QHash<int, int> selected; // open descriptor -> selected address
    int nextDescriptor = 100;
};

#endif // EMULATEDI2C_H
