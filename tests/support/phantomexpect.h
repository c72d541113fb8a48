// What a scan of the virtual scanner must leave behind, worked out from the phantom on the
// bed (phantom.h) and the scanners' layouts alone, never from the station's own code.
// Fluorescence: `height` rows of `width` pixels, scan line j (j = 0 first) in row
// height - 1 - j, pixel i of line j at bed pixel (x0 / R + i, y0 / R + j). Imaging plates:
// `width` rows (one per output line, line m in row width - 1 - m) of `pixwidth` pixels; a
// reader pitch of half the resolution averages 2 x 2 reader pixels, truncated. Pixels past
// the end of the reader's line (232 mm on the VESK-1800II, 204.8 mm on the VESK-5000) are 0.
#ifndef PHANTOMEXPECT_H
#define PHANTOMEXPECT_H

#include "phantom.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>

#include <cmath>
#include <cstdlib>

namespace expect
{

constexpr int kKirel5 = 11;
constexpr int kVesk5000 = 8;
constexpr int kVesk1800 = 4;

// The scan area in micrometres, as the tiles or the plate give it.
struct Area {
    qint64 x0 = 0, y0 = 0, width = 0, height = 0;
};

// A picture: rows of 16-bit values, first row first.
struct Picture {
    int rows = 0;
    int columns = 0;
    QVector<int> values;
    int at(int r, int c) const { return values[r * columns + c]; }
};

// The reader's pitch at a resolution: the VESK-1800II averages 100 um pixels to 200 um, the
// VESK-5000 50 um pixels to 100 um.
inline int ReaderPitch(int model, int resolution)
{
    if (model == kVesk1800 && resolution == 200)
        return 100;
    if (model == kVesk5000 && resolution == 100)
        return 50;
    return resolution;
}

// The shading table the KIREL-5000/5100 reads in fluorescence for a laser code of the block.
inline int ShadingSelectorFor(int laserByte)
{
    switch (laserByte) {
    case 1:
        return 3;
    case 2:
        return 4;
    case 4:
        return 5;
    case 8:
        return 6;
    default:
        return 0;
    }
}

// The .raw holds the phantom times the factor of the nearest shading node (`raw`); the .img
// the phantom itself, within the tolerance of the interpolated correction.
inline Picture FluorescenceExpected(const Area &a, int r, int selector, bool raw)
{
    Picture p;
    p.columns = int(a.width / r);
    p.rows = int(a.height / r);
    p.values.resize(p.rows * p.columns);
    const int xs = int(a.x0 / r), ys = int(a.y0 / r);
    const int inc = 10000 / r;
    for (int j = 0; j < p.rows; ++j)
        for (int i = 0; i < p.columns; ++i) {
            const int bx = xs + i, by = ys + j;
            int v = PhantomValue(qint64(bx) * r, qint64(by) * r);
            if (raw) {
                // The node nearest to the pixel: node n lies at bed pixel n inc - inc / 2.
                const int nx = qMin(bx / inc + 1, kPhantomShadingColumns - 1);
                const int ny = qMin(by / inc + 1, kPhantomShadingRows - 1);
                const float f = ShadingNodeFactor(
                    ShadingTableValue(selector, ny * kPhantomShadingColumns + nx));
                v = int(qMin<long>(std::lround(double(v) * double(f)), 65535));
            }
            p.values[(p.rows - 1 - j) * p.columns + i] = v;
        }
    return p;
}

inline Picture PlateExpected(int model, const Area &a, int r)
{
    const int pitch = ReaderPitch(model, r);
    const bool averaged = pitch != r;
    const int linePixels = (model == kVesk5000 ? 204800 : 232000) / pitch;
    Picture p;
    p.rows = int(a.width / r);
    p.columns = int(a.height / r);
    p.values.resize(p.rows * p.columns);
    const qint64 left = a.x0 / 1000 * 1000; // the reader is told whole millimetres
    const int p0 = int(a.y0 / pitch);
    auto reader = [&](int line, int pixel) {
        return pixel < linePixels ? PhantomValue(left + qint64(line) * pitch, qint64(pixel) * pitch)
                                  : -1;
    };
    for (int m = 0; m < p.rows; ++m)
        for (int j = 0; j < p.columns; ++j) {
            int v = 0;
            if (!averaged) {
                v = qMax(reader(m, p0 + j), 0);
            } else if (reader(0, p0 + 2 * j + 1) >= 0) {
                for (int dl = 0; dl < 2; ++dl)
                    for (int dp = 0; dp < 2; ++dp)
                        v += reader(2 * m + dl, p0 + 2 * j + dp);
                v /= 4;
            }
            p.values[(p.rows - 1 - m) * p.columns + j] = v;
        }
    return p;
}

// Big-endian 16-bit values as a picture of `columns` (> 0) pixels per row.
inline Picture PictureOf(const QByteArray &bytes, int columns)
{
    Picture p;
    p.columns = columns;
    p.rows = int(bytes.size() / 2 / columns);
    p.values.resize(int(bytes.size() / 2));
    for (int k = 0; k < p.values.size(); ++k)
        p.values[k] = quint8(bytes[2 * k]) << 8 | quint8(bytes[2 * k + 1]);
    return p;
}

inline Picture PictureRead(const QString &path, int columns)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? PictureOf(f.readAll(), columns) : Picture();
}

// Empty when `got` is `want` within `tolerance` (relative); else where and how it differs.
inline QString PictureDifference(const Picture &got, const Picture &want, double tolerance = 0)
{
    if (got.rows != want.rows || got.columns != want.columns ||
        got.values.size() != want.values.size())
        return QStringLiteral("%1 values, expected %2 x %3")
            .arg(got.values.size())
            .arg(want.rows)
            .arg(want.columns);
    for (int r = 0; r < want.rows; ++r)
        for (int c = 0; c < want.columns; ++c) {
            const int g = got.at(r, c), w = want.at(r, c);
            if (std::abs(g - w) > std::floor(tolerance * w))
                return QStringLiteral("row %1 pixel %2: %3, expected %4")
                    .arg(r)
                    .arg(c)
                    .arg(g)
                    .arg(w);
        }
    return QString();
}

inline void PutBig(QByteArray &b, int at, int bytes, qint64 v)
{
    for (int i = 0; i < bytes; ++i)
        b[at + i] = char(v >> (8 * (bytes - 1 - i)));
}

// The 30-byte block of the KIREL-5000/5100.
inline QByteArray FluorescenceBlock(const Area &a, int r, int filterByte, int laserByte, int hv)
{
    QByteArray b(30, '\0');
    b[4] = char(0x20);
    b[5] = char(0x1A);
    b[6] = char(0x11);
    b[7] = char(r);
    b[8] = char(filterByte);
    b[9] = char(laserByte);
    b[10] = 1;
    PutBig(b, 12, 2, hv);
    PutBig(b, 16, 3, a.x0);
    PutBig(b, 19, 3, a.y0);
    PutBig(b, 22, 3, a.width);
    PutBig(b, 25, 3, a.height);
    return b;
}

// The 12 bytes of the readers.
inline QByteArray ReaderBlock(int model, const Area &a, int r, int latitude, int sensitivity)
{
    QByteArray b(12, '\0');
    b[1] = char(ReaderPitch(model, r));
    b[2] = char(latitude);
    PutBig(b, 3, 2, a.x0 / 1000);
    PutBig(b, 5, 2, a.width / 1000);
    PutBig(b, 7, 2, sensitivity);
    return b;
}

// The .sd file: the scanner's answer to the shading read, as the virtual scanner gives it.
inline QByteArray ShadingFile(int selector)
{
    QByteArray b(4040, '\0');
    b[0] = char(0x0F);
    b[1] = char(0xC0);
    b[2] = char(selector);
    b[3] = char(kPhantomShadingColumns);
    b[4] = char(kPhantomShadingRows);
    for (int k = 0; k < kPhantomShadingColumns * kPhantomShadingRows; ++k)
        PutBig(b, 8 + 2 * k, 2, ShadingTableValue(selector, k));
    return b;
}

} // namespace expect

#endif // PHANTOMEXPECT_H
