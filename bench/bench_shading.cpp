// Shading correction of the fluorescence readout: the station's correction against the
// per-pixel formula with nine square roots, on full-bed lines at each resolution (the
// same random table and pixels for both). Prints the pixel rates and the speed-up, and
// whether the two agree bit for bit. Not a test.
#include "scanstate.h"
#include "shadingcorrection.h"
#include "shadingreference.h"

#include <QRandomGenerator>

#include <cstdio>
#include <ctime>
#include <vector>

namespace
{
struct Case {
    int resolution;
    int pitch;
    int width; // pixels of a full-bed line
    int lines; // one grid period of lines, in pieces of two lines
};
constexpr Case kCases[] = {
    {25, 400, 18400, 400}, {50, 200, 9200, 200}, {100, 100, 4600, 100}, {200, 50, 2300, 50}};
constexpr int kLinesPerPiece = 2;
constexpr int kRounds = 5; // the best round counts: the machine may be busy

// CPU time of this thread in ns: time spent waiting for a core does not count.
qint64 ThreadNs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
} // namespace

int main()
{
    QRandomGenerator rng(2024);
    for (auto &column : shadingdata)
        for (float &f : column)
            f = 0.5f + float(rng.generateDouble());

    std::printf("Shading correction, full-bed lines, one grid period (%d lines per piece),\n"
                "thread CPU time, best of %d rounds\n",
                kLinesPerPiece, kRounds);
    for (const Case &c : kCases) {
        const int pixels = c.width * kLinesPerPiece;
        std::vector<unsigned char> raw(2 * pixels), fast(2 * pixels), reference(2 * pixels);
        for (auto &b : raw)
            b = static_cast<unsigned char>(rng.bounded(256));
        float bins[161] = {};
        qint64 fastNs = 0, referenceNs = 0;
        bool same = true;
        for (int round = 0; round < kRounds; ++round) {
            qint64 fastRound = 0, referenceRound = 0;
            for (int y = 0; y < c.lines; y += kLinesPerPiece) {
                qint64 t0 = ThreadNs();
                ShadingCorrectPiece(raw.data(), fast.data(), c.width, kLinesPerPiece, 0, y,
                                    c.pitch);
                const qint64 t1 = ThreadNs();
                shadingreference::Piece(raw.data(), reference.data(), c.width, kLinesPerPiece, 0, y,
                                        c.pitch, shadingdata, bins);
                const qint64 t2 = ThreadNs();
                fastRound += t1 - t0;
                referenceRound += t2 - t1;
                same = same && fast == reference;
            }
            fastNs = round == 0 ? fastRound : qMin(fastNs, fastRound);
            referenceNs = round == 0 ? referenceRound : qMin(referenceNs, referenceRound);
        }
        const double total = double(c.width) * c.lines;
        std::printf("%3d um  %6d px/line  formula %7.1f Mpx/s  station %7.1f Mpx/s  speed-up "
                    "%5.1fx  %s\n",
                    c.resolution, c.width, total / referenceNs * 1e3, total / fastNs * 1e3,
                    double(referenceNs) / fastNs, same ? "bit-identical" : "DIFFERENT");
    }
    return 0;
}
