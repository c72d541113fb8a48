// What the virtual scanner sees: one picture on the bed and the fluorescence scanner's
// shading tables.
//
// Bed coordinates are micrometres from the bed's left and bottom edges (for the imaging-
// plate readers: from the start of the plate and from the plate's bottom edge, the first
// pixel of a reader line). Integer arithmetic throughout:
//   S(x, y) = 1000 + x / 100 + 2 * (y / 100) + (20000 when x / 5000 + y / 5000 is even)
// a ramp in both directions under a 5 mm checkerboard, 1000 to about 33600.
#ifndef PHANTOM_H
#define PHANTOM_H

#include <QtGlobal>

inline int PhantomValue(qint64 x, qint64 y)
{
    const bool light = ((x / 5000 + y / 5000) % 2) == 0;
    return int(1000 + x / 100 + 2 * (y / 100) + (light ? 20000 : 0));
}

// The KIREL-5000/5100 shading table read with selector `selector`: value k (0 .. 2015) at
// table position x = k mod 48, y = k div 48; 33000 everywhere for selectors 1 and 3 (IP
// and 473 nm), otherwise 33000 + 150 (x - 24) + 100 (y - 21).
constexpr int kPhantomShadingColumns = 48;
constexpr int kPhantomShadingRows = 42;
inline int ShadingTableValue(int selector, int k)
{
    if (selector == 1 || selector == 3)
        return 33000;
    const int x = k % kPhantomShadingColumns;
    const int y = k / kPhantomShadingColumns;
    return 33000 + 150 * (x - 24) + 100 * (y - 21);
}

// The correction factor the scanner's optics put on a pixel near a node of value v: the
// same as the station makes of it, halfway between 1 and v / 33000.
inline float ShadingNodeFactor(int value)
{
    const float ratio = float(value) / 33000.0f - 1.0f;
    return float(double(ratio) * 0.5 + 1.0);
}

#endif // PHANTOM_H
