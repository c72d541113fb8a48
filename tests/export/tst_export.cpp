// scanstation-export: a phantom scan laid out as the station writes it (header lines, rows
// from the last one backwards, big-endian pixels) comes back from the TIFF pixel for pixel,
// in the preview's orientation, with its pixel size, or opens in ImageJ; broken pairs and bad
// command lines give a message and an exit code and leave no TIFF behind.
#include "scanexport.h"
#include "stationfixture.h"

#include <tiffio.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <optional>
#include <sstream>

namespace
{

// The header lines as the station writes them: 25 lines for a KIREL-5000/5100
// fluorescence scan, 12 for the imaging-plate readers.
enum class HeaderKind { Fluorescence, ImagingPlate };

struct Phantom {
    HeaderKind kind = HeaderKind::Fluorescence;
    int pixelSize = 200;
    int width = 0;  // pixels per scanned line
    int height = 0; // scanned lines
};

// Value of pixel x of the scanned line k: different in both bytes from its neighbours, and
// hitting the corners of the 16-bit range so that a swapped byte order shows.
quint16 PhantomValue(int k, int x)
{
    static const quint16 kCorners[] = {0x0000, 0x00FF, 0xFF00, 0xFFFF, 0x0100, 0x8001};
    if ((k + x) % 7 == 0)
        return kCorners[(k + x) % 6];
    return quint16(k * 4099 + x * 131 + 17);
}

QByteArray HeaderText(const Phantom &p)
{
    const bool fluorescence = p.kind == HeaderKind::Fluorescence;
    // Kind, name, comment, pixel size x and y, bits per pixel, width, height, sensitivity
    // (1 for fluorescence), latitude, date and its seconds.
    QByteArray text = QString("%1\nphantom\ngel 3, lane 2\n%2\n%2\n16\n%3\n%4\n%5\n5\n"
                              "Tue Mar 03 09:05:07 2026\n1772528707\n")
                          .arg(fluorescence ? "KIREL_IMAGE_FILE" : "VESK_IMAGE_FILE")
                          .arg(p.pixelSize)
                          .arg(p.width)
                          .arg(p.height)
                          .arg(fluorescence ? "1" : "4000")
                          .toLatin1();
    // The fluorescence scan's further lines, which the export passes over.
    if (fluorescence)
        text += "\nKIREL-5000\n CH1 V:600\nY510\n473\n*** more info ***\n6\n"
                "S,MODE=Fluorescence1Laser1Image\nS,PMT=CH1\nS,V=600\nH,FILTER=139\n"
                "S,WAVE_LENGTH1=473\nH,SPOT=YES\n";
    return text;
}

// The image file: the first scanned line in the last row, each later one a row earlier.
QByteArray ImageBytes(const Phantom &p)
{
    const int rowBytes = p.width * 2;
    QByteArray bytes(rowBytes * p.height, '\0');
    const int lastRow = (p.height - 1) * rowBytes;
    for (int k = 0; k < p.height; ++k) {
        char *row = bytes.data() + lastRow - k * rowBytes;
        for (int x = 0; x < p.width; ++x) {
            const quint16 v = PhantomValue(k, x);
            row[2 * x] = char(v >> 8);
            row[2 * x + 1] = char(v & 0xFF);
        }
    }
    return bytes;
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

struct Run {
    int code = -1;
    QString out;
    QString err;
};

Run Export(const QStringList &args)
{
    std::vector<std::string> a;
    for (const QString &s : args)
        a.push_back(s.toStdString());
    std::ostringstream out, err;
    Run r;
    r.code = ExportCommand(a, out, err);
    r.out = QString::fromStdString(out.str());
    r.err = QString::fromStdString(err.str());
    return r;
}

// Everything in the folder, hidden files too (a left-over temporary file is hidden).
QStringList FolderContents(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The scan of the broken pairs: 10 x 4 pixels, 80 bytes.
const Phantom kBroken{HeaderKind::Fluorescence, 100, 10, 4};

} // namespace

Q_DECLARE_METATYPE(Phantom)

class TestExport : public QObject
{
    Q_OBJECT

private slots:
    void phantomReadsBackExactly_data();
    void phantomReadsBackExactly();
    void brokenPairLeavesNoTiff_data();
    void brokenPairLeavesNoTiff();
    void commandLine_data();
    void commandLine();
    void headerReadFails();
};

void TestExport::phantomReadsBackExactly_data()
{
    QTest::addColumn<Phantom>("phantom");
    QTest::addColumn<bool>("raw");
    QTest::addColumn<bool>("imagej"); // the ImageJ line instead of a TIFF

    QTest::newRow("fluorescence 200 um")
        << Phantom{HeaderKind::Fluorescence, 200, 23, 17} << false << false;
    QTest::newRow("imaging plate 25 um")
        << Phantom{HeaderKind::ImagingPlate, 25, 301, 9} << false << false;
    QTest::newRow("raw copy 50 um")
        << Phantom{HeaderKind::Fluorescence, 50, 12, 30} << true << false;
    // A header number may be anything from 1 to 999999, the largest included.
    QTest::newRow("one pixel of 999999 um")
        << Phantom{HeaderKind::ImagingPlate, 999999, 1, 1} << false << false;
    // Rows longer than a strip: one row per strip.
    QTest::newRow("rows of 40000 pixels")
        << Phantom{HeaderKind::Fluorescence, 25, 40000, 3} << false << false;
    QTest::newRow("ImageJ line, raw copy 25 um")
        << Phantom{HeaderKind::ImagingPlate, 25, 8160, 3} << true << true;
}

void TestExport::phantomReadsBackExactly()
{
    QFETCH(Phantom, phantom);
    QFETCH(bool, raw);
    QFETCH(bool, imagej);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString base = dir.filePath("phantom");
    const QString image = base + (raw ? ".raw" : ".img");
    QVERIFY(WriteFile(base + ".inf", HeaderText(phantom)));
    QVERIFY(WriteFile(image, ImageBytes(phantom)));

    QStringList args{base + ".inf"};
    if (raw)
        args.prepend("--raw");
    if (imagej)
        args.prepend("--imagej");
    const Run r = Export(args);
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.err, QString());
    const QString tiffPath = base + (raw ? "_raw.tif" : ".tif");
    QStringList expectedFiles{"phantom.inf", QFileInfo(image).fileName()};
    if (!imagej)
        expectedFiles << QFileInfo(tiffPath).fileName();
    expectedFiles.sort();
    QCOMPARE(FolderContents(dir.path()), expectedFiles);
    if (imagej) {
        QCOMPARE(r.out, QString("run(\"Raw...\", \"open=[%1] image=[16-bit Unsigned] width=%2 "
                                "height=%3 offset=0 number=1 gap=0\"); run(\"Properties...\", "
                                "\"unit=micron pixel_width=%4 pixel_height=%4\");\n")
                            .arg(image)
                            .arg(phantom.width)
                            .arg(phantom.height)
                            .arg(phantom.pixelSize));
        return;
    }
    QVERIFY(r.out.startsWith(tiffPath + ": "));

    TIFF *tif = TIFFOpen(tiffPath.toLocal8Bit().constData(), "r");
    QVERIFY(tif);
    quint32 width = 0, height = 0;
    float xres = 0, yres = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres);
    QCOMPARE(int(width), phantom.width);
    QCOMPARE(int(height), phantom.height);
    // 16-bit grey, unsigned, top row first, resolution per centimetre.
    const std::pair<ttag_t, int> tags[] = {{TIFFTAG_BITSPERSAMPLE, 16},
                                           {TIFFTAG_SAMPLESPERPIXEL, 1},
                                           {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK},
                                           {TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT},
                                           {TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT},
                                           {TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER}};
    for (const auto &tag : tags) {
        quint16 value = 0;
        TIFFGetField(tif, tag.first, &value);
        QCOMPARE(int(value), tag.second);
    }
    // Pixels per centimetre: 10000 µm / pixel size.
    QCOMPARE(xres, float(10000.0 / phantom.pixelSize));
    QCOMPARE(yres, float(10000.0 / phantom.pixelSize));

    // Top row first, as the preview shows it: the first scanned line is the bottom row.
    std::vector<quint16> row(phantom.width);
    for (int y = 0; y < phantom.height; ++y) {
        QCOMPARE(TIFFReadScanline(tif, row.data(), quint32(y), 0), 1);
        for (int x = 0; x < phantom.width; ++x)
            QCOMPARE(row[x], PhantomValue(phantom.height - 1 - y, x));
    }
    TIFFClose(tif);
}

void TestExport::brokenPairLeavesNoTiff_data()
{
    QTest::addColumn<QByteArray>("header"); // null: no .inf
    QTest::addColumn<int>("imageBytes");    // -1: no .img; its first bytes are the phantom's
    QTest::addColumn<QString>("message");

    const QByteArray text = HeaderText(kBroken);
    auto replaceLine = [text](int number, const QByteArray &line) {
        QList<QByteArray> lines = text.split('\n');
        lines[number - 1] = line;
        return lines.join('\n');
    };
    const QString sizes = "scan.img: %1 bytes, but its header describes 10 x 4 pixels of 16 bits "
                          "(80 bytes): the image %2";
    QTest::newRow("no header") << QByteArray() << 80 << "scan.inf: No such file or directory";
    QTest::newRow("no image") << text << -1 << "scan.img: No such file or directory";
    QTest::newRow("image one byte short") << text << 79 << sizes.arg(79).arg("is short");
    QTest::newRow("image of another size")
        << text << 100 << sizes.arg(100).arg("and its header do not match");
    QTest::newRow("header cut after 11 lines")
        << text.split('\n').mid(0, 11).join('\n') + '\n'
        << 80 << "scan.inf: the header ends after 11 lines; a scan header has at least 12";
    QTest::newRow("not a scan header")
        << replaceLine(1, "P5") << 80 << "scan.inf: not a scan header";
    QTest::newRow("8 bits per pixel") << replaceLine(6, "8") << 80 << "scan.inf: 8 bits per pixel";
    QTest::newRow("width 0") << replaceLine(7, "0") << 1
                             << "scan.inf: line 7 (pixels per row) is \"0\"";
    QTest::newRow("height not a number")
        << replaceLine(8, "4 lines") << 80 << "scan.inf: line 8 (rows) is \"4 lines\"";
    // The whole TIFF is written, then cannot take the name: nothing may stay behind.
    QTest::newRow("output name taken by a folder") << text << 80 << "scan.tif is a folder";
    // Nothing is read or written through what an attacker put in a file's place.
    QTest::newRow("link in place of the TIFF") << text << 80 << "scan.tif is a symbolic link";
    QTest::newRow("link in place of the header")
        << QByteArray() << 80 << "scan.inf is a symbolic link";
    QTest::newRow("FIFO in place of the header") << QByteArray() << 80 << "scan.inf is a FIFO";
    QTest::newRow("dangling link in place of the image")
        << text << -1 << "scan.img is a symbolic link";
}

void TestExport::brokenPairLeavesNoTiff()
{
    QFETCH(QByteArray, header);
    QFETCH(int, imageBytes);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!header.isNull())
        QVERIFY(WriteFile(dir.filePath("scan.inf"), header));
    if (imageBytes >= 0)
        QVERIFY(WriteFile(dir.filePath("scan.img"),
                          (ImageBytes(kBroken) + QByteArray(20, '\0')).left(imageBytes)));
    // "scan.X is a ...": that obstacle stands at scan.X.
    const QString at = dir.filePath(message.section(' ', 0, 0));
    QTemporaryDir outside;
    std::optional<Obstacle> obstacle;
    for (Obstacle o : {Obstacle::Folder, Obstacle::Fifo,
                       imageBytes < 0 ? Obstacle::DanglingLink : Obstacle::Link})
        if (message.endsWith(ObstacleKind(o)))
            obstacle = o;
    if (obstacle)
        QVERIFY(ObstaclePlace(*obstacle, at, outside.path()));
    const QStringList before = FolderContents(dir.path());

    const Run r = Export({dir.filePath("scan.inf")});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.out, QString());
    QVERIFY2(r.err.startsWith("scanstation-export: " + dir.path() + "/"), qPrintable(r.err));
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QVERIFY(r.err.endsWith('\n'));
    QCOMPARE(FolderContents(dir.path()), before);
    if (obstacle)
        QVERIFY(ObstacleUntouched(*obstacle, at, outside.path()));

    // An earlier TIFF of that name is left as it was.
    if (!obstacle) {
        QVERIFY(WriteFile(dir.filePath("scan.tif"), "earlier export"));
        QCOMPARE(Export({dir.filePath("scan.inf")}).code, 1);
        QFile earlier(dir.filePath("scan.tif"));
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        QCOMPARE(earlier.readAll(), QByteArray("earlier export"));
    }
}

void TestExport::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    QTest::newRow("nothing") << QStringList() << 2 << "no scan named";
    QTest::newRow("unknown option")
        << QStringList{"--tiff", "a.inf"} << 2 << "unknown option --tiff";
    QTest::newRow("two scans") << QStringList{"a.inf", "b.inf"} << 2
                               << "one scan at a time: a.inf and b.inf";
    QTest::newRow("image named instead of header")
        << QStringList{"a.img"} << 2 << "a.img is not a scan header (NAME.inf)";
    QTest::newRow("output without name")
        << QStringList{"a.inf", "-o"} << 2 << "-o needs a file name";
    QTest::newRow("imagej with output") << QStringList{"--imagej", "-o", "x.tif", "a.inf"} << 2
                                        << "--imagej writes no file; -o does not go with it";
    QTest::newRow("help") << QStringList{"--help"} << 0 << "";
}

void TestExport::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, message);
    const Run r = Export(args);
    QCOMPARE(r.code, code);
    if (code == 0) {
        QVERIFY(r.out.startsWith("Usage: scanstation-export "));
        QCOMPARE(r.err, QString());
    } else {
        QVERIFY2(r.err.startsWith("scanstation-export: " + message + "\nUsage: "),
                 qPrintable(r.err));
        QCOMPARE(r.out, QString());
    }
}

// A header whose reading fails part way (the process's own memory is a regular file that
// cannot be read at address 0) is refused with the system's reason, not taken for a short
// header.
void TestExport::headerReadFails()
{
    ScanHeader header;
    std::string error;
    QVERIFY(!ReadScanHeader("/proc/self/mem", header, error));
    QCOMPARE(QString::fromStdString(error), QString("/proc/self/mem: ") + std::strerror(EIO));
}

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
