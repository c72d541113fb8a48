#include "readoutfixture.h"

#include "emulatedgpio.h"
#include "initiator.h"
#include "kirelscan.h"
#include "scanstate.h"
#include "scanwindow.h"
#include "scsicommands.h"

#include <QFile>

qint64 ReadoutFixture::clockMs = 1700000000000;

namespace
{
constexpr int kReadTickMs = 50;

qint64 FixtureClock()
{
    return ReadoutFixture::clockMs;
}

void Put(int at, int bytes, int v)
{
    for (int i = 0; i < bytes; ++i)
        scanparams[at + i] = BYTE(v >> (8 * (bytes - 1 - i)));
}

// Preview geometry of the scan window: at most 575 across and 500 down.
void PreviewGeometry(int across, int down)
{
    ScanSetup &s = newscansetup;
    if (across < 576 && down <= 500) {
        s.previewwidth = across;
        s.previewheight = down;
        s.previewscale = 1.0f;
    } else {
        const float sx = 575.0f / across;
        const float sy = 500.0f / down;
        if (sx <= sy) {
            s.previewwidth = 575;
            s.previewheight = int(down * 575.0 / across);
            s.previewscale = sx;
        } else {
            s.previewheight = 500;
            s.previewwidth = int(across * 500.0 / down);
            s.previewscale = sy;
        }
    }
    s.previewincrement = float(s.bufferlines) * s.previewscale;
}

// The scan request's plate table: pixels per mm, resolution code, piece, offset factor
// (bytes of a reader line per 0.1 mm of the lower edge, at the reader's pitch) and reader
// line bytes.
struct PlateRow {
    int model, resolution, pixelsPerMm, code, bufferreadsize, offsetPerTenth, bytelinewidth;
};
constexpr PlateRow kPlateRows[] = {
    {4, 50, 20, 50, 92800, 4, 9280},  {4, 100, 10, 100, 46400, 2, 4640},
    {4, 200, 5, 100, 46400, 2, 4640}, {8, 25, 40, 25, 163840, 8, 16384},
    {8, 50, 20, 50, 81920, 4, 8192},  {8, 100, 10, 50, 81920, 4, 8192},
};
} // namespace

ReadoutFixture::ReadoutFixture(int model, const ScanOptions &options)
{
    ResetSharedState(model);
    ScannerPhase = 0;
    result = 0;
    StatusValue = 0;
    scanwriteerror = 0;
    scanstart_epochsecs = 0;
    ScanClockMs = &FixtureClock;
    image_dir = root.root();
    image_name = QStringLiteral("scan");
    ownScanner_.reset(new VirtualScanner);
    ownScan_.reset(new VirtualScan(*ownScanner_, model, options, [] { return clockMs; }));
    ownScan_->install();
    // The status read of the start (its answer is not used): the model's own command.
    ownScanner_->setHandler(kOpVendorStatusRead, {[](VirtualScanner &, VirtualCommand &c) {
                                                      c.dataIn = QByteArray(c.byte(4), '\0');
                                                  },
                                                  nullptr, 0});
    scanner = ownScanner_.get();
    scan = ownScan_.get();
    scanner->setTraceEnabled(true);
    InstallEmulatedRegisters(&scanner->registers());
}

ReadoutFixture::~ReadoutFixture()
{
    Cleanup();
    InstallEmulatedRegisters(nullptr);
    filesClose();
    ownScan_.reset();
    ownScanner_.reset();
}

void ReadoutFixture::setup(const Kirel5Area &a)
{
    ScanSetup &s = newscansetup;
    const int r = a.resolution;
    s.width = a.width / r;
    s.height = a.height / r;
    s.xstart = a.x0 / r;
    s.ystart = a.y0 / r;
    s.resolution = r;
    s.shadingincr = 10000 / r;
    s.shadingincrhalf = s.shadingincr / 2;
    s.bufferlines = 5 * 200 / r;
    s.bufferreadsize = s.width * 2 * s.bufferlines;
    if (s.bufferreadsize >= 65536) {
        s.bufferreadsize = s.bufferreadsize / s.bufferlines * 2;
        s.bufferlines = 2;
    }
    scanTemplate[0].mode = kModeFluorescence;
    laserCh1[0] = BYTE(a.laser);
    laserCh1index = 0;
    scanparams[4] = 0x20;
    scanparams[5] = 0x1A;
    scanparams[6] = 0x11;
    scanparams[7] = BYTE(r);
    scanparams[8] = 1;
    scanparams[9] = a.laser == 16 ? 0 : BYTE(a.laser);
    scanparams[10] = 1;
    Put(12, 2, 600);
    Put(16, 3, a.x0);
    Put(19, 3, a.y0);
    Put(22, 3, a.width);
    Put(25, 3, a.height);
    ScanFileSize = (s.height - 1) * s.width * 2;
    PreviewGeometry(s.width, s.height);
    s.scanrunningflag = 1;
}

void ReadoutFixture::setup(const PlateArea &a)
{
    ScanSetup &s = newscansetup;
    const PlateRow *row = nullptr;
    for (const PlateRow &p : kPlateRows)
        if (p.model == a.model && p.resolution == a.resolution)
            row = &p;
    if (!row)
        return;
    s.VESKxstart = a.leftMm;
    s.VESKwidth = a.widthMm;
    s.VESKheight = a.heightMm;
    s.VESKystart = a.lowerTenths;
    s.width = a.widthMm * 1000 / a.resolution;
    s.height = a.heightMm * 1000 / a.resolution;
    s.xstart = a.leftMm * 1000 / a.resolution;
    s.ystart = a.lowerTenths * 100 / a.resolution;
    s.resolution = a.resolution;
    s.pixwidth = a.heightMm * row->pixelsPerMm;
    s.bufferlines = 10;
    s.bufferreadsize = row->bufferreadsize;
    s.bufptroffset = a.lowerTenths * row->offsetPerTenth;
    s.bytelinewidth = row->bytelinewidth;
    s.latitude = 5;
    s.sensitivity = 4000;
    scanparams[1] = BYTE(row->code);
    scanparams[2] = 5;
    Put(3, 2, a.leftMm);
    Put(5, 2, a.widthMm);
    Put(7, 2, 4000);
    ScanFileSize = (s.width - 1) * s.pixwidth * 2;
    PreviewGeometry(s.height, s.width);
    s.scanrunningflag = 1;
}

QString ReadoutFixture::imagePath() const
{
    return image_dir + QStringLiteral("/") + image_name;
}

bool ReadoutFixture::filesOpen()
{
    const ScanSetup &s = newscansetup;
    const qint64 bytes = ScannerType == kModelKIREL5 ? qint64(s.width) * s.height * 2
                                                     : qint64(s.width) * s.pixwidth * 2;
    kirelscanfile_img.setFileName(imagePath() + QStringLiteral(".img"));
    kirelscanfile_raw.setFileName(imagePath() + QStringLiteral(".raw"));
    if (!kirelscanfile_img.open(QIODevice::WriteOnly) || !kirelscanfile_img.resize(bytes))
        return false;
    IMGdatastream.setDevice(&kirelscanfile_img);
    if (sysparams.rawdatasave == 1) {
        if (!kirelscanfile_raw.open(QIODevice::WriteOnly) || !kirelscanfile_raw.resize(bytes))
            return false;
        RAWdatastream.setDevice(&kirelscanfile_raw);
    }
    return true;
}

void ReadoutFixture::filesClose()
{
    IMGdatastream.setDevice(nullptr);
    RAWdatastream.setDevice(nullptr);
    kirelscanfile_img.close();
    kirelscanfile_raw.close();
}

int ReadoutFixture::start()
{
    ScannerPhase = 0;
    kirel5scan k;
    return ScannerType == kModelKIREL5 ? k.startkirel5scan() : k.startVESK18IIscan();
}

int ReadoutFixture::readAll()
{
    const bool kirel5 = ScannerType == kModelKIREL5;
    int rc = 0;
    kirel5scan k;
    results.clear();
    for (calls = 0; newscansetup.scanrunningflag == 1 && calls < (kirel5 ? 2000 : 4000); ++calls) {
        if (!kirel5)
            clockMs += kReadTickMs;
        rc = kirel5 ? k.readkirel5scan()
                    : (ScannerType == kModelVESK5000 ? k.readVESK5scan() : k.readVESK18IIscan());
        results << rc;
    }
    filesClose();
    return rc;
}

QByteArray ReadoutFixture::fileBytes(const QString &extension) const
{
    QFile f(imagePath() + extension);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

QString ReadoutFixture::traceOf(BYTE opcode) const
{
    const QString start = QStringLiteral("{\"cdb\":\"%1").arg(opcode, 2, 16, QLatin1Char('0'));
    for (const QString &line : scanner->traceLines())
        if (line.startsWith(start))
            return line;
    return QString();
}

// ---------------------------------------------------------------------------------------

expect::Area AreaOf(const Kirel5Area &a)
{
    return {a.x0, a.y0, a.width, a.height};
}

expect::Area AreaOf(const PlateArea &a)
{
    return {a.leftMm * 1000, a.lowerTenths * 100, a.widthMm * 1000, a.heightMm * 1000};
}

void ExpectedFactors(int selector, float factors[48][42])
{
    for (int k = 0; k < 2016; ++k)
        factors[k % 48][k / 48] = ShadingNodeFactor(ShadingTableValue(selector, k));
}
