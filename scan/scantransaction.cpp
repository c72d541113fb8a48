#include "scantransaction.h"

#include "initiator.h"
#include "logfiles.h"
#include "scanwindow.h"

#include <QFile>

#include <cstdio>

namespace
{
constexpr DWORD kSettleNs = 2;
constexpr DWORD kReadEndNs = 280;
constexpr BYTE kDrivenBeforeShading = 0xC0;
} // namespace

int TransactionRun(Transaction &t)
{
    const int arbitration = KIREL5Arbitration();
    if (arbitration < 0) {
        if (t.codes.arbitration == 0) {
            std::fprintf(stderr, "ARBITRATION ERROR %d\n", arbitration);
            return kArbitrationErrorNoCode;
        }
        return result = t.codes.arbitration;
    }
    if (!Command(t.cdb, t.cdbLength))
        return result = t.codes.command;

    if (t.direction == Transaction::In) {
        if (t.driveBeforeDataIn)
            bus.SetDAT(kDrivenBeforeShading);
        t.received = DataIn(t.data, t.dataLength);
        const bool failed = t.anyDataInCount ? t.received == 0 : t.received != t.dataLength;
        if (failed) {
            if (t.shortReadText)
                std::fprintf(stderr, t.shortReadText, t.received);
            return result = t.codes.data;
        }
    } else if (t.direction == Transaction::Out) {
        // Only a DATA OUT that moved nothing counts as failed.
        t.received = DataOut(t.data, t.dataLength);
        if (t.received == 0)
            return result = t.codes.data;
    }

    t.status = Status();
    if (t.statusLogTag)
        ReadLogValue(t.statusLogTag, t.status);
    if (t.status < 0)
        return result = t.codes.status;
    if (MessageIn() < 0)
        return result = t.codes.message;
    BusFree();
    bus.SleepNsec(kSettleNs);
    return 0;
}

int ReadNormalEnding()
{
    BusFree();
    bus.SleepNsec(kSettleNs);
    bus.SleepNsec(kReadEndNs);
    BusFree();
    bus.SleepNsec(kSettleNs);
    return result;
}

int ReadErrorEnding()
{
    std::fprintf(stderr, "Error Result= %d\n", result);
    ReadLogValue("ERR: RES=", result);
    Cleanup();
    if (!Init()) {
        std::fprintf(stderr, "Error : Initializing GPIO\n");
        return -112;
    }
    Reset();
    return result;
}

void ReadLog(const QString &text)
{
    if (sysparams.readlog == 1)
        ScanningLogWrite(text);
}

void ReadLogValue(const char *tag, int value)
{
    if (sysparams.readlog == 1)
        ScanningLogWrite(QString::fromLatin1(tag) + QString::number(value));
}

bool ImageRowWrite(QFile &file, qint64 position, const BYTE *row, int bytes)
{
    if (!file.seek(position))
        return false;
    return file.write(reinterpret_cast<const char *>(row), bytes) == bytes;
}

void ImageWriteFailed(const QFile &file)
{
    scanwriteerror = 1;
    newscansetup.scanrunningflag = -1;
    result = kResultWriteFailed;
    ErrorLogWrite(QStringLiteral("WRITE ERROR: ") + file.fileName());
    std::fprintf(stderr, "Image file write error\n");
}

qint64 ScanNowMs()
{
    return ScanClockMs();
}
