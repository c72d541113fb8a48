// The standard command set of the virtual scanner: enough of a SCSI device to exercise the
// bus and the standard wrappers. Each scanner model adds or replaces opcodes on top of it.
//
//   00h TEST UNIT READY   no data; GOOD
//   03h REQUEST SENSE     DATA IN: 18-byte fixed-format sense, cut to the allocation length
//                         (0 = 4 bytes); the sense is cleared once reported
//   12h INQUIRY           DATA IN: `inquiryData` (default: 36 bytes, scanner device, vendor
//                         "KIREL"), cut to the allocation length
//   1Ah MODE SENSE(6)     DATA IN: `modeSenseData`, or a 4-byte header and one 8-byte block
//                         descriptor of the RAM disk; cut to the allocation length
//   25h READ CAPACITY     DATA IN: last block address and block length, 8 bytes
//   28h READ(10)          DATA IN: blocks [2..5] to + [7..8] of the RAM disk
//   2Ah WRITE(10)         DATA OUT: the same range, stored in the RAM disk
// A range beyond the disk answers CHECK CONDITION, LOGICAL BLOCK ADDRESS OUT OF RANGE.
#ifndef STANDARDCOMMANDS_H
#define STANDARDCOMMANDS_H

#include "virtualscanner.h"

HandlerTable StandardCommandHandlers();

// The INQUIRY answer of the standard set: 36 bytes, peripheral type 6 (scanner).
QByteArray StandardInquiryData(const QByteArray &vendor, const QByteArray &product,
                               const QByteArray &revision);

// Fixed-format sense data (18 bytes) for `sense`.
QByteArray FixedSenseData(SenseData sense);

#endif // STANDARDCOMMANDS_H
