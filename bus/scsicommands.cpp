#include "scsicommands.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

char kirel5command[kServiceCommandSize];
int kirel5comlength = 0;

namespace
{
constexpr int kStandardBufferSize = 256;
constexpr int kInquiryLength = 255;
constexpr int kReadCapacityLength = 8;
constexpr BYTE kAllocationMax = 0xFF;
constexpr BYTE kModeSenseAllPages = 0x3F;
constexpr int kKirel5SenseLength = 18;
constexpr int kClearedHeader = 4;

constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 0;
constexpr int kVersionPatch = 0;

enum class DataPhase { None, In, Out };

int Fail(int code)
{
    result = code;
    BusFree();
    return code;
}

// Selection, COMMAND, the data phase, STATUS, MESSAGE IN, bus free.
int StandardTransaction(int id, BYTE *cdb, int cdbLength, DataPhase phase, BYTE *buf, int length)
{
    result = 0;
    if (!Selection(id))
        return Fail(-1);
    if (!Command(cdb, cdbLength))
        return Fail(-2);
    int count = 0;
    if (phase != DataPhase::None) {
        if (phase == DataPhase::In) {
            std::memset(buf, 0, kClearedHeader);
            count = DataIn(buf, length);
        } else {
            count = DataOut(buf, length);
        }
        if (count <= 0)
            return Fail(-3);
    }
    if (Status() < 0)
        return Fail(-4);
    if (MessageIn() < 0)
        return Fail(-5);
    BusFree();
    return count;
}

void PutBigEndian32(BYTE *at, DWORD value)
{
    at[0] = BYTE(value >> 24);
    at[1] = BYTE(value >> 16);
    at[2] = BYTE(value >> 8);
    at[3] = BYTE(value);
}

// READ(10) and WRITE(10): LBA in bytes 2..5, the low 16 bits of the block count in 7..8.
void MakeRw10Cdb(BYTE *cdb, BYTE opcode, DWORD bstart, DWORD blength)
{
    std::memset(cdb, 0, 10);
    cdb[0] = opcode;
    PutBigEndian32(cdb + 2, bstart);
    cdb[7] = BYTE(blength >> 8);
    cdb[8] = BYTE(blength);
}
} // namespace

int TestUnitReady(int id)
{
    BYTE cdb[6] = {kOpTestUnitReady};
    return StandardTransaction(id, cdb, sizeof cdb, DataPhase::None, nullptr, 0);
}

int RequestSense(int id, BYTE *buf)
{
    BYTE cdb[6] = {kOpRequestSense, 0, 0, 0, kAllocationMax, 0};
    return StandardTransaction(id, cdb, sizeof cdb, DataPhase::In, buf, kStandardBufferSize);
}

int ModeSense(int id, BYTE *buf)
{
    BYTE cdb[6] = {kOpModeSense6, 0, kModeSenseAllPages, 0, kAllocationMax, 0};
    return StandardTransaction(id, cdb, sizeof cdb, DataPhase::In, buf, kStandardBufferSize);
}

int Inquiry(int id, BYTE *buf)
{
    BYTE cdb[6] = {kOpInquiry, 0, 0, 0, kAllocationMax, 0};
    return StandardTransaction(id, cdb, sizeof cdb, DataPhase::In, buf, kInquiryLength);
}

int ReadCapacity(int id, BYTE *buf)
{
    BYTE cdb[10] = {kOpReadCapacity};
    return StandardTransaction(id, cdb, sizeof cdb, DataPhase::In, buf, kReadCapacityLength);
}

int Read10(int id, DWORD bstart, DWORD blength, DWORD length, BYTE *buf)
{
    BYTE cdb[10];
    MakeRw10Cdb(cdb, kOpRead10, bstart, blength);
    return StandardTransaction(id, cdb, sizeof cdb, DataPhase::In, buf, int(length));
}

int Write10(int id, DWORD bstart, DWORD blength, DWORD length, BYTE *buf)
{
    BYTE cdb[10];
    MakeRw10Cdb(cdb, kOpWrite10, bstart, blength);
    return StandardTransaction(id, cdb, sizeof cdb, DataPhase::Out, buf, int(length));
}

int RequestKIREL5Sense()
{
    result = 0;
    BYTE cdb[6] = {kOpRequestSense, 0, 0, 0, kKirel5SenseLength, 0};
    BYTE sense[kKirel5SenseLength];
    if (KIREL5Arbitration() < 0)
        return Fail(-91);
    if (!Command(cdb, sizeof cdb))
        return Fail(-92);
    if (DataIn(sense, kKirel5SenseLength) != kKirel5SenseLength)
        return Fail(-93);
    if (Status() < 0)
        return Fail(-94);
    if (MessageIn() < 0)
        return Fail(-95);
    BusFree();
    bus.SleepNsec(2);
    return StatusValue;
}

int TestKirel5Ready(int id)
{
    (void)id;
    result = 0;
    BYTE cdb[6] = {kOpTestUnitReady};
    if (!Command(cdb, sizeof cdb))
        return Fail(-2);
    bus.SetDAT(kIdentifyDisconnectLun0);
    if (Status() < 0)
        return Fail(-4);
    if (MessageIn() < 0)
        return Fail(-5);
    BusFree();
    return 0;
}

int KIREL5CommandDataIn(int id, DWORD length, BYTE *cdb, BYTE *buf)
{
    (void)id;
    result = 0;
    // The caller holds the target after IDENTIFY: wait for its REQ in COMMAND phase.
    long remaining = GPIOBUS::kHandshakeSamples;
    DWORD s = bus.Aquire();
    while (!(s & kMaskREQ) && !(s & kMaskPhase) && --remaining > 0)
        s = bus.Aquire();
    if (remaining <= 0 || bus.GetPhase() != BUS::command)
        return Fail(-1);
    if (bus.SendHandShake(cdb, 10) != 10)
        return Fail(-2);
    std::memset(buf, 0, length);
    const int count = DataIn(buf, int(length));
    if (count <= 0)
        return Fail(-3);
    if (Status() < 0)
        return Fail(-4);
    if (MessageIn() < 0)
        return Fail(-5);
    BusFree();
    return count;
}

BOOL Banner(int argc, char **argv)
{
    std::printf("GpSCSI QXtool ");
    std::printf("version %01d.%01d%01d\n", kVersionMajor, kVersionMinor, kVersionPatch);
    if (argc >= 2 && std::strcmp(argv[1], "-h") != 0)
        return TRUE;
    std::printf("Usage: %s -i ID -c KIREL5 command\n", argc >= 1 ? argv[0] : "");
    std::printf(" ID is SCSI ID {0|1|2|3|4|5|6}.\n");
    std::printf(" (KIREL5 SCSI ID should be 5 for normal operation)\n");
    std::printf(" KIREL5 command is as documented in service manual\n");
    std::printf(" (no @ symbol is required before the command\n");
    std::printf(" as was the case with the PC QXtool(SCSI) )");
    return FALSE;
}

BOOL ParseArgument(int argc, char **argv)
{
    opterr = 0;
#ifdef __GLIBC__
    optind = 0; // full re-initialisation, so that the parser can run more than once
#else
    optind = 1;
#endif
    kirel5command[0] = '\0'; // each command line brings its own text
    int opt;
    while ((opt = getopt(argc, argv, "i:c:")) != -1) {
        switch (opt) {
        case 'c':
            // A text that would not fit with its line feed is not taken at all; the check
            // below then reports that no command was entered.
            if (std::strlen(optarg) <= size_t(kServiceCommandMaxText))
                std::strcpy(kirel5command, optarg);
            else
                kirel5command[0] = '\0';
            break;
        case 'i':
            scsiid = optarg[0] - '0';
            std::fprintf(stderr, "QXtool(SCSI) Started, SCSI ID= %i\n", scsiid);
            break;
        default:
            break;
        }
    }

    if (scsiid < 0 || scsiid > 6) {
        std::fprintf(stderr, "Error : Invalid id range\n");
        return FALSE;
    }
    kirel5comlength = int(std::strlen(kirel5command));
    std::fprintf(stderr, "Command character length = %i\n", kirel5comlength);
    if (kirel5comlength <= 0) {
        std::fprintf(stderr, "Error : no KIREL5 command entered\n");
        return FALSE;
    }
    kirel5command[kirel5comlength++] = '\n';
    kirel5command[kirel5comlength] = '\0';
    std::fprintf(stderr, "%s", kirel5command);
    return TRUE;
}
