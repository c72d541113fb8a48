// The scanner operations the scan window drives on the station: each call is made on a
// protocol object that lives for that call.
#include "initiator.h"
#include "kirelscan.h"
#include "scanwindow.h"

#include <cstdio>

namespace
{

constexpr int kResultGpio = -111;

// The starts leave `result` alone when every step passed: from 0, any negative code they
// return is their own.
int FluorescenceStart()
{
    result = 0;
    kirel5scan scanner;
    return scanner.startkirel5scan();
}

int ReaderStart()
{
    ScannerPhase = 0;
    result = 0;
    kirel5scan scanner;
    return scanner.startVESK18IIscan();
}

int FluorescenceRead()
{
    kirel5scan scanner;
    return scanner.readkirel5scan();
}

int Vesk1800Read()
{
    kirel5scan scanner;
    return scanner.readVESK18IIscan();
}

int Vesk5000Read()
{
    kirel5scan scanner;
    return scanner.readVESK5scan();
}

int ConnectionTest()
{
    kirel5scan scanner;
    return scanner.testkirel5connected();
}

// A scanner left in the middle of a scan (a plate reader halfway through a piece, with a
// reselection to come) does not drop it by itself: the bus reset pulse of the connection
// tests ends whatever it was doing, then the GPIO bus is released.
int BusReset()
{
    if (!Init()) {
        std::fprintf(stderr, "Error : Initializing GPIO\n");
        return kResultGpio;
    }
    Reset();
    BusFree();
    BusResetPulse();
    Cleanup();
    return 1;
}

} // namespace

ScanOperations ScannerScanOperations()
{
    return {&FluorescenceStart, &ReaderStart,    &FluorescenceRead, &Vesk1800Read,
            &Vesk5000Read,      &ConnectionTest, &BusReset};
}
