// scanstation-export: turns a scan's image file (`.img`, or the uncorrected `.raw` copy) and
// its text header (`.inf`) into a TIFF that analysis programs open as they are.
//
// What the station leaves behind for one scan:
//   NAME.inf  text, one value per line (LF), one byte per character; line 1 is
//             "KIREL_IMAGE_FILE" or "VESK_IMAGE_FILE", line 4 and 5 the pixel size in µm,
//             line 6 the bits per pixel ("16"), line 7 the pixels per row, line 8 the rows.
//   NAME.img  headerless rows of 16-bit pixels, most significant byte first. The scanner's
//             first line is the last row of the file, so the file read top to bottom is
//             the picture the scan window's preview shows, first line at the bottom.
//
// The export, in order:
//   1. ReadScanHeader   the numbers of the `.inf`, refusing anything that is not a header;
//   2. CheckImageFile   the image file exists and holds exactly width x height x 2 bytes;
//   3. WriteScanTiff    16-bit grey rows in file order (top row first), values unchanged,
//                       pixel size in the resolution tags; written under a temporary name
//                       in the target folder and renamed at the end, so that a failed export
//                       leaves no partial TIFF and an earlier TIFF of that name intact.
// Files are opened as the station opens its own (log/safefile.h): nothing is read or
// written through a symbolic link at the file's own name, nor from a FIFO or a device, and
// the TIFF replaces only a regular file.
// ExportCommand is the whole command line; ImageJImportLine the macro line that opens the
// image file itself in ImageJ (File > Import > Raw).
#ifndef SCANEXPORT_H
#define SCANEXPORT_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct ScanHeader {
    std::string kind;    // line 1: "KIREL_IMAGE_FILE" or "VESK_IMAGE_FILE"
    std::string name;    // line 2: the scan's file name
    std::string comment; // line 3
    long pixelSizeX = 0; // line 4, µm
    long pixelSizeY = 0; // line 5, µm
    long width = 0;      // line 7: pixels per row of the image file
    long height = 0;     // line 8: rows of the image file

    std::int64_t imageBytes() const { return std::int64_t(width) * height * 2; }
};

// Reads and checks the header; on failure `error` says what is wrong, naming the file.
bool ReadScanHeader(const std::string &infPath, ScanHeader &header, std::string &error);

// The image file beside the header: NAME.img, or NAME.raw when `raw`.
std::string ImageFileFor(const std::string &infPath, bool raw);

// The image file exists and its size is the one the header describes.
bool CheckImageFile(const std::string &imagePath, const ScanHeader &header, std::string &error);

// Writes the TIFF of a checked pair. On failure no file named `tiffPath` has been created
// or changed, and no temporary file is left.
bool WriteScanTiff(const std::string &imagePath, const ScanHeader &header,
                   const std::string &tiffPath, std::string &error);

// One line of ImageJ macro code that imports the image file with its size and byte order
// and sets the pixel size.
std::string ImageJImportLine(const std::string &imagePath, const ScanHeader &header);

// The program: arguments without the program name; normal output to `out`, messages to
// `err`. Returns the exit code: 0 done, 1 the scan could not be exported, 2 bad usage.
int ExportCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

// Removes the temporary file of an export in progress when SIGINT, SIGHUP or SIGTERM ends
// the program.
void RemoveTemporaryFileOnSignals();

#endif // SCANEXPORT_H
