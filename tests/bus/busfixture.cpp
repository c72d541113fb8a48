#include "busfixture.h"

ScannerOnBus::ScannerOnBus() : scanner_(new VirtualScanner)
{
    InstallEmulatedRegisters(&scanner_->registers());
    up_ = Init();
    if (up_) {
        scsiid = kScannerId;
        Reset();
        BusFree();
    }
}

ScannerOnBus::~ScannerOnBus()
{
    Cleanup();
    InstallEmulatedRegisters(nullptr);
}
