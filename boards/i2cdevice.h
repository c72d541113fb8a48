// The side boards' one way to the I2C bus.
//
// LDcontrol and RTCcontrol reach the Linux I2C device "/dev/i2c-1" through the five calls
// below and nothing else: open, select the device address, write, read, close. On the
// station they go straight to open/ioctl/write/read/close. The tests and the simulator
// install an I2cBus of their own (the emulated boards of emulatedi2c.h) in front of the
// device; while one is installed the device is never touched.
//
// Safety: the device is opened only on a Raspberry Pi, that is an ARM Linux build whose
// "/proc/device-tree/model" begins with "Raspberry Pi". Anywhere else, with no bus
// installed, I2cOpen() fails as it would on a Pi without the I2C driver loaded.
#ifndef I2CDEVICE_H
#define I2CDEVICE_H

#include "scanstate.h"

#include <QByteArray>

#include <sys/types.h>

// A bus that stands in for the device. The calls mirror the system calls: open() returns
// a descriptor >= 0 or -1, write() and read() the number of bytes moved or -1.
class I2cBus
{
public:
    virtual ~I2cBus() = default;
    virtual int open() = 0;
    virtual bool selectAddress(int fd, int address) = 0;
    virtual ssize_t write(int fd, const BYTE *data, size_t count) = 0;
    virtual ssize_t read(int fd, BYTE *data, size_t count) = 0;
    virtual void close(int fd) = 0;
};

// Puts a bus in front of the device (nullptr: back to the device itself). The bus is not
// owned; whoever installs it uninstalls it before it goes.
void I2cInstallBus(I2cBus *bus);
I2cBus *I2cInstalledBus();

// The seam. Descriptors come from I2cOpen() and go back through I2cClose().
int I2cOpen();                              // descriptor, or -1
bool I2cSelectAddress(int fd, int address); // 7-bit device address
ssize_t I2cWrite(int fd, const BYTE *data, size_t count);
ssize_t I2cRead(int fd, BYTE *data, size_t count);
void I2cClose(int fd);

// Closes the descriptor when it goes, so that every way out of an exchange closes the
// device; a failed open (-1) has nothing to close.
class I2cHandle
{
public:
    I2cHandle() : fd(I2cOpen()) {}
    ~I2cHandle()
    {
        if (fd >= 0)
            I2cClose(fd);
    }
    I2cHandle(const I2cHandle &) = delete;
    I2cHandle &operator=(const I2cHandle &) = delete;

    const int fd;
};

// The rule behind the safety gate: an ARM Linux build, and a device-tree model text that
// begins with "Raspberry Pi".
bool I2cDeviceAllowed(bool armLinuxBuild, const QByteArray &deviceTreeModel);

// The rule applied to this program and this machine (read once per run).
bool I2cHostIsRaspberryPi();

#endif // I2CDEVICE_H
