#include "shadingcorrection.h"

// The run loops below are written for the vectoriser (same operations lane for lane, so
// the results stay bit-identical); let it loose on this file.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic")
#endif

#include "scanwindow.h"

#include <cmath>
#include <cstring>
#include <cstdlib>

namespace
{
constexpr int kMaxOffsets = 3 * kShadingMaxPitch / 2; // offsets 0 .. 3h - 2 inside a cell
constexpr int kHistogramLanes = 4; // interleaved counters: no store-to-load chain per pixel
constexpr int kValues = 65536;
constexpr int kBlock = 8;

// Weight of a node at offsets (a, b) from the pixel, a and b below one pitch.
float weightTable[kShadingMaxPitch * kShadingMaxPitch];
int weightTablePitch = 0;

// Per line, per offset along the line: the four weights in the order the sum takes them,
// the sum of all nine, and the side of the node the pixel leans to (0 left, 1 right).
float lineW0[kMaxOffsets], lineW1[kMaxOffsets], lineW2[kMaxOffsets], lineW3[kMaxOffsets];
float lineSum[kMaxOffsets];
// Offsets whose weights the current line has filled in: [filledLow, filledHigh].
int filledLow = 0;
int filledHigh = -1;
// One run of pixels: their factors, then their corrected values.
float runFactor[kMaxOffsets];
float runValue[kMaxOffsets];

// Histogram bin of a corrected value c with u = (int)c: binOfValue[u], one more when c has
// passed a bin edge lying between u and u + 1 (edgeAbove[u], otherwise out of reach).
BYTE binOfValue[kValues];
float edgeAbove[kValues];
bool binTablesReady = false;
quint32 binCounts[kHistogramLanes][kHistogramBins];

void BinTablesMake()
{
    for (int u = 0; u < kValues; ++u) {
        binOfValue[u] = BYTE(HistogramBin(u));
        edgeAbove[u] = float(kValues); // never reached: c < u + 1
    }
    for (int k = 1; k <= kHistogramShownBins; ++k) {
        const double edge = k * 65535.0 / 160.0; // exact: k * 409.59375
        const int below = int(std::floor(edge));
        if (below < edge && below < kValues)
            edgeAbove[below] = float(edge);
    }
    binTablesReady = true;
}

void WeightTableMake(int pitch)
{
    for (int a = 0; a < pitch; ++a)
        for (int b = 0; b < pitch; ++b) {
            const float distance = float(std::sqrt(double(a * a + b * b)));
            float w = float(pitch) - distance;
            weightTable[a * pitch + b] = w < 0 ? 0.0f : w;
        }
    weightTablePitch = pitch;
}

// The table is symmetric; it is read with b fixed along a line, so b selects the row.
inline float Weight(int a, int b, int pitch)
{
    return (a >= pitch || b >= pitch) ? 0.0f : weightTable[b * pitch + a];
}

inline int Clamp(int v, int hi)
{
    return v < 0 ? 0 : (v > hi ? hi : v);
}

// What one line of the piece shares: its grid row and offsets across lines.
struct LineGrid {
    int iy;      // node row (never 0)
    int rowSide; // -1: the row below the node mixes in, +1: the row above
    int bBelow;  // b of the row iy - 1, of the node row, of the row iy + 1
    int bNode;
    int bAbove;
};

void OffsetWeights(int ox, int h, int pitch, const LineGrid &g)
{
    const int dx = std::abs(ox - h);
    const int aLeft = h + ox;
    const int aRight = 3 * h - ox;
    const float w0 = Weight(dx, g.bNode, pitch);
    const float w1 = Weight(aLeft, g.bBelow, pitch);
    const float w2 = Weight(dx, g.bBelow, pitch);
    const float w3 = Weight(aRight, g.bBelow, pitch);
    const float w4 = Weight(aLeft, g.bNode, pitch);
    const float w5 = Weight(aRight, g.bNode, pitch);
    const float w6 = Weight(aLeft, g.bAbove, pitch);
    const float w7 = Weight(dx, g.bAbove, pitch);
    const float w8 = Weight(aRight, g.bAbove, pitch);
    lineSum[ox] = w0 + w1 + w2 + w3 + w4 + w5 + w6 + w7 + w8;

    // The sum runs W0, W4, W5, W1, W2, W3, W6, W7, W8; of the column pair (W4, W5) and of
    // each row triple only the nodes on the pixel's side can be non-zero.
    const bool left = ox < h;
    const float diagonal = g.rowSide < 0 ? (left ? w1 : w3) : (left ? w6 : w8);
    const float vertical = g.rowSide < 0 ? w2 : w7;
    lineW0[ox] = w0;
    lineW1[ox] = left ? w4 : w5;
    lineW2[ox] = left ? diagonal : vertical;
    lineW3[ox] = left ? vertical : diagonal;
}

// The factors of the four nodes in the order of lineW0..3 for node column ix and a side.
void NodeFactors(int ix, int side, const LineGrid &g, float s[4])
{
    const int lastColumn = kShadingColumns - 1;
    const int lastRow = kShadingRows - 1;
    const int c0 = Clamp(ix, lastColumn);
    const int cs = Clamp(side ? ix + 1 : ix - 1, lastColumn);
    const int r0 = Clamp(g.iy, lastRow);
    const int rr = Clamp(g.iy + g.rowSide, lastRow);
    const float diagonal = shadingdata[cs][rr];
    const float vertical = shadingdata[c0][rr];
    s[0] = shadingdata[c0][r0];
    s[1] = shadingdata[cs][r0];
    s[2] = side ? vertical : diagonal;
    s[3] = side ? diagonal : vertical;
}

void OffsetsFill(int from, int to, int h, int pitch, const LineGrid &g)
{
    for (int ox = from; ox <= to; ++ox)
        OffsetWeights(ox, h, pitch, g);
}

// Makes sure the weights of offsets [low, high] are there for this line. The offsets a line
// meets form one interval, so the filled part stays one interval.
void OffsetsCover(int low, int high, int h, int pitch, const LineGrid &g)
{
    if (filledLow > filledHigh) {
        OffsetsFill(low, high, h, pitch, g);
        filledLow = low;
        filledHigh = high;
        return;
    }
    if (low < filledLow) {
        OffsetsFill(low, filledLow - 1, h, pitch, g);
        filledLow = low;
    }
    if (high > filledHigh) {
        OffsetsFill(filledHigh + 1, high, h, pitch, g);
        filledHigh = high;
    }
}

// The corrected value of a raw pixel under factor f, at most 65535.
inline float CorrectedValue(const BYTE *in, float f)
{
    const float c = float(in[0] << 8 | in[1]) / f;
    return c < 65535.0f ? c : 65535.0f;
}

// One run: pixels sharing their node and side, at offsets ox .. ox + n - 1.
void RunCorrect(const BYTE *in, BYTE *out, int ox, int n, const float s[4], quint32 *counts)
{
    const float *w0 = lineW0 + ox;
    const float *w1 = lineW1 + ox;
    const float *w2 = lineW2 + ox;
    const float *w3 = lineW3 + ox;
    const float *sum = lineSum + ox;
    const float s0 = s[0], s1 = s[1], s2 = s[2], s3 = s[3];
    // Blocks of a fixed length, which the compiler turns into vector operations; lane for
    // lane they are the same single-precision operations in the same order.
    int t = 0;
    for (; t + kBlock <= n; t += kBlock)
        for (int q = t; q < t + kBlock; ++q)
            runFactor[q] = (((w0[q] * s0 + w1[q] * s1) + w2[q] * s2) + w3[q] * s3) / sum[q];
    for (; t < n; ++t)
        runFactor[t] = (((w0[t] * s0 + w1[t] * s1) + w2[t] * s2) + w3[t] * s3) / sum[t];
    // A factor of 0 counts as 1. It needs a node factor of 0: the weights are never all 0.
    if (!(s0 > 0 && s1 > 0 && s2 > 0 && s3 > 0))
        for (t = 0; t < n; ++t)
            if (runFactor[t] == 0)
                runFactor[t] = 1.0f;
    for (t = 0; t + kBlock <= n; t += kBlock)
        for (int q = t; q < t + kBlock; ++q)
            runValue[q] = CorrectedValue(in + 2 * q, runFactor[q]);
    for (; t < n; ++t)
        runValue[t] = CorrectedValue(in + 2 * t, runFactor[t]);
    for (t = 0; t < n; ++t) {
        const float c = runValue[t];
        const unsigned u = unsigned(c);
        out[2 * t] = BYTE(u >> 8);
        out[2 * t + 1] = BYTE(u);
        if (u != 0)
            ++counts[(t & (kHistogramLanes - 1)) * kHistogramBins + binOfValue[u] +
                     (c >= edgeAbove[u])];
    }
}
} // namespace

void ShadingCorrectPiece(const BYTE *raw, BYTE *corrected, int width, int lines, int xstart,
                         int firstLine, int pitch)
{
    if (!binTablesReady)
        BinTablesMake();
    if (weightTablePitch != pitch)
        WeightTableMake(pitch);
    std::memset(binCounts, 0, sizeof binCounts);
    const int h = pitch / 2;

    for (int k = 0; k < lines; ++k) {
        const int y = firstLine + k;
        LineGrid g;
        g.iy = (h + y + 1) / pitch;
        if (g.iy == 0)
            g.iy = 1;
        const int oy = y - pitch * (g.iy - 1);
        g.rowSide = oy < h ? -1 : 1;
        g.bBelow = h + oy;
        g.bNode = std::abs(oy - h);
        g.bAbove = 3 * h - oy;
        filledLow = 0;
        filledHigh = -1;

        const BYTE *in = raw + qint64(2) * k * width;
        BYTE *out = corrected + qint64(2) * k * width;
        // Runs: a pixel leans left of its node while its offset is below h, right up to the
        // cell's last offset 3h - 2.
        for (int i = 0; i < width;) {
            const int x = xstart + i;
            int node = (h + x + 1) / pitch;
            if (node == 0)
                node = 1;
            const int ox = x - pitch * (node - 1);
            const int side = ox < h ? 0 : 1;
            const int n = qMin(side ? 3 * h - 1 - ox : h - ox, width - i);
            OffsetsCover(ox, ox + n - 1, h, pitch, g);
            float s[4];
            NodeFactors(node, side, g, s);
            RunCorrect(in + 2 * i, out + 2 * i, ox, n, s, &binCounts[0][0]);
            i += n;
        }
    }
    // Counts reach histval once per piece. (Adding 1.0 per pixel would stop growing a bin
    // at 2^24; the sum of counts keeps counting.)
    for (int b = 0; b < kHistogramBins; ++b) {
        quint32 n = 0;
        for (int lane = 0; lane < kHistogramLanes; ++lane)
            n += binCounts[lane][b];
        if (n)
            histval[b] += float(n);
    }
}
