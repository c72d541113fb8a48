// Start Scan: the operator's choices become a scan request. The file name is checked, the
// settings are kept as the "startup" template, the tile selection becomes the scan area on
// the bed, the scan geometry and the parameter block are filled, the scan log gets its
// record, and the scan window runs the scan.
#include "mainwindow.h"
#include "mainwindow_buttons.h"
#include "ui_mainwindow.h"

#include "datafiles.h"
#include "logfiles.h"
#include "scanstate.h"
#include "scanwindow.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

using namespace mainwindow_buttons;

namespace
{

constexpr qint64 kTileUm = 25000;
constexpr qint64 kWideColumnExtraUm = 10000; // the last column is 35 mm wide
constexpr int kWideColumn = 17;
constexpr int kBottomRow = 15;
constexpr qint64 kReaderGridMarginUm = 3500;
constexpr qint64 kUmPerMm = 1000;
constexpr qint64 kUmPerTenthMm = 100;
constexpr int kPreviewClearBytes = 287500;
constexpr qint32 kTwoLineReadBytes = 65536;
constexpr BYTE kLaserDiodeCode = 16;
constexpr int kKeepY0 = -1;

// Parameter block bytes (fluorescence layout).
constexpr int kParamHeader = 4; // 0x20 0x1A 0x11
constexpr int kParamResolution = 7;
constexpr int kParamFilter = 8;
constexpr int kParamLaser = 9;
constexpr int kParamChannelOn = 10;
constexpr int kParamHVch1 = 12;
constexpr int kParamHVch2 = 14;
constexpr int kParamX0 = 16;
constexpr int kParamY0 = 19;
constexpr int kParamWidth = 22;
constexpr int kParamHeight = 25;
const BYTE kParamHeaderBytes[] = {0x20, 0x1A, 0x11};
// Reader layout.
constexpr int kReaderResolutionCode = 1;
constexpr int kReaderLatitude = 2;
constexpr int kReaderX0 = 3;
constexpr int kReaderWidth = 5;
constexpr int kReaderSensitivity = 7;
constexpr int kKirel3Tail = 12;
const BYTE kKirel3TailBytes[] = {1, 7, 0xE4, 2, 7};

// Which part of the tile grid the readers read, and how long their line is. The VESK-5000's
// line is 204.8 mm: its bottom tile row sits on the plate's bottom edge, so that its eight
// rows fit under the end of the line.
struct ReaderBed {
    int model;
    int rowsBelow; // tile rows under the reader's first row
    qint64 lineUm;
};
const ReaderBed kReaderBeds[] = {
    {kModelKIREL3, 7, 232000},
    {kModelVESK1800, 7, 232000},
    {kModelVESK5000, 8, 204800},
};

// Plate sizes replace edges of the tile selection. Fluorescence: right and top edge;
// readers: right, top and, unless kKeepY0, lower edge.
struct PlateEdges {
    int model;
    int area;
    qint64 x1, y1, y0;
};
const PlateEdges kPlateEdges[] = {
    {kModelKIREL5, kArea3543, 435000, 359000, kKeepY0},
    {kModelKIREL5, kArea2340, 405000, 235000, kKeepY0},
    {kModelKIREL5, kArea2040, 405000, 205000, kKeepY0},
    {kModelKIREL5, kArea2325, 255000, 235000, kKeepY0},
    {kModelKIREL5, kArea2025, 255000, 205000, kKeepY0},
    {kModelKIREL3, kArea2340, 404000, 232000, 0},
    {kModelKIREL3, kArea2040, 404000, 232000, 0},
    {kModelKIREL3, kArea2325, 256000, 232000, 0},
    {kModelKIREL3, kArea2025, 256000, 232000, 27000},
    {kModelVESK5000, kArea2025, 256000, 204800, 0},
    {kModelVESK1800, kArea2325, 256000, 232000, 0},
    {kModelVESK1800, kArea2025, 256000, 232000, 27000},
};

// Buffer geometry of the fluorescence scanner by resolution.
struct Kirel5Resolution {
    int um;
    int shadingincr;
    int bufferlines;
    int bytesPerPixelColumn; // bufferreadsize = width x this
};
const Kirel5Resolution kKirel5Resolutions[] = {
    {25, 400, 40, 80},
    {50, 200, 20, 40},
    {100, 100, 10, 20},
    {200, 50, 5, 10},
};

// The readers' line buffer by resolution. bufptroffset is, on every row, the byte offset
// inside one reader line of the piece of the first wanted reader pixel: the lower edge
// (VESKystart, 0.1 mm) in pixels of the reader's pitch, two bytes each. At the averaged
// resolutions (VESK-1800II at 200 um, VESK-5000 at 100 um) the pitch is the reader's, half
// the output pixel; the readout averages from there on.
struct ReaderResolution {
    bool vesk5000;
    int um;
    int code; // resolution sent to the reader, its pitch in um
    int bufferlines;
    qint32 bufferreadsize;
    int offsetPerTenthMm; // bufptroffset = VESKystart x this = 2 x 100 / code
    int bytelinewidth;
};
const ReaderResolution kReaderResolutions[] = {
    {false, 50, 50, 10, 92800, 4, 9280},   {false, 100, 100, 10, 46400, 2, 4640},
    {false, 200, 100, 10, 46400, 2, 4640}, {true, 25, 25, 10, 163840, 8, 16384},
    {true, 50, 50, 10, 81920, 4, 8192},    {true, 100, 50, 10, 81920, 4, 8192},
    {true, 200, 50, 10, 81920, 4, 8192},
};

const ReaderBed *ReaderBedOf(int model)
{
    for (const ReaderBed &bed : kReaderBeds)
        if (bed.model == model)
            return &bed;
    return nullptr;
}

const ReaderResolution *ReaderResolutionOf(int model, int um)
{
    // The VESK-1800II and the KIREL-3000 offer no 25 um.
    for (const ReaderResolution &r : kReaderResolutions)
        if (r.vesk5000 == (model == kModelVESK5000) && r.um == um)
            return &r;
    return nullptr;
}

const Kirel5Resolution *Kirel5ResolutionOf(int um)
{
    for (const Kirel5Resolution &r : kKirel5Resolutions)
        if (r.um == um)
            return &r;
    return nullptr;
}

void Put16(int at, qint64 value)
{
    scanparams[at] = BYTE(value >> 8);
    scanparams[at + 1] = BYTE(value);
}

void Put24(int at, qint64 value)
{
    scanparams[at] = BYTE(value >> 16);
    scanparams[at + 1] = BYTE(value >> 8);
    scanparams[at + 2] = BYTE(value);
}

void Inform(QWidget *parent, const char *title, const char *text)
{
    QMessageBox::information(parent, QLatin1String(title), QLatin1String(text), QMessageBox::Ok);
}

// The form's fields hold no more than this; a longer text set by other means is refused
// rather than cut.
constexpr int kNameMaxChars = 100;
constexpr int kCommentMaxChars = 32;
const char kImageExtension[] = ".img";

// A character that would break a line of the .inf or the logs, or hide in it unseen:
// C0 and C1 controls (line feeds, tabs, ...), DEL, format characters (soft hyphen,
// direction marks) and line or paragraph separators.
bool Invisible(uint c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

// The .inf, the logs and the scan log store one byte per character: the first character of
// `text` that Latin-1 cannot hold, as the operator can read it; empty when there is none.
QString FirstNotLatin1(const QString &text)
{
    for (const uint c : text.toUcs4())
        if (c > 0xFF)
            return QString::asprintf("U+%04X", c);
    return QString();
}

bool HasInvisible(const QString &text)
{
    const QVector<uint> chars = text.toUcs4();
    return std::any_of(chars.begin(), chars.end(), Invisible);
}

// The name as it will be stored: without the spaces around it, which no one sees in the
// field, and without a typed ".img", which the station adds itself ("x.img" is the scan
// "x", not "x.img.img").
QString FileNameTidy(QString name)
{
    name = name.trimmed();
    if (name.endsWith(QLatin1String(kImageExtension), Qt::CaseInsensitive))
        name = name.left(name.size() - int(std::strlen(kImageExtension))).trimmed();
    return name;
}

// Why the name or the comment cannot be stored as typed; empty when both can. A name stays
// one file inside the destination folder (no "/"), and one field of the scan log's
// comma-separated record (no ",").
QString FileTextsProblem(const QString &name, const QString &comment)
{
    const QString latin1Only = QStringLiteral(": Only Latin-1 Characters Can Be Stored!");
    if (name.size() > kNameMaxChars)
        return QStringLiteral("File Name Is Longer Than %1 Characters!").arg(kNameMaxChars);
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char(',')) || HasInvisible(name))
        return QStringLiteral("File Name Cannot Contain \"/\", \",\" Or Control Characters!");
    if (!FirstNotLatin1(name).isEmpty())
        return QStringLiteral("File Name Cannot Contain ") + FirstNotLatin1(name) + latin1Only;
    if (comment.size() > kCommentMaxChars)
        return QStringLiteral("Comment Is Longer Than %1 Characters!").arg(kCommentMaxChars);
    if (HasInvisible(comment))
        return QStringLiteral("Comment Cannot Contain Line Breaks Or Control Characters!");
    if (!FirstNotLatin1(comment).isEmpty())
        return QStringLiteral("Comment Cannot Contain ") + FirstNotLatin1(comment) + latin1Only;
    return QString();
}

// The destination folder goes into the .inf and the scan log's comma-separated record as
// the name does: why it cannot be stored as chosen; empty when it can.
QString FolderTextProblem(const QString &folder)
{
    if (folder.contains(QLatin1Char(',')) || HasInvisible(folder))
        return QStringLiteral("Destination Folder Cannot Contain \",\" Or Control Characters!");
    if (!FirstNotLatin1(folder).isEmpty())
        return QStringLiteral("Destination Folder Cannot Contain ") + FirstNotLatin1(folder) +
               QStringLiteral(": Only Latin-1 Characters Can Be Stored!");
    return QString();
}

ScanChoice ScanChoiceRead(Ui::MainWindow *ui)
{
    ScanChoice c;
    c.mode = CheckedIndex(ui, kModeButtons);
    c.area = CheckedIndex(ui, kAreaButtons);
    c.cornerL = scancornerL;
    c.cornerR = scancornerR;
    c.resolution = CheckedValue(ui, kResolutionButtons, kDefaultResolution);
    c.filterIndex = ui->comboBox_FilterCh1->currentIndex();
    c.laserIndex = ui->comboBox_Laser1->currentIndex();
    c.HVch1 = ui->spinBox_HVch1->value();
    c.HVch2 = ui->spinBox_HVch2->value();
    if (ui->radioButton->isChecked())
        c.latitude = 4;
    if (ui->radioButton5->isChecked())
        c.latitude = 5;
    c.sensitivity = CheckedValue(ui, kSensitivityButtons, kDefaultSensitivity);
    return c;
}

// The settings of this scan as template record 0; its comment stays.
void StartupTemplateRecord(const ScanChoice &c)
{
    ScanTempl &t = scanTemplate[0];
    t.name = QLatin1String(kStartupTemplateName);
    t.mode = c.mode;
    t.area = c.area;
    t.scancornerL = scancornerL;
    t.scancornerR = scancornerR;
    t.scancornerC = scancornerC;
    t.resolution = c.resolution;
    t.laserCh1 = BYTE(c.laserIndex);
    t.laserCh2 = 0;
    t.filterCh1 = c.filterIndex;
    t.filterCh2 = c.filterIndex;
    // The filter of the chosen tray position; none chosen keeps no filter.
    const bool trayKnown = c.filterIndex >= 0 && c.filterIndex < kTrayPositions;
    t.filterType = trayKnown ? filterTray[c.filterIndex].filterType : 0;
    t.filterLabel = trayKnown ? filterTray[c.filterIndex].filterlabel : QString();
    t.HVch1 = c.HVch1;
    t.HVch2 = 0;
    t.folder = image_dir;
}

void ScanParamsTrace()
{
    std::fprintf(stderr, "STARTING SCAN\n");
    std::fprintf(stderr, "Scan Parameters created\n");
    for (BYTE b : scanparams)
        std::fprintf(stderr, "%02X ", b);
    std::fprintf(stderr, " \n");
}

} // namespace

ScanAreaUm ScanAreaCompute(const ScanChoice &choice)
{
    // Corners off the bed (a damaged template) would overflow the arithmetic below.
    if (!ScanCornersOnBed(ScannerType, choice.cornerL, choice.cornerR, choice.cornerL))
        return ScanAreaUm();
    const qint64 xL = qint64(choice.cornerL.x());
    const qint64 xR = qint64(choice.cornerR.x());
    qint64 yT = kBottomRow - qint64(choice.cornerL.y());
    qint64 yB = kBottomRow - qint64(choice.cornerR.y());

    qint64 x0 = xL * kTileUm;
    qint64 x1 = (xR + 1) * kTileUm + (xR == kWideColumn ? kWideColumnExtraUm : 0);
    const ReaderBed *bed = ReaderBedOf(ScannerType);
    if (bed) {
        yT -= bed->rowsBelow;
        yB -= bed->rowsBelow;
    }
    qint64 y1 = (yT + 1) * kTileUm;
    qint64 y0 = yB * kTileUm;
    if (bed && choice.area == kAreaGrid) {
        y1 += kReaderGridMarginUm;
        y0 += kReaderGridMarginUm;
    }
    for (const PlateEdges &plate : kPlateEdges)
        if (plate.model == ScannerType && plate.area == choice.area) {
            x1 = plate.x1;
            y1 = plate.y1;
            if (plate.y0 != kKeepY0)
                y0 = plate.y0;
        }

    // A corner outside the grid (a plate preset's) never puts an edge below the bed, and
    // no reader area reaches past the end of the reader's line.
    x0 = qMax<qint64>(0, x0);
    y0 = qMax<qint64>(0, y0);
    if (bed)
        y1 = qMin(y1, bed->lineUm);

    ScanAreaUm area;
    if (x1 > x0 && y1 > y0)
        area = {x0, y0, x1 - x0, y1 - y0};
    return area;
}

bool ScanRequestFill(const ScanChoice &choice, const ScanAreaUm &area)
{
    const int r = choice.resolution;
    const bool kirel5 = ScannerType == kModelKIREL5;
    const Kirel5Resolution *buffer = Kirel5ResolutionOf(r);
    const ReaderResolution *reader = kirel5 ? nullptr : ReaderResolutionOf(ScannerType, r);
    if (!buffer || (!kirel5 && !reader))
        return false;
    ScanSetup &s = newscansetup;

    // 6. The VESK-5000's own latitude and sensitivity.
    if (ScannerType == kModelVESK5000) {
        s.latitude = choice.latitude;
        s.sensitivity = choice.sensitivity;
    }

    // 8. Run state.
    s.previewposition = 0;
    s.newpreviewflag = 0;
    s.buffersize = 0;
    std::memset(scanparams, 0, sizeof scanparams);
    std::memset(scanimage, 0, kPreviewClearBytes);

    // 9. The area in micrometres.
    Put24(kParamX0, area.x0);
    Put24(kParamY0, area.y0);
    Put24(kParamWidth, area.width);
    Put24(kParamHeight, area.height);

    // 10. Pixels at the resolution, and the pieces the scanner is read in.
    scanparams[kParamResolution] = BYTE(r);
    s.resolution = r;
    s.width = qint32(area.width / r);
    s.height = qint32(area.height / r);
    s.xstart = qint32(area.x0 / r);
    s.ystart = qint32(area.y0 / r);
    s.shadingincr = buffer->shadingincr;
    s.bufferlines = buffer->bufferlines;
    s.bufferreadsize = s.width * buffer->bytesPerPixelColumn;
    s.shadingincrhalf = s.shadingincr / 2;
    s.weightdiag = float(std::sqrt(2.0 * double(s.shadingincr) * double(s.shadingincr)));
    if (s.bufferreadsize >= kTwoLineReadBytes) {
        s.bufferreadsize = s.bufferreadsize / s.bufferlines * 2;
        s.bufferlines = 2;
    }

    // 11. Channel 1: filter, laser (the 685 nm diode goes as 0), high voltage.
    scanparams[kParamFilter] = BYTE(choice.filterIndex + 1);
    laserCh1index = choice.laserIndex;
    BYTE laser = 0;
    if (laserCh1index >= 0 && laserCh1index < int(std::size(laserCh1)))
        laser = laserCh1[laserCh1index];
    scanparams[kParamLaser] = laser == kLaserDiodeCode ? 0 : laser;
    scanparams[kParamChannelOn] = 1;
    scan_HVch1 = choice.HVch1;
    Put16(kParamHVch1, scan_HVch1);

    // 12. Channel 2 is kept but not sent.
    scan_HVch2 = choice.HVch2;
    Put16(kParamHVch2, 0);
    std::memcpy(scanparams + kParamHeader, kParamHeaderBytes, sizeof kParamHeaderBytes);
    scanTemplate[0].mode = choice.mode;
    if (kirel5)
        return true;

    // 13. The readers: millimetres, their line buffer, and their own parameter bytes. A
    // line holds exactly `height` pixels of the area, whatever its height in millimetres.
    s.VESKwidth = qint32(area.width / kUmPerMm);
    s.VESKheight = qint32(area.height / kUmPerMm);
    s.VESKxstart = qint32(area.x0 / kUmPerMm);
    s.VESKystart = qint32(area.y0 / kUmPerTenthMm);
    if (ScannerType != kModelVESK5000) {
        s.latitude = 5;
        s.sensitivity = 4000;
    }
    s.pixwidth = s.height;
    s.bufferlines = reader->bufferlines;
    s.bufferreadsize = reader->bufferreadsize;
    s.bufptroffset = s.VESKystart * reader->offsetPerTenthMm;
    s.bytelinewidth = reader->bytelinewidth;

    std::memset(scanparams, 0, kParamHVch1);
    scanparams[kReaderResolutionCode] = BYTE(reader->code);
    scanparams[kReaderLatitude] = BYTE(s.latitude);
    Put16(kReaderX0, s.VESKxstart);
    Put16(kReaderWidth, s.VESKwidth);
    Put16(kReaderSensitivity, s.sensitivity);
    if (ScannerType == kModelKIREL3)
        std::memcpy(scanparams + kKirel3Tail, kKirel3TailBytes, sizeof kKirel3TailBytes);
    return true;
}

void MainWindow::on_pushButton_Scan_clicked()
{
    // 1-4. The file name: given, one file inside the folder, not yet used.
    ++scanpassnumber;
    image_name = FileNameTidy(ui->lineEdit_filename->text());
    image_comment = ui->lineEdit_comment->text();
    if (image_name != ui->lineEdit_filename->text())
        ui->lineEdit_filename->setText(image_name); // the operator sees the name stored
    // The KIREL-3000 has no scan path. Start Scan says so at once, before any setting is
    // stored or any file made, rather than from a scan window that cannot run.
    if (ScannerType == kModelKIREL3) {
        Inform(this, "SCAN ERROR",
               "Scan Error:<ul><li>Scanning is not available on this model</li></ul>");
        return;
    }
    if (image_name.isEmpty()) {
        Inform(this, "Input Error", "File Name Cannot Be Blank!");
        return;
    }
    QString textProblem = FileTextsProblem(image_name, image_comment);
    if (textProblem.isEmpty())
        textProblem = FolderTextProblem(image_dir);
    if (!textProblem.isEmpty()) {
        QMessageBox::information(this, QStringLiteral("Input Error"), textProblem, QMessageBox::Ok);
        return;
    }
    // Every file the scan would make counts, so that none of an earlier scan is replaced.
    if (!ScanNameTaken().isEmpty()) {
        Inform(this, "File Name Error", "File Name Already Exists!");
        return;
    }
    const ScanChoice choice = ScanChoiceRead(ui);
    const ScanAreaUm area = ScanAreaCompute(choice);
    if (area.width <= 0 || area.height <= 0) {
        Inform(this, "Input Error", "Scan Area Is Empty!");
        return;
    }

    // 5-7. The settings as the "startup" template, rewritten with the others.
    StartupTemplateRecord(choice);
    if (!TemplateStartupWrite())
        QMessageBox::information(this, QStringLiteral("FILE ERROR"),
                                 QStringLiteral("The settings of this scan could not be saved:\n"
                                                "%1\nThe scan goes on.")
                                     .arg(DataFileWriteProblem()),
                                 QMessageBox::Ok);
    std::fprintf(stderr, "STARTING SCAN\n");

    // 8-14. Geometry and parameter block.
    if (!ScanRequestFill(choice, area)) {
        Inform(this, "Input Error", "Resolution Not Available On This Scanner!");
        return;
    }
    ScanParamsTrace();

    // 15. The scan log.
    if (sysparams.scanlog == 1) {
        kirelscanfile_log.setFileName(ScanLogPath());
        ScanLogWrite(ScanLogRecord(quint32(area.x0), quint32(area.y0), quint32(area.width),
                                   quint32(area.height), choice.filterIndex + 1));
    }

    // 16. The scan runs in its own window, over this one.
    ScanWindow window;
    window.setModal(true);
    window.move(ScanWindowPlace(window.size()));
    window.exec();
    // A log that could not be written during the scan is on the status log.
    ui->label_statuslog->setText(QNewStatusString);
}

QPoint DialogPlace(const QRect &owner, const QSize &size, const QMargins &frame,
                   const QRect &screen)
{
    const QSize outer = size.grownBy(frame);
    QPoint p(owner.x() + (owner.width() - outer.width()) / 2,
             owner.y() + (owner.height() - outer.height()) / 2);
    // Left and top edge first, then right and bottom: where the dialog is larger than the
    // screen, the bottom-right part stays on it.
    p.setX(qMax(p.x(), screen.x()));
    p.setY(qMax(p.y(), screen.y()));
    p.setX(qMin(p.x(), screen.x() + screen.width() - outer.width()));
    p.setY(qMin(p.y(), screen.y() + screen.height() - outer.height()));
    return p;
}

// The scan window gets the frame this window has, on the screen this window is on.
QPoint MainWindow::ScanWindowPlace(const QSize &size) const
{
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    QScreen *onScreen = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect available = onScreen ? onScreen->availableGeometry() : outer;
    return DialogPlace(outer, size, frame, available);
}
