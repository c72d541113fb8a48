// Choosing the scan area on the bed picture: clicks on the tiles, the imaging-plate sizes
// and the latitude buttons.
//
// The selection is one rectangle of tiles: top-left corner scancornerL, bottom-right corner
// scancornerR and an anchor scancornerC near its middle. A click moves the corner of the
// rectangle that lies in the clicked tile's quadrant as seen from the anchor; a plate size
// replaces the rectangle. tileflag marks the selected tiles, whose items are in the scene
// (TileShow, TileHide in mainwindow_scene.cpp).
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "scanstate.h"

#include <QDebug>
#include <QEvent>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QLoggingCategory>
#include <QMouseEvent>

#include <algorithm>

Q_LOGGING_CATEGORY(lcArea, "station.area")

namespace
{

// Window pixels to tiles. The arithmetic counts from the window's own corner with fixed
// offsets per model; the picture is placed so that these tiles fall on the drawn ones
// (mainwindow_scene.cpp).
constexpr int kClickX0 = 240;
constexpr int kClickY0 = 60;
constexpr int kClickYLift = 30;

struct ClickGrid {
    int model;
    int ox, oy, pitch;
    int rowsAbove; // rows of the arithmetic above the bed's first row
};

const ClickGrid kClickGrids[] = {
    {kModelKIREL5, 80, 50, 20, 0},
    {kModelVESK1800, 80, 50, 34, 0},
    {kModelVESK5000, 90, 92, 34, 0},
    {kModelKIREL3, 88, 39, 23, 5},
};

const ClickGrid &ClickGridOf(int model)
{
    for (const ClickGrid &grid : kClickGrids)
        if (grid.model == model)
            return grid;
    return kClickGrids[0];
}

// A plate size: its corners and anchor on the bed of the models that offer it. model 0 is
// every model not listed before it. The 40 cm plates and the 35x43cm plate lie on the
// KIREL-5000/5100's bed; the 25 cm plates lie at the loading edge of the readers' beds, and
// the KIREL-3000's bed (15 x 9 tiles) holds them the same way.
struct PlatePreset {
    int area;
    int model;
    QPointF L, R, C;
};

const PlatePreset kPlatePresets[] = {
    {kArea2040, 0, {0, 8}, {15, 15}, {7, 11}},
    {kArea2340, 0, {0, 6}, {15, 15}, {7, 10}},
    // R lies one column and one row beyond the bed; only the tiles that exist are selected.
    {kArea3543, 0, {0, 2}, {16, 16}, {8, 8}},
    {kArea2025, kModelKIREL5, {0, 8}, {9, 15}, {4, 11}},
    {kArea2025, 0, {0, 0}, {9, 7}, {4, 3}},
    {kArea2325, kModelKIREL5, {0, 6}, {9, 15}, {4, 10}},
    {kArea2325, 0, {0, 0}, {9, 8}, {4, 4}},
};

const PlatePreset &PlatePresetOf(int area, int model)
{
    const PlatePreset *found = &kPlatePresets[0];
    for (const PlatePreset &preset : kPlatePresets)
        if (preset.area == area && (preset.model == model || preset.model == 0)) {
            found = &preset;
            break;
        }
    return *found;
}

int Col(const QPointF &p)
{
    return int(p.x());
}

int Row(const QPointF &p)
{
    return int(p.y());
}

} // namespace

bool ScanCornersOnBed(int model, const QPointF &L, const QPointF &R, const QPointF &C)
{
    const QSize bed = TileGridOf(model);
    // Comparisons written so that NaN fails each of them.
    auto within = [](double v, int last) { return v >= 0 && v <= last; };
    auto onBed = [&](const QPointF &p, int lastRow) {
        return within(p.x(), bed.width() - 1) && within(p.y(), lastRow);
    };
    return onBed(L, bed.height() - 1) && onBed(R, bed.height()) && onBed(C, bed.height()) &&
           L.x() <= R.x() && L.y() <= R.y();
}

// Tile under a window position; false when the position is off the model's grid.
bool MainWindow::ClickedTile(const QPoint &windowPos, int &column, int &row) const
{
    const ClickGrid &grid = ClickGridOf(ScannerType);
    const int x = windowPos.x();
    const int y = windowPos.y() + kClickYLift;
    column = (x - 1 - kClickX0 - grid.ox) / grid.pitch;
    row = (y - 1 - kClickY0 - grid.oy) / grid.pitch - grid.rowsAbove;
    qCDebug(lcArea) << column;
    qCDebug(lcArea) << row;
    const QSize bed = TileGridSize();
    return column >= 0 && column < bed.width() && row >= 0 && row < bed.height();
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    if (!ui->radioButtonGrid->isChecked())
        return;
    int column = 0;
    int row = 0;
    if (ClickedTile(event->pos(), column, row))
        TileClicked(column, row);
}

void MainWindow::mouseMoveEvent(QMouseEvent *) {}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->graphicsView_ScanArea && event->type() == QEvent::MouseMove)
        qCDebug(lcArea) << "mousemoved";
    return false;
}

// Moves the corner of the rectangle that lies in the clicked tile's quadrant, seen from the
// anchor. Every comparison uses the corners from before the click; the deselecting steps run
// over the old rectangle, so that afterwards exactly the new rectangle is selected.
void MainWindow::TileClicked(int c, int r)
{
    int lx = Col(scancornerL), ly = Row(scancornerL);
    int rx = Col(scancornerR), ry = Row(scancornerR);
    const int cx = Col(scancornerC), cy = Row(scancornerC);
    const int oldLx = lx, oldLy = ly, oldRx = rx, oldRy = ry;

    if (c >= cx && r >= cy) { // bottom-right corner
        if (c > oldRx || r > oldRy)
            TilesSelect(oldLx, c, oldLy, r);
        if (c < oldRx)
            TilesDeselect(c + 1, oldRx, oldLy, oldRy);
        if (r < oldRy)
            TilesDeselect(oldLx, oldRx, r + 1, oldRy);
        rx = c;
        ry = r;
    } else if (c < cx && r < cy) { // top-left corner
        if (c < oldLx || r < oldLy)
            TilesSelect(c, oldRx, r, oldRy);
        if (c > oldLx)
            TilesDeselect(oldLx, c - 1, oldLy, oldRy);
        if (r > oldLy)
            TilesDeselect(oldLx, oldRx, oldLy, r - 1);
        lx = c;
        ly = r;
    } else if (c < cx) { // left edge and bottom edge
        if (c < oldLx || r > oldRy)
            TilesSelect(c, oldRx, oldLy, r);
        if (c > oldLx)
            TilesDeselect(oldLx, c - 1, oldLy, oldRy);
        if (r < oldRy)
            TilesDeselect(oldLx, oldRx, r + 1, oldRy);
        lx = c;
        ry = r;
    } else { // right edge and top edge
        if (c > oldRx || r < oldLy)
            TilesSelect(oldLx, c, r, oldRy);
        if (c < oldRx)
            TilesDeselect(c + 1, oldRx, oldLy, oldRy);
        if (r > oldLy)
            TilesDeselect(oldLx, oldRx, oldLy, r - 1);
        rx = c;
        ly = r;
    }

    scancornerL = QPointF(lx, ly);
    scancornerR = QPointF(rx, ry);
    // The anchor's row lies one further down than the middle.
    scancornerC = QPointF(lx + (rx - lx) / 2, ly + (ry - ly) / 2 + 1);
    SelectionCount();
}

// Corners may lie beyond the tile arrays (the 35x43cm plate); only existing tiles change.
void MainWindow::TilesSelect(int fromColumn, int toColumn, int fromRow, int toRow)
{
    for (int i = std::max(fromColumn, 0); i <= std::min(toColumn, kTileColumns - 1); ++i)
        for (int j = std::max(fromRow, 0); j <= std::min(toRow, kTileRows - 1); ++j)
            if (!tileflag[i][j]) {
                TileShow(i, j);
                tileflag[i][j] = 1;
            }
}

void MainWindow::TilesDeselect(int fromColumn, int toColumn, int fromRow, int toRow)
{
    for (int i = std::max(fromColumn, 0); i <= std::min(toColumn, kTileColumns - 1); ++i)
        for (int j = std::max(fromRow, 0); j <= std::min(toRow, kTileRows - 1); ++j)
            if (tileflag[i][j]) {
                TileHide(i, j);
                tileflag[i][j] = 0;
            }
}

// Tile count of the rectangle and the estimates that follow from it.
void MainWindow::SelectionCount()
{
    scanDur.num =
        (Col(scancornerR) - Col(scancornerL) + 1) * (Row(scancornerR) - Row(scancornerL) + 1);
    EstimateRefresh();
}

void MainWindow::PlateChoose(int area)
{
    const PlatePreset &preset = PlatePresetOf(area, ScannerType);
    scancornerL = preset.L;
    scancornerR = preset.R;
    scancornerC = preset.C;
    for (int i = 0; i < kTileColumns; ++i)
        for (int j = 0; j < kTileRows; ++j) {
            const bool inside = Col(preset.L) <= i && i <= Col(preset.R) && Row(preset.L) <= j &&
                                j <= Row(preset.R);
            tileflag[i][j] = inside ? 1 : 0;
            if (inside)
                TileShow(i, j);
            else
                TileHide(i, j);
        }
    SelectionCount();
}

// The outline of a loaded plate on the readers' loading area. Frames a model does not have
// are null and left alone.
void MainWindow::PlateFrames(std::initializer_list<QGraphicsRectItem *> removed,
                             std::initializer_list<QGraphicsRectItem *> added)
{
    for (QGraphicsRectItem *frame : removed)
        if (frame && frame->scene() == scene)
            scene->removeItem(frame);
    for (QGraphicsRectItem *frame : added)
        if (frame && frame->scene() != scene)
            scene->addItem(frame);
}

void MainWindow::on_radioButtonIP2040_clicked()
{
    PlateChoose(kArea2040);
}

void MainWindow::on_radioButtonIP2340_clicked()
{
    PlateChoose(kArea2340);
}

void MainWindow::on_radioButtonIP2025_clicked()
{
    PlateChoose(kArea2025);
    PlateFrames({border2325l, border2325r, border2325b},
                {border2025l, border2025r, border2025t, border2025b});
}

void MainWindow::on_radioButtonIP2325_clicked()
{
    PlateChoose(kArea2325);
    PlateFrames({border2025b}, {border2325l, border2325r, border2025t, border2325b});
}

void MainWindow::on_radioButtonIP3543_clicked()
{
    PlateChoose(kArea3543);
}

// Back to free selection: the plate outline goes, the selection stays.
void MainWindow::on_radioButtonGrid_clicked()
{
    PlateFrames(
        {border2025l, border2025r, border2025t, border2025b, border2325l, border2325r, border2325b},
        {});
}

// Latitude 5 cannot take the lowest sensitivity, latitude 4 not the highest.
void MainWindow::on_radioButton5_clicked()
{
    if (ui->radioButton1000->isChecked())
        ui->radioButton4000->setChecked(true);
    ui->radioButton1000->setEnabled(false);
    ui->radioButton30000->setEnabled(true);
}

void MainWindow::on_radioButton_clicked()
{
    if (ui->radioButton30000->isChecked())
        ui->radioButton10000->setChecked(true);
    ui->radioButton1000->setEnabled(true);
    ui->radioButton30000->setEnabled(false);
}
