#include "ldcontrol.h"

#include "i2cdevice.h"
#include "scanstate.h"

#include <unistd.h>

#include <cstdio>

LDcontrol newLD;

namespace
{

constexpr int kConverterAddress = 0x48;
constexpr int kSwitchAddress = 0x62;
constexpr int kTransferBufferSize = 60;

constexpr int kOk = 1;
constexpr int kOpenFailed = -1;
constexpr int kSelectFailed = -2;
constexpr int kWriteFailed = -3;
constexpr int kPointerWriteFailed = -4;
constexpr int kReadFailed = -5;

// Converter registers: the pointer byte names the register that the following bytes write
// or that the next read returns.
constexpr BYTE kConverterResultRegister = 0x00;
constexpr BYTE kConverterConfigRegister = 0x01;
// Configuration words (most significant byte first) that start one single-ended conversion
// of input 0 (board temperature) or input 1 (diode monitor voltage); they differ only in
// the input multiplexer field.
constexpr BYTE kConvertBoardTemp[] = {kConverterConfigRegister, 0xC4, 0x83};
constexpr BYTE kConvertMonitor[] = {kConverterConfigRegister, 0xD4, 0x83};
constexpr int kConfigWriteSize = sizeof kConvertBoardTemp;
constexpr int kResultSize = 2;
// One conversion is over well within this time.
constexpr useconds_t kConversionWaitUs = 1000;

// Board temperature sensor: 500 counts at 0 °C, 10 counts per °C. Monitor voltage: one
// count per millivolt.
constexpr float kTempOffsetCounts = 500.0f;
constexpr float kTempCountsPerDegree = 10.0f;
constexpr float kMonitorCountsPerVolt = 1000.0f;

// Switch register 05h takes the diode's output state: 54h on, 55h off.
constexpr BYTE kSwitchOutputRegister = 0x05;
constexpr BYTE kSwitchDiodeOn = 0x54;
constexpr BYTE kSwitchDiodeOff = 0x55;
constexpr int kDiodeOnMode = 1;

// One conversion on the converter: start it with the configuration word, point at the
// result, wait, read the 12-bit result (left-aligned in two bytes). Returns kOk with the
// result in *counts, or the failure code of the step.
int ConverterRead(const BYTE (&config)[kConfigWriteSize], int *counts)
{
    BYTE buf[kTransferBufferSize] = {};
    I2cHandle bus;
    if (bus.fd < 0)
        return kOpenFailed;
    if (!I2cSelectAddress(bus.fd, kConverterAddress))
        return kSelectFailed;
    for (int i = 0; i < kConfigWriteSize; ++i)
        buf[i] = config[i];
    if (I2cWrite(bus.fd, buf, kConfigWriteSize) != kConfigWriteSize)
        return kWriteFailed;
    buf[0] = kConverterResultRegister;
    if (I2cWrite(bus.fd, buf, 1) != 1)
        return kPointerWriteFailed;
    usleep(kConversionWaitUs);
    if (I2cRead(bus.fd, buf, kResultSize) != kResultSize)
        return kReadFailed;
    *counts = buf[0] * 16 + (buf[1] >> 4);
    return kOk;
}

} // namespace

int LDcontrol::LD685monitorRead()
{
    int counts = 0;
    const int rc = ConverterRead(kConvertMonitor, &counts);
    if (rc == kOpenFailed)
        std::fprintf(stderr, "Failed to open the i2c bus %d\n", kOpenFailed);
    if (rc != kOk)
        return rc;
    LD685monit = float(counts) / kMonitorCountsPerVolt;
    return kOk;
}

int LDcontrol::LD685modecontrol(int mode)
{
    BYTE buf[kTransferBufferSize] = {};
    I2cHandle bus;
    if (bus.fd < 0)
        return kOpenFailed;
    if (!I2cSelectAddress(bus.fd, kSwitchAddress))
        return kSelectFailed;
    buf[0] = kSwitchOutputRegister;
    buf[1] = mode == kDiodeOnMode ? kSwitchDiodeOn : kSwitchDiodeOff;
    if (I2cWrite(bus.fd, buf, 2) != 2)
        return kWriteFailed;
    return kOk;
}

int LDcontrol::LDboardtempRead()
{
    int counts = 0;
    const int rc = ConverterRead(kConvertBoardTemp, &counts);
    if (rc != kOk)
        return rc;
    LDboardtemp = (float(counts) - kTempOffsetCounts) / kTempCountsPerDegree;
    return kOk;
}
