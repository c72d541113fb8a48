#include "scanexport.h"

#include "safefile.h"

#include <tiffio.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr const char *kProgram = "scanstation-export";
constexpr const char *kKindKirel = "KIREL_IMAGE_FILE";
constexpr const char *kKindVesk = "VESK_IMAGE_FILE";
constexpr const char *kBitsPerPixel = "16";
constexpr const char *kHeaderSuffix = ".inf";

// Line numbers (from 1) of the header values the export needs; every model's header has
// at least kHeaderMinLines lines.
constexpr int kLineKind = 1;
constexpr int kLineName = 2;
constexpr int kLineComment = 3;
constexpr int kLinePixelSizeX = 4;
constexpr int kLinePixelSizeY = 5;
constexpr int kLineBits = 6;
constexpr int kLineWidth = 7;
constexpr int kLineHeight = 8;
constexpr int kHeaderMinLines = 12;

// Larger numbers are no scan of these scanners (the bed is under half a metre at 25 µm)
// and would only overflow the size arithmetic.
constexpr long kLargestNumber = 999999;
constexpr double kMicrometresPerCentimetre = 10000.0;
// Rows per TIFF strip: strips of about 64 KiB for the widest scans.
constexpr std::size_t kStripBytes = 65536;

// The temporary file of the export in progress, for the signal handler.
char pendingTemporary[PATH_MAX] = {};

std::string ErrnoText()
{
    return std::strerror(errno);
}

// libtiff reports through a handler; the last message becomes part of the export's error.
std::string lastTiffError;

void CollectTiffError(const char *module, const char *format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    lastTiffError = module ? std::string(module) + ": " + text : std::string(text);
}

bool EndsWith(const std::string &text, const std::string &suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A decimal number of 1 .. kLargestNumber, nothing else on the line.
bool PositiveNumber(const std::string &text, long &value)
{
    if (text.empty() || text.size() > 6)
        return false;
    long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v < 1 || v > kLargestNumber)
        return false;
    value = v;
    return true;
}

// The whole of a small regular file; false with the reason (a link, FIFO or device in its
// place is not opened).
bool SmallFileRead(const std::string &path, std::string &content, std::string &error)
{
    SafeFileError e;
    const int fd = SafeFileOpenRead(path.c_str(), e);
    if (fd < 0) {
        error = e.text;
        return false;
    }
    char chunk[4096];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        content.append(chunk, std::size_t(n));
    const int readError = errno;
    close(fd);
    if (n < 0) {
        error = path + ": " + std::strerror(readError);
        return false;
    }
    return true;
}

std::vector<std::string> HeaderLines(std::istream &in)
{
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        // The station ends lines with LF alone; a header edited elsewhere may have CR LF.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool NumberLine(const std::vector<std::string> &lines, int number, const char *meaning,
                const std::string &infPath, long &value, std::string &error)
{
    const std::string &text = lines[number - 1];
    if (PositiveNumber(text, value))
        return true;
    error = infPath + ": line " + std::to_string(number) + " (" + meaning + ") is \"" + text +
            "\", not a number from 1 to " + std::to_string(kLargestNumber);
    return false;
}

std::string DirectoryOf(const std::string &path)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// A new empty file beside `target`, with the permissions a plain new file gets.
int CreateTemporaryBeside(const std::string &target, std::string &temporary)
{
    const std::filesystem::path t(target);
    temporary =
        (std::filesystem::path(DirectoryOf(target)) / ("." + t.filename().string() + ".XXXXXX"))
            .string();
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0)
        return -1;
    temporary = name.data();
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    std::snprintf(pendingTemporary, sizeof pendingTemporary, "%s", temporary.c_str());
    // Run as root in the operator's folder, the TIFF is the operator's.
    SafeFileOwnLikeFolder(fd, temporary.c_str());
    return fd;
}

void ForgetTemporary(const std::string &temporary, bool remove)
{
    pendingTemporary[0] = '\0';
    if (remove)
        std::remove(temporary.c_str());
}

void SetTiffTags(TIFF *tif, const ScanHeader &header)
{
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(header.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(header.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    const std::size_t rowBytes = std::size_t(header.width) * 2;
    const std::uint32_t rowsPerStrip =
        std::uint32_t(rowBytes >= kStripBytes ? 1 : kStripBytes / rowBytes);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(kMicrometresPerCentimetre / header.pixelSizeX));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(kMicrometresPerCentimetre / header.pixelSizeY));
    TIFFSetField(tif, TIFFTAG_DOCUMENTNAME, header.name.c_str());
    if (!header.comment.empty())
        TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, header.comment.c_str());
    TIFFSetField(tif, TIFFTAG_SOFTWARE, kProgram);
}

// Copies the rows of the image file in file order, turning each big-endian pixel into the
// TIFF's own byte order.
bool WriteRows(TIFF *tif, std::FILE *image, const ScanHeader &header, const std::string &imagePath,
               std::string &error)
{
    const std::size_t width = std::size_t(header.width);
    std::vector<unsigned char> bytes(width * 2);
    std::vector<std::uint16_t> row(width);
    for (long y = 0; y < header.height; ++y) {
        if (std::fread(bytes.data(), 1, bytes.size(), image) != bytes.size()) {
            error = imagePath + ": ends in row " + std::to_string(y + 1) + " of " +
                    std::to_string(header.height);
            return false;
        }
        for (std::size_t x = 0; x < width; ++x)
            row[x] = std::uint16_t(bytes[2 * x] << 8 | bytes[2 * x + 1]);
        if (TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0) < 0) {
            error = "TIFF row " + std::to_string(y + 1) + ": " + lastTiffError;
            return false;
        }
    }
    return true;
}

void SignalRemovesTemporary(int sig)
{
    if (pendingTemporary[0])
        unlink(pendingTemporary);
    signal(sig, SIG_DFL);
    raise(sig);
}

void PrintUsage(std::ostream &s)
{
    s << "Usage: " << kProgram << " [--raw] [-o OUTPUT.tif] NAME.inf\n"
      << "       " << kProgram << " --imagej [--raw] NAME.inf\n"
      << "Writes the scan NAME.img (with --raw: NAME.raw) as a 16-bit greyscale TIFF,\n"
      << "NAME.tif (NAME_raw.tif), oriented as the station's preview, with the pixel size\n"
      << "from NAME.inf in its resolution tags. --imagej prints the ImageJ macro line that\n"
      << "opens the image file itself (File > Import > Raw).\n";
}

struct Options {
    bool imagej = false;
    bool raw = false;
    bool help = false;
    std::string output;
    std::string inf;
};

bool ParseArguments(const std::vector<std::string> &args, Options &o, std::string &error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a == "--imagej") {
            o.imagej = true;
        } else if (a == "--raw") {
            o.raw = true;
        } else if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "-o" || a == "--output") {
            if (i + 1 == args.size()) {
                error = a + " needs a file name";
                return false;
            }
            o.output = args[++i];
        } else if (!a.empty() && a[0] == '-') {
            error = "unknown option " + a;
            return false;
        } else if (!o.inf.empty()) {
            error = "one scan at a time: " + o.inf + " and " + a;
            return false;
        } else {
            o.inf = a;
        }
    }
    if (o.help)
        return true;
    if (o.inf.empty()) {
        error = "no scan named";
        return false;
    }
    if (!EndsWith(o.inf, kHeaderSuffix)) {
        error = o.inf + " is not a scan header (NAME.inf)";
        return false;
    }
    if (o.imagej && !o.output.empty()) {
        error = "--imagej writes no file; -o does not go with it";
        return false;
    }
    return true;
}

std::string BaseName(const std::string &infPath)
{
    return infPath.substr(0, infPath.size() - std::strlen(kHeaderSuffix));
}
} // namespace

bool ReadScanHeader(const std::string &infPath, ScanHeader &header, std::string &error)
{
    std::string content;
    if (!SmallFileRead(infPath, content, error))
        return false;
    std::istringstream in(content);
    const std::vector<std::string> lines = HeaderLines(in);
    if (lines.empty() || (lines[0] != kKindKirel && lines[0] != kKindVesk)) {
        error = infPath + ": not a scan header (the first line is neither " + kKindKirel + " nor " +
                kKindVesk + ")";
        return false;
    }
    if (int(lines.size()) < kHeaderMinLines) {
        error = infPath + ": the header ends after " + std::to_string(lines.size()) +
                " lines; a scan header has at least " + std::to_string(kHeaderMinLines);
        return false;
    }
    if (lines[kLineBits - 1] != kBitsPerPixel) {
        error =
            infPath + ": " + lines[kLineBits - 1] + " bits per pixel; the station's images have 16";
        return false;
    }
    ScanHeader h;
    h.kind = lines[kLineKind - 1];
    h.name = lines[kLineName - 1];
    h.comment = lines[kLineComment - 1];
    if (!NumberLine(lines, kLinePixelSizeX, "pixel size", infPath, h.pixelSizeX, error) ||
        !NumberLine(lines, kLinePixelSizeY, "pixel size", infPath, h.pixelSizeY, error) ||
        !NumberLine(lines, kLineWidth, "pixels per row", infPath, h.width, error) ||
        !NumberLine(lines, kLineHeight, "rows", infPath, h.height, error))
        return false;
    header = h;
    return true;
}

std::string ImageFileFor(const std::string &infPath, bool raw)
{
    return BaseName(infPath) + (raw ? ".raw" : ".img");
}

bool CheckImageFile(const std::string &imagePath, const ScanHeader &header, std::string &error)
{
    SafeFileError e;
    const int fd = SafeFileOpenRead(imagePath.c_str(), e);
    if (fd < 0) {
        error = e.text;
        return false;
    }
    struct stat st;
    const bool known = fstat(fd, &st) == 0;
    close(fd);
    if (!known) {
        error = imagePath + ": " + ErrnoText();
        return false;
    }
    const std::int64_t expected = header.imageBytes();
    if (std::int64_t(st.st_size) == expected)
        return true;
    error = imagePath + ": " + std::to_string(st.st_size) + " bytes, but its header describes " +
            std::to_string(header.width) + " x " + std::to_string(header.height) +
            " pixels of 16 bits (" + std::to_string(expected) + " bytes): " +
            (std::int64_t(st.st_size) < expected ? "the image is short"
                                                 : "the image and its header do not match");
    return false;
}

bool WriteScanTiff(const std::string &imagePath, const ScanHeader &header,
                   const std::string &tiffPath, std::string &error)
{
    SafeFileError e;
    const int imageFd = SafeFileOpenRead(imagePath.c_str(), e);
    std::FILE *image = imageFd < 0 ? nullptr : fdopen(imageFd, "rb");
    if (!image) {
        error = imageFd < 0 ? e.text : imagePath + ": " + ErrnoText();
        if (imageFd >= 0)
            close(imageFd);
        return false;
    }
    std::string temporary;
    const int fd = CreateTemporaryBeside(tiffPath, temporary);
    if (fd < 0) {
        error = tiffPath + ": cannot be written in " + DirectoryOf(tiffPath) + ": " + ErrnoText();
        std::fclose(image);
        return false;
    }

    TIFFSetErrorHandler(CollectTiffError);
    TIFFSetWarningHandler(nullptr);
    lastTiffError.clear();
    TIFF *tif = TIFFFdOpen(fd, temporary.c_str(), "w");
    bool ok = tif != nullptr;
    if (!ok) {
        error = tiffPath + ": " + lastTiffError;
        close(fd);
    } else {
        SetTiffTags(tif, header);
        ok = WriteRows(tif, image, header, imagePath, error);
        if (ok && !TIFFFlush(tif)) {
            error = tiffPath + ": " + (lastTiffError.empty() ? ErrnoText() : lastTiffError);
            ok = false;
        }
        TIFFClose(tif); // closes fd
    }
    std::fclose(image);

    // Only a regular file is replaced: a link, folder or device in the TIFF's place stays.
    if (ok && !SafeFileRenameOver(temporary.c_str(), tiffPath.c_str(), e)) {
        error = e.text;
        ok = false;
    }
    ForgetTemporary(temporary, !ok);
    return ok;
}

std::string ImageJImportLine(const std::string &imagePath, const ScanHeader &header)
{
    const std::string path = std::filesystem::absolute(imagePath).lexically_normal().string();
    // No "little-endian" key: the station's pixels are big-endian.
    return "run(\"Raw...\", \"open=[" + path +
           "] image=[16-bit Unsigned] width=" + std::to_string(header.width) +
           " height=" + std::to_string(header.height) +
           " offset=0 number=1 gap=0\"); run(\"Properties...\", \"unit=micron pixel_width=" +
           std::to_string(header.pixelSizeX) +
           " pixel_height=" + std::to_string(header.pixelSizeY) + "\");";
}

int ExportCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    Options o;
    std::string error;
    if (!ParseArguments(args, o, error)) {
        err << kProgram << ": " << error << "\n";
        PrintUsage(err);
        return 2;
    }
    if (o.help) {
        PrintUsage(out);
        return 0;
    }

    ScanHeader header;
    const std::string image = ImageFileFor(o.inf, o.raw);
    if (!ReadScanHeader(o.inf, header, error) || !CheckImageFile(image, header, error)) {
        err << kProgram << ": " << error << "\n";
        return 1;
    }
    if (o.imagej) {
        out << ImageJImportLine(image, header) << "\n";
        return 0;
    }
    const std::string tiff =
        !o.output.empty() ? o.output : BaseName(o.inf) + (o.raw ? "_raw.tif" : ".tif");
    if (!WriteScanTiff(image, header, tiff, error)) {
        err << kProgram << ": " << error << "\n";
        return 1;
    }
    out << tiff << ": " << header.width << " x " << header.height << " pixels of "
        << header.pixelSizeX << " µm\n";
    return 0;
}

void RemoveTemporaryFileOnSignals()
{
    for (int sig : {SIGINT, SIGHUP, SIGTERM})
        std::signal(sig, SignalRemovesTemporary);
}
