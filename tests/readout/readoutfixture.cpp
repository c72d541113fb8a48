#include "readoutfixture.h"

#include "emulatedgpio.h"
#include "initiator.h"
#include "kirelscan.h"
#include "scanstate.h"
#include "scanwindow.h"
#include "scsicommands.h"
#include "shadingreference.h"

#include <QDir>
#include <QFile>

#include <cmath>

qint64 ReadoutFixture::clockMs = 1700000000000;

namespace
{
constexpr int kReadTickMs = 50;

qint64 FixtureClock()
{
    return ReadoutFixture::clockMs;
}

void Put24(int at, int v)
{
    scanparams[at] = BYTE(v >> 16);
    scanparams[at + 1] = BYTE(v >> 8);
    scanparams[at + 2] = BYTE(v);
}

void Put16(int at, int v)
{
    scanparams[at] = BYTE(v >> 8);
    scanparams[at + 1] = BYTE(v);
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

ReadoutFixture::ReadoutFixture(int model, const ScanOptions &options, bool simulatorModel)
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
    if (simulatorModel) {
        ScannerModelOptions modelOptions;
        modelOptions.selfTestMs = 0;
        modelOptions.scan = options;
        model_.reset(new ScannerModelSim(model, modelOptions, [] { return clockMs; }));
        scanner = &model_->scanner();
        scan = model_->scan();
    } else {
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
    }
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
    model_.reset();
}

void ReadoutFixture::kirel5Setup(const Kirel5Area &a)
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
    Put16(12, 600);
    Put24(16, a.x0);
    Put24(19, a.y0);
    Put24(22, a.width);
    Put24(25, a.height);
    ScanFileSize = (s.height - 1) * s.width * 2;
    PreviewGeometry(s.width, s.height);
    s.scanrunningflag = 1;
}

void ReadoutFixture::plateSetup(const PlateArea &a)
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
    Put16(3, a.leftMm);
    Put16(5, a.widthMm);
    Put16(7, 4000);
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

int ReadoutFixture::kirel5Start()
{
    kirel5scan k;
    return k.startkirel5scan();
}

int ReadoutFixture::plateStart()
{
    ScannerPhase = 0;
    kirel5scan k;
    return k.startVESK18IIscan();
}

int ReadoutFixture::kirel5ReadAll(int maxCalls)
{
    int rc = 0;
    kirel5scan k;
    results.clear();
    for (calls = 0; newscansetup.scanrunningflag == 1 && calls < maxCalls; ++calls)
        results << (rc = k.readkirel5scan());
    filesClose();
    return rc;
}

int ReadoutFixture::plateReadAll(int maxCalls)
{
    int rc = 0;
    kirel5scan k;
    results.clear();
    for (calls = 0; newscansetup.scanrunningflag == 1 && calls < maxCalls; ++calls) {
        clockMs += kReadTickMs;
        rc = ScannerType == kModelVESK5000 ? k.readVESK5scan() : k.readVESK18IIscan();
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

int PhantomS(qint64 x, qint64 y)
{
    const int checker = ((x / 5000 + y / 5000) % 2 == 0) ? 20000 : 0;
    return int(1000 + x / 100 + 2 * (y / 100) + checker);
}

int ShadingValue(int selector, int k)
{
    if (selector == 1 || selector == 3)
        return 33000;
    return 33000 + 150 * (k % 48 - 24) + 100 * (k / 48 - 21);
}

float FactorOf(int value)
{
    const float q = float(value) / 33000.0f - 1.0f;
    return float(double(q) * 0.5 + 1.0);
}

QByteArray ExpectedShadingAnswer(int selector)
{
    QByteArray a(4040, '\0');
    a[0] = char(0x0F);
    a[1] = char(0xC0);
    a[2] = char(selector);
    a[3] = char(48);
    a[4] = char(42);
    for (int k = 0; k < 2016; ++k) {
        const int v = ShadingValue(selector, k);
        a[8 + 2 * k] = char(v >> 8);
        a[9 + 2 * k] = char(v);
    }
    return a;
}

void ExpectedFactors(int selector, float factors[48][42])
{
    for (int k = 0; k < 2016; ++k)
        factors[k % 48][k / 48] = FactorOf(ShadingValue(selector, k));
}

QVector<int> ImageValues(const QByteArray &bytes)
{
    QVector<int> v(bytes.size() / 2);
    for (int i = 0; i < v.size(); ++i)
        v[i] = BYTE(bytes[2 * i]) << 8 | BYTE(bytes[2 * i + 1]);
    return v;
}

QVector<int> ExpectedRaw(const Kirel5Area &a, int selector)
{
    float factors[48][42];
    ExpectedFactors(selector, factors);
    const int r = a.resolution;
    const int width = a.width / r;
    const int height = a.height / r;
    const int inc = 10000 / r;
    QVector<int> raw(width * height);
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i) {
            const int bx = a.x0 / r + i;
            const int by = a.y0 / r + j;
            // The node nearest to the pixel: node n lies at bed pixel n inc - inc / 2.
            const int nx = qMin(int(std::lround((bx + inc / 2.0) / inc)), 47);
            const int ny = qMin(int(std::lround((by + inc / 2.0) / inc)), 41);
            const double v = double(PhantomS(qint64(bx) * r, qint64(by) * r)) * factors[nx][ny];
            raw[j * width + i] = int(qMin<long>(std::lround(v), 65535));
        }
    return raw;
}

int ReferenceCorrected(int raw, int bedX, int bedY, int pitch, const float factors[48][42])
{
    return int(unsigned(shadingreference::Corrected(raw, bedX, bedY, pitch, factors)));
}

QVector<int> RowsReversed(const QVector<int> &scanOrder, int rowLength)
{
    QVector<int> out(scanOrder.size());
    const int rows = scanOrder.size() / rowLength;
    for (int r = 0; r < rows; ++r)
        for (int i = 0; i < rowLength; ++i)
            out[(rows - 1 - r) * rowLength + i] = scanOrder[r * rowLength + i];
    return out;
}

QVector<int> ExpectedPlateRows(const PlateArea &a)
{
    // The reader's pitch and line length (232 mm on the VESK-1800II, 204.8 mm on the
    // VESK-5000), and whether two reader lines and pixels make one image pixel.
    const bool averaged =
        (a.model == 4 && a.resolution == 200) || (a.model == 8 && a.resolution == 100);
    const int pitch = averaged ? a.resolution / 2 : a.resolution;
    const int linePixels = (a.model == 8 ? 204800 : 232000) / pitch;
    const int rows = a.widthMm * 1000 / a.resolution;
    const int pixwidth = a.heightMm * 1000 / a.resolution;
    const int firstPixel = a.lowerTenths * 100 / pitch;
    const qint64 left = qint64(a.leftMm) * 1000;
    auto reader = [&](int line, int pixel) {
        return pixel < linePixels ? PhantomS(left + qint64(line) * pitch, qint64(pixel) * pitch)
                                  : -1;
    };
    QVector<int> out(rows * pixwidth);
    for (int r = 0; r < rows; ++r)
        for (int j = 0; j < pixwidth; ++j) {
            int v = 0;
            if (!averaged) {
                const int s = reader(r, firstPixel + j);
                v = s < 0 ? 0 : s;
            } else {
                const int p = firstPixel + 2 * j;
                const int a1 = reader(2 * r, p), a2 = reader(2 * r, p + 1);
                const int b1 = reader(2 * r + 1, p), b2 = reader(2 * r + 1, p + 1);
                if (a2 >= 0)
                    v = (a1 + a2 + b1 + b2) / 4;
            }
            out[r * pixwidth + j] = v;
        }
    return out;
}
