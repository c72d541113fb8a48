// The files of one scan: the 16-bit image (.img) and its uncorrected copy (.raw), the text
// header (.inf) and the scanning log (.log).
//
// Every file of a scan is new: the name check refuses a name that any of them already has,
// and each is created only where nothing stands yet, never through a link (safeqfile.h).
//
// The image and raw files are made at full size before the scanner starts, because the
// readouts write each line at its row counted from the end of the file. The space is
// reserved on the disk at once (not a sparse file), so that a full disk shows up here and
// not in the middle of a scan; the files are opened unbuffered, so each line the readout
// writes reaches the disk in one write and a failed write shows on the file at once.
#include "scanwindow.h"

#include "logfiles.h"
#include "maker.h"
#include "safeqfile.h"
#include "scanstate.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{

constexpr qint64 kZeroBlockBytes = 1 << 20;
constexpr qint64 kBytesPerMB = 1000 * 1000;
constexpr int kLaserCode670 = 8;
// Room kept beside the image for the small files of the scan: the header and the shading
// data (4040 bytes) with room to spare, and, with the scanning log on, its few dated lines
// per piece the readout fetches.
constexpr qint64 kSmallFilesBytes = 64 * 1024;
constexpr qint64 kLogBytesPerPiece = 256;

// Every file a scan may make; a name is free only when none of them exists.
const char *const kScanExtensions[] = {".img", ".raw", ".inf", ".sd", ".log"};

const char kScanErrorIntro[] = "Scan Error:<ul><li>";
const char kNoRoomImage[] = "Not enough disk space for the image";
const char kNoRoomRaw[] = "Not enough disk space for the raw copy (.raw) of the image";

// The files this scan has made so far, so that a failed set-up removes only its own.
QStringList madeFiles;
// What could not be written beside the image, for the end of the scan.
QStringList fileNotes;

qint64 SmallFilesBytes()
{
    if (sysparams.readlog != 1)
        return kSmallFilesBytes;
    const qint64 pieces = ScanImageRows() / qMax(1, newscansetup.bufferlines) + 1;
    return kSmallFilesBytes + pieces * kLogBytesPerPiece;
}

qint64 DiskFreeBytes(const QString &folder)
{
    return QStorageInfo(folder).bytesAvailable();
}

QString Problem(const QString &what, const QString &detail)
{
    return QLatin1String(kScanErrorIntro) + what + QStringLiteral("</li><li>") + detail +
           QStringLiteral("</li></ul>");
}

// Where the file system cannot allocate (or the call is missing), the space is taken by
// writing zeros in large blocks.
int ZeroBlocksWrite(int fd, qint64 bytes)
{
    static char zeros[kZeroBlockBytes]; // never written, so it stays zero
    qint64 done = 0;
    while (done < bytes) {
        const qint64 n = qMin(kZeroBlockBytes, bytes - done);
        const ssize_t written = ::pwrite(fd, zeros, size_t(n), off_t(done));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += written;
    }
    return 0;
}

// Brings a new, empty file to `bytes`, every byte reading as zero and the space reserved.
// Returns 0 or the errno of the failure.
int SpaceReserve(int fd, qint64 bytes)
{
    int rc;
#ifdef __linux__
    do
        rc = ::fallocate(fd, 0, 0, off_t(bytes)) == 0 ? 0 : errno;
    while (rc == EINTR);
#else
    rc = ::posix_fallocate(fd, 0, off_t(bytes));
#endif
    if (rc == EOPNOTSUPP || rc == ENOSYS || rc == EINVAL)
        rc = ZeroBlocksWrite(fd, bytes);
    return rc;
}

// Opens (creating or truncating) one image file, reserves its full size and leaves it
// positioned at its end. Returns the problem text, empty when the file is ready.
QString ImageFileCreate(QFile &file, QDataStream &stream, const char *extension, qint64 bytes)
{
    file.setFileName(ScanFilePath(extension));
    SafeFileError error;
    const int fd =
        SafeFileOpenWrite(QFile::encodeName(file.fileName()).constData(), SafeWrite::New, error);
    if (fd < 0)
        return Problem(QStringLiteral("The image file cannot be created"),
                       QString::fromLocal8Bit(error.text.c_str()));
    madeFiles << file.fileName();
    const int rc = SpaceReserve(fd, bytes);
    if (rc != 0) {
        ::close(fd);
        const QString reason = rc != ENOSPC ? QStringLiteral("The image file cannot be filled")
                               : QLatin1String(extension) == QLatin1String(".raw")
                                   ? QLatin1String(kNoRoomRaw)
                                   : QLatin1String(kNoRoomImage);
        return Problem(reason, file.fileName() + QStringLiteral(": ") +
                                   QString::fromLocal8Bit(std::strerror(rc)));
    }
    QString problem;
    if (!SafeQFileAdopt(file, fd, QIODevice::Unbuffered, &problem))
        return Problem(QStringLiteral("The image file cannot be created"), problem);
    file.seek(bytes);
    stream.setDevice(&file);
    return QString();
}

QString InfDateLine(const QDateTime &created)
{
    return QLocale::c().toString(created, QStringLiteral("ddd MMM dd HH:mm:ss yyyy"));
}

QStringList InfLines(const QDateTime &created)
{
    const ScanSetup &s = newscansetup;
    const int mode = scanTemplate[0].mode;
    const bool fluorescenceMode = mode >= kModeFluorescence;
    const bool kirel5 = ScannerType == kModelKIREL5;
    auto n = [](qint64 v) { return QString::number(v); };

    QStringList lines;
    lines << (fluorescenceMode ? QStringLiteral("KIREL_IMAGE_FILE")
                               : QStringLiteral("VESK_IMAGE_FILE"));
    lines << image_name << image_comment;
    lines << n(s.resolution) << n(s.resolution) << QStringLiteral("16");
    if (kirel5) {
        lines << n(s.width) << n(s.height);
        lines << (fluorescenceMode ? QStringLiteral("1") : QStringLiteral("5000"))
              << QStringLiteral("5");
    } else {
        lines << n(s.height) << n(s.width) << n(s.sensitivity) << n(s.latitude);
    }
    lines << InfDateLine(created) << n(created.toMSecsSinceEpoch() / 1000);
    if (!kirel5)
        return lines;

    const int position = scanparams[8] - 1;
    const bool trayKnown = position >= 0 && position < kTrayPositions;
    const QString wavelength = LaserWavelengthText(scanparams[9]);
    const QString hv = n(scanTemplate[0].HVch1);
    lines << QString() << QStringLiteral("KIREL-5000");
    if (fluorescenceMode) {
        lines << QStringLiteral(" CH1 V:") + hv;
        lines << (trayKnown ? filterTray[position].labelCh1 : QString());
        lines << wavelength << QStringLiteral("*** more info ***") << QStringLiteral("6");
        lines << QStringLiteral("S,MODE=Fluorescence1Laser1Image") << QStringLiteral("S,PMT=CH1");
        lines << QStringLiteral("S,V=") + hv;
        // The filter installed at the chosen tray position, as the label line above.
        lines << QStringLiteral("H,FILTER=") + n(trayKnown ? filterTray[position].filterCh1 : 0);
    } else {
        lines << QString() << QStringLiteral("*** more info ***") << QStringLiteral("2");
    }
    lines << QStringLiteral("S,WAVE_LENGTH1=") + wavelength << QStringLiteral("H,SPOT=YES");
    return lines;
}

// A small file of the scan, created new and written whole, or not left at all. Returns
// false with the reason.
bool SmallFileCreate(const QString &path, const QByteArray &bytes, QString &problem)
{
    if (!SafeQFileWrite(path, SafeWrite::New, bytes, &problem))
        return false;
    madeFiles << path;
    return true;
}

// The header is put together in memory and written in one checked write.
QString InfFileCreate()
{
    kirelscanfile_inf.setFileName(ScanFilePath(".inf"));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    INFdatastream.setDevice(&buffer);
    for (const QString &line : InfLines(LogClock()))
        InfFileWrite(line);
    INFdatastream.setDevice(nullptr);
    QString problem;
    if (!SmallFileCreate(kirelscanfile_inf.fileName(), bytes, problem))
        return Problem(QStringLiteral("The header file cannot be written"), problem);
    return QString();
}

// A scanning log that cannot be made stops the scan, as the operator asked for it.
QString LogFileCreate()
{
    kirelscanfile_log.setFileName(ScanFilePath(".log"));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    LOGdatastream.setDevice(&buffer);
    ScanLogHeadFileWrite(QStringLiteral("Scanning Log File - ") +
                         QLatin1String(SCANSTATION_MAKER_WEB));
    LOGdatastream.setDevice(nullptr);
    QString problem;
    if (!SmallFileCreate(kirelscanfile_log.fileName(), bytes, problem))
        return Problem(QStringLiteral("The scanning log cannot be created"), problem);
    return QString();
}

} // namespace

qint64 (*ScanDiskFreeBytes)(const QString &folder) = &DiskFreeBytes;

QString ScanFilePath(const char *extension)
{
    return image_dir + QLatin1Char('/') + image_name + QLatin1String(extension);
}

int ScanImageRows()
{
    const ScanSetup &s = newscansetup;
    return ScannerType == kModelKIREL5 ? s.height : s.width;
}

qint64 ScanImageBytes()
{
    // Fluorescence: `height` rows of `width` pixels; readers: `width` rows of `pixwidth`.
    const ScanSetup &s = newscansetup;
    const qint64 rowPixels = ScannerType == kModelKIREL5 ? s.width : s.pixwidth;
    const qint64 bytes = ScanImageRows() * rowPixels * 2;
    // An empty area still gets a file of one byte.
    return bytes > 0 ? bytes : 1;
}

QString ScanNameTaken()
{
    // Anything at all counts, a dangling link included: none of it may be replaced.
    for (const char *extension : kScanExtensions) {
        const QFileInfo existing(ScanFilePath(extension));
        if (existing.exists() || existing.isSymLink())
            return existing.filePath();
    }
    return QString();
}

bool ScanRawKept()
{
    // The imaging-plate readers have no uncorrected copy of their lines.
    return sysparams.rawdatasave == 1 && ScannerType == kModelKIREL5;
}

void ScanFileNoteAdd(const QString &problem)
{
    fileNotes << problem;
}

QString ScanFileNotes()
{
    QStringList notes = fileNotes;
    const QString log = LogWriteProblem(ScanFilePath(".log"));
    if (sysparams.readlog == 1 && !log.isEmpty())
        notes << QStringLiteral("The scanning log is incomplete: ") + log;
    if (notes.isEmpty())
        return QString();
    return QStringLiteral("The image is kept; beside it:<ul><li>") +
           notes.join(QStringLiteral("</li><li>")) + QStringLiteral("</li></ul>");
}

QString ScanFilesCreate()
{
    scanwriteerror = 0;
    madeFiles.clear();
    fileNotes.clear();
    // A scan that never reached its end may have left its files open.
    IMGdatastream.setDevice(nullptr);
    RAWdatastream.setDevice(nullptr);
    kirelscanfile_img.close();
    kirelscanfile_raw.close();
    if (!QFileInfo(image_dir).isDir())
        return Problem(QStringLiteral("The destination folder does not exist"), image_dir);

    const bool raw = ScanRawKept();
    const qint64 imageBytes = ScanImageBytes();
    const qint64 withoutRaw = imageBytes + SmallFilesBytes();
    const qint64 needed = withoutRaw + (raw ? imageBytes : 0);
    const qint64 free = ScanDiskFreeBytes(image_dir);
    if (free >= 0 && free < needed)
        return Problem(QLatin1String(free < withoutRaw ? kNoRoomImage : kNoRoomRaw),
                       QStringLiteral("%1 MB needed, %2 MB free in %3")
                           .arg(double(needed) / kBytesPerMB, 0, 'f', 1)
                           .arg(double(free) / kBytesPerMB, 0, 'f', 1)
                           .arg(image_dir));

    QString problem = ImageFileCreate(kirelscanfile_img, IMGdatastream, ".img", imageBytes);
    if (problem.isEmpty() && raw)
        problem = ImageFileCreate(kirelscanfile_raw, RAWdatastream, ".raw", imageBytes);
    if (problem.isEmpty())
        problem = InfFileCreate();
    if (problem.isEmpty() && sysparams.readlog == 1)
        problem = LogFileCreate();
    if (!problem.isEmpty())
        ScanFilesRemove();
    return problem;
}

void ScanFileMadeAdd(const QString &path)
{
    madeFiles << path;
}

void ScanFilesRemove()
{
    IMGdatastream.setDevice(nullptr);
    RAWdatastream.setDevice(nullptr);
    kirelscanfile_img.close();
    kirelscanfile_raw.close();
    for (const QString &path : qAsConst(madeFiles))
        QFile::remove(path);
    madeFiles.clear();
}

int InfFileWrite(const QString &line)
{
    QByteArray bytes;
    bytes.reserve(line.size() + 1);
    for (const QChar c : line)
        bytes.append(char(c.unicode() & 0xFF));
    bytes.append('\n');
    INFdatastream.writeRawData(bytes.constData(), bytes.size());
    return 1;
}

QString LaserWavelengthText(int laserCode)
{
    // The table has entries for codes 0 to 5 only; the 670 nm laser's code is 8.
    if (laserCode == kLaserCode670)
        return QStringLiteral("670");
    if (laserCode >= 0 && laserCode < int(sizeof laserCh1wavelength / sizeof laserCh1wavelength[0]))
        return laserCh1wavelength[laserCode];
    return QString();
}
