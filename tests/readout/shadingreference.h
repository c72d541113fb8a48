// The fluorescence scanner's shading correction written out pixel by pixel, nine square roots
// a pixel, with one mend: a neighbour outside the 48 x 42 table takes the nearest edge node.
// The tests hold the station's fast correction against it; the benchmark times both.
#ifndef SHADINGREFERENCE_H
#define SHADINGREFERENCE_H

#include <cmath>
#include <cstdlib>

// Every product and sum rounded on its own, as the formula reads: no fused multiply-adds
// (which the compiler would otherwise form on the station's ARM core).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC push_options
#pragma GCC optimize("fp-contract=off")
#endif

namespace shadingreference
{
constexpr int kColumns = 48;
constexpr int kRows = 42;

inline float Node(const float table[kColumns][kRows], int x, int y)
{
    x = x < 0 ? 0 : (x > kColumns - 1 ? kColumns - 1 : x);
    y = y < 0 ? 0 : (y > kRows - 1 ? kRows - 1 : y);
    return table[x][y];
}

inline float Weight(int h, int a, int b)
{
    const float distance = float(std::sqrt(double(a) * a + double(b) * b));
    const float w = float(2 * h) - distance;
    return w < 0 ? 0.0f : w;
}

// The factor F of the pixel at bed pixel (x, y) on a grid of pitch `inc`.
inline float Factor(int x, int y, int inc, const float table[kColumns][kRows])
{
    const int h = inc / 2;
    int ix = (h + x + 1) / inc;
    int iy = (h + y + 1) / inc;
    if (ix == 0)
        ix = 1;
    if (iy == 0)
        iy = 1;
    const int ox = x - inc * (ix - 1);
    const int oy = y - inc * (iy - 1);
    const int dx = std::abs(ox - h);
    const int dy = std::abs(oy - h);
    const float w0 = Weight(h, dx, dy);
    const float w1 = Weight(h, h + ox, h + oy);
    const float w2 = Weight(h, dx, h + oy);
    const float w3 = Weight(h, 3 * h - ox, h + oy);
    const float w4 = Weight(h, h + ox, dy);
    const float w5 = Weight(h, 3 * h - ox, dy);
    const float w6 = Weight(h, h + ox, 3 * h - oy);
    const float w7 = Weight(h, dx, 3 * h - oy);
    const float w8 = Weight(h, 3 * h - ox, 3 * h - oy);
    float f =
        (w0 * Node(table, ix, iy) + w4 * Node(table, ix - 1, iy) + w5 * Node(table, ix + 1, iy) +
         w1 * Node(table, ix - 1, iy - 1) + w2 * Node(table, ix, iy - 1) +
         w3 * Node(table, ix + 1, iy - 1) + w6 * Node(table, ix - 1, iy + 1) +
         w7 * Node(table, ix, iy + 1) + w8 * Node(table, ix + 1, iy + 1)) /
        (w0 + w1 + w2 + w3 + w4 + w5 + w6 + w7 + w8);
    if (f == 0)
        f = 1;
    return f;
}

// The corrected value c (capped at 65535, not yet truncated) of a raw value.
inline float Corrected(int raw, int x, int y, int inc, const float table[kColumns][kRows])
{
    float c = float(raw) / Factor(x, y, inc, table);
    return c > 65535.0f ? 65535.0f : c;
}

// A whole piece: `lines` lines of `width` big-endian pixels; histogram counts by the bin
// rule (value * 160 / 65535, at most 160, zero pixels not counted) into `bins`.
inline void Piece(const unsigned char *raw, unsigned char *out, int width, int lines, int xstart,
                  int firstLine, int inc, const float table[kColumns][kRows], float bins[161])
{
    for (int k = 0; k < lines; ++k)
        for (int i = 0; i < width; ++i) {
            const int p = 2 * (k * width + i);
            const float c =
                Corrected(raw[p] << 8 | raw[p + 1], xstart + i, firstLine + k, inc, table);
            const unsigned u = unsigned(c);
            out[p] = static_cast<unsigned char>(u >> 8);
            out[p + 1] = static_cast<unsigned char>(u);
            if (u != 0) {
                int bin = int(c * 160.0 / 65535.0);
                bins[bin > 160 ? 160 : bin] += 1.0f;
            }
        }
}
} // namespace shadingreference

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC pop_options
#endif

#endif // SHADINGREFERENCE_H
