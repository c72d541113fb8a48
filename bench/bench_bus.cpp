// Moves 1 MiB through GPIOBUS in DATA IN and in DATA OUT against the virtual scanner and
// prints the rate and the register accesses per byte of the data phase.
//
// The station's budget per byte (station side of the emulated block):
//   DATA IN   reads:  one GPLEV0 sample per wait (REQ, REQ released) and one for the byte;
//             writes: ACK on and off, the activity pin up and down, one 8 ns dummy write.
//   DATA OUT  reads:  one GPLEV0 sample per wait (REQ, REQ released);
//             writes: three GPFSEL writes for the byte, ATN released, thirteen 8 ns dummy
//             writes (100 ns), ACK on and off, the activity pin up and down; once per
//             transfer one more write releases the data lines.
// With a target that answers on the next sample each wait takes exactly one sample.
#include "initiator.h"
#include "scsicommands.h"
#include "virtualscanner.h"

#include <QElapsedTimer>

#include <cstdio>
#include <vector>

namespace
{
constexpr int kBytes = 1 << 20;
constexpr int kBlockSize = 512;
constexpr int kBlocks = kBytes / kBlockSize;

constexpr double kInReadsPerByte = 3;
constexpr double kInWritesPerByte = 5;
constexpr double kOutReadsPerByte = 2;
constexpr double kOutWritesPerByte = 3 + 1 + 13 + 2 + 2;

struct Figures {
    double seconds = 0;
    double readsPerByte = 0;
    double writesPerByte = 0;
    double targetStepsPerByte = 0;
    int bytes = 0;
};

// One READ(10) or WRITE(10) of the whole disk; counts only the data phase.
Figures Transfer(VirtualScanner &scanner, bool in, std::vector<BYTE> &buf)
{
    Figures f;
    BYTE cdb[10] = {in ? kOpRead10 : kOpWrite10, 0, 0, 0, 0, 0, 0, BYTE(kBlocks >> 8),
                    BYTE(kBlocks & 0xFF),        0};
    EmulatedGpio &regs = scanner.registers();
    if (!Selection(kScannerId) || !Command(cdb, sizeof cdb))
        return f;
    if (!WaitPhase(in ? BUS::datain : BUS::dataout))
        return f;

    regs.resetCounters();
    const quint64 steps0 = scanner.steps();
    QElapsedTimer timer;
    timer.start();
    f.bytes = in ? bus.ReceiveHandShake(buf.data(), kBytes) : bus.SendHandShake(buf.data(), kBytes);
    f.seconds = timer.nsecsElapsed() / 1e9;
    const auto &c = regs.counters();
    f.readsPerByte = double(c.gpioReads) / f.bytes;
    f.writesPerByte = double(c.gpioWrites) / f.bytes;
    f.targetStepsPerByte = double(scanner.steps() - steps0) / f.bytes;

    Status();
    MessageIn();
    BusFree();
    return f;
}

bool Report(const char *name, const Figures &f, double readBudget, double writeBudget)
{
    constexpr double kPerTransfer = 1; // the data lines released after a send
    const bool ok = f.bytes == kBytes && f.readsPerByte <= readBudget &&
                    f.writesPerByte * f.bytes <= writeBudget * f.bytes + kPerTransfer;
    std::printf("%-8s %8d bytes  %7.2f MB/s  station reads/byte %.3f (budget %.0f)  "
                "writes/byte %.3f (budget %.0f)  target steps/byte %.3f  %s\n",
                name, f.bytes, f.bytes / f.seconds / 1e6, f.readsPerByte, readBudget,
                f.writesPerByte, writeBudget, f.targetStepsPerByte,
                ok ? "within budget" : "OVER BUDGET");
    return ok;
}
} // namespace

int main()
{
    VirtualScanner scanner;
    scanner.disk.blockSize = kBlockSize;
    scanner.disk.bytes.resize(kBytes);
    for (int i = 0; i < kBytes; i++)
        scanner.disk.bytes[i] = char(i * 7 + (i >> 9));
    EmulatedRegistersGuard guard(&scanner.registers());

    if (!Init()) {
        std::fprintf(stderr, "bench_bus: the bus did not come up\n");
        return 2;
    }
    Reset();

    std::vector<BYTE> buf(kBytes);
    const Figures in = Transfer(scanner, true, buf);
    const bool sameIn = std::equal(buf.begin(), buf.end(), scanner.disk.bytes.begin(),
                                   [](BYTE a, char b) { return a == BYTE(b); });
    for (int i = 0; i < kBytes; i++)
        buf[i] = BYTE(255 - (i & 0xFF));
    const Figures out = Transfer(scanner, false, buf);
    const bool sameOut = std::equal(buf.begin(), buf.end(), scanner.disk.bytes.begin(),
                                    [](BYTE a, char b) { return a == BYTE(b); });
    Cleanup();

    std::printf("GPIOBUS against the virtual scanner, 1 MiB per direction (emulated registers)\n");
    bool ok = Report("DATA IN", in, kInReadsPerByte, kInWritesPerByte) && sameIn;
    ok = Report("DATA OUT", out, kOutReadsPerByte, kOutWritesPerByte) && sameOut && ok;
    std::printf("data %s\n", sameIn && sameOut ? "intact both ways" : "CORRUPTED");
    return ok ? 0 : 1;
}
