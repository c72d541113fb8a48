// The station's shared state: every record and global that the main window, the scan
// window, the protocol operations, the dialogs and the logs exchange.
//
// All of it has static storage for the whole run and is touched only on the GUI thread,
// so nothing here is locked. Which subsystem sets and which reads each field is written
// beside it.
#ifndef SCANSTATE_H
#define SCANSTATE_H

#include <QDataStream>
#include <QFile>
#include <QIcon>
#include <QPointF>
#include <QString>

#include <cstdint>

typedef uint8_t BYTE;
typedef uint32_t DWORD;
typedef int BOOL;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

class scantile;

// ---------------------------------------------------------------------------------------
// Scanner models (the values of ScannerType)
// ---------------------------------------------------------------------------------------
enum ScannerModel {
    kModelVESK1800 = 4, // VESK-1800II imaging-plate reader (VESK-1802 in its logs)
    kModelVESK5000 = 8, // VESK-5000 imaging-plate reader
    kModelKIREL3 = 10,  // KIREL-3000 fluorescence scanner
    kModelKIREL5 = 11,  // KIREL-5000/5100 fluorescence scanner
};

// Scan modes as stored in ScanTempl::mode.
enum ScanMode { kModeIP = 0, kModeIPV = 1, kModeFluorescence = 2, kModeDigitizing = 3 };

// Scan areas as stored in ScanTempl::area.
enum ScanAreaKind {
    kAreaGrid = 0,
    kArea3543 = 1,
    kArea2340 = 2,
    kArea2040 = 3,
    kArea2325 = 4,
    kArea2025 = 5,
};

// Tile grid of the scan-area picture: 18 columns by 16 rows.
constexpr int kTileColumns = 18;
constexpr int kTileRows = 16;

constexpr int kMaxTemplates = 100;
constexpr int kMaxFilterModules = 50;
constexpr int kTrayPositions = 4;
constexpr int kScanParamsSize = 30;
constexpr int kStatusLogLines = 10;

constexpr int kImageBufferSize = 3000000;   // one piece as received / as corrected
constexpr int kPreviewBufferSize = 1150000; // preview bytes; at most 575 x 500 are shown
constexpr int kShadingColumns = 48;
constexpr int kShadingRows = 42;
constexpr int kHistogramBins = 161;

// ---------------------------------------------------------------------------------------
// The scan in hand: geometry, preview and run state.
// ---------------------------------------------------------------------------------------
struct ScanSetup {
    qint32 xstart = 0;     // left edge, pixels at the chosen resolution
    qint32 ystart = 0;     // lower edge, pixels at the chosen resolution
    qint32 width = 0;      // scan width in pixels (KIREL-5000/5100 line length)
    qint32 height = 0;     // number of lines
    qint32 VESKxstart = 0; // left edge, mm (models 10, 8, 4)
    qint32 VESKystart = 0; // lower edge, 0.1 mm (models 10, 8, 4)
    qint32 VESKwidth = 0;  // mm
    qint32 VESKheight = 0; // mm
    int pixwidth = 0;      // pixels per line on models 10, 8, 4
    int bytelinewidth = 0; // bytes of one line in the scanner's buffer (models 10, 8, 4)
    int resolution = 0;    // pixel pitch in um: 200, 100, 50 or 25
    int latitude = 0;      // imaging-plate latitude: 4 or 5
    int sensitivity = 0;   // imaging-plate sensitivity: 1000, 4000, 10000 or 30000
    int shadingincr = 0;   // shading step in pixels
    int shadingincrhalf = 0;
    float weightdiag = 0;
    int bufferlines = 0; // image lines per buffer read
    int previewwidth = 0;
    int previewheight = 0;
    int previewslice = 0; // not used
    int previewposition = 0;
    float previewincrement = 0;
    float previewbuffer = 0;
    float previewscale = 0;
    int newpreviewflag = 0;
    int scanrunningflag = 0; // 1 reading, 0 finished, -1 stopped or ended by the scanner
    int scanrunningerror = 0;
    QString scansensekey;
    QString scansensecode;
    int sensekey = 0;
    int sensecode = 0;
    int extsensecode = 0;
    int scannerconfig = 0;
    int lastsensekey = 0;
    int lastsensecode = 0;
    int lastextsensecode = 0;
    qint32 bufferreadsize = 0;
    qint32 buffersize = 0;
    int bufptroffset = 0; // byte offset of the first wanted pixel in a reader line (10, 8, 4)
    int scanstatus = 0;   // image lines received so far
};

// The read-time and file-size estimate under the scan area.
struct ScanDuration {
    int estimate = 0; // seconds
    int LDstart = 0;  // laser start-up, seconds
    int SHGstart = 0; // start-up added to every estimate, seconds
    int tile = 0;     // read time of one tile at 200 um, seconds
    int scaninit = 0; // scan initialisation, seconds
    int resolution = 0;
    int num = 0; // selected tiles
    char duration[20] = {};
    float tilefsize = 0; // MB of one tile at 200 um
    float scanfsize = 0; // MB
    char filesize[20] = {};
};

// One stored scan setting. Record 0 is the "startup" record: the settings of the last scan.
struct ScanTempl {
    QString name;
    QString comment;
    int mode = 0;
    int area = 0;
    QPointF scancornerL;
    QPointF scancornerR;
    QPointF scancornerC;
    int resolution = 0;
    BYTE laserCh1 = 0;
    BYTE laserCh2 = 0;
    int filterCh1 = 0;
    int filterCh2 = 0;
    int filterType = 0; // not stored in the templates file
    QString filterLabel;
    int HVch1 = 0;
    int HVch2 = 0;
    QString folder;
};

// A filter module; also one position of the filter tray. A filter code of 0 is an empty
// channel.
struct FilterMod {
    QString filterlabel;
    int filterCh1 = 0;
    QString labelCh1;
    int filterCh2 = 0;
    QString labelCh2;
    int filterType = 0;
};

// The on/off system parameters (1 = on).
struct SystemParams {
    int rawdatasave = 0;
    int shadingdatasave = 0;
    int bootlog = 0;
    int scanlog = 0;
    int readlog = 0;
};

// ---------------------------------------------------------------------------------------
// Records and globals
// ---------------------------------------------------------------------------------------
extern ScanSetup newscansetup;
extern ScanDuration scanDur;
extern ScanTempl scanTemplate[kMaxTemplates];
extern int templatecount;
extern int templateload;
extern FilterMod filterModule[kMaxFilterModules];
extern int filtercount;
extern FilterMod filterTray[kTrayPositions];
extern int filtertraystatus;
extern SystemParams sysparams;

extern int ScannerType;
extern QString image_dir;
extern QString image_name;
extern QString image_comment;
extern int scan_HVch1;
extern int scan_HVch2;

extern BYTE laserCh1[6];
extern BYTE laserCh2[6];
extern int laserCh1index;
extern int laserCh2index;
extern QString laserCh1wavelength[6];
extern int LD685status;
extern int LD685manctrl;
extern int LD685count;
extern BYTE scanparams[kScanParamsSize];

// Tile grid of the scan area: column index first, row 0 at the top of the picture.
extern QPointF scanarea[kTileColumns][kTileRows];
extern scantile *item[kTileColumns][kTileRows];
extern int tileflag[kTileColumns][kTileRows];
extern int tiletotal;
extern QPointF scancornerL;
extern QPointF scancornerR;
extern QPointF scancornerC;
extern int scantileselX;
extern int scantileselY;

extern QIcon iconCh1Pos[kTrayPositions];
extern QIcon iconCh2Pos[kTrayPositions];
extern QString iconnameCh1Pos[kTrayPositions];
extern QString iconnameCh2Pos[kTrayPositions];

extern int KIREL5connectStatus; // -1 before the first connection test
extern int scanpassnumber;
extern int logeventnumber;
extern BYTE scannerstat[100];
extern char vendorID[10];       // INQUIRY vendor text, 8 characters (no terminator written)
extern char scannerID[20];      // INQUIRY product text, 16 or 14 characters by model
extern BYTE scannerconfig[100]; // once-only flags of the poll, indexed like scannerstat
extern BYTE LDconfig[3];
extern int lasermodule[6];
extern int laserboxindex;
extern int SCSIboardtempcol;
extern int scantimercount;
extern float LDboardtemp;
extern float LD685monit;
extern float SCSIboardtemp;

// Image, preview and shading buffers (one piece at a time; never a whole image).
extern unsigned char imagedata[kImageBufferSize];
extern unsigned char calimagedata[kImageBufferSize];
extern unsigned char scanimage[kPreviewBufferSize];
extern float shadingdata[kShadingColumns][kShadingRows];
extern float histval[kHistogramBins];

// Image output files of the scan in hand, open from the scan window's construction to the
// end of the scan.
extern QFile kirelscanfile_img;
extern QFile kirelscanfile_raw;
extern QFile kirelscanfile_inf;
extern QDataStream IMGdatastream;
extern QDataStream RAWdatastream;
extern QDataStream INFdatastream;
extern qint32 ScanFileSize;

// Scan timing: seconds since the epoch when the scanner first reported image data (0 until
// then; cleared by the scan window's start, set by the readouts) and at the last progress
// update, and the elapsed and remaining seconds shown by the scan window.
extern qint64 scanstart_epochsecs;
extern qint64 scancurrent_epochsecs;
extern int scanelapsed_secs;
extern int scanremain_secs;

// 1 when a line could not be written to the image or raw file. The scan window clears it
// when it creates the files; a readout whose write fails sets it, and the scan window then
// ends the scan with an error.
extern int scanwriteerror;

// Line and byte counters of the readouts' file writing loop (the line of the piece being
// written and the bytes of its row).
extern int linestep;
extern int widthstep;

// Log objects shared by the log writers.
extern QDataStream LOGdatastream;
extern QFile kirelscanfile_log;
extern QString QStatusString[kStatusLogLines];
extern QString QNewStatusString;

#endif // SCANSTATE_H
