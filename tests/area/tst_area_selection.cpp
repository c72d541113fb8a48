// The scan area on the bed picture: clicks on the tiles as the operator makes them (mouse
// events on the window, where the pointer is over the picture), the four corner moves, the
// plate sizes with their frames, the shaped corner tiles and the latitude buttons.
#include "settingssupport.h"
#include "scantile.h"

#include <QAbstractButton>
#include <QGraphicsPathItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLabel>
#include <QLoggingCategory>
#include <QWheelEvent>
#include <QtTest>

#include <algorithm>

namespace
{

struct Bed {
    int columns, rows;
    QList<int> shapedRows; // rows of column 0 drawn as a cut corner
};

Bed BedOf(int model)
{
    switch (model) {
    case kModelKIREL3:
        return {15, 9, {7, 8}};
    case kModelVESK5000:
        return {10, 8, {7}};
    case kModelVESK1800:
        return {10, 9, {7, 8}};
    default:
        return {18, 16, {}};
    }
}

QList<QGraphicsItem *> CornerItems(int row)
{
    if (row == 7)
        return {corner2aGraphic, corner2bGraphic};
    return {corner3aGraphic, corner3bGraphic};
}

// The items that stand for tile (c, r) on the picture.
QList<QGraphicsItem *> TileItems(int model, int c, int r)
{
    if (c == 0 && BedOf(model).shapedRows.contains(r))
        return CornerItems(r);
    return {item[c][r]};
}

void ModelRows()
{
    QTest::addColumn<int>("model");
    QTest::newRow("KIREL-5000/5100") << int(kModelKIREL5);
    QTest::newRow("KIREL-3000") << int(kModelKIREL3);
    QTest::newRow("VESK-5000") << int(kModelVESK5000);
    QTest::newRow("VESK-1800II") << int(kModelVESK1800);
}

} // namespace

class TestAreaSelection : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempStationRoot> root;
    std::unique_ptr<MainWindow> w;
    int model = kModelKIREL5;

    bool Start(int m)
    {
        model = m;
        w = MainWindowStart(m);
        w->show();
        return QTest::qWaitForWindowExposed(w.get());
    }
    QGraphicsView *View() { return Child<QGraphicsView>(*w, "graphicsView_ScanArea"); }
    QGraphicsScene *Scene() { return View()->scene(); }
    QPoint ToWindow(QPointF scenePoint)
    {
        return View()->viewport()->mapTo(w.get(), View()->mapFromScene(scenePoint));
    }
    // The pixels of tile (c, r)'s square as drawn in the window.
    QRect TileOnScreen(int c, int r)
    {
        const QRectF square = QRectF(topleftX, topleftY, tileW, tileH).translated(scanarea[c][r]);
        return QRect(ToWindow(square.topLeft()), ToWindow(square.bottomRight()) - QPoint(1, 1));
    }
    void Click(QPoint windowPos)
    {
        QTest::mouseClick(w->windowHandle(), Qt::LeftButton, Qt::NoModifier, windowPos);
    }
    void ClickTile(int c, int r) { Click(TileOnScreen(c, r).center()); }
    void ClickButton(const char *name) { Child<QAbstractButton>(*w, name)->click(); }
    // Back to the selection of a first start: tile (0, 0) alone.
    void SelectionRestart()
    {
        for (int c = 0; c < kTileColumns; ++c)
            for (int r = 0; r < kTileRows; ++r) {
                tileflag[c][r] = 0;
                if (item[c][r]->scene())
                    Scene()->removeItem(item[c][r]);
            }
        for (QGraphicsItem *corner :
             {corner2aGraphic, corner2bGraphic, corner3aGraphic, corner3bGraphic})
            if (corner && corner->scene())
                Scene()->removeItem(corner);
        tileflag[0][0] = 1;
        item[0][0]->setPos(scanarea[0][0]);
        Scene()->addItem(item[0][0]);
        scancornerL = scancornerR = scancornerC = QPointF(0, 0);
    }
    // What the picture shows is what is selected, and the count is the rectangle's.
    void SelectionConsistent()
    {
        const QPoint L = scancornerL.toPoint();
        const QPoint R = scancornerR.toPoint();
        QCOMPARE(FlaggedTiles(), TilesBetween(L, R));
        QCOMPARE(scanDur.num, (R.x() - L.x() + 1) * (R.y() - L.y() + 1));
        const Bed bed = BedOf(model);
        for (int c = 0; c < bed.columns; ++c)
            for (int r = 0; r < bed.rows; ++r)
                for (QGraphicsItem *graphic : TileItems(model, c, r))
                    QVERIFY2((graphic->scene() == Scene()) == (tileflag[c][r] == 1),
                             qPrintable(QStringLiteral("tile %1,%2").arg(c).arg(r)));
        for (int r : bed.shapedRows)
            QVERIFY(!item[0][r]->scene());
    }
    QList<QRectF> FramesShown()
    {
        QList<QRectF> frames;
        for (QGraphicsItem *graphic : Scene()->items())
            if (auto *rect = qgraphicsitem_cast<QGraphicsRectItem *>(graphic))
                if (rect->brush().color() == QColor(Qt::green))
                    frames << rect->rect();
        std::sort(frames.begin(), frames.end(), [](const QRectF &a, const QRectF &b) {
            return std::make_tuple(a.x(), a.y(), a.width(), a.height()) <
                   std::make_tuple(b.x(), b.y(), b.width(), b.height());
        });
        return frames;
    }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("station.*=false")); }
    void init()
    {
        root = std::make_unique<TempStationRoot>();
        QVERIFY(root->isValid());
    }
    void cleanup()
    {
        w.reset();
        root.reset();
    }

    void everyTilePixelSelectsTheTileDrawnThere_data() { ModelRows(); }
    void everyTilePixelSelectsTheTileDrawnThere();
    void clickMovesTheCornerInTheClickedQuadrant_data();
    void clickMovesTheCornerInTheClickedQuadrant();
    void clickPixelsAroundTheFirstTile_data();
    void clickPixelsAroundTheFirstTile();
    void clicksChangeNothingWithoutGrid();
    void selectionAndPictureAgreeAfterEveryClick_data() { ModelRows(); }
    void selectionAndPictureAgreeAfterEveryClick();
    void shapedCornerTilesComeAndGo_data();
    void shapedCornerTilesComeAndGo();
    void platePresets_data();
    void platePresets();
    void pictureDoesNotScroll();
    void latitudeRestrictsSensitivity_data();
    void latitudeRestrictsSensitivity();
};

// The centre and the four corner pixels of every tile's square on screen select that tile, and
// that tile is what the picture shows under the pointer.
void TestAreaSelection::everyTilePixelSelectsTheTileDrawnThere()
{
    QFETCH(int, model);
    QVERIFY(Start(model));
    const Bed bed = BedOf(model);
    for (int c = 0; c < bed.columns; ++c)
        for (int r = 0; r < bed.rows; ++r) {
            const QRect square = TileOnScreen(c, r);
            for (const QPoint &pointer : {square.center(), square.topLeft(), square.topRight(),
                                          square.bottomLeft(), square.bottomRight()}) {
                const QString where = QStringLiteral("tile %1,%2 at %3,%4")
                                          .arg(c)
                                          .arg(r)
                                          .arg(pointer.x())
                                          .arg(pointer.y());
                SelectionRestart();
                Click(pointer);
                QVERIFY2(scancornerR == QPointF(c, r), qPrintable(where));
                const QList<QGraphicsItem *> under =
                    View()->items(View()->viewport()->mapFrom(w.get(), pointer));
                bool shown = false;
                for (QGraphicsItem *graphic : TileItems(model, c, r))
                    shown = shown || under.contains(graphic);
                QVERIFY2(shown, qPrintable(where));
            }
        }
}

void TestAreaSelection::clickMovesTheCornerInTheClickedQuadrant_data()
{
    // Every row starts from L (2, 3), R (8, 9), anchor C (5, 7).
    QTest::addColumn<QPoint>("clicked");
    QTest::addColumn<QPoint>("L");
    QTest::addColumn<QPoint>("R");
    QTest::addColumn<QPoint>("C");
    QTest::newRow("lower right outside grows")
        << QPoint(10, 12) << QPoint(2, 3) << QPoint(10, 12) << QPoint(6, 8);
    QTest::newRow("lower right inside shrinks")
        << QPoint(6, 8) << QPoint(2, 3) << QPoint(6, 8) << QPoint(4, 6);
    QTest::newRow("lower right wider and shorter")
        << QPoint(10, 8) << QPoint(2, 3) << QPoint(10, 8) << QPoint(6, 6);
    QTest::newRow("anchor tile ends the rectangle there")
        << QPoint(5, 7) << QPoint(2, 3) << QPoint(5, 7) << QPoint(3, 6);
    QTest::newRow("upper left outside grows")
        << QPoint(0, 1) << QPoint(0, 1) << QPoint(8, 9) << QPoint(4, 6);
    QTest::newRow("upper left inside shrinks")
        << QPoint(4, 5) << QPoint(4, 5) << QPoint(8, 9) << QPoint(6, 8);
    QTest::newRow("lower left moves the left and bottom edges")
        << QPoint(0, 12) << QPoint(0, 3) << QPoint(8, 12) << QPoint(4, 8);
    QTest::newRow("lower left inside shrinks both edges")
        << QPoint(3, 7) << QPoint(3, 3) << QPoint(8, 7) << QPoint(5, 6);
    QTest::newRow("upper right moves the right and top edges")
        << QPoint(12, 0) << QPoint(2, 0) << QPoint(12, 9) << QPoint(7, 5);
    QTest::newRow("upper right inside shrinks both edges")
        << QPoint(6, 5) << QPoint(2, 5) << QPoint(6, 9) << QPoint(4, 8);
    QTest::newRow("last tile of the bed")
        << QPoint(17, 15) << QPoint(2, 3) << QPoint(17, 15) << QPoint(9, 10);
}

void TestAreaSelection::clickMovesTheCornerInTheClickedQuadrant()
{
    QFETCH(QPoint, clicked);
    QFETCH(QPoint, L);
    QFETCH(QPoint, R);
    QFETCH(QPoint, C);
    QVERIFY(Start(kModelKIREL5));
    ClickTile(8, 9);
    ClickTile(2, 3);
    QCOMPARE(scancornerL, QPointF(2, 3));
    QCOMPARE(scancornerR, QPointF(8, 9));
    QCOMPARE(scancornerC, QPointF(5, 7));

    ClickTile(clicked.x(), clicked.y());
    QCOMPARE(scancornerL, QPointF(L));
    QCOMPARE(scancornerR, QPointF(R));
    QCOMPARE(scancornerC, QPointF(C));
    SelectionConsistent();
    const int tiles = (R.x() - L.x() + 1) * (R.y() - L.y() + 1);
    QCOMPARE(Child<QLabel>(*w, "labelScanTime")->text(), QStringLiteral("Read time: %1min %2sec")
                                                             .arg((35 + 2 * tiles) / 60)
                                                             .arg((35 + 2 * tiles) % 60));
}

void TestAreaSelection::clickPixelsAroundTheFirstTile_data()
{
    // Window pixels on the KIREL-5000/5100, from L (2, 3), R (8, 9): a click that selects
    // tile (c, r) left of and above the anchor makes it the top-left corner.
    QTest::addColumn<QPoint>("pointer");
    QTest::addColumn<QPoint>("L");
    QTest::newRow("tile (0,0) first pixel") << QPoint(321, 81) << QPoint(0, 0);
    QTest::newRow("tile (0,0) last pixel") << QPoint(340, 100) << QPoint(0, 0);
    QTest::newRow("left of the bed, truncated to column 0") << QPoint(302, 90) << QPoint(0, 0);
    QTest::newRow("above the bed, truncated to row 0") << QPoint(330, 62) << QPoint(0, 0);
    QTest::newRow("tile (1,0) first pixel") << QPoint(341, 90) << QPoint(1, 0);
    QTest::newRow("tile (0,1) first pixel") << QPoint(330, 101) << QPoint(0, 1);
    QTest::newRow("column -1 ignored") << QPoint(301, 90) << QPoint(2, 3);
    QTest::newRow("row -1 ignored") << QPoint(330, 61) << QPoint(2, 3);
    QTest::newRow("right of the last column ignored") << QPoint(681, 90) << QPoint(2, 3);
    QTest::newRow("below the last row ignored") << QPoint(330, 401) << QPoint(2, 3);
}

void TestAreaSelection::clickPixelsAroundTheFirstTile()
{
    QFETCH(QPoint, pointer);
    QFETCH(QPoint, L);
    QVERIFY(Start(kModelKIREL5));
    ClickTile(8, 9);
    ClickTile(2, 3);
    Click(pointer);
    QCOMPARE(scancornerL, QPointF(L));
    QCOMPARE(scancornerR, QPointF(8, 9));
    SelectionConsistent();
}

void TestAreaSelection::clicksChangeNothingWithoutGrid()
{
    QVERIFY(Start(kModelKIREL5));
    ClickButton("radioButtonIP2025");
    const QList<QPoint> flagged = FlaggedTiles();
    const QPointF L = scancornerL, R = scancornerR, C = scancornerC;
    const QString readTime = Child<QLabel>(*w, "labelScanTime")->text();
    for (const QPoint &tile : {QPoint(0, 0), QPoint(4, 11), QPoint(17, 15), QPoint(12, 2)})
        ClickTile(tile.x(), tile.y());
    QCOMPARE(FlaggedTiles(), flagged);
    QCOMPARE(scancornerL, L);
    QCOMPARE(scancornerR, R);
    QCOMPARE(scancornerC, C);
    QCOMPARE(Child<QLabel>(*w, "labelScanTime")->text(), readTime);

    // Grid again: clicks work from the plate's rectangle on.
    ClickButton("radioButtonGrid");
    ClickTile(12, 15);
    QCOMPARE(scancornerR, QPointF(12, 15));
    SelectionConsistent();
}

// A fixed sequence of clicks all over each model's bed, the picture and the count checked
// after every one.
void TestAreaSelection::selectionAndPictureAgreeAfterEveryClick()
{
    QFETCH(int, model);
    QVERIFY(Start(model));
    const Bed bed = BedOf(model);
    quint32 seed = 12345;
    auto next = [&seed](int range) {
        seed = seed * 1103515245u + 12345u;
        return int((seed >> 16) % quint32(range));
    };
    for (int i = 0; i < 120; ++i) {
        const int c = next(bed.columns);
        const int r = next(bed.rows);
        ClickTile(c, r);
        SelectionConsistent();
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("after click %1 on %2,%3").arg(i).arg(c).arg(r)));
        const QPoint L = scancornerL.toPoint(), R = scancornerR.toPoint();
        QVERIFY((c == L.x() || c == R.x()) && (r == L.y() || r == R.y()));
    }
}

void TestAreaSelection::shapedCornerTilesComeAndGo_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("row");
    QTest::addColumn<QPointF>("position");
    QTest::newRow("VESK-1800II row 7") << int(kModelVESK1800) << 7 << QPointF(-153, 102);
    QTest::newRow("VESK-1800II row 8") << int(kModelVESK1800) << 8 << QPointF(-153, 136);
    QTest::newRow("VESK-5000 row 7") << int(kModelVESK5000) << 7 << QPointF(-153, 136);
    QTest::newRow("KIREL-3000 row 7") << int(kModelKIREL3) << 7 << QPointF(-160, 119);
    QTest::newRow("KIREL-3000 row 8") << int(kModelKIREL3) << 8 << QPointF(-160, 142);
    QTest::newRow("KIREL-5000/5100 square") << int(kModelKIREL5) << 7 << QPointF(-170, -10);
}

void TestAreaSelection::shapedCornerTilesComeAndGo()
{
    QFETCH(int, model);
    QFETCH(int, row);
    QFETCH(QPointF, position);
    QVERIFY(Start(model));
    ClickTile(0, row);
    SelectionConsistent();
    for (QGraphicsItem *graphic : TileItems(model, 0, row)) {
        QCOMPARE(graphic->scene(), Scene());
        QCOMPARE(graphic->pos(), position);
    }
    // Clicking the row above ends the rectangle there and takes the corner away.
    ClickTile(0, row - 1);
    QCOMPARE(scancornerR, QPointF(0, row - 1));
    for (QGraphicsItem *graphic : TileItems(model, 0, row))
        QVERIFY(!graphic->scene());
    SelectionConsistent();
}

struct PresetCase {
    int model;
    QStringList buttons; // clicked in this order
    QPoint L, R, C;
    QList<QRectF> frames;
    QString readTime;
    QString fileSize;
};
Q_DECLARE_METATYPE(PresetCase)

static void PresetRow(const char *tag, int model, const QStringList &buttons, QPoint L, QPoint R,
                      QPoint C, const QList<QRectF> &frames, const char *readTime,
                      const char *fileSize)
{
    QTest::newRow(tag) << PresetCase{model, buttons, L, R, C, frames, readTime, fileSize};
}

void TestAreaSelection::platePresets_data()
{
    QTest::addColumn<PresetCase>("t");
    const QRectF vesk1800l2025(-179, -159, 8, 284), vesk1800r2025(171, -159, 8, 284),
        vesk1800t2025(-170, -159, 341, 5), vesk1800b2025(-170, 120, 341, 4),
        vesk1800l2325(-179, -159, 8, 318), vesk1800r2325(171, -159, 8, 318),
        vesk1800b2325(-170, 154, 341, 4);

    PresetRow("KIREL-5000/5100 20x40cm", kModelKIREL5, {"radioButtonIP2040"}, {0, 8}, {15, 15},
              {7, 11}, {}, "Read time: 9min 7sec", "File size: 16.4 MB");
    PresetRow("KIREL-5000/5100 23x40cm", kModelKIREL5, {"radioButtonIP2340"}, {0, 6}, {15, 15},
              {7, 10}, {}, "Read time: 11min 15sec", "File size: 20.4 MB");
    PresetRow("KIREL-5000/5100 35x43cm reaches beyond the bed", kModelKIREL5, {"radioButtonIP3543"},
              {0, 2}, {16, 16}, {8, 8}, {}, "Read time: 17min 35sec", "File size: 32.6 MB");
    PresetRow("KIREL-5000/5100 20x25cm", kModelKIREL5, {"radioButtonIP2025"}, {0, 8}, {9, 15},
              {4, 11}, {}, "Read time: 5min 55sec", "File size: 10.2 MB");
    PresetRow("KIREL-5000/5100 23x25cm", kModelKIREL5, {"radioButtonIP2325"}, {0, 6}, {9, 15},
              {4, 10}, {}, "Read time: 7min 15sec", "File size: 12.8 MB");
    PresetRow("KIREL-5000/5100 plate after a grid selection", kModelKIREL5,
              {"radioButtonIP3543", "radioButtonGrid", "radioButtonIP2025"}, {0, 8}, {9, 15},
              {4, 11}, {}, "Read time: 5min 55sec", "File size: 10.2 MB");
    PresetRow("KIREL-3000 20x25cm on its smaller bed", kModelKIREL3, {"radioButtonIP2025"}, {0, 0},
              {9, 7}, {4, 3}, {}, "Read time: 5min 55sec", "File size: 10.2 MB");
    PresetRow("VESK-1800II 20x25cm after 23x25cm", kModelVESK1800,
              {"radioButtonIP2325", "radioButtonIP2025"}, {0, 0}, {9, 7}, {4, 3},
              {vesk1800t2025, vesk1800b2025, vesk1800l2025, vesk1800r2025}, "Read time: 5min 55sec",
              "File size: 10.2 MB");
    PresetRow(
        "VESK-1800II 23x25cm after 20x25cm", kModelVESK1800,
        {"radioButtonIP2025", "radioButtonIP2325"}, {0, 0}, {9, 8}, {4, 4},
        {vesk1800t2025, vesk1800b2325, vesk1800l2025, vesk1800l2325, vesk1800r2025, vesk1800r2325},
        "Read time: 6min 35sec", "File size: 11.5 MB");
    PresetRow("VESK-1800II grid takes the frames away, keeps the plate's tiles", kModelVESK1800,
              {"radioButtonIP2025", "radioButtonIP2325", "radioButtonGrid"}, {0, 0}, {9, 8}, {4, 4},
              {}, "Read time: 6min 35sec", "File size: 11.5 MB");
    PresetRow("VESK-5000 20x25cm", kModelVESK5000, {"radioButtonIP2025"}, {0, 0}, {9, 7}, {4, 3},
              {QRectF(-170, -125, 341, 5), QRectF(-170, 154, 341, 5), QRectF(-179, -125, 8, 284),
               QRectF(171, -125, 8, 284)},
              "Read time: 5min 55sec", "File size: 10.2 MB");
    PresetRow("VESK-5000 grid takes the frames away", kModelVESK5000,
              {"radioButtonIP2025", "radioButtonGrid"}, {0, 0}, {9, 7}, {4, 3}, {},
              "Read time: 5min 55sec", "File size: 10.2 MB");
}

void TestAreaSelection::platePresets()
{
    QFETCH(PresetCase, t);
    QVERIFY(Start(t.model));
    ClickButton("radioButton_Res100"); // a resolution every model offers
    // Some tiles of a grid selection first: the plate replaces them.
    ClickTile(3, 4);
    for (const QString &button : t.buttons)
        ClickButton(qPrintable(button));
    QCOMPARE(scancornerL, QPointF(t.L));
    QCOMPARE(scancornerR, QPointF(t.R));
    QCOMPARE(scancornerC, QPointF(t.C));
    SelectionConsistent();
    std::sort(t.frames.begin(), t.frames.end(), [](const QRectF &a, const QRectF &b) {
        return std::make_tuple(a.x(), a.y(), a.width(), a.height()) <
               std::make_tuple(b.x(), b.y(), b.width(), b.height());
    });
    QCOMPARE(FramesShown(), t.frames);
    QCOMPARE(Child<QLabel>(*w, "labelScanTime")->text(), t.readTime);
    QCOMPARE(Child<QLabel>(*w, "labelFileSize")->text(), t.fileSize);
}

// The VESK-1800II's picture sits a little scrolled in its view; neither the wheel nor the
// keys may move it away from where the click arithmetic expects it.
void TestAreaSelection::pictureDoesNotScroll()
{
    QVERIFY(Start(kModelVESK1800));
    const QPoint origin = ToWindow(QPointF(0, 0));
    QCOMPARE(origin, QPoint(491, 234));
    QWidget *viewport = View()->viewport();
    for (const QPoint &delta : {QPoint(0, 120), QPoint(0, -120), QPoint(120, 0), QPoint(-120, 0)}) {
        const QPointF at(viewport->rect().center());
        QWheelEvent wheel(at, viewport->mapToGlobal(at.toPoint()), QPoint(), delta, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
        QCOMPARE(ToWindow(QPointF(0, 0)), origin);
    }
    ClickTile(3, 3);
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_PageUp, Qt::Key_Home})
        QTest::keyClick(w.get(), key);
    QCOMPARE(ToWindow(QPointF(0, 0)), origin);
}

void TestAreaSelection::latitudeRestrictsSensitivity_data()
{
    // VESK-5000, the model with both latitudes and all four sensitivities.
    QTest::addColumn<QString>("sensitivity");
    QTest::addColumn<QString>("latitude");
    QTest::addColumn<QString>("checkedAfter");
    QTest::addColumn<bool>("enabled1000");
    QTest::addColumn<bool>("enabled30000");
    QTest::newRow("latitude 4 moves 30000 to 10000") << "radioButton30000"
                                                     << "radioButton"
                                                     << "radioButton10000" << true << false;
    QTest::newRow("latitude 4 keeps 4000") << "radioButton4000"
                                           << "radioButton"
                                           << "radioButton4000" << true << false;
    QTest::newRow("latitude 5 moves 1000 to 4000") << "radioButton1000"
                                                   << "radioButton5"
                                                   << "radioButton4000" << false << true;
    QTest::newRow("latitude 5 keeps 10000") << "radioButton10000"
                                            << "radioButton5"
                                            << "radioButton10000" << false << true;
}

void TestAreaSelection::latitudeRestrictsSensitivity()
{
    QFETCH(QString, sensitivity);
    QFETCH(QString, latitude);
    QFETCH(QString, checkedAfter);
    QFETCH(bool, enabled1000);
    QFETCH(bool, enabled30000);
    QVERIFY(Start(kModelVESK5000));
    // Latitude 4 opens 1000, latitude 5 then 30000: every sensitivity can be chosen.
    ClickButton("radioButton");
    ClickButton(qPrintable(sensitivity == "radioButton30000" ? "radioButton10000" : sensitivity));
    if (sensitivity == "radioButton30000") {
        ClickButton("radioButton5");
        ClickButton("radioButton30000");
    }
    QVERIFY(Child<QAbstractButton>(*w, qPrintable(sensitivity))->isChecked());

    ClickButton(qPrintable(latitude));
    QVERIFY(Child<QAbstractButton>(*w, qPrintable(latitude))->isChecked());
    QVERIFY(Child<QAbstractButton>(*w, qPrintable(checkedAfter))->isChecked());
    QCOMPARE(Child<QAbstractButton>(*w, "radioButton1000")->isEnabled(), enabled1000);
    QCOMPARE(Child<QAbstractButton>(*w, "radioButton30000")->isEnabled(), enabled30000);
    QVERIFY(Child<QAbstractButton>(*w, "radioButton4000")->isEnabled());
    QVERIFY(Child<QAbstractButton>(*w, "radioButton10000")->isEnabled());
}

QTEST_MAIN(TestAreaSelection)
#include "tst_area_selection.moc"
