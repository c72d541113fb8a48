#include "readoutfixture.h"

#include "emulatedgpio.h"
#include "initiator.h"
#include "kirelscan.h"
#include "mainwindow.h"
#include "scanstate.h"
#include "scanwindow.h"
#include "scsicommands.h"

#include <QFile>

#include <algorithm>

qint64 ReadoutFixture::clockMs = 1700000000000;

namespace
{
constexpr int kReadTickMs = 50;

qint64 FixtureClock()
{
    return ReadoutFixture::clockMs;
}

// A preview of at most 575 across and 500 down for the sampling to fill; the readouts do
// not look at it.
void PreviewGeometry(int across, int down)
{
    ScanSetup &s = newscansetup;
    s.previewscale = std::min({1.0f, 575.0f / float(across), 500.0f / float(down)});
    s.previewwidth = int(float(across) * s.previewscale);
    s.previewheight = int(float(down) * s.previewscale);
    s.previewincrement = float(s.bufferlines) * s.previewscale;
}

// The request as Start Scan fills it, then what the scan window adds before the start.
void Request(const ScanChoice &choice, const expect::Area &a)
{
    if (!ScanRequestFill(choice, {a.x0, a.y0, a.width, a.height}))
        qFatal("resolution %d not offered", choice.resolution);
    ScanSetup &s = newscansetup;
    const bool kirel5 = ScannerType == kModelKIREL5;
    // Fluorescence rows are `width` pixels, reader rows `pixwidth`; the size leaves out one.
    ScanFileSize = kirel5 ? (s.height - 1) * s.width * 2 : (s.width - 1) * s.pixwidth * 2;
    PreviewGeometry(kirel5 ? s.width : s.height, kirel5 ? s.height : s.width);
    s.scanrunningflag = 1;
}
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
    ScanChoice choice;
    choice.mode = kModeFluorescence;
    choice.resolution = a.resolution;
    choice.HVch1 = 600;
    laserCh1[0] = BYTE(a.laser);
    Request(choice, AreaOf(a));
}

void ReadoutFixture::setup(const PlateArea &a)
{
    ScanChoice choice;
    choice.resolution = a.resolution;
    Request(choice, AreaOf(a));
}

QString ReadoutFixture::imagePath() const
{
    return image_dir + QStringLiteral("/") + image_name;
}

bool ReadoutFixture::filesOpen()
{
    const qint64 bytes = ScanImageBytes();
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
