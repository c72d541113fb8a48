// Test fixture of the scan starts and readouts: a scan set up by hand the way Start Scan
// and the scan window leave it, a virtual scanner with its scanning handlers under the
// bus, and the expectations worked out from the phantom and the documented layouts.
//
// What the fixture does in place of the windows (and nothing more):
//   - newscansetup geometry and scanparams from an area in micrometres (KIREL-5000/5100)
//     or in millimetres (imaging-plate readers), following the scan request's tables;
//   - the .img (and .raw) files opened, zero-filled, streams attached, ScanFileSize;
//   - the preview geometry (so that the preview sampling has somewhere to go);
//   - scanrunningflag 1, and a clock that the test moves (ScanClockMs and the scanner's).
// It does not write the .inf or .log files and runs no timers: the test calls the
// operations itself, as the run controller would.
#ifndef READOUTFIXTURE_H
#define READOUTFIXTURE_H

#include "scanhandlers.h"
#include "scannermodels.h"
#include "stationfixture.h"
#include "virtualscanner.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVector>

#include <memory>

// An area on the KIREL-5000/5100 bed, micrometres.
struct Kirel5Area {
    int x0 = 0;
    int y0 = 0;
    int width = 0;
    int height = 0;
    int resolution = 200;
    int laser = 2; // channel-1 laser code as the scan request lists it (16: the 685 nm diode)
};

// An area of an imaging-plate reader: left edge and width in mm, lower edge in 0.1 mm,
// height in mm.
struct PlateArea {
    int model = 4;
    int resolution = 50;
    int leftMm = 0;
    int widthMm = 0;
    int lowerTenths = 0;
    int heightMm = 0;
};

class ReadoutFixture
{
public:
    // With `simulatorModel` the scanner is the simulator's model (scannermodels.h), ready
    // at once; otherwise a bare virtual scanner with the scanning handlers alone.
    explicit ReadoutFixture(int model, const ScanOptions &options = {},
                            bool simulatorModel = false);
    ~ReadoutFixture();

    TempStationRoot root;
    VirtualScanner *scanner = nullptr;
    VirtualScan *scan = nullptr;
    static qint64 clockMs; // the test's clock, station and scanner alike

    void kirel5Setup(const Kirel5Area &area);
    void plateSetup(const PlateArea &area);
    // Opens and zero-fills the image (and raw) files, as the scan window does.
    bool filesOpen();
    void filesClose();

    // The operations as the run controller calls them. Each returns the last result.
    int kirel5Start();
    int plateStart();
    // Calls the readout until the scan leaves the running state or `maxCalls` ran out.
    // Imaging-plate readers: the clock moves 50 ms per call (the read tick).
    int kirel5ReadAll(int maxCalls = 2000);
    int plateReadAll(int maxCalls = 4000);
    int calls = 0;
    QVector<int> results; // what each read call returned

    QString imagePath() const;
    QByteArray fileBytes(const QString &extension) const;
    QStringList trace() const { return scanner->traceLines(); }
    // The trace line of the first command with this opcode, empty when none.
    QString traceOf(BYTE opcode) const;

private:
    std::unique_ptr<ScannerModelSim> model_;
    std::unique_ptr<VirtualScanner> ownScanner_;
    std::unique_ptr<VirtualScan> ownScan_;
};

// ---------------------------------------------------------------------------------------
// Expectations, worked out here from the scanner's documented behaviour.
// ---------------------------------------------------------------------------------------
int PhantomS(qint64 x, qint64 y);
// Shading table value k of selector tt, and the factor the station makes of a value.
int ShadingValue(int selector, int k);
float FactorOf(int value);
// The 4040 bytes of the shading answer, the selector's table as factors [x][y].
QByteArray ExpectedShadingAnswer(int selector);
void ExpectedFactors(int selector, float factors[48][42]);

// A 16-bit big-endian image as values, row by row.
QVector<int> ImageValues(const QByteArray &bytes);

// KIREL-5000/5100 raw values of the area in scan order (line j, pixel i at j * width + i).
QVector<int> ExpectedRaw(const Kirel5Area &area, int selector);
// The shading correction written out pixel by pixel with its nine square roots (and the
// nearest edge node for neighbours outside the table): corrected values of one line.
int ReferenceCorrected(int raw, int bedX, int bedY, int pitch, const float factors[48][42]);
// The file image (rows from the last scanned line to the first) of lines in scan order.
QVector<int> RowsReversed(const QVector<int> &scanOrder, int rowLength);

// Imaging-plate rows in scan order: `width` rows of `pixwidth` pixels, from the reader's
// lines (pixel p of reader line l at x = left + l Rr, y = p Rr) cut from the plate's lower
// edge, 2 x 2 averaged at the coarse resolution, 0 beyond the reader's line.
QVector<int> ExpectedPlateRows(const PlateArea &area);

Q_DECLARE_METATYPE(Kirel5Area)
Q_DECLARE_METATYPE(PlateArea)

#endif // READOUTFIXTURE_H
