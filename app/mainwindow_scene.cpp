// The scan-area picture: the scanner bed of the model with its grid, labels and tiles.
//
// Scene units, y growing downwards; the view shows the rectangle (-250, -170, 500, 400).
// Each model's bed is described by one table row; the drawing code is shared.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "scanstate.h"
#include "scantile.h"

#include <QBrush>
#include <QFont>
#include <QGraphicsLineItem>
#include <QGraphicsPathItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QGraphicsView>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QScrollBar>

#include <algorithm>
#include <vector>

namespace
{

const QRectF kSceneRect(-250, -170, 500, 400);
const QPointF kViewCentre(100, 100);

struct GridLines {
    int from, to, step;   // positions of the lines
    int spanFrom, spanTo; // extent of each line across them
};

// Row labels run from the top of the picture down, one per tile row; the KIREL-5000/5100
// numbers its rows from the bottom up, the others from the top down.
struct RowLabels {
    int count;
    int topY;
    int step;
    bool numberedFromBottom;
};

struct ColumnLabels {
    int count;
    int x0;
    int step;
    std::vector<int> ys;
};

// A tile whose bed has a cut corner: the square is replaced by a red triangle (the part
// outside the bed) and a green pentagon.
struct CornerShape {
    QPolygonF triangle;
    QPolygonF pentagon;
};

struct TileGrid {
    int columns, rows, pitch;
    int originX, originY; // scene position of tile (0, 0)
    int topLeft, size;    // local rectangle of every tile item
};

struct BedPicture {
    int model;
    GridLines vertical;
    GridLines horizontal;
    std::vector<QLineF> extraLines;
    QRectF outline;
    std::vector<QRectF> lightStrips;
    std::vector<QRectF> darkBlocks;
    bool handle; // the KIREL-5000/5100's tray handle under the bed
    ColumnLabels columns;
    RowLabels rows;
    TileGrid tiles;
    bool cutCorner2; // tile (0, 7) is shaped
    bool cutCorner3; // tile (0, 8) is shaped
    QPointF corner2Pos;
    QPointF corner3Pos;
    CornerShape corner;
    // How far the picture is moved in the window from where the form puts it (scene point
    // (0, 0) at window point (501, 241)), so that the click arithmetic's tiles, which count
    // in window pixels, fall on the drawn ones.
    QPoint clickShift;
};

const CornerShape kVeskCorner = {
    QPolygonF({{-17, 17}, {-17, -3}, {3, 17}}),
    QPolygonF({{3, 17}, {17, 17}, {17, -17}, {-17, -17}, {-17, -3}}),
};
const CornerShape kKirel3Corner = {
    QPolygonF({{-12, 11}, {-12, -4}, {3, 11}}),
    QPolygonF({{3, 11}, {11, 11}, {11, -12}, {-12, -12}, {-12, -4}}),
};

const std::vector<BedPicture> &BedPictures()
{
    static const std::vector<BedPicture> pictures = {
        {kModelKIREL5,
         {-180, 180, 20, -160, 160},
         {-160, 160, 20, -180, 180},
         {},
         {-202, -161, 404, 343},
         {{-201, -160, 21, 341}, {180, -160, 21, 341}, {-201, 160, 402, 20}},
         {{-201, 160, 21, 20}, {180, 160, 21, 20}, {-54, 183, 10, 15}, {46, 183, 10, 15}},
         true,
         {18, -178, 20, {162}},
         {16, -162, 20, true},
         {18, 16, 20, -170, -150, -10, 20},
         false,
         false,
         {},
         {},
         {},
         {0, 0}},
        {kModelKIREL3,
         {-172, 173, 23, -54, 153},
         {-54, 153, 23, -172, 173},
         {},
         {-202, -83, 404, 265},
         {{-201, -82, 21, 262}, {180, -82, 21, 262}, {-201, 160, 402, 20}, {-201, -81, 402, 20}},
         {{-201, 160, 21, 20}, {180, 160, 21, 20}, {-201, -81, 21, 20}, {180, -81, 21, 20}},
         false,
         {15, -168, 23, {162, -81}},
         {9, -52, 23, false},
         {15, 9, 23, -161, -43, -11, 23},
         true,
         true,
         {-160, 119},
         {-160, 142},
         kKirel3Corner,
         {0, -2}},
        {kModelVESK5000,
         {-170, 170, 34, -119, 153},
         {-119, 153, 34, -170, 170},
         {},
         {-202, -127, 404, 309},
         {{-201, -126, 21, 307}, {180, -126, 21, 307}, {-201, 160, 402, 20}},
         {{-201, 160, 21, 20}, {180, 160, 21, 20}},
         false,
         {10, -160, 34, {162}},
         {8, -110, 34, false},
         {10, 8, 34, -153, -102, -17, 34},
         true,
         false,
         {-153, 136},
         {},
         kVeskCorner,
         {0, 1}},
        {kModelVESK1800,
         {-170, 170, 34, -153, 153},
         {-153, 153, 34, -170, 170},
         {QLineF(-180, 125, 180, 125)},
         {-202, -161, 404, 343},
         {{-201, -160, 21, 341}, {180, -160, 21, 341}, {-201, 160, 402, 20}},
         {{-201, 160, 21, 20}, {180, 160, 21, 20}},
         false,
         {10, -160, 34, {162}},
         {9, -144, 34, false},
         {10, 9, 34, -153, -136, -17, 34},
         true,
         true,
         {-153, 102},
         {-153, 136},
         kVeskCorner,
         {-10, -7}},
    };
    return pictures;
}

const BedPicture &BedPictureOf(int model)
{
    for (const BedPicture &picture : BedPictures())
        if (picture.model == model)
            return picture;
    return BedPictures().front();
}

// The tray handle of the KIREL-5000/5100, under the middle of the bed.
QPainterPath HandlePath()
{
    QPainterPath path;
    path.moveTo(-52, 198);
    path.lineTo(-52, 210);
    path.arcTo(QRectF(-52, 200, 20, 20), 180, 90);
    path.lineTo(44, 220);
    path.arcTo(QRectF(34, 200, 20, 20), 270, 90);
    path.lineTo(54, 198);
    path.lineTo(48, 198);
    path.lineTo(48, 208);
    path.arcTo(QRectF(36, 202, 12, 12), 0, -90);
    path.lineTo(-40, 214);
    path.arcTo(QRectF(-46, 202, 12, 12), 270, -90);
    path.lineTo(-46, 198);
    path.closeSubpath();
    return path;
}

QGraphicsTextItem *LabelAdd(QGraphicsScene *scene, const QString &text, qreal x, qreal y)
{
    QGraphicsTextItem *label =
        scene->addText(text, QFont(QStringLiteral("Helvetica"), 10, QFont::Bold));
    label->setDefaultTextColor(Qt::blue);
    label->setPos(x, y);
    return label;
}

QGraphicsPathItem *CornerItemCreate(const QPolygonF &shape, const QColor &fill)
{
    QPainterPath path;
    path.addPolygon(shape);
    path.closeSubpath();
    auto *corner = new QGraphicsPathItem(path);
    corner->setBrush(QBrush(fill, Qt::SolidPattern));
    return corner;
}

QGraphicsRectItem *FrameCreate(qreal x, qreal y, qreal w, qreal h)
{
    auto *frame = new QGraphicsRectItem(x, y, w, h);
    frame->setPen(QPen(Qt::green));
    frame->setBrush(QBrush(Qt::green, Qt::SolidPattern));
    return frame;
}

bool ShapedCorner(const BedPicture &picture, int column, int row)
{
    return column == 0 && ((row == 7 && picture.cutCorner2) || (row == 8 && picture.cutCorner3));
}

} // namespace

void MainWindow::ScanAreaBuild()
{
    scene = new QGraphicsScene(this);
    QGraphicsView *view = ui->graphicsView_ScanArea;
    view->setScene(scene);
    scene->setSceneRect(kSceneRect);
    ViewPlace();
    view->centerOn(kViewCentre);
    ScanBedDraw();
    TilesCreate();
    for (int c = 0; c < kTileColumns; ++c)
        for (int r = 0; r < kTileRows; ++r)
            if (tileflag[c][r])
                TileShow(c, r);
    ui->graphicsView_ScanArea->installEventFilter(this);
}

// Moves the picture in the window by the model's shift. The view shows the whole scene from
// its top-left corner, so moving the view right or down moves the picture with it. There is
// no room to move it left or up (the group's title is there); the view is made smaller at its
// right and bottom edges instead and scrolled to the scene's bottom-right corner, which then
// sits at the view's (centring on a point beyond the reach of the scroll bars ends there,
// whenever the view gets its final size). The picture must never move after that: the view
// takes no keyboard focus and its scroll bars ignore the wheel.
void MainWindow::ViewPlace()
{
    QGraphicsView *view = ui->graphicsView_ScanArea;
    const QPoint shift = BedPictureOf(ScannerType).clickShift;
    view->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    view->setGeometry(view->x() + std::max(shift.x(), 0), view->y() + std::max(shift.y(), 0),
                      view->width() + std::min(shift.x(), 0),
                      view->height() + std::min(shift.y(), 0));
    view->setFocusPolicy(Qt::NoFocus);
    view->horizontalScrollBar()->setEnabled(false);
    view->verticalScrollBar()->setEnabled(false);
}

QSize TileGridOf(int model)
{
    const TileGrid &grid = BedPictureOf(model).tiles;
    return QSize(grid.columns, grid.rows);
}

QSize MainWindow::TileGridSize() const
{
    return TileGridOf(ScannerType);
}

void MainWindow::ScanBedDraw()
{
    const BedPicture &bed = BedPictureOf(ScannerType);
    const QPen gridPen(Qt::black, 1);
    for (int x = bed.vertical.from; x <= bed.vertical.to; x += bed.vertical.step)
        line = scene->addLine(x, bed.vertical.spanFrom, x, bed.vertical.spanTo, gridPen);
    for (int y = bed.horizontal.from; y <= bed.horizontal.to; y += bed.horizontal.step)
        line = scene->addLine(bed.horizontal.spanFrom, y, bed.horizontal.spanTo, y, gridPen);
    for (const QLineF &extra : bed.extraLines)
        line = scene->addLine(extra, gridPen);

    scene->addRect(bed.outline, QPen(Qt::black, 3), Qt::NoBrush);

    const QPen thin(Qt::black, 0);
    for (const QRectF &strip : bed.lightStrips)
        scene->addRect(strip, thin, QBrush(Qt::lightGray, Qt::SolidPattern));
    for (const QRectF &block : bed.darkBlocks)
        scene->addRect(block, thin, QBrush(Qt::darkGray, Qt::SolidPattern));
    if (bed.handle)
        scene->addPath(HandlePath(), thin, QBrush(Qt::lightGray, Qt::SolidPattern));

    for (int y : bed.columns.ys)
        for (int i = 0; i < bed.columns.count; ++i)
            LabelAdd(scene, QString(QChar('A' + i)), bed.columns.x0 + bed.columns.step * i, y);
    for (int i = 0; i < bed.rows.count; ++i) {
        const int number = bed.rows.numberedFromBottom ? bed.rows.count - i : i + 1;
        const qreal y = bed.rows.topY + bed.rows.step * i;
        // Two-digit numbers stand a little further out so that they clear the bed.
        const int shift = number >= 10 ? 5 : 0;
        LabelAdd(scene, QString::number(number), -195 - shift, y);
        LabelAdd(scene, QString::number(number), 185 - shift, y);
    }

    // The VESK readers outline a loaded imaging plate; the frames wait out of the scene
    // until a plate size is chosen.
    if (ScannerType == kModelVESK5000) {
        border2025l = FrameCreate(-179, -125, 8, 284);
        border2025r = FrameCreate(171, -125, 8, 284);
        border2025t = FrameCreate(-170, -125, 341, 5);
        border2025b = FrameCreate(-170, 154, 341, 5);
    } else if (ScannerType == kModelVESK1800) {
        border2025l = FrameCreate(-179, -159, 8, 284);
        border2025r = FrameCreate(171, -159, 8, 284);
        border2025t = FrameCreate(-170, -159, 341, 5);
        border2025b = FrameCreate(-170, 120, 341, 4);
        border2325l = FrameCreate(-179, -159, 8, 318);
        border2325r = FrameCreate(171, -159, 8, 318);
        border2325b = FrameCreate(-170, 154, 341, 4);
    }
}

// One item per tile position, placed on the model's grid; the shaped corner items of the
// models with a cut corner.
void MainWindow::TilesCreate()
{
    const BedPicture &bed = BedPictureOf(ScannerType);
    const TileGrid &grid = bed.tiles;
    topleftX = topleftY = grid.topLeft;
    tileW = tileH = grid.size;
    for (int c = 0; c < kTileColumns; ++c)
        for (int r = 0; r < kTileRows; ++r) {
            scanarea[c][r] = QPointF(grid.originX + grid.pitch * c, grid.originY + grid.pitch * r);
            item[c][r] = new scantile;
        }
    if (bed.cutCorner2) {
        corner2aGraphic = CornerItemCreate(bed.corner.triangle, Qt::red);
        corner2bGraphic = CornerItemCreate(bed.corner.pentagon, Qt::green);
        corner2aGraphic->setPos(bed.corner2Pos);
        corner2bGraphic->setPos(bed.corner2Pos);
    }
    if (bed.cutCorner3) {
        corner3aGraphic = CornerItemCreate(bed.corner.triangle, Qt::red);
        corner3bGraphic = CornerItemCreate(bed.corner.pentagon, Qt::green);
        corner3aGraphic->setPos(bed.corner3Pos);
        corner3bGraphic->setPos(bed.corner3Pos);
    }
}

// Shows a selected tile. Positions beyond the model's bed (a plate size or template made
// for a larger bed) keep their flag but are not drawn.
void MainWindow::TileShow(int column, int row)
{
    const BedPicture &bed = BedPictureOf(ScannerType);
    if (column < 0 || column >= bed.tiles.columns || row < 0 || row >= bed.tiles.rows)
        return;
    QList<QGraphicsItem *> shown;
    if (ShapedCorner(bed, column, row)) {
        if (row == 7)
            shown = {corner2aGraphic, corner2bGraphic};
        else
            shown = {corner3aGraphic, corner3bGraphic};
    } else {
        item[column][row]->setPos(scanarea[column][row]);
        shown = {item[column][row]};
    }
    for (QGraphicsItem *graphic : shown)
        if (graphic->scene() != scene)
            scene->addItem(graphic);
}

void MainWindow::TileHide(int column, int row)
{
    if (column < 0 || column >= kTileColumns || row < 0 || row >= kTileRows)
        return;
    const BedPicture &bed = BedPictureOf(ScannerType);
    QList<QGraphicsItem *> hidden = {item[column][row]};
    if (ShapedCorner(bed, column, row)) {
        if (row == 7)
            hidden = {corner2aGraphic, corner2bGraphic};
        else
            hidden = {corner3aGraphic, corner3bGraphic};
    }
    for (QGraphicsItem *graphic : hidden)
        if (graphic && graphic->scene() == scene)
            scene->removeItem(graphic);
}
