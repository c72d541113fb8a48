// Test fixture of the scan starts and readouts: a virtual scanner with its scanning handlers
// under the bus, and a scan set up as Start Scan and the scan window leave it (the request
// filled from an area, the image files zero-filled, the preview geometry, scanrunningflag 1)
// on a clock the test moves. No .inf or .log is written and no timer runs: the test calls
// the operations itself, as the run controller would.
#ifndef READOUTFIXTURE_H
#define READOUTFIXTURE_H

#include "phantomexpect.h"
#include "scanhandlers.h"
#include "stationfixture.h"
#include "virtualscanner.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVector>

#include <memory>

// An area on the KIREL-5000/5100 bed, micrometres.
struct Kirel5Area {
    int x0 = 0, y0 = 0, width = 0, height = 0;
    int resolution = 200;
    int laser = 2; // channel-1 laser code as the scan request lists it (16: the 685 nm diode)
};

// An area of an imaging-plate reader: left edge and width in mm, lower edge in 0.1 mm,
// height in mm.
struct PlateArea {
    int model = 4;
    int resolution = 50;
    int leftMm = 0, widthMm = 0, lowerTenths = 0, heightMm = 0;
};

class ReadoutFixture
{
public:
    // The scanner is a bare virtual scanner with the scanning handlers alone.
    explicit ReadoutFixture(int model, const ScanOptions &options = {});
    ~ReadoutFixture();

    TempStationRoot root;
    VirtualScanner *scanner = nullptr;
    VirtualScan *scan = nullptr;
    static qint64 clockMs; // the test's clock, station and scanner alike

    void setup(const Kirel5Area &area);
    void setup(const PlateArea &area);
    // Opens and zero-fills the image (and raw) files, as the scan window does.
    bool filesOpen();
    void filesClose();

    // The operations of the scanner model as the run controller calls them. Each returns
    // the last result.
    int start();
    // Calls the readout until the scan leaves the running state or the calls (2000 on the
    // KIREL-5000/5100, 4000 on the readers) ran out. The clock moves 50 ms per call (the
    // read tick).
    int readAll();
    int calls = 0;
    QVector<int> results; // what each read call returned

    QString imagePath() const;
    QByteArray fileBytes(const QString &extension) const;
    QStringList trace() const { return scanner->traceLines(); }
    // The trace line of the first command with this opcode, empty when none.
    QString traceOf(BYTE opcode) const;

private:
    std::unique_ptr<VirtualScanner> ownScanner_;
    std::unique_ptr<VirtualScan> ownScan_;
};

// The area in micrometres, as phantomexpect.h takes it.
expect::Area AreaOf(const Kirel5Area &a);
expect::Area AreaOf(const PlateArea &a);
// The table of the shading read with this selector, as factors [x][y].
void ExpectedFactors(int selector, float factors[48][42]);

Q_DECLARE_METATYPE(Kirel5Area)
Q_DECLARE_METATYPE(PlateArea)

#endif // READOUTFIXTURE_H
