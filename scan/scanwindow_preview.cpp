// The live preview, the histogram and the gradation bar of the scan window.
//
// The readouts sample each piece into the 8-bit preview buffer and count the histogram
// bins (PreviewLinesSample, HistogramLinesCount); the read tick turns them into pictures
// when at least one whole preview row is waiting (RefreshCycle). Every picture is built in
// a fixed buffer; nothing is allocated per line or pixel.
#include "scanwindow.h"
#include "ui_scanwindow.h"

#include "scanstate.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QImage>
#include <QLoggingCategory>
#include <QPixmap>

Q_DECLARE_LOGGING_CATEGORY(lcScanSetup)

namespace
{

constexpr int kRgba = 4;
constexpr BYTE kOpaque = 255;
constexpr int kGradationHeight = 20;
constexpr float kHistogramMinScale = 80.0f;

enum DisplayColour { kGrey = 0, kRed = 1, kGreen = 2, kBlue = 3 };
constexpr int kWhiteBackground = 255;

// The preview picture as shown, bottom row first in scan order.
BYTE previewPicture[kPreviewMaxWidth * kPreviewMaxHeight * kRgba];
BYTE histogramPicture[kHistogramShownBins * kHistogramHeight * kRgba];
BYTE gradationPicture[kHistogramShownBins * kGradationHeight * kRgba];

// The colour of every preview byte for the current display style.
void ColourTableFill(BYTE table[256][kRgba])
{
    for (int v = 0; v < 256; ++v) {
        PreviewColour(v, displaycolour, displaybkg, table[v]);
        table[v][3] = kOpaque;
    }
}

void PixelSet(BYTE *pixel, BYTE r, BYTE g, BYTE b)
{
    pixel[0] = r;
    pixel[1] = g;
    pixel[2] = b;
    pixel[3] = kOpaque;
}

QPixmap Picture(const BYTE *bytes, int width, int height)
{
    return QPixmap::fromImage(QImage(bytes, width, height, width * kRgba, QImage::Format_RGBA8888));
}

// Adds the item the first time, replaces its picture afterwards.
void PictureShow(QGraphicsScene *scene, QGraphicsPixmapItem *&item, int &init,
                 const QPixmap &picture)
{
    if (init == 0 || !item) {
        item = scene->addPixmap(picture);
        init = 1;
    } else {
        item->setPixmap(picture);
    }
}

} // namespace

void PreviewColour(int value, int colour, int background, BYTE rgb[3])
{
    const BYTE v = BYTE(value);
    const BYTE inv = BYTE(255 - v);
    const bool white = background == kWhiteBackground;
    switch (colour) {
    case kRed:
        rgb[0] = white ? 255 : v;
        rgb[1] = rgb[2] = white ? inv : 0;
        break;
    case kGreen:
        rgb[1] = white ? 255 : v;
        rgb[0] = rgb[2] = white ? inv : 0;
        break;
    case kBlue:
        rgb[2] = white ? 255 : v;
        rgb[0] = rgb[1] = white ? inv : 0;
        break;
    case kGrey:
    default:
        if (white && v == 255) {
            // Full scale shows red on the white background.
            rgb[0] = 255;
            rgb[1] = rgb[2] = 0;
        } else {
            rgb[0] = rgb[1] = rgb[2] = white ? inv : v;
        }
        break;
    }
}

void HistogramLinesCount(const BYTE *lines, int lineCount, int pixels, int lineBytes)
{
    for (int k = 0; k < lineCount; ++k) {
        const BYTE *p = lines + qint64(k) * lineBytes;
        for (int x = 0; x < pixels; ++x, p += 2) {
            const int value = p[0] << 8 | p[1];
            if (value != 0)
                histval[HistogramBin(value)] += 1.0f;
        }
    }
}

void PreviewLinesSample(const BYTE *lines, int lineCount, int pixels, int lineBytes)
{
    const ScanSetup &s = newscansetup;
    if (s.previewwidth <= 0 || s.previewheight <= 0)
        return;
    const int lastColumn = s.previewwidth - 1;
    for (int k = 1; k <= lineCount; ++k) {
        int row = int(s.previewscale * float(s.scanstatus + k - 1)) + 1;
        if (row < 1)
            row = 1;
        if (row > s.previewheight)
            row = s.previewheight;
        BYTE *out = scanimage + qint64(s.previewwidth) * (row - 1);
        const BYTE *p = lines + qint64(k - 1) * lineBytes;
        for (int x = 0; x < pixels; ++x, p += 2) {
            int column = int(float(x) * s.previewscale);
            if (column > lastColumn)
                column = lastColumn;
            out[column] = PreviewByte(p[0], p[1]);
        }
    }
}

void PreviewPieceBook()
{
    ScanSetup &s = newscansetup;
    s.previewbuffer += s.previewincrement;
    s.scanstatus += s.bufferlines;
    if (s.previewbuffer >= 1.0f)
        s.newpreviewflag = 1;
}

// Shows the rows completed up to the last refresh, then books the rows now waiting.
void ScanWindow::RefreshCycle()
{
    ScanSetup &s = newscansetup;
    const int waiting = int(s.previewbuffer);
    PreviewRefresh();
    s.previewposition += waiting;
    s.previewbuffer -= float(waiting);
    s.newpreviewflag = 0;
    HistogramPictureShow();
}

// At the end of a scan every preview row that holds lines is shown. A refresh shows only
// the rows completed up to the one before, so the rows of the last pieces would otherwise
// stay the blue of the empty area, as if the scan had missed its last lines.
void ScanWindow::PreviewFinish()
{
    ScanSetup &s = newscansetup;
    if (s.scanstatus <= 0 || s.previewheight <= 0)
        return;
    // The row of the last line read, as the sampling places it.
    const int rows = qBound(1, int(s.previewscale * float(s.scanstatus - 1)) + 1, s.previewheight);
    s.previewposition = qMax(s.previewposition, rows);
    s.previewbuffer = 0;
    s.newpreviewflag = 0;
    PreviewRefresh();
}

// Bars of the 160 shown bins, one pixel per count up to 80 counts, scaled to the tallest
// bar above that.
void ScanWindow::HistogramPictureShow()
{
    float top = kHistogramMinScale;
    for (int i = 0; i < kHistogramShownBins; ++i)
        if (histval[i] > top)
            top = histval[i];
    for (int i = 0; i < kHistogramShownBins; ++i) {
        const int bar = int(histval[i] * float(kHistogramHeight) / top);
        for (int y = 0; y < kHistogramHeight; ++y) {
            BYTE *pixel = histogramPicture + (y * kHistogramShownBins + i) * kRgba;
            if (y >= kHistogramHeight - bar)
                PixelSet(pixel, 0, 0, 255);
            else
                PixelSet(pixel, 255, 255, 255);
        }
    }
    PictureShow(scene_hist, histItem, histInit,
                Picture(histogramPicture, kHistogramShownBins, kHistogramHeight));
}

int ScanWindow::PreviewRefresh()
{
    const ScanSetup &s = newscansetup;
    const int rows = qMin(s.previewposition, s.previewheight);
    if (rows <= 0 || s.previewwidth <= 0)
        return 0;

    BYTE colours[256][kRgba];
    ColourTableFill(colours);
    // The first preview row of the scan goes to the bottom of the picture.
    for (int j = 0; j < rows; ++j) {
        const BYTE *in = scanimage + qint64(j) * s.previewwidth;
        BYTE *out = previewPicture + qint64(rows - 1 - j) * s.previewwidth * kRgba;
        for (int x = 0; x < s.previewwidth; ++x, out += kRgba)
            std::copy(colours[in[x]], colours[in[x]] + kRgba, out);
    }
    PictureShow(scene, scanpreviewItem, scanprevInit,
                Picture(previewPicture, s.previewwidth, rows));
    scanpreviewItem->setPos(0, s.previewheight - rows);
    return 1;
}

int ScanWindow::HistogramRefresh()
{
    BYTE colours[256][kRgba];
    ColourTableFill(colours);
    for (int i = 0; i < kHistogramShownBins; ++i) {
        const int t = (i * 255) / kHistogramShownBins;
        for (int y = 0; y < kGradationHeight; ++y)
            std::copy(colours[t], colours[t] + kRgba,
                      gradationPicture + (y * kHistogramShownBins + i) * kRgba);
    }
    const bool first = histgradbarInit == 0;
    PictureShow(scene_gradbar, histgradbarItem, histgradbarInit,
                Picture(gradationPicture, kHistogramShownBins, kGradationHeight));
    if (first)
        histgradbarItem->setPos(0, 0);
    else
        scene_gradbar->update();
    return 1;
}

void ScanWindow::on_comboBox_DisplayColour_currentIndexChanged(int index)
{
    qCDebug(lcScanSetup) << "Colour" << index;
    displaycolour = index;
    HistogramRefresh();
    PreviewRefresh();
}

void ScanWindow::on_comboBox_DisplayBkg_currentIndexChanged(int index)
{
    qCDebug(lcScanSetup) << "Background" << index;
    displaybkg = index == 0 ? 255 : 0;
    HistogramRefresh();
    PreviewRefresh();
}
