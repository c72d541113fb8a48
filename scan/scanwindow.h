// The scan run window: the modal dialog that runs one scan, shows its progress, preview and
// histogram, and owns the image files while the scan runs.
//
// One window per scan, opened by Start Scan with exec():
//  1. The constructor (scanwindow.cpp) shapes the form for the model, computes the preview
//     geometry, creates the .img (zero-filled, space reserved), .raw, .inf and .log files
//     (scanwindow_files.cpp) and arms the 500 ms start timer.
//  2. ScannerStart (scanwindow_run.cpp) starts the scan once and starts the read timer; a
//     scan whose files could not be made, or a model without a scan path, ends here.
//  3. On each tick ScannerRead / VESK18ScannerRead drain every whole piece the scanner
//     holds through the readout, then show the progress, the preview and the histogram
//     (scanwindow_preview.cpp).
//  4. End: stop the read timer, close the files, tell the operator how the scan ended and
//     close the window. The Stop button asks first and lets the next pass end the scan.
//
// The readouts write the image lines into the files made here and apply the preview and
// histogram rules declared below to every piece they read.
#ifndef SCANWINDOW_H
#define SCANWINDOW_H

#include "scanstate.h"

#include <QDialog>
#include <QString>

class QGraphicsLineItem;
class QGraphicsPixmapItem;
class QGraphicsRectItem;
class QGraphicsScene;
class QSocketNotifier;
class QTimer;

namespace Ui
{
class ScanWindow;
}

// ---------------------------------------------------------------------------------------
// The scanner operations the window drives. The station runs the scanner's own (a
// kirel5scan object per call); a test or a tool may put stand-ins here.
// ---------------------------------------------------------------------------------------
struct ScanOperations {
    int (*fluorescenceStart)(); // KIREL-5000/5100 scan start
    int (*readerStart)();       // imaging-plate scan start (phase set to 0 first)
    int (*fluorescenceRead)();  // one KIREL-5000/5100 piece
    int (*vesk1800Read)();      // one VESK-1800II step
    int (*vesk5000Read)();      // one VESK-5000 step
    int (*connectionTest)();    // the KIREL-5000/5100 connection test after a scan
    int (*busReset)();          // a bus reset pulse: a start that failed, a reader left mid-scan
};
ScanOperations ScannerScanOperations();
extern ScanOperations scanOperations;

// The clock of the progress display (ms since the epoch); tests put their own here.
extern qint64 (*ScanClockMs)();
// Free bytes on the disk of a folder; tests put their own here.
extern qint64 (*ScanDiskFreeBytes)(const QString &folder);
// Monotonic milliseconds of the no-data watch; tests put their own here.
extern qint64 (*ScanWatchMs)();
// Ends the event loops with the process's exit status once a signal has cut a scan short
// (QCoreApplication::exit); tests put their own here.
extern void (*ScanProcessExit)(int status);
// The signal that cut the last scan short (its end recorded, the process ending with
// 128 + the signal), 0 when none.
extern int ScanCutShortSignal;

// A scan that receives no image line for this long has stopped, and so has a
// KIREL-5000/5100 scan whose bus stayed held (-37 with no sense) for this many reads in a
// row (each read waits about four seconds for the bus). The limit is four times the longest
// wait for data that the scanners' own estimate allows: 35 s of start-up and initialisation
// before the first line (SHGstart + scaninit), while the slowest piece, 40 lines across
// the whole bed at 25 um, comes every 12 s; a reader's 1.5 s settling and its reselection
// per piece are far shorter.
constexpr qint64 kScanNoDataLimitMs = 120000;
constexpr int kBusHeldReadsLimit = 3;

// ---------------------------------------------------------------------------------------
// Display state of the preview and histogram pictures
// ---------------------------------------------------------------------------------------
extern int displaycolour; // 0 grey, 1 red, 2 green, 3 blue
extern int displaybkg;    // 255 white background, 0 black background
extern int scanprevInit;  // 1 once the picture item of its kind exists in this window
extern int histInit;
extern int histgradbarInit;
extern QGraphicsPixmapItem *scanpreviewItem;
extern QGraphicsPixmapItem *histItem;
extern QGraphicsPixmapItem *histgradbarItem;
extern int QLmax; // quality-level statistics: reset per window, not shown
extern int QLaverage;
extern int QLcount;
extern qint64 QLtotal;

constexpr int kPreviewMaxWidth = 575;
constexpr int kPreviewMaxHeight = 500;
constexpr int kHistogramShownBins = 160;
constexpr int kHistogramHeight = 80;

// ---------------------------------------------------------------------------------------
// Preview and histogram rules, applied by the readouts to every piece
// ---------------------------------------------------------------------------------------
// The preview byte of a 16-bit pixel: its high byte, rounded up when a remainder is left.
inline BYTE PreviewByte(BYTE msb, BYTE lsb)
{
    return BYTE(msb + (msb <= 254 && lsb != 0 ? 1 : 0));
}

// The histogram bin of a pixel value (0 .. 65535): 160 bins, the top value in bin 160.
inline int HistogramBin(double value)
{
    const int bin = int(value * 160.0 / 65535.0);
    return bin > kHistogramShownBins ? kHistogramShownBins : bin;
}

// Counts `lineCount` lines of `pixels` 16-bit big-endian values, `lineBytes` apart, into
// histval; zero pixels are not counted.
void HistogramLinesCount(const BYTE *lines, int lineCount, int pixels, int lineBytes);

// Samples `lineCount` lines of `pixels` 16-bit big-endian values, `lineBytes` apart, into
// the preview buffer at the rows of image lines scanstatus + 0 .., then books the piece:
// previewbuffer grows by previewincrement, scanstatus by bufferlines, and newpreviewflag is
// set once a whole preview row is waiting.
void PreviewLinesSample(const BYTE *lines, int lineCount, int pixels, int lineBytes);
void PreviewPieceBook();

// The colour of a preview byte in a display colour on a background: red, green, blue.
void PreviewColour(int value, int colour, int background, BYTE rgb[3]);

// ---------------------------------------------------------------------------------------
// Progress texts
// ---------------------------------------------------------------------------------------
// "59sec", "1min 0sec", "1hrs 2min 5sec".
QString ScanTimeText(int seconds);
// Seconds left after `elapsed` seconds with `lines` of `total` lines read (0 before any).
int ScanRemainSecs(int elapsed, int lines, int total);

// ---------------------------------------------------------------------------------------
// Files of the scan in hand
// ---------------------------------------------------------------------------------------
// image_dir + "/" + image_name + extension (".img", ".raw", ".inf", ".log").
QString ScanFilePath(const char *extension);
// Bytes of the .img file (and of the .raw file): rows x pixels per row x 2.
qint64 ScanImageBytes();
// The image rows the scan in hand delivers: the KIREL-5000/5100 scans `height` rows, the
// readers `width`.
int ScanImageRows();
// The first file of the scan's name that already exists (any of .img, .raw, .inf, .sd,
// .log, whatever it is); empty when the name is free.
QString ScanNameTaken();
// The scan keeps a .raw copy: asked for in the system parameters, and a fluorescence scan.
bool ScanRawKept();
// A file beside the image (the shading data, ...) that could not be written; the end of
// the scan tells the operator, the image stays good.
void ScanFileNoteAdd(const QString &problem);
// The notes of this scan and a failed scanning log, as a box text; empty when all is well.
QString ScanFileNotes();
// Creates the .img (and .raw) at full size, zero-read and reserved, left open at their
// end with their streams attached; then writes the .inf and the .log header. Returns what
// went wrong for the operator, empty when every file is ready; on failure nothing it made
// is left behind.
QString ScanFilesCreate();
// A file the start made beside those of ScanFilesCreate (the shading data): removed with
// them when the scan does not start, so that the name can be used again.
void ScanFileMadeAdd(const QString &path);
// Removes the files that the last ScanFilesCreate (and the start) made, closing the image
// and raw files first.
void ScanFilesRemove();
// The record of an ending, once the image files are closed: with the scanning log on its
// last line ("END: " + how + the lines kept of the lines expected) and, for a scan that
// did not complete, one error-log line naming the image and its lines, so that an image
// of full size with rows missing is never taken for a finished one.
void ScanEndRecord(const QString &how, bool complete);
// Appends one line to the .inf file through INFdatastream; returns 1.
int InfFileWrite(const QString &line);
// The .inf wavelength text of a laser code (8 is the 670 nm laser).
QString LaserWavelengthText(int laserCode);

class ScanWindow : public QDialog
{
    Q_OBJECT

public:
    explicit ScanWindow(QWidget *parent = nullptr);
    ~ScanWindow() override;

    // Escape and the close button: while the scan runs they ask as Stop does.
    void reject() override;

    // Why the files of this scan could not be made; empty when they are ready.
    QString fileProblem() const { return filesProblem; }

public slots:
    void ScannerStart();
    void ScannerRead();
    void VESK18ScannerRead();
    void on_pushButton_stop_clicked();
    void on_comboBox_DisplayColour_currentIndexChanged(int index);
    void on_comboBox_DisplayBkg_currentIndexChanged(int index);
    int HistogramRefresh();
    int PreviewRefresh();

private:
    // Set-up (scanwindow.cpp)
    void Kirel5LabelsShow();
    void ReaderLabelsShow();
    void PreviewGeometrySet();
    void LaserDiodeReadingsShow();

    // Run (scanwindow_run.cpp)
    void SignalWatchStart();
    void SignalTaken();
    void EndBegin();
    void ScanNotStarted(const QString &title = QString(), const QString &text = QString());
    void StartFailed(int code);
    bool NoDataCheck(int code);
    void ReadPass(int (*read)(), bool fluorescence);
    void ProgressShow(bool fluorescence);
    void BoardTemperatureShow();
    bool WriteCheck();
    void EndHandle(bool fluorescence);

    // Pictures (scanwindow_preview.cpp)
    void RefreshCycle();
    void PreviewFinish();
    void HistogramPictureShow();

    QGraphicsLineItem *histline = nullptr; // never created
    Ui::ScanWindow *ui = nullptr;
    QGraphicsScene *scene = nullptr;
    QGraphicsScene *scene_hist = nullptr;
    QGraphicsScene *scene_gradbar = nullptr;
    QGraphicsRectItem *rectangle = nullptr;
    QTimer *scanstarttimer = nullptr;
    QTimer *scanreadtimer = nullptr;

    QString filesProblem;
    QString writeProblem;   // why a line could not be written, for the end box
    QString dataProblem;    // the scanner stopped sending lines, for the end box
    bool scanEnded = false; // the end handling has run: no further pass, no second boxes
    // The no-data watch: when scanstatus last moved, and reads in a row with the bus held.
    qint64 lastDataMs = 0;
    int lastDataLines = 0;
    int busHeldReads = 0;
    int signalNumber = 0; // the signal that cut this scan short
    QSocketNotifier *signalNotifier = nullptr;
};

#endif // SCANWINDOW_H
