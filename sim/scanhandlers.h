// The virtual scanner scans: the commands of a scan on top of a model's command set, the
// picture of phantom.h as image data, a line pace on an injectable clock, and the faults a
// scan must survive.
//
// KIREL-5000/5100 (model 11):
//   15h MODE SELECT        DATA OUT of CDB byte 4 bytes (30): the parameter block; byte 7
//                          resolution R (um), 9 laser code, 16-18 left edge, 19-21 lower
//                          edge, 22-24 width, 25-27 height (um, big-endian)
//   E0h shading read       DATA IN of 4040 bytes for selector tt (CDB byte 5): 8 header bytes
//                          (0Fh C0h, tt, 48, 42, 0, 0, 0), then the 2016 values of
//                          ShadingTableValue(tt, k), most significant byte first
//   1Bh START              GOOD; the scan begins: `width` = width / R pixels per line,
//                          `height` = height / R lines, one line ready every lineMs
//   34h GET DATA BUFFER    DATA IN of 20 bytes: 6-8 free space, 9-11 image bytes waiting
//       STATUS             (ready lines not yet handed out)
//   28h READ(10)           DATA IN of CDB bytes 6-8 bytes, the next bytes of the image in
//                          scan order; more than is waiting answers ILLEGAL REQUEST
//   Pixel i of scan line j lies at x = (xstart + i) R, y = (ystart + j) R (xstart, ystart
//   the edges in pixels); its value is S(x, y) times the factor of the shading node nearest
//   to it (node n at bed pixel n inc - inc / 2, inc = 10000 / R, indices clamped to the
//   48 x 42 table; the table of the laser: code 1 -> 3, 2 -> 4, 4 -> 5, 8 -> 6, else 0),
//   rounded, at most 65535; 16 bits, most significant byte first.
//
// Imaging-plate readers (models 4 and 8):
//   15h MODE SELECT        DATA OUT of 12 bytes: byte 1 the reader's pitch Rr (um), 3-4
//                          the plate's left edge, 5-6 its width (mm, big-endian)
//   1Bh START              SAVE DATA POINTER, DISCONNECT; the reader reselects when the start
//                          is done (IDENTIFY, GOOD, COMMAND COMPLETE)
//   28h READ(10)           SAVE DATA POINTER, DISCONNECT; the reader reselects once the
//                          piece is read: IDENTIFY, DATA IN of the piece, GOOD, COMMAND
//                          COMPLETE
//   The plate is read in reader lines across it: width x 1000 / Rr lines, each of the
//   reader's full line of 232 mm (VESK-1800II) or 204.8 mm (VESK-5000) in pixels of Rr:
//     VESK-1800II  Rr 50: 4640 pixels (9280 bytes)    Rr 100: 2320 pixels (4640 bytes)
//     VESK-5000    Rr 25: 8192 pixels (16384 bytes)   Rr 50: 4096 pixels (8192 bytes)
//   Pixel p of reader line l lies at x = left edge + l Rr, y = p Rr; its value is S(x, y).
//   A piece is the next (CDB bytes 6-8) bytes of the lines in reading order, lines past
//   the end being 0. It goes out in one, two or four parts (VESK-1800II: two at Rr 50;
//   VESK-5000: four at Rr 25, two at Rr 50), the LAST part first: the station takes the
//   parts one DATA IN transfer each and puts the first one it receives at the back.
//
// Pace: with lineMs 0 every line is ready at once; otherwise line j is ready lineMs (j + 1)
// after START on the clock (ms; a QElapsedTimer unless one is handed in). A plate reader
// holds a reselection until its piece is ready.
//
// Faults (ScanFault), each striking once, at the first occasion after `faultAfterLines`
// lines have been handed out:
//   sense-error      34h answers its data with CHECK CONDITION, MEDIUM ERROR (03h 11h 00h)
//   illegal-request  34h answers its data with CHECK CONDITION, ILLEGAL REQUEST (05h 24h 00h)
//   bus-busy         after a READ the scanner holds BSY for `busHeldSamples` samples of the
//                    bus, then reports HARDWARE ERROR (04h 44h 00h) in its sense. A fault
//                    of the KIREL-5000/5100 (its held-bus ending); a plate reader waiting
//                    for its reselection samples the bus once per 50 ms tick, so there the
//                    bus stays held for busHeldSamples ticks and the scan only waits
//   data-cut         a READ's DATA IN ends after `cutBytes` bytes and the scanner leaves the
//                    bus; the piece is not used up and goes out again on the next READ
//   no-plate         imaging-plate readers: the plate is gone when the scan is asked for
//                    (scanRequested()): the next command but INQUIRY and REQUEST SENSE,
//                    the start's TEST UNIT READY, answers CHECK CONDITION, NOT READY, 21h
//   power-off        once the lines are handed out and the bus is free, the scanner is
//                    switched off: every line released, no answer to selection, no
//                    reselection
//   stall            the scanner answers every command but has no line after those:
//                    GET DATA BUFFER STATUS reports nothing more waiting, a plate reader
//                    never reselects with the next piece
//   start-fails      START ends in CHECK CONDITION, HARDWARE ERROR (04h 44h 00h); nothing
//                    is scanned
//
// A bus reset from the station (RST) ends the scan the scanner is running: a plate reader
// forgets the piece it was reading and the reselection it would make.
//
// Use: VirtualScan scan(scanner, model, options, clock); scan.install(); the scan object
// must outlive the scanner's use on the bus (it sits between the register block and the
// scanner to keep the pace).
#ifndef SCANHANDLERS_H
#define SCANHANDLERS_H

#include "phantom.h"
#include "virtualscanner.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QVector>

#include <functional>

enum class ScanFault {
    None,
    SenseError,
    IllegalRequestOnce,
    BusHeldBusy,
    DataInCutShort,
    NoPlate,
    PowerOff,
    Stall,
    StartFails,
};

struct ScanFaultInfo {
    ScanFault fault;
    const char *name;
    const char *description;
};
const QVector<ScanFaultInfo> &ScanFaults();
bool ScanFaultFromName(const QString &name, ScanFault *fault);

struct ScanOptions {
    int lineMs = 0;
    ScanFault fault = ScanFault::None;
    int faultAfterLines = 0;
    int cutBytes = 1000;
    int busHeldSamples = 6000;
};

// Where the reader's line ends: bytes of one reader line at a pitch (0 when unknown).
int ReaderLineBytes(int model, int readerPitch);
// DATA IN parts of a piece at a reader pitch.
int ReaderPieceParts(int model, int readerPitch);

class VirtualScan : public BusDevice
{
public:
    using Clock = std::function<qint64()>;

    VirtualScan(VirtualScanner &scanner, int model, const ScanOptions &options = {},
                Clock clock = {});
    ~VirtualScan() override;
    VirtualScan(const VirtualScan &) = delete;
    VirtualScan &operator=(const VirtualScan &) = delete;

    // Adds the model's scanning commands to the scanner's table and puts the pace between
    // the scanner and its register block. Without `bufferStatus` the owner answers 34h and
    // hands it to answerBufferStatus() while a scan runs.
    void install(bool bufferStatus = true);
    void answerBufferStatus(VirtualCommand &cmd) { bufferStatus(cmd); }

    ScanOptions &options() { return options_; }
    // The operator has pressed Start Scan: faults that strike at the start are armed.
    void scanRequested();
    // Imaging-plate readers: the next command answers NOT READY, no plate (21h).
    void takePlateOut();

    // What the scanner was told and has done.
    QByteArray parameterBlock() const { return params_; }
    bool started() const { return started_; }
    int scanWidth() const { return width_; } // pixels per line (model 11)
    int scanLines() const { return lines_; } // lines of the scan
    qint64 bytesHandedOut() const { return handedOut_; }
    bool faultStruck() const { return faultDone_; }

    void onLevelRead(EmulatedGpio &gpio) override;
    void onBusReset(EmulatedGpio &gpio) override;

private:
    bool plateReader() const;
    qint64 now() const;
    int linesReady() const;
    qint64 lineBytes() const;
    qint64 bytesWaiting() const;
    bool faultDue() const;
    bool powerOffDue() const;
    int stallLine() const; // lines the scanner ever has with the fault stall

    void modeSelect(VirtualCommand &cmd);
    void modeSelectData(VirtualCommand &cmd);
    void shadingRead(VirtualCommand &cmd);
    void start(VirtualCommand &cmd);
    void bufferStatus(VirtualCommand &cmd);
    void read(VirtualCommand &cmd);
    void commandBegins();

    QByteArray fluorescenceBytes(qint64 offset, int count) const;
    QByteArray readerBytes(qint64 offset, int count) const;

    VirtualScanner &scanner_;
    int model_;
    ScanOptions options_;
    Clock clock_;
    QElapsedTimer timer_;

    QByteArray params_;
    bool started_ = false;
    qint64 startedAt_ = 0;
    // Model 11 geometry in pixels at the resolution, and the node factors of the laser.
    int resolution_ = 0;
    int width_ = 0;
    int lines_ = 0;
    int xstart_ = 0;
    int ystart_ = 0;
    float factors_[kPhantomShadingColumns][kPhantomShadingRows] = {};
    // Reader geometry.
    int readerPitch_ = 0;
    int plateLeftUm_ = 0;
    qint64 handedOut_ = 0;

    bool faultDone_ = false;
    bool cutArmed_ = false;
    int busyLeft_ = 0;
    bool heldForPace_ = false;
    qint64 releaseAt_ = 0;
};

#endif // SCANHANDLERS_H
