// The laser-diode board: the converter at 48h that measures the board temperature and the
// 685 nm diode's monitor voltage, and the switch at 62h that turns the diode on and off.
//
// Each slot is one complete exchange: open the I2C bus, address the device, move a few
// bytes, close the bus. A read leaves its value in LDboardtemp or LD685monit and leaves it
// untouched when it fails; the callers show whatever value is there and carry on. Who keeps
// LD685status (the diode state the station believes in) is the caller's business.
//
// Results: 1 on success, otherwise the step that failed:
//   -1 the bus could not be opened ("Failed to open the i2c bus -1" on standard error
//      from LD685monitorRead)
//   -2 the device address could not be selected
//   -3 the configuration word (converter) or the switch command did not go out whole
//   -4 the converter's result pointer did not go out
//   -5 fewer than the two result bytes came back
#ifndef LDCONTROL_H
#define LDCONTROL_H

#include <QObject>

class LDcontrol : public QObject
{
    Q_OBJECT

public slots:
    // Converts input 1 and stores the monitor voltage in LD685monit (V).
    int LD685monitorRead();
    // Mode 1 turns the diode on; any other mode turns it off.
    int LD685modecontrol(int mode);
    // Converts input 0 and stores the board temperature in LDboardtemp (°C).
    int LDboardtempRead();
};

// The station's one laser-diode board.
extern LDcontrol newLD;

#endif // LDCONTROL_H
