#include "i2cdevice.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace
{

const char kI2cDevicePath[] = "/dev/i2c-1";
const char kDeviceTreeModelPath[] = "/proc/device-tree/model";
const char kRaspberryPiModelPrefix[] = "Raspberry Pi";
constexpr int kDeviceTreeModelMaxBytes = 128;

// The request that sets the device address of the following transfers.
constexpr unsigned long kIoctlSelectAddress = I2C_SLAVE;
static_assert(kIoctlSelectAddress == 0x0703, "I2C_SLAVE is request 0703h");

#if defined(__linux__) && (defined(__arm__) || defined(__aarch64__))
constexpr bool kArmLinuxBuild = true;
#else
constexpr bool kArmLinuxBuild = false;
#endif

I2cBus *installedBus = nullptr;

QByteArray ReadDeviceTreeModel()
{
    FILE *f = std::fopen(kDeviceTreeModelPath, "rb");
    if (!f)
        return QByteArray();
    char text[kDeviceTreeModelMaxBytes];
    const size_t n = std::fread(text, 1, sizeof text, f);
    std::fclose(f);
    return QByteArray(text, int(n));
}

} // namespace

void I2cInstallBus(I2cBus *bus)
{
    installedBus = bus;
}

I2cBus *I2cInstalledBus()
{
    return installedBus;
}

bool I2cDeviceAllowed(bool armLinuxBuild, const QByteArray &deviceTreeModel)
{
    return armLinuxBuild && deviceTreeModel.startsWith(kRaspberryPiModelPrefix);
}

bool I2cHostIsRaspberryPi()
{
    // Only an ARM build looks at the device tree at all; the machine does not change
    // during a run, so it is looked at once.
    static const bool isPi =
        kArmLinuxBuild && I2cDeviceAllowed(kArmLinuxBuild, ReadDeviceTreeModel());
    return isPi;
}

int I2cOpen()
{
    if (installedBus)
        return installedBus->open();
    if (!I2cHostIsRaspberryPi())
        return -1;
    return ::open(kI2cDevicePath, O_RDWR);
}

bool I2cSelectAddress(int fd, int address)
{
    if (installedBus)
        return installedBus->selectAddress(fd, address);
    return ::ioctl(fd, kIoctlSelectAddress, address) >= 0;
}

ssize_t I2cWrite(int fd, const BYTE *data, size_t count)
{
    if (installedBus)
        return installedBus->write(fd, data, count);
    return ::write(fd, data, count);
}

ssize_t I2cRead(int fd, BYTE *data, size_t count)
{
    if (installedBus)
        return installedBus->read(fd, data, count);
    return ::read(fd, data, count);
}

void I2cClose(int fd)
{
    if (installedBus)
        installedBus->close(fd);
    else
        ::close(fd);
}
