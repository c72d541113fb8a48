// Shading correction of the fluorescence readout: the station's correction against the
// per-pixel formula with nine square roots, on the pieces a scan hands over (the same
// random table and pixels for both). Each side is timed in this thread's CPU time (time
// spent waiting for a core does not count) over several rounds; the best and the median
// round give the speed-up. Also says whether the two agree bit for bit. Not a test.
#include "scanstate.h"
#include "shadingcorrection.h"
#include "shadingreference.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace
{
struct Case {
    int resolution; // um
    int pitch;
    int width;  // pixels per line
    int lines;  // lines per piece
    int pieces; // consecutive pieces per round
};
// Full-bed lines at every resolution, and a narrow area at 200 um read in big pieces.
constexpr Case kCases[] = {{25, 400, 18400, 2, 40},
                           {50, 200, 9200, 4, 20},
                           {100, 100, 4600, 10, 10},
                           {200, 50, 2300, 20, 10},
                           {200, 50, 1000, 50, 10}};
constexpr int kRounds = 9;
constexpr int kFirstLine = 100; // inside the table, away from its edges

qint64 ThreadNs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Timing {
    qint64 best;
    qint64 median;
};

Timing Summary(std::vector<qint64> rounds)
{
    std::sort(rounds.begin(), rounds.end());
    return {rounds.front(), rounds[rounds.size() / 2]};
}
} // namespace

int main()
{
    QRandomGenerator rng(2024);
    for (auto &column : shadingdata)
        for (float &f : column)
            f = 0.5f + float(rng.generateDouble());

    std::printf("Shading correction, thread CPU time, %d rounds per side (best / median)\n",
                kRounds);
    std::printf("  um  pixels x lines  pieces  formula Mpx/s  station Mpx/s  speed-up best / "
                "median\n");
    for (const Case &c : kCases) {
        const int pixels = c.width * c.lines;
        std::vector<unsigned char> raw(2 * size_t(pixels) * c.pieces);
        std::vector<unsigned char> fast(raw.size()), reference(raw.size());
        for (auto &b : raw)
            b = static_cast<unsigned char>(rng.bounded(256));
        float bins[161] = {};
        std::vector<qint64> fastRounds, referenceRounds;
        for (int round = 0; round < kRounds; ++round) {
            // The sides take turns, so that a busy spell of the machine hits both alike.
            qint64 t0 = ThreadNs();
            for (int k = 0; k < c.pieces; ++k)
                ShadingCorrectPiece(raw.data() + 2 * size_t(pixels) * k,
                                    fast.data() + 2 * size_t(pixels) * k, c.width, c.lines, 0,
                                    kFirstLine + k * c.lines, c.pitch);
            const qint64 t1 = ThreadNs();
            for (int k = 0; k < c.pieces; ++k)
                shadingreference::Piece(raw.data() + 2 * size_t(pixels) * k,
                                        reference.data() + 2 * size_t(pixels) * k, c.width, c.lines,
                                        0, kFirstLine + k * c.lines, c.pitch, shadingdata, bins);
            const qint64 t2 = ThreadNs();
            fastRounds.push_back(t1 - t0);
            referenceRounds.push_back(t2 - t1);
        }
        const Timing f = Summary(fastRounds);
        const Timing r = Summary(referenceRounds);
        const double total = double(pixels) * c.pieces;
        std::printf("%4d  %6d x %2d  %6d  %13.1f  %13.1f  %6.1fx / %5.1fx  %s\n", c.resolution,
                    c.width, c.lines, c.pieces, total / r.best * 1e3, total / f.best * 1e3,
                    double(r.best) / f.best, double(r.median) / f.median,
                    fast == reference ? "bit-identical" : "DIFFERENT");
    }
    return 0;
}
