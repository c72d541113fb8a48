#include "shadingcorrection.h"

// The factor is a chain of single-precision products and sums in a fixed order; a fused
// multiply-add (which the compiler would otherwise form on the station's ARM core) rounds
// once instead of twice and changes the last bit of some factors.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("fp-contract=off")
#endif

#include "scanwindow.h"

#include <QtGlobal>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace
{
// Four lanes at a time in the compiler's portable vector types (NEON on the station, SSE2
// on a PC). Every lane does the scalar operation of the formula, so the results stay bit
// for bit the per-pixel ones.
typedef float Floats __attribute__((vector_size(16)));
typedef int Ints __attribute__((vector_size(16)));
typedef unsigned Uints __attribute__((vector_size(16)));
constexpr int kLanes = 4;

constexpr int kMaxOffsets = 3 * kShadingMaxPitch / 2; // offsets 0 .. 3h - 2 inside a cell
constexpr int kMaxTableSide = kShadingMaxPitch + 1;   // distances 0 .. pitch along a and b
// A line is corrected in chunks small enough to keep their working arrays in the cache.
constexpr int kChunk = 1024;
constexpr int kHistogramLanes = 4;       // interleaved counters: no store-to-load chain per pixel
constexpr int kZeroBin = kHistogramBins; // zero pixels land here and are never counted
constexpr float kTopValue = 65535.0f;
// Width of one histogram bin, 65535 / 160 = 409.59375: exact in single precision, and so
// is every bin edge k * kBinWidth.
constexpr float kBinWidth = 409.59375f;

// Weight of a node at offsets (a, b) from the pixel, a and b from 0 to one pitch: 2h minus
// the distance, 0 once the distance reaches a pitch. Rows of length pitch + 1.
float weightTable[kMaxTableSide * kMaxTableSide];
int weightTablePitch = 0;

// Per line, per offset along the line: the four weights that can be non-zero in the order
// the sum takes them, and the sum of all nine. Padded for the last block of a run.
float lineW0[kMaxOffsets + kLanes], lineW1[kMaxOffsets + kLanes];
float lineW2[kMaxOffsets + kLanes], lineW3[kMaxOffsets + kLanes];
float lineSum[kMaxOffsets + kLanes];
// One chunk: the factor and the histogram bin of each pixel (padded to whole blocks).
float chunkFactor[kChunk + kLanes];
int chunkBin[kChunk + 2 * kLanes];
quint32 binCounts[kHistogramLanes][kHistogramBins + 1];

void WeightTableMake(int pitch)
{
    const int side = pitch + 1;
    for (int a = 0; a < side; ++a)
        for (int b = 0; b < side; ++b) {
            const float distance = float(std::sqrt(double(a * a + b * b)));
            const float w = float(pitch) - distance;
            weightTable[a * side + b] = w < 0 ? 0.0f : w;
        }
    weightTablePitch = pitch;
}

inline int Clamp(int v, int hi)
{
    return v < 0 ? 0 : (v > hi ? hi : v);
}

// What one line of the piece shares: its grid row and its distances across lines.
struct LineGrid {
    int iy;         // node row (never 0)
    bool below;     // the row below the node mixes in (else the row above)
    int bNode;      // distance to the node row
    int bNeighbour; // distance to the row that mixes in
};

// Where a pixel at bed pixel x falls: its node column and its offset inside the cell.
struct Cell {
    int node;
    int offset;
};

inline Cell CellOf(int x, int h, int pitch)
{
    int node = (h + x + 1) / pitch;
    if (node == 0)
        node = 1;
    return {node, x - pitch * (node - 1)};
}

// The weights of offsets [low, high] for this line. Of the nine nodes only the node, its
// neighbour along the line on the pixel's side, and the two of the neighbouring row on
// that side lie closer than a pitch; the others weigh exactly 0, and adding 0 to a sum of
// non-negative terms leaves it unchanged, so the sums below keep the order W0 .. W8 of the
// rest. The products they multiply (shading factors, positive and finite) are left out the
// same way.
void LineWeightsMake(int low, int high, int h, int pitch, const LineGrid &g)
{
    const int side = pitch + 1;
    const float *node = weightTable + g.bNode * side;
    const float *neighbour = weightTable + g.bNeighbour * side;
    // Left of the node (offsets below h): W0 at a = h - ox, the node row's left neighbour
    // (W4) and the neighbouring row's left diagonal (W1 or W6) at a = h + ox, and its
    // vertical (W2 or W7) at a = h - ox.
    const int leftEnd = qMin(high, h - 1);
    for (int ox = low; ox <= leftEnd; ++ox) {
        const float w0 = node[h - ox];
        const float across = node[h + ox];
        const float diagonal = neighbour[h + ox];
        const float vertical = neighbour[h - ox];
        lineW0[ox] = w0;
        lineW1[ox] = across;
        lineW2[ox] = diagonal;
        lineW3[ox] = vertical;
        // Below: W0 + W1 + W2 + W4; above: W0 + W4 + W6 + W7.
        lineSum[ox] =
            g.below ? ((w0 + diagonal) + vertical) + across : ((w0 + across) + diagonal) + vertical;
    }
    // Right of it: W0 at a = ox - h, the right neighbour (W5) at a = 3h - ox, the vertical
    // (W2 or W7) at ox - h and the right diagonal (W3 or W8) at 3h - ox.
    for (int ox = qMax(low, h); ox <= high; ++ox) {
        const float w0 = node[ox - h];
        const float across = node[3 * h - ox];
        const float vertical = neighbour[ox - h];
        const float diagonal = neighbour[3 * h - ox];
        lineW0[ox] = w0;
        lineW1[ox] = across;
        lineW2[ox] = vertical;
        lineW3[ox] = diagonal;
        // Below: W0 + W2 + W3 + W5; above: W0 + W5 + W7 + W8.
        lineSum[ox] =
            g.below ? ((w0 + vertical) + diagonal) + across : ((w0 + across) + vertical) + diagonal;
    }
}

// The factors of the four nodes in the order of lineW0..3 for node column ix and a side.
void NodeFactors(int ix, bool right, const LineGrid &g, float s[4])
{
    const int lastColumn = kShadingColumns - 1;
    const int lastRow = kShadingRows - 1;
    const int c0 = Clamp(ix, lastColumn);
    const int cs = Clamp(right ? ix + 1 : ix - 1, lastColumn);
    const int r0 = Clamp(g.iy, lastRow);
    const int rr = Clamp(g.below ? g.iy - 1 : g.iy + 1, lastRow);
    const float diagonal = shadingdata[cs][rr];
    const float vertical = shadingdata[c0][rr];
    s[0] = shadingdata[c0][r0];
    s[1] = shadingdata[cs][r0];
    s[2] = right ? vertical : diagonal;
    s[3] = right ? diagonal : vertical;
}

inline Floats FloatsLoad(const float *p)
{
    Floats v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The factors of one run of pixels sharing node and side, at offsets ox .. ox + n - 1,
// into factor[0 .. n - 1]. Whole blocks: the last one runs past the run into padding and
// into the next run's first factors, which that run then writes.
void RunFactors(int ox, int n, const float s[4], float *factor)
{
    const Floats s0 = Floats{} + s[0];
    const Floats s1 = Floats{} + s[1];
    const Floats s2 = Floats{} + s[2];
    const Floats s3 = Floats{} + s[3];
    const Floats one = Floats{} + 1.0f;
    for (int t = 0; t < n; t += kLanes) {
        const int o = ox + t;
        const Floats w0 = FloatsLoad(lineW0 + o);
        const Floats w1 = FloatsLoad(lineW1 + o);
        const Floats w2 = FloatsLoad(lineW2 + o);
        const Floats w3 = FloatsLoad(lineW3 + o);
        Floats f = (((w0 * s0 + w1 * s1) + w2 * s2) + w3 * s3) / FloatsLoad(lineSum + o);
        f = f == 0 ? one : f; // a factor of 0 counts as 1
        std::memcpy(factor + t, &f, sizeof f);
    }
}

// Pixels of a block of eight pass through the arithmetic as the even ones (0, 2, 4, 6) and
// the odd ones (1, 3, 5, 7): a 32-bit word of the raw data then holds one of each, and so
// does a word of the output, with no repacking of 16-bit lanes.
#if defined(__clang__)
#define SHADING_EVEN_LANES(a, b) __builtin_shufflevector(a, b, 0, 2, 4, 6)
#define SHADING_ODD_LANES(a, b) __builtin_shufflevector(a, b, 1, 3, 5, 7)
#else
#define SHADING_EVEN_LANES(a, b) __builtin_shuffle(a, b, Ints{0, 2, 4, 6})
#define SHADING_ODD_LANES(a, b) __builtin_shuffle(a, b, Ints{1, 3, 5, 7})
#endif
constexpr int kBlock = 2 * kLanes;

// A little under 160 / 65535: the bin estimate c * kBinsPerValueLow is never above the
// bin of c and, near an edge, at most one below.
constexpr float kBinsPerValueLow = 0.0024414f;

// Corrected values of four raw ones under their factors, and their histogram bins.
inline Ints LanesCorrect(Uints raw, Floats factor, int *bin)
{
    const Floats top = Floats{} + kTopValue;
    Floats c = __builtin_convertvector(Ints(raw), Floats) / factor;
    c = c < top ? c : top;
    const Ints u = __builtin_convertvector(c, Ints);

    // The bin is the number of bin edges k * kBinWidth (k = 1 .. 160) at or below c.
    Ints b = __builtin_convertvector(c * kBinsPerValueLow, Ints);
    b -= c >= (__builtin_convertvector(b, Floats) + 1.0f) * kBinWidth; // true is -1
    b |= (u == 0) & kZeroBin;                                          // b is 0 there
    std::memcpy(bin, &b, sizeof b);
    return u;
}

// Eight pixels: raw big-endian values in, corrected ones out, and their histogram bins.
inline void BlockCorrect(const BYTE *in, BYTE *out, const float *factor, int *bin)
{
    Uints words;
    std::memcpy(&words, in, sizeof words);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    const Uints even = ((words & 0xffu) << 8) | ((words >> 8) & 0xffu);
    const Uints odd = ((words >> 8) & 0xff00u) | (words >> 24);
#else
    const Uints even = words >> 16;
    const Uints odd = words & 0xffffu;
#endif
    const Floats f0 = FloatsLoad(factor);
    const Floats f1 = FloatsLoad(factor + kLanes);
    const Uints uEven = Uints(LanesCorrect(even, SHADING_EVEN_LANES(f0, f1), bin));
    const Uints uOdd = Uints(LanesCorrect(odd, SHADING_ODD_LANES(f0, f1), bin + kLanes));
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    const Uints corrected =
        (uEven >> 8) | ((uEven & 0xffu) << 8) | ((uOdd & 0xff00u) << 8) | (uOdd << 24);
#else
    const Uints corrected = (uEven << 16) | uOdd;
#endif
    std::memcpy(out, &corrected, sizeof corrected);
}

// One chunk of n pixels with their factors in chunkFactor: corrected values out, bins into
// chunkBin (in the blocks' lane order; the histogram does not mind). A last partial block
// goes through padded copies.
void ChunkCorrect(const BYTE *in, BYTE *out, int n)
{
    int t = 0;
    for (; t + kBlock <= n; t += kBlock)
        BlockCorrect(in + 2 * t, out + 2 * t, chunkFactor + t, chunkBin + t);
    if (t < n) {
        const int rest = n - t;
        BYTE rawRest[2 * kBlock] = {};
        BYTE outRest[2 * kBlock];
        float factorRest[kBlock];
        for (float &f : factorRest)
            f = 1.0f;
        std::memcpy(rawRest, in + 2 * t, 2 * rest);
        std::memcpy(factorRest, chunkFactor + t, rest * sizeof(float));
        BlockCorrect(rawRest, outRest, factorRest, chunkBin + t);
        std::memcpy(out + 2 * t, outRest, 2 * rest);
    }
}

// Counts the bins of a chunk of n pixels. The lanes of a last partial block are not in
// pixel order, so the whole block counts; its padding lanes fall into the zero bin.
void ChunkCount(int n)
{
    const int padded = (n + kBlock - 1) / kBlock * kBlock;
    for (int t = 0; t < padded; t += kHistogramLanes) {
        ++binCounts[0][chunkBin[t]];
        ++binCounts[1][chunkBin[t + 1]];
        ++binCounts[2][chunkBin[t + 2]];
        ++binCounts[3][chunkBin[t + 3]];
    }
}

LineGrid LineGridOf(int y, int h, int pitch)
{
    LineGrid g;
    g.iy = (h + y + 1) / pitch;
    if (g.iy == 0)
        g.iy = 1;
    const int oy = y - pitch * (g.iy - 1);
    g.below = oy < h;
    g.bNode = std::abs(oy - h);
    g.bNeighbour = g.below ? h + oy : 3 * h - oy;
    return g;
}

void LineCorrect(const BYTE *in, BYTE *out, int width, int xstart, int h, int pitch,
                 const LineGrid &g)
{
    // The offsets the line meets: one stretch inside a single cell, else at most the whole
    // cell (the first cell of the bed starts lower, at offset 0).
    const Cell first = CellOf(xstart, h, pitch);
    const Cell last = CellOf(xstart + width - 1, h, pitch);
    if (first.node == last.node)
        LineWeightsMake(first.offset, last.offset, h, pitch, g);
    else
        LineWeightsMake(qMin(first.offset, h - 1), 3 * h - 2, h, pitch, g);

    for (int start = 0; start < width; start += kChunk) {
        const int end = qMin(start + kChunk, width);
        // Runs: a pixel leans left of its node while its offset is below h, right up to the
        // cell's last offset 3h - 2.
        Cell cell = CellOf(xstart + start, h, pitch);
        for (int i = start; i < end;) {
            const bool right = cell.offset >= h;
            const int runEnd = right ? 3 * h - 1 : h; // offset after the run
            const int n = qMin(runEnd - cell.offset, end - i);
            float s[4];
            NodeFactors(cell.node, right, g, s);
            RunFactors(cell.offset, n, s, chunkFactor + (i - start));
            i += n;
            // The next run leans right of the same node, or starts the next cell at h - 1.
            if (right)
                cell = {cell.node + 1, h - 1};
            else
                cell.offset = h;
        }
        ChunkCorrect(in + 2 * start, out + 2 * start, end - start);
        ChunkCount(end - start);
    }
}
} // namespace

void ShadingCorrectPiece(const BYTE *raw, BYTE *corrected, int width, int lines, int xstart,
                         int firstLine, int pitch)
{
    if (width <= 0)
        return;
    if (weightTablePitch != pitch)
        WeightTableMake(pitch);
    std::memset(binCounts, 0, sizeof binCounts);
    const int h = pitch / 2;
    for (int k = 0; k < lines; ++k) {
        const qint64 p = qint64(2) * k * width;
        LineCorrect(raw + p, corrected + p, width, xstart, h, pitch,
                    LineGridOf(firstLine + k, h, pitch));
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
