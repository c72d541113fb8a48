// The scanner operations the scan window drives on the station: each call is made on a
// protocol object that lives for that call.
#include "initiator.h"
#include "kirelscan.h"
#include "scanwindow.h"

namespace
{

int FluorescenceStart()
{
    kirel5scan scanner;
    return scanner.startkirel5scan();
}

int ReaderStart()
{
    ScannerPhase = 0;
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

} // namespace

ScanOperations ScannerScanOperations()
{
    return {&FluorescenceStart, &ReaderStart,  &FluorescenceRead,
            &Vesk1800Read,      &Vesk5000Read, &ConnectionTest};
}
