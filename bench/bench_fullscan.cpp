// A whole 25 um full-bed scan of the KIREL-5000/5100 (18,400 x 16,000 pixels, 588.8 MB per
// image file) through the station's own windows against the virtual scanner in this
// process, the scanner handing out lines as fast as the bus takes them. The settings come
// from the data files (raw data on), Start Scan is pressed, the scan window runs on its
// timers. Prints:
//   - MB/s of the whole road: image bytes over the time from Start Scan to the end box;
//   - the longest time the GUI thread spent in one tick of the scan window's timers (the
//     end box, which waits for the operator, not counted);
//   - peak memory (VmHWM), which must stay below 100 MB: no whole-image buffer.
//
//   bench_fullscan [tile rows]   (default 16, the whole bed; fewer scan a band of the
//                                 full width, 1000 lines per tile row, and extrapolate)
// The files go to a temporary folder that is removed at the end.
#include "datafiles.h"
#include "emulatedi2c.h"
#include "mainwindow.h"
#include "scannermodels.h"
#include "scanstate.h"
#include "scanwindow.h"
#include "stationpaths.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace
{

constexpr int kColumns = kTileColumns; // 17 of 25 mm and one of 35 mm: 460 mm
constexpr int kResolution = 25;
constexpr qint64 kBedWidthUm = 460000;
constexpr qint64 kTileUm = 25000;
constexpr double kMB = 1e6;

// Peak resident memory of this process in kB (0 when unknown).
long PeakMemoryKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

// Times every timer tick of the scan window and answers its boxes with OK.
class TickMeter : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        // The window's start and read timers, and the follow-up ticks it queues for itself.
        const bool timer = event->type() == QEvent::Timer && qobject_cast<QTimer *>(receiver) &&
                           qobject_cast<ScanWindow *>(receiver->parent());
        const bool followUp =
            event->type() == QEvent::MetaCall && qobject_cast<ScanWindow *>(receiver);
        const bool tick = (timer || followUp) && !inTick;
        if (!tick)
            return QApplication::notify(receiver, event);
        inTick = true;
        boxInTick = false;
        clock.start();
        const bool done = QApplication::notify(receiver, event);
        if (!boxInTick)
            tickDone(clock.nsecsElapsed());
        inTick = false;
        return done;
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *box = qobject_cast<QMessageBox *>(watched)) {
                if (inTick && !boxInTick) {
                    boxInTick = true;
                    tickDone(clock.nsecsElapsed());
                }
                endAt = road.nsecsElapsed();
                lastTitle = box->windowTitle();
                QPointer<QMessageBox> shown(box);
                QTimer::singleShot(0, box, [shown] {
                    if (shown && shown->button(QMessageBox::Ok))
                        shown->button(QMessageBox::Ok)->click();
                });
            }
        }
        return QApplication::eventFilter(watched, event);
    }

    void tickDone(qint64 ns)
    {
        ++ticks;
        longestNs = qMax(longestNs, ns);
    }

    QElapsedTimer road;
    QElapsedTimer clock;
    bool inTick = false;
    bool boxInTick = false;
    int ticks = 0;
    qint64 longestNs = 0;
    qint64 endAt = 0;
    QString lastTitle;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TickMeter app(argc, argv);
    app.installEventFilter(&app);
    const int rows =
        argc > 1 ? qBound(1, QString::fromLocal8Bit(argv[1]).toInt(), kTileRows) : kTileRows;

    QTemporaryDir root;
    if (!root.isValid())
        return 1;
    StationRoot = root.path();
    StationModel = ScannerType = kModelKIREL5;
    QDir().mkpath(root.path() + ModelDataDir(kModelKIREL5));
    QDir().mkpath(root.path() + QStringLiteral("/home/scans"));

    // The last scan's settings: fluorescence, 532 nm, 25 um, the bottom `rows` tile rows.
    ScanTempl &t = scanTemplate[0];
    t.name = QStringLiteral("startup");
    t.mode = kModeFluorescence;
    t.area = kAreaGrid;
    t.scancornerL = QPointF(0, kTileRows - rows);
    t.scancornerR = QPointF(kColumns - 1, kTileRows - 1);
    t.resolution = kResolution;
    t.laserCh1 = 1;
    t.HVch1 = 600;
    t.folder = root.path() + QStringLiteral("/home/scans");
    TemplatesWrite(1);
    sysparams = {1, 0, 0, 0, 0}; // raw data on: both image files are written
    SysParamsWrite();

    EmulatedI2cBus boards;
    I2cInstallBus(&boards);
    ScannerModelOptions options;
    options.selfTestMs = 0;
    options.scan.lineMs = 0;
    ScannerModelSim scanner(kModelKIREL5, options);
    scanner.installOnBus();

    const qint64 lines = qint64(rows) * kTileUm / kResolution;
    const qint64 imageBytes = kBedWidthUm / kResolution * lines * 2;
    std::printf("Full-width 25 um scan: %lld x %lld pixels, %.1f MB per image file (.img and "
                ".raw), line pace 0\n",
                static_cast<long long>(kBedWidthUm / kResolution), static_cast<long long>(lines),
                double(imageBytes) / kMB);
    std::fflush(stdout);
    {
        MainWindow window;
        window.show();
        auto *start = window.findChild<QPushButton *>(QStringLiteral("pushButton_Scan"));
        QElapsedTimer wait;
        wait.start();
        while (!start->isEnabled() && wait.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (!start->isEnabled()) {
            std::printf("The virtual scanner did not get ready\n");
            return 1;
        }
        window.findChild<QLineEdit *>(QStringLiteral("lineEdit_filename"))
            ->setText(QStringLiteral("fullbed"));
        app.road.start();
        start->click();
    }
    const double seconds = double(app.endAt) / 1e9;
    std::printf("  end box            %s\n", qPrintable(app.lastTitle));
    std::printf("  whole road         %.1f s, %.1f MB/s of image (%.1f MB/s written with the "
                "raw copy)\n",
                seconds, double(imageBytes) / kMB / seconds,
                2.0 * double(imageBytes) / kMB / seconds);
    std::printf("  timer ticks        %d, longest %.1f ms\n", app.ticks,
                double(app.longestNs) / 1e6);
    std::printf("  peak memory        %.1f MB (VmHWM)\n", double(PeakMemoryKb()) / 1024.0);
    if (rows < kTileRows)
        std::printf("  whole bed (x%.0f)   about %.0f s\n", double(kTileRows) / rows,
                    seconds * kTileRows / rows);
    scanner.removeFromBus();
    I2cInstallBus(nullptr);
    StationRoot.clear();
    return 0;
}
