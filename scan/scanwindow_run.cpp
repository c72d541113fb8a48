// The scan run: the start, the read ticks with their progress display, the Stop button and
// the end of the scan.
//
// Everything runs on the GUI thread, which also drives the bus: a tick drains the pieces
// the scanner holds and then draws once; the boxes of the end are shown only after the
// read timer has stopped, and once the window is closed no pass runs again.
//
// Every scan ends through EndHandle, however it ends (complete, Stop, Escape or the close
// button, a scanner error, a write error, no data, a signal): the diode off, both image
// files closed, the ending on record, and the scanner brought back to bus free for the
// next scan.
#include "scanwindow.h"
#include "ui_scanwindow.h"

#include "initiator.h"
#include "ldcontrol.h"
#include "rtccontrol.h"
#include "scanstate.h"
#include "scantransaction.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcScanSetup)

namespace
{

constexpr int kFluorescenceReadMs = 500;
constexpr int kReaderReadMs = 50;
// The longest stretch one tick keeps the GUI thread before it lets the event loop draw and
// take the operator's clicks; what is still waiting is read on a tick of its own at once.
constexpr qint64 kTickBudgetMs = 200;
constexpr int kSenseNoPlate = 0x21;
constexpr BYTE kLaserDiodeOff = 0;

const char kStyleBoardTemp[] = "QLabel { background-color : rgb(0,255,0); }";

qint64 ClockMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

qint64 WatchMs()
{
    static QElapsedTimer since;
    if (!since.isValid())
        since.start();
    return since.elapsed();
}

void ProcessExit(int status)
{
    QCoreApplication::exit(status);
}

// The self-pipe between KillHandler and the event loop: made once per process, non-blocking
// so that the handler never waits. -1 when it could not be made (a signal then ends the
// process at once, as without a scan).
int SignalPipe(int end)
{
    static int fds[2] = {-1, -1};
    static bool tried = false;
    if (!tried) {
        tried = true;
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            fds[0] = fds[1] = -1;
    }
    return fds[end];
}

constexpr int kExitBySignal = 128;

void Inform(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

QString SenseErrorText()
{
    return QStringLiteral("Scan Error:<ul><li>Sense Key:   ") + newscansetup.scansensekey +
           QStringLiteral("</li>") + QStringLiteral("<li>Sense Code: ") +
           newscansetup.scansensecode + QStringLiteral("</li></ul>");
}

// The time labels keep the window's 71 px. A text over an hour ("1hrs 17min 23sec") is
// drawn in a smaller size until it fits, rather than cut off where the operator looks for
// the remaining time of a long scan.
constexpr qreal kSmallestTimePt = 5.0;
constexpr qreal kTimePtStep = 0.5;

void TimeLabelSet(QLabel *label, const QString &text)
{
    QFont font = label->parentWidget()->font();
    while (font.pointSizeF() > kSmallestTimePt &&
           QFontMetrics(font).horizontalAdvance(text) > label->width())
        font.setPointSizeF(font.pointSizeF() - kTimePtStep);
    label->setFont(font);
    label->setText(text);
}

} // namespace

ScanOperations scanOperations = ScannerScanOperations();
qint64 (*ScanClockMs)() = &ClockMs;
qint64 (*ScanWatchMs)() = &WatchMs;
void (*ScanProcessExit)(int status) = &ProcessExit;
int ScanCutShortSignal = 0;

QString ScanTimeText(int seconds)
{
    const float t = float(seconds);
    if (seconds <= 59)
        return QString::asprintf("%isec", seconds);
    if (seconds >= 3600) {
        const int h = int(t / 3600.0f);
        const int m = int((t - 3600.0f * float(h)) / 60.0f);
        const int s = seconds - 3600 * h - 60 * m;
        return QString::asprintf("%ihrs %imin %isec", h, m, s);
    }
    const int m = int(t / 60.0f);
    return QString::asprintf("%imin %isec", m, seconds - 60 * m);
}

int ScanRemainSecs(int elapsed, int lines, int total)
{
    const float l = float(lines);
    const float n = float(total);
    const float r = l > 0.0f ? float(elapsed) * (n - l) / l : 0.0f;
    return int(r + 0.5f);
}

// From the files on, a signal is handed to this window (SignalTaken) instead of ending
// the process in the handler.
void ScanWindow::SignalWatchStart()
{
    const int readEnd = SignalPipe(0);
    if (readEnd < 0)
        return;
    signalNotifier = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
    connect(signalNotifier, &QSocketNotifier::activated, this, &ScanWindow::SignalTaken);
    SignalHandoverSet(SignalPipe(1));
}

// SIGINT, SIGHUP or SIGTERM while the scan runs: the handler has released the lines; here
// the scan ends as any other (lines kept, files closed, the ending on record), without
// boxes, as nobody is there to answer them, and the process ends with 128 + the signal.
void ScanWindow::SignalTaken()
{
    unsigned char number = 0;
    unsigned char later = 0;
    if (::read(SignalPipe(0), &number, 1) != 1)
        return;
    while (::read(SignalPipe(0), &later, 1) == 1) {
    }
    signalNotifier->setEnabled(false);
    if (scanEnded) {
        // The scan had already ended when the signal came.
        ScanProcessExit(0);
        return;
    }
    signalNumber = number;
    ScanCutShortSignal = number;
    std::fprintf(stderr, "Scan ended by signal %d\n", signalNumber);
    if (!scanreadtimer) {
        ScanNotStarted();
        ScanProcessExit(kExitBySignal + signalNumber);
        return;
    }
    newscansetup.scanrunningflag = -1;
    EndHandle(ScannerType == kModelKIREL5);
}

// The scan is over: no further pass, and a signal now ends the process at once.
void ScanWindow::EndBegin()
{
    scanEnded = true;
    SignalHandoverSet(-1);
}

// Ends a scan that never started: a box (unless stopped by the operator), whatever files
// were made removed, the window closed.
void ScanWindow::ScanNotStarted(const QString &title, const QString &text)
{
    EndBegin();
    scanstarttimer->stop();
    ScanFilesRemove();
    if (!title.isEmpty())
        Inform(this, title, text);
    accept();
}

// A start that failed at one of its steps has left the scanner wherever it stopped: it gets
// a bus reset, the files go (the name can be used again), the box names the step's code.
void ScanWindow::StartFailed(int code)
{
    scanOperations.busReset();
    ScanNotStarted(QStringLiteral("SCAN ERROR"),
                   QStringLiteral("Scan Error:<ul><li>The scanner did not start the scan</li>"
                                  "<li>Start result: %1</li></ul>")
                       .arg(code));
}

void ScanWindow::ScannerStart()
{
    qCDebug(lcScanSetup) << "*** Start ScannerStart function ***";
    scanstarttimer->stop();
    newscansetup.scanrunningerror = 0;

    if (!filesProblem.isEmpty()) {
        // ScanFilesCreate has already removed what it made.
        EndBegin();
        Inform(this, QStringLiteral("SCAN ERROR"), filesProblem);
        accept();
        return;
    }

    int code = 0;
    switch (ScannerType) {
    case kModelKIREL5:
        code = scanOperations.fluorescenceStart();
        break;
    case kModelVESK1800:
    case kModelVESK5000:
        code = scanOperations.readerStart();
        if (newscansetup.scanrunningerror == 1) {
            const QString text =
                newscansetup.sensecode == kSenseNoPlate
                    ? QStringLiteral("Scan Error:<ul><li>No Imaging Plate in the loading area</li>"
                                     "<li></li><li>Please Load an Imaging Plate</li></ul>")
                    : SenseErrorText();
            EndBegin();
            Inform(this, QStringLiteral("SCAN ERROR"), text);
            // The raw file (and the scanning log) stay for the service engineer.
            IMGdatastream.setDevice(nullptr);
            kirelscanfile_img.close();
            kirelscanfile_img.remove();
            kirelscanfile_inf.remove();
            accept();
            return;
        }
        break;
    default:
        // The KIREL-3000 has no scan path: the operator must not be left waiting.
        ScanNotStarted(QStringLiteral("SCAN ERROR"),
                       QStringLiteral("Scan Error:<ul><li>Scanning is not available on this "
                                      "model</li></ul>"));
        return;
    }
    qCDebug(lcScanSetup) << "Scan return value" << code;
    if (code < 0) {
        StartFailed(code);
        return;
    }
    qCDebug(lcScanSetup) << "*** SCAN START COMPLETE ***";

    scanelapsed_secs = 0;
    scanremain_secs = scanDur.estimate;
    scanstart_epochsecs = 0;
    TimeLabelSet(ui->label_remaintime, ScanTimeText(scanremain_secs));
    TimeLabelSet(ui->label_elapsedtime, QString::asprintf("%isec", scanelapsed_secs));
    BoardTemperatureShow();

    const bool fluorescence = ScannerType == kModelKIREL5;
    scanreadtimer = new QTimer(this);
    if (fluorescence) {
        connect(scanreadtimer, &QTimer::timeout, this, &ScanWindow::ScannerRead);
        scanreadtimer->start(kFluorescenceReadMs);
        qCDebug(lcScanSetup) << "*** TIMER STARTED ***";
    } else {
        connect(scanreadtimer, &QTimer::timeout, this, &ScanWindow::VESK18ScannerRead);
        scanreadtimer->start(kReaderReadMs);
        qCDebug(lcScanSetup) << "*** VESK-1802/VESK-5000 TIMER STARTED ***";
    }
    newscansetup.scanrunningflag = 1;
    newscansetup.scanrunningerror = 0;
    lastDataMs = ScanWatchMs();
    lastDataLines = newscansetup.scanstatus;
    busHeldReads = 0;
}

void ScanWindow::ScannerRead()
{
    ReadPass(scanOperations.fluorescenceRead, true);
}

void ScanWindow::VESK18ScannerRead()
{
    ReadPass(ScannerType == kModelVESK5000 ? scanOperations.vesk5000Read
                                           : scanOperations.vesk1800Read,
             false);
}

// One tick: a pass per whole piece the scanner reported waiting. A scanner that keeps
// reporting more (it scans faster than the bus reads) would hold the GUI thread for the
// whole scan: after kTickBudgetMs the tick hands the rest to a follow-up tick.
void ScanWindow::ReadPass(int (*read)(), bool fluorescence)
{
    ScanSetup &s = newscansetup;
    QElapsedTimer tick;
    tick.start();
    while (!scanEnded) {
        const int code = read();
        ui->label_buffer->setText(QString::asprintf("Buffer size: %lu", ulong(s.buffersize)));
        if (s.newpreviewflag == 1)
            ProgressShow(fluorescence);
        if (WriteCheck())
            s.scanrunningflag = -1;
        if (s.scanrunningflag == 1 && NoDataCheck(code))
            s.scanrunningflag = -1;
        if (s.scanrunningflag < 1) {
            EndHandle(fluorescence);
            return;
        }
        if (s.bufferreadsize <= 0 || s.bufferreadsize > s.buffersize)
            return;
        s.buffersize -= s.bufferreadsize;
        if (s.bufferreadsize > s.buffersize)
            return;
        if (tick.elapsed() >= kTickBudgetMs) {
            QTimer::singleShot(
                0, this, fluorescence ? &ScanWindow::ScannerRead : &ScanWindow::VESK18ScannerRead);
            return;
        }
    }
}

// TRUE once the scan has stopped making progress: no new line for kScanNoDataLimitMs (a
// scanner switched off, stalled, a reader that never reselects, a bus held busy on a
// reader), or kBusHeldReadsLimit KIREL-5000/5100 reads in a row that found the bus held.
bool ScanWindow::NoDataCheck(int code)
{
    const ScanSetup &s = newscansetup;
    const qint64 now = ScanWatchMs();
    if (s.scanstatus != lastDataLines) {
        lastDataLines = s.scanstatus;
        lastDataMs = now;
    }
    busHeldReads = code == kResultBusHeld ? busHeldReads + 1 : 0;
    if (now - lastDataMs < kScanNoDataLimitMs && busHeldReads < kBusHeldReadsLimit)
        return false;
    const int expected = ScanImageRows();
    dataProblem = QStringLiteral("Scan Error:<ul><li>The scanner stopped sending image data</li>"
                                 "<li>%1 of %2 lines read</li></ul>")
                      .arg(s.scanstatus)
                      .arg(expected);
    std::fprintf(stderr, "No image data: scan ended after %d lines\n", s.scanstatus);
    return true;
}

void ScanWindow::ProgressShow(bool fluorescence)
{
    const ScanSetup &s = newscansetup;
    scancurrent_epochsecs = ScanClockMs() / 1000;
    // Until the first data has arrived no time has run.
    scanelapsed_secs =
        scanstart_epochsecs == 0 ? 0 : int(scancurrent_epochsecs - scanstart_epochsecs);
    scanremain_secs =
        ScanRemainSecs(scanelapsed_secs, s.scanstatus, fluorescence ? s.height : s.width);
    TimeLabelSet(ui->label_elapsedtime, ScanTimeText(scanelapsed_secs));
    TimeLabelSet(ui->label_remaintime, ScanTimeText(scanremain_secs));

    RefreshCycle();
    BoardTemperatureShow();
    if (fluorescence && LDconfig[0] == 1)
        LaserDiodeReadingsShow();
}

void ScanWindow::BoardTemperatureShow()
{
    newRTC2.SCSIboardtempRead();
    ui->label_SCSIboardtemp->setText(
        QString::asprintf("SCSI Board Temp: %.2f C", double(SCSIboardtemp)));
    ui->label_SCSIboardtemp->setStyleSheet(QLatin1String(kStyleBoardTemp));
}

// A readout that could not write a line says so through scanwriteerror; the files show it
// too, as they are unbuffered. The reason is kept for the end box, as closing a file
// forgets it.
bool ScanWindow::WriteCheck()
{
    const bool imgFailed = kirelscanfile_img.error() != QFileDevice::NoError;
    const bool rawFailed =
        kirelscanfile_raw.isOpen() && kirelscanfile_raw.error() != QFileDevice::NoError;
    if (scanwriteerror != 1 && !imgFailed && !rawFailed)
        return false;
    scanwriteerror = 1;
    if (writeProblem.isEmpty()) {
        const QFile &failed = rawFailed && !imgFailed ? kirelscanfile_raw : kirelscanfile_img;
        QString detail = failed.fileName();
        if (imgFailed || rawFailed)
            detail += QStringLiteral(": ") + failed.errorString();
        writeProblem =
            QStringLiteral("Scan Error:<ul><li>The image could not be written to disk</li><li>") +
            detail + QStringLiteral("</li></ul>");
    }
    return true;
}

namespace
{
// How the scan ended, for the scanning log's last line.
QString EndHow(bool complete, int signal, bool scannerError, bool writeError, bool noData)
{
    if (complete)
        return QStringLiteral("SCAN COMPLETE");
    if (signal)
        return QStringLiteral("SIGNAL %1").arg(signal);
    if (scannerError)
        return QStringLiteral("SCANNER ERROR");
    if (writeError)
        return QStringLiteral("WRITE ERROR");
    if (noData)
        return QStringLiteral("NO DATA");
    return QStringLiteral("SCAN STOPPED");
}
} // namespace

void ScanWindow::EndHandle(bool fluorescence)
{
    ScanSetup &s = newscansetup;
    scanEnded = true; // no pass from here on; a signal is handed over until the record is made
    scanreadtimer->stop();
    if (fluorescence && LD685status == 1) {
        newLD.LD685modecontrol(kLaserDiodeOff);
        LD685status = 0;
    }

    kirelscanfile_img.flush();
    if (sysparams.rawdatasave == 1)
        kirelscanfile_raw.flush();
    const bool writeError = WriteCheck();
    IMGdatastream.setDevice(nullptr);
    RAWdatastream.setDevice(nullptr);
    kirelscanfile_img.close();
    if (sysparams.rawdatasave == 1)
        kirelscanfile_raw.close();
    PreviewFinish();

    // A scan with lines missing is never reported complete.
    if (writeError)
        s.scanrunningflag = -1;
    const bool failed = s.scanrunningerror == 1 || writeError || !dataProblem.isEmpty();
    const bool complete = s.scanrunningflag >= 0 && !failed;
    ScanEndRecord(
        EndHow(complete, signalNumber, s.scanrunningerror == 1, writeError, !dataProblem.isEmpty()),
        complete);
    EndBegin();

    // The connection test opens with a bus reset; a reader left halfway through a piece
    // gets one of its own.
    if (fluorescence)
        scanOperations.connectionTest();
    else if (!complete)
        scanOperations.busReset();

    if (signalNumber) {
        accept();
        ScanProcessExit(kExitBySignal + signalNumber);
        return;
    }
    if (s.scanrunningerror == 1)
        Inform(this, QStringLiteral("SCAN ERROR"), SenseErrorText());
    if (writeError)
        Inform(this, QStringLiteral("SCAN ERROR"), writeProblem);
    if (!dataProblem.isEmpty())
        Inform(this, QStringLiteral("SCAN ERROR"), dataProblem);
    if (s.scanrunningflag < 0 && failed)
        Inform(this, QStringLiteral("SCAN END"), QStringLiteral("SCAN ENDED WITH ERRORS"));
    if (s.scanrunningflag < 0 && !failed && fluorescence)
        Inform(this, QStringLiteral("SCAN STOPPED"), QStringLiteral("SCAN STOPPED BY USER"));
    if (s.scanrunningflag >= 0 && !failed)
        Inform(this, QStringLiteral("SCAN COMPLETE"),
               QStringLiteral("SCAN SUCCESSFULLY COMPLETED"));
    // The shading data or the scanning log that could not be written, after the image's end.
    const QString notes = ScanFileNotes();
    if (!notes.isEmpty())
        Inform(this, QStringLiteral("FILE ERROR"), notes);
    accept();
}

void ScanWindow::on_pushButton_stop_clicked()
{
    const auto answer = QMessageBox::question(this, QStringLiteral("Stop Scan"),
                                              QStringLiteral("Do You Want To Stop The Scan?"),
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes && !scanEnded) {
        qCDebug(lcScanSetup) << "Yes Was Clicked";
        if (scanreadtimer)
            newscansetup.scanrunningflag = -1; // the next pass ends the scan
        else
            ScanNotStarted(); // nothing was sent to the scanner yet
    } else {
        qCDebug(lcScanSetup) << "No Was Clicked";
    }
}

void ScanWindow::reject()
{
    if (scanEnded)
        QDialog::reject();
    else
        on_pushButton_stop_clicked();
}
