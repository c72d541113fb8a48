#include "busfixture.h"

namespace
{
QStringList *debugSink = nullptr;
QtMessageHandler previousHandler = nullptr;

void CollectMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
    if (debugSink)
        debugSink->append(text);
}
} // namespace

CapturedDebug::CapturedDebug()
{
    static QStringList sink;
    sink.clear();
    debugSink = &sink;
    previousHandler = qInstallMessageHandler(CollectMessage);
}

CapturedDebug::~CapturedDebug()
{
    qInstallMessageHandler(previousHandler);
    debugSink = nullptr;
}

QStringList CapturedDebug::messages() const
{
    return debugSink ? *debugSink : QStringList();
}

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
