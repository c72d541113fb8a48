#include "standardcommands.h"

#include "scsicommands.h"

namespace
{
constexpr BYTE kPeripheralScanner = 0x06;
constexpr BYTE kVersionScsi2 = 0x02;
constexpr BYTE kResponseFormatScsi2 = 0x02;
constexpr int kInquiryLength = 36;
constexpr int kSenseLength = 18;
constexpr BYTE kSenseCurrentFixed = 0x70;
constexpr BYTE kSenseAdditionalLength = kSenseLength - 8;
constexpr int kZeroAllocationSense = 4; // SCSI-2: allocation length 0 asks for 4 bytes

QByteArray Field(const QByteArray &text, int width)
{
    return text.left(width).leftJustified(width, ' ');
}

void PutBig32(QByteArray &a, int at, DWORD v)
{
    a[at] = char(v >> 24);
    a[at + 1] = char(v >> 16);
    a[at + 2] = char(v >> 8);
    a[at + 3] = char(v);
}

DWORD Big32(const VirtualCommand &c, int at)
{
    return DWORD(c.byte(at)) << 24 | DWORD(c.byte(at + 1)) << 16 | DWORD(c.byte(at + 2)) << 8 |
           c.byte(at + 3);
}

// Block range of READ(10)/WRITE(10) in bytes, or false when it leaves the disk.
bool DiskRange(const VirtualScanner &s, const VirtualCommand &c, int *offset, int *length)
{
    const quint64 lba = Big32(c, 2);
    const quint64 blocks = DWORD(c.byte(7)) << 8 | c.byte(8);
    if (lba + blocks > quint64(s.disk.blocks()))
        return false;
    *offset = int(lba * s.disk.blockSize);
    *length = int(blocks * s.disk.blockSize);
    return true;
}

void HandleTestUnitReady(VirtualScanner &, VirtualCommand &) {}

void HandleRequestSense(VirtualScanner &s, VirtualCommand &c)
{
    const int allocation = c.byte(4) ? c.byte(4) : kZeroAllocationSense;
    c.dataIn = FixedSenseData(s.sense()).left(allocation);
    s.setSense(Sense::kNoSense);
}

void HandleInquiry(VirtualScanner &s, VirtualCommand &c)
{
    const QByteArray data = s.inquiryData.isEmpty()
                                ? StandardInquiryData("KIREL", "VIRTUAL SCANNER", "1.00")
                                : s.inquiryData;
    c.dataIn = data.left(c.byte(4));
}

void HandleModeSense(VirtualScanner &s, VirtualCommand &c)
{
    QByteArray data = s.modeSenseData;
    if (data.isEmpty()) {
        data = QByteArray(12, '\0');
        data[0] = char(data.size() - 1); // mode data length
        data[3] = 8;                     // block descriptor length
        const DWORD blocks = DWORD(s.disk.blocks());
        data[5] = char(blocks >> 16);
        data[6] = char(blocks >> 8);
        data[7] = char(blocks);
        PutBig32(data, 8, DWORD(s.disk.blockSize)); // byte 8 reserved, 9..11 block length
        data[8] = 0;
    }
    c.dataIn = data.left(c.byte(4));
}

void HandleReadCapacity(VirtualScanner &s, VirtualCommand &c)
{
    QByteArray data(8, '\0');
    PutBig32(data, 0, DWORD(s.disk.blocks() - 1));
    PutBig32(data, 4, DWORD(s.disk.blockSize));
    c.dataIn = data;
}

void HandleRead10(VirtualScanner &s, VirtualCommand &c)
{
    int offset = 0, length = 0;
    if (!DiskRange(s, c, &offset, &length)) {
        s.checkCondition(c, Sense::kLbaOutOfRange);
        return;
    }
    c.dataIn = s.disk.bytes.mid(offset, length);
}

void HandleWrite10(VirtualScanner &s, VirtualCommand &c)
{
    int offset = 0, length = 0;
    if (!DiskRange(s, c, &offset, &length)) {
        s.checkCondition(c, Sense::kLbaOutOfRange);
        return;
    }
    c.dataOutLength = length;
}

void HandleWrite10Data(VirtualScanner &s, VirtualCommand &c)
{
    int offset = 0, length = 0;
    if (DiskRange(s, c, &offset, &length))
        s.disk.bytes.replace(offset, c.dataOut.size(), c.dataOut);
}
} // namespace

QByteArray StandardInquiryData(const QByteArray &vendor, const QByteArray &product,
                               const QByteArray &revision)
{
    QByteArray data(8, '\0');
    data[0] = char(kPeripheralScanner);
    data[2] = char(kVersionScsi2);
    data[3] = char(kResponseFormatScsi2);
    data[4] = char(kInquiryLength - 5);
    data += Field(vendor, 8) + Field(product, 16) + Field(revision, 4);
    return data;
}

QByteArray FixedSenseData(SenseData sense)
{
    QByteArray data(kSenseLength, '\0');
    data[0] = char(kSenseCurrentFixed);
    data[2] = char(sense.key);
    data[7] = char(kSenseAdditionalLength);
    data[12] = char(sense.asc);
    data[13] = char(sense.ascq);
    return data;
}

HandlerTable StandardCommandHandlers()
{
    HandlerTable t;
    t[kOpTestUnitReady] = {HandleTestUnitReady, nullptr, 0};
    t[kOpRequestSense] = {HandleRequestSense, nullptr, 0};
    t[kOpInquiry] = {HandleInquiry, nullptr, 0};
    t[kOpModeSense6] = {HandleModeSense, nullptr, 0};
    t[kOpReadCapacity] = {HandleReadCapacity, nullptr, 0};
    t[kOpRead10] = {HandleRead10, nullptr, 0};
    t[kOpWrite10] = {HandleWrite10, HandleWrite10Data, 0};
    return t;
}
