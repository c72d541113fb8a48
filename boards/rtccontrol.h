// The SCSI interface board's temperature, read from the clock device at 68h.
//
// SCSIboardtempRead() is one complete exchange: open the I2C bus, address the clock, set
// its register pointer to 00h, read all 19 registers, close. The temperature (registers
// 17 and 18) goes into SCSIboardtemp, which a failed read leaves untouched.
//
// Results: 1 on success, otherwise the step that failed:
//   -10 the bus could not be opened
//   -20 the device address could not be selected
//   -40 the register pointer did not go out
//   -50 fewer than the 19 register bytes came back
#ifndef RTCCONTROL_H
#define RTCCONTROL_H

#include <QObject>

class RTCcontrol : public QObject
{
    Q_OBJECT

public slots:
    // Stores the SCSI-board temperature in SCSIboardtemp (°C, no sign).
    int SCSIboardtempRead();
};

// newRTC serves the main window's status poll, newRTC2 the scan window.
extern RTCcontrol newRTC;
extern RTCcontrol newRTC2;

#endif // RTCCONTROL_H
