// Shading correction of the fluorescence scanner's pixels.
//
// Every pixel is divided by a factor F mixed from the nine shading-grid nodes around it
// (shadingdata, grid pitch `pitch` pixels, node n at bed pixel n * pitch - pitch / 2):
// each node weighs 2h minus its distance to the pixel (h = pitch / 2), nodes farther than
// one pitch not at all, and F is the weighted mean of their factors. A neighbour outside
// the 48 x 42 table takes the nearest edge node.
//
// The weights depend only on the pixel's offsets inside its grid cell, so they are not
// worked out per pixel: a table of the weight of every (a, b) offset pair up to one pitch
// is made once per pitch, and per line the weights of each offset along the line are
// looked up once. Of the nine weights at most four are ever non-zero (the column and row
// on the pixel's side of its node); leaving out terms that are exactly zero does not
// change a single-precision sum of non-negative weights or of their products with the
// (positive, finite) shading factors, so the result is bit for bit the per-pixel
// formula's. The pixels then go through the factor, the division, the cap and the
// histogram bin four at a time, each lane doing the scalar operations.
#ifndef SHADINGCORRECTION_H
#define SHADINGCORRECTION_H

#include "scanstate.h"

// Largest grid pitch the tables hold (25 um scans).
constexpr int kShadingMaxPitch = 400;

// Corrects `lines` lines of `width` raw pixels (16 bits, most significant byte first) into
// `corrected` (same layout) and counts every non-zero corrected pixel in histval. Pixel i
// of line k lies at bed pixel (xstart + i, firstLine + k). `pitch` is even, 2 to
// kShadingMaxPitch.
void ShadingCorrectPiece(const BYTE *raw, BYTE *corrected, int width, int lines, int xstart,
                         int firstLine, int pitch);

#endif // SHADINGCORRECTION_H
