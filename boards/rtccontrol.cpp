#include "rtccontrol.h"

#include "i2cdevice.h"
#include "scanstate.h"

RTCcontrol newRTC;
RTCcontrol newRTC2;

namespace
{

constexpr int kClockAddress = 0x68;
constexpr int kTransferBufferSize = 60;

constexpr int kOk = 1;
constexpr int kOpenFailed = -10;
constexpr int kSelectFailed = -20;
constexpr int kPointerWriteFailed = -40;
constexpr int kReadFailed = -50;

constexpr BYTE kFirstRegister = 0x00;
constexpr int kRegisterCount = 19; // registers 00h..12h
// Temperature: whole degrees in register 17 (read without a sign), quarter degrees in
// bits 7..6 of register 18.
constexpr int kTempWholeRegister = 17;
constexpr int kTempFractionRegister = 18;
constexpr int kTempFractionShift = 6;
constexpr float kTempFractionStep = 0.25f;

} // namespace

int RTCcontrol::SCSIboardtempRead()
{
    BYTE buf[kTransferBufferSize] = {};
    I2cHandle bus;
    if (bus.fd < 0)
        return kOpenFailed;
    if (!I2cSelectAddress(bus.fd, kClockAddress))
        return kSelectFailed;
    buf[0] = kFirstRegister;
    if (I2cWrite(bus.fd, buf, 1) != 1)
        return kPointerWriteFailed;
    if (I2cRead(bus.fd, buf, kRegisterCount) != kRegisterCount)
        return kReadFailed;
    SCSIboardtemp = float(buf[kTempWholeRegister]) +
                    float(buf[kTempFractionRegister] >> kTempFractionShift) * kTempFractionStep;
    return kOk;
}
