// Set-up of the scan window: the form shaped for the model, the preview geometry, the
// files of the scan and the start timer.
#include "scanwindow.h"
#include "ui_scanwindow.h"

#include "datafiles.h"
#include "ldcontrol.h"
#include "initiator.h"
#include "scanstate.h"

#include <QBrush>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QLoggingCategory>
#include <QPalette>
#include <QPen>
#include <QPixmap>
#include <QTimer>

#include <cstring>

Q_LOGGING_CATEGORY(lcScanSetup, "station.scan")

int displaycolour = 0;
int displaybkg = 255;
int scanprevInit = 0;
int histInit = 0;
int histgradbarInit = 0;
QGraphicsPixmapItem *scanpreviewItem = nullptr;
QGraphicsPixmapItem *histItem = nullptr;
QGraphicsPixmapItem *histgradbarItem = nullptr;
int QLmax = 0;
int QLaverage = 0;
int QLcount = 0;
qint64 QLtotal = 0;

namespace
{

constexpr int kStartDelayMs = 500;
constexpr int kPreviewBytesUsed = kPreviewMaxWidth * kPreviewMaxHeight;
constexpr BYTE kPreviewBlank = 255;
constexpr BYTE kLaserDiodeCode = 16;
constexpr BYTE kLaserCode473Slot = 1;
constexpr BYTE kLaserCode532Slot = 2;
constexpr BYTE kLaserCode635 = 4;

const char kStyleBuffer[] = "QLabel { background-color : rgb(153,204,255); }";

const char kIcon473[] = ":/img/KIREL5-Laser-473.png";
const char kIcon532[] = ":/img/KIREL5-Laser-532.png";
const char kIcon635[] = ":/img/KIREL5-Laser-635.png";
const char kIcon670[] = ":/img/KIREL5-Laser-670.png";

QString ResolutionText(int micrometres)
{
    switch (micrometres) {
    case 200:
    case 100:
    case 50:
    case 25:
        return QStringLiteral("%1\u00B5m").arg(micrometres);
    default:
        return QString();
    }
}

} // namespace

ScanWindow::ScanWindow(QWidget *parent) : QDialog(parent), ui(new Ui::ScanWindow)
{
    // 1. Form and the three scenes.
    ui->setupUi(this);
    scene = new QGraphicsScene(this);
    scene_hist = new QGraphicsScene(this);
    scene_gradbar = new QGraphicsScene(this);
    ui->graphicsView_ScanPreview->setScene(scene);
    ui->graphicsView_Histogram->setScene(scene_hist);
    ui->graphicsView_Gradation->setScene(scene_gradbar);
    const QBrush blueBrush(Qt::blue, Qt::SolidPattern);
    const QPen bluePen(Qt::blue, 1);

    // 2. Statistics are not shown; a red Stop button.
    ui->label_QLaverage->hide();
    ui->label_QLmax->hide();
    QPalette stopPalette = ui->pushButton_stop->palette();
    stopPalette.setColor(QPalette::Button, Qt::red);
    ui->pushButton_stop->setPalette(stopPalette);
    ui->label_buffer->setStyleSheet(QLatin1String(kStyleBuffer));

    // 3-4. Where the image goes, and what the fluorescence scanner scans with.
    ui->label_destdirectory->setText(image_dir);
    ui->label_filenametext->setText(image_name);
    ui->label_commenttext->setText(image_comment);
    if (ScannerType == kModelKIREL5)
        Kirel5LabelsShow();

    // 5-7. Preview buffer and geometry.
    std::memset(scanimage, kPreviewBlank, kPreviewBytesUsed);
    newscansetup.previewposition = 0;
    PreviewGeometrySet();

    // 8. The blue area the preview grows over.
    rectangle = scene->addRect(0, 0, newscansetup.previewwidth - 1, newscansetup.previewheight - 1,
                               bluePen, blueBrush);

    // 9. Nothing buffered yet; the display style stays grey on white.
    newscansetup.buffersize = 0;
    ui->label_buffer->setText(QString::asprintf("Buffer size: %6d", 0));
    ui->label_displaystyle->hide();
    ui->comboBox_DisplayColour->hide();
    ui->comboBox_DisplayBkg->hide();
    newscansetup.scanstatus = 0;

    // 10-11. Offset of the last image row; the other models' labels.
    if (ScannerType == kModelKIREL5)
        ScanFileSize = qint32((qint64(newscansetup.height) - 1) * newscansetup.width * 2);
    else
        ScanFileSize = qint32((qint64(newscansetup.width) - 1) * newscansetup.pixwidth * 2);
    if (ScannerType != kModelKIREL5)
        ReaderLabelsShow();

    // 12.
    newscansetup.newpreviewflag = 0;
    newscansetup.previewbuffer = 0;
    QLmax = QLaverage = QLcount = 0;
    QLtotal = 0;

    // 13. The files; a scan without them is not started (ScannerStart says why). From
    // here a signal ends the scan through this window.
    filesProblem = ScanFilesCreate();
    if (filesProblem.isEmpty())
        SignalWatchStart();

    // 14. Histogram and gradation bar.
    std::memset(histval, 0, kHistogramShownBins * sizeof histval[0]);
    displaycolour = 0;
    displaybkg = 255;
    histInit = 0;
    histgradbarInit = 0;
    HistogramRefresh();
    scanprevInit = 0;

    // 15. The scan starts from this window's own event loop.
    scanstarttimer = new QTimer(this);
    connect(scanstarttimer, &QTimer::timeout, this, &ScanWindow::ScannerStart);
    scanstarttimer->start(kStartDelayMs);

    qCDebug(lcScanSetup) << "Width" << newscansetup.width << "Height" << newscansetup.height
                         << "Buffer Lines" << newscansetup.bufferlines << "Preview Scale"
                         << newscansetup.previewscale << "Preview Increment"
                         << newscansetup.previewincrement;
    qCDebug(lcScanSetup) << "*** Preview window setup complete ***";
}

ScanWindow::~ScanWindow()
{
    SignalHandoverSet(-1);
    // The picture items go with this window's scenes.
    scanpreviewItem = histItem = histgradbarItem = nullptr;
    scanprevInit = histInit = histgradbarInit = 0;
    delete ui;
}

// Laser and filter of channel 1, the diode board readings, voltage and resolution.
void ScanWindow::Kirel5LabelsShow()
{
    const BYTE code = scanparams[9];
    QString text;
    const char *icon = nullptr;
    auto choose = [&](const char *nm, const char *name) {
        text = QStringLiteral("Laser:  %1nm").arg(QLatin1String(nm));
        icon = name;
    };
    // Later matches override earlier ones, the diode last.
    if (code == kLaserCode635)
        choose("635", kIcon635);
    if (code == kLaserCode532Slot) {
        if (laserCh1wavelength[2] == QLatin1String("532"))
            choose("532", kIcon532);
        else
            choose("473", kIcon473);
    }
    if (code == kLaserCode473Slot) {
        if (laserCh1wavelength[1] == QLatin1String("473"))
            choose("473", kIcon473);
        else
            choose("532", kIcon532);
    }
    if (laserCh1index >= 0 && laserCh1index < int(sizeof laserCh1) &&
        laserCh1[laserCh1index] == kLaserDiodeCode)
        choose("685", kIcon670);
    if (icon) {
        ui->label_lasertext->setText(text);
        ui->label_lasericon->setPixmap(QPixmap(QLatin1String(icon)));
    }

    if (LDconfig[0] == 0) {
        ui->label_LDmonitor->hide();
        ui->label_LDtemperature->hide();
    } else {
        LaserDiodeReadingsShow();
    }

    const int position = scanparams[8] - 1;
    if (position >= 0 && position < kTrayPositions) {
        iconnameCh1Pos[position] = FilterIconName(filterTray[position].filterCh1);
        iconCh1Pos[position] =
            iconnameCh1Pos[position].isEmpty() ? QIcon() : QIcon(iconnameCh1Pos[position]);
        ui->label_filtertext->setText(QStringLiteral("Filter:  ") + filterTray[position].labelCh1);
        ui->label_filtericon->setPixmap(QPixmap(iconnameCh1Pos[position]));
    }

    ui->label_channel->setText(QStringLiteral("Channel 1"));
    ui->label_sensvalue->setText(QString::asprintf("%4d V", scan_HVch1));
    ui->label_resolution->setText(ResolutionText(scanparams[7]));
}

// The laser-diode board's readings, in the labels that are shown once the status poll has
// found the board: read whenever the window shows them, so that they never stand at the
// form's "00.0" or at a reading from before the scan.
void ScanWindow::LaserDiodeReadingsShow()
{
    newLD.LD685monitorRead();
    ui->label_LDmonitor->setText(QString::asprintf("LD Monitor: %.3f V", double(LD685monit)));
    newLD.LDboardtempRead();
    ui->label_LDtemperature->setText(
        QString::asprintf("LD685 Temperature: %.1f C", double(LDboardtemp)));
}

// Imaging-plate readers and the KIREL-3000: sensitivity and resolution move up.
void ScanWindow::ReaderLabelsShow()
{
    const bool reader = ScannerType == kModelVESK1800 || ScannerType == kModelVESK5000;
    setWindowTitle(reader ? QStringLiteral("VESK SCAN PREVIEW")
                          : QStringLiteral("KIREL SCAN PREVIEW"));
    ui->label_channel->hide();
    ui->label_LDmonitor->hide();
    ui->label_LDtemperature->hide();
    if (reader) {
        ui->label_lasertext->hide();
        ui->label_lasericon->hide();
        ui->label_filtertext->hide();
        ui->label_filtericon->hide();
    }
    ui->label_sensitivity->setGeometry(720, 100, 71, 18);
    ui->label_sensvalue->setGeometry(810, 100, 71, 18);
    ui->label_resolutiontext->setGeometry(720, 130, 71, 18);
    ui->label_resolution->setGeometry(810, 130, 71, 18);
    ui->label_sensvalue->setText(QString::asprintf("%5d", newscansetup.sensitivity));
    ui->label_resolution->setText(ResolutionText(newscansetup.resolution));
}

// The image fits the 575 x 500 preview as it is, or is scaled by the tighter of the two
// axes. The fluorescence scanner's lines run across the preview; the readers' lines run
// down it, so their axes are exchanged.
void ScanWindow::PreviewGeometrySet()
{
    ScanSetup &s = newscansetup;
    const bool fluorescence = ScannerType == kModelKIREL5;
    const int w = fluorescence ? s.width : s.height;
    const int h = fluorescence ? s.height : s.width;
    if (w <= kPreviewMaxWidth && h <= kPreviewMaxHeight) {
        s.previewwidth = w;
        s.previewheight = h;
        s.previewscale = 1.0f;
    } else {
        const float sx = float(kPreviewMaxWidth) / float(w);
        const float sy = float(kPreviewMaxHeight) / float(h);
        if (sx <= sy) {
            s.previewwidth = kPreviewMaxWidth;
            s.previewheight = int(double(h) * 575.0 / double(w));
            s.previewscale = sx;
        } else {
            s.previewheight = kPreviewMaxHeight;
            s.previewwidth = int(double(w) * 500.0 / double(h));
            s.previewscale = sy;
        }
    }
    s.previewincrement = float(s.bufferlines) * s.previewscale;
}
