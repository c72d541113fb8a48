// The scan area chosen on the bed picture (tile clicks, plate sizes, latitude), then the
// resolution with its estimate, the scan modes and the destination folder.
#include "settingssupport.h"
#include "scantile.h"
#include "stationpaths.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGraphicsPathItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLabel>
#include <QLoggingCategory>
#include <QSlider>
#include <QSpinBox>
#include <QWheelEvent>
#include <QtTest>

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

QList<QGraphicsItem *> TileItems(int model, int c, int r)
{
    if (c != 0 || !BedOf(model).shapedRows.contains(r))
        return {item[c][r]};
    if (r == 7)
        return {corner2aGraphic, corner2bGraphic};
    return {corner3aGraphic, corner3bGraphic};
}

void ModelRows()
{
    QTest::addColumn<int>("model");
    QTest::newRow("KIREL-5000/5100") << int(kModelKIREL5);
    QTest::newRow("KIREL-3000") << int(kModelKIREL3);
    QTest::newRow("VESK-5000") << int(kModelVESK5000);
    QTest::newRow("VESK-1800II") << int(kModelVESK1800);
}

struct ChooserScript {
    QString answer;
    QString start;
} chooser;

QString ChooserFake(QWidget *, const QString &, const QString &start)
{
    chooser.start = start;
    return chooser.answer;
}

} // namespace

class TestAreaSelection : public QObject
{
    Q_OBJECT

private:
    MessageBoxCloser *boxes = nullptr;
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
    QString Text(const char *label) { return Child<QLabel>(*w, label)->text(); }
    QSpinBox *HV() { return Child<QSpinBox>(*w, "spinBox_HVch1"); }
    QSlider *HVSlider() { return Child<QSlider>(*w, "horizontalSlider_HVch1"); }
    QComboBox *Laser() { return Child<QComboBox>(*w, "comboBox_Laser1"); }
    QComboBox *Filter() { return Child<QComboBox>(*w, "comboBox_FilterCh1"); }
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
                    QCOMPARE(graphic->scene() == Scene(), tileflag[c][r] == 1);
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
        return frames;
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("station.*=false"));
        boxes = new MessageBoxCloser;
    }
    void cleanupTestCase() { delete boxes; }
    void init()
    {
        root = std::make_unique<TempStationRoot>();
        QVERIFY(root->isValid());
        chooser = ChooserScript();
    }
    void cleanup()
    {
        w.reset();
        root.reset();
    }

    void clicksSelectTheTileDrawnThere_data() { ModelRows(); }
    void clicksSelectTheTileDrawnThere();
    void clicksOffTheBed_data();
    void clicksOffTheBed();
    void platePresets_data();
    void platePresets();
    void latitudeRestrictsSensitivity();

    void resolutionRefreshesTheEstimate_data();
    void resolutionRefreshesTheEstimate();
    void modesSetVoltageLaserAndFilter_data();
    void modesSetVoltageLaserAndFilter();
    void kirel3FluorescenceControls();
    void folderChooser();
};

// The centre and the four corner pixels of every tile's square on screen select the tile the
// picture shows under the pointer; then a fixed sequence of clicks all over the bed. The
// picture and the count are checked after every click.
void TestAreaSelection::clicksSelectTheTileDrawnThere()
{
    QFETCH(int, model);
    QVERIFY(Start(model));
    const Bed bed = BedOf(model);
    // The wheel may not scroll the picture away from where the click
    // arithmetic expects it (the VESK-1800II's sits a little scrolled in its view).
    const QPoint origin = ToWindow(QPointF(0, 0));
    QWidget *viewport = View()->viewport();
    for (const QPoint &delta : {QPoint(0, 120), QPoint(0, -120), QPoint(120, 0), QPoint(-120, 0)}) {
        const QPointF at(viewport->rect().center());
        QWheelEvent wheel(at, viewport->mapToGlobal(at.toPoint()), QPoint(), delta, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
        QCOMPARE(ToWindow(QPointF(0, 0)), origin);
    }
    // The click moves the corner of the rectangle in the clicked tile's quadrant as seen from
    // the anchor, and the anchor follows (one row below the middle).
    auto clickChecked = [&](int c, int r, QPoint pointer) {
        const QPoint C = scancornerC.toPoint();
        QPoint L = scancornerL.toPoint(), R = scancornerR.toPoint();
        (c < C.x() ? L : R).setX(c);
        (r < C.y() ? L : R).setY(r);
        Click(pointer);
        QCOMPARE(scancornerL, QPointF(L));
        QCOMPARE(scancornerR, QPointF(R));
        QCOMPARE(scancornerC,
                 QPointF(L.x() + (R.x() - L.x()) / 2, L.y() + (R.y() - L.y()) / 2 + 1));
        SelectionConsistent();
    };
    for (int c = 0; c < bed.columns; ++c)
        for (int r = 0; r < bed.rows; ++r) {
            const QRect square = TileOnScreen(c, r);
            for (const QPoint &pointer : {square.center(), square.topLeft(), square.topRight(),
                                          square.bottomLeft(), square.bottomRight()}) {
                clickChecked(c, r, pointer);
                const QList<QGraphicsItem *> under =
                    View()->items(View()->viewport()->mapFrom(w.get(), pointer));
                bool shown = false;
                for (QGraphicsItem *graphic : TileItems(model, c, r))
                    shown = shown || under.contains(graphic);
                QVERIFY(shown);
            }
        }
    quint32 seed = 12345;
    auto next = [&seed](int range) {
        seed = seed * 1103515245u + 12345u;
        return int((seed >> 16) % quint32(range));
    };
    for (int i = 0; i < 120; ++i) {
        const int c = next(bed.columns);
        const int r = next(bed.rows);
        clickChecked(c, r, TileOnScreen(c, r).center());
    }
}

void TestAreaSelection::clicksOffTheBed_data()
{
    // From L (2, 3), R (8, 9), anchor C (5, 7) on the KIREL-5000/5100, a click just off the
    // bed (tile (0, 0) covers window x 321..340, y 81..100).
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<QPoint>("L");
    QTest::addColumn<QPoint>("C");
    QTest::newRow("left of the bed, truncated to column 0")
        << QPoint(302, 90) << QPoint(0, 0) << QPoint(4, 5);
    QTest::newRow("above the bed, truncated to row 0")
        << QPoint(330, 62) << QPoint(0, 0) << QPoint(4, 5);
    QTest::newRow("column -1 ignored") << QPoint(301, 90) << QPoint(2, 3) << QPoint(5, 7);
    QTest::newRow("row -1 ignored") << QPoint(330, 61) << QPoint(2, 3) << QPoint(5, 7);
    QTest::newRow("right of the last column ignored")
        << QPoint(681, 90) << QPoint(2, 3) << QPoint(5, 7);
    QTest::newRow("below the last row ignored") << QPoint(330, 401) << QPoint(2, 3) << QPoint(5, 7);
}

void TestAreaSelection::clicksOffTheBed()
{
    QFETCH(QPoint, pixel);
    QFETCH(QPoint, L);
    QFETCH(QPoint, C);
    QVERIFY(Start(kModelKIREL5));
    ClickTile(8, 9);
    ClickTile(2, 3);
    Click(pixel);
    QCOMPARE(scancornerL, QPointF(L));
    QCOMPARE(scancornerR, QPointF(8, 9));
    QCOMPARE(scancornerC, QPointF(C));
    SelectionConsistent();
}

struct PresetCase {
    int model;
    QStringList buttons; // clicked in this order
    QPoint L, R, C;
    QList<QRectF> frames;
};
Q_DECLARE_METATYPE(PresetCase)

static void PresetRow(const char *tag, int model, const QStringList &buttons, QPoint L, QPoint R,
                      QPoint C, const QList<QRectF> &frames = {})
{
    QTest::newRow(tag) << PresetCase{model, buttons, L, R, C, frames};
}

void TestAreaSelection::platePresets_data()
{
    QTest::addColumn<PresetCase>("t");
    const QRectF vesk1800l2025(-179, -159, 8, 284), vesk1800r2025(171, -159, 8, 284),
        vesk1800t2025(-170, -159, 341, 5), vesk1800b2025(-170, 120, 341, 4),
        vesk1800l2325(-179, -159, 8, 318), vesk1800r2325(171, -159, 8, 318),
        vesk1800b2325(-170, 154, 341, 4);

    PresetRow("KIREL-5000/5100 35x43cm reaches beyond the bed", kModelKIREL5, {"radioButtonIP3543"},
              {0, 2}, {16, 16}, {8, 8});
    PresetRow("KIREL-5000/5100 plate after a grid selection", kModelKIREL5,
              {"radioButtonIP3543", "radioButtonGrid", "radioButtonIP2025"}, {0, 8}, {9, 15},
              {4, 11});
    PresetRow("VESK-1800II 20x25cm after 23x25cm", kModelVESK1800,
              {"radioButtonIP2325", "radioButtonIP2025"}, {0, 0}, {9, 7}, {4, 3},
              {vesk1800t2025, vesk1800b2025, vesk1800l2025, vesk1800r2025});
    PresetRow(
        "VESK-1800II 23x25cm after 20x25cm", kModelVESK1800,
        {"radioButtonIP2025", "radioButtonIP2325"}, {0, 0}, {9, 8}, {4, 4},
        {vesk1800t2025, vesk1800b2325, vesk1800l2025, vesk1800l2325, vesk1800r2025, vesk1800r2325});
    PresetRow("VESK-1800II grid takes the frames away, keeps the plate's tiles", kModelVESK1800,
              {"radioButtonIP2025", "radioButtonIP2325", "radioButtonGrid"}, {0, 0}, {9, 8},
              {4, 4});
    PresetRow("VESK-5000 20x25cm", kModelVESK5000, {"radioButtonIP2025"}, {0, 0}, {9, 7}, {4, 3},
              {QRectF(-170, -125, 341, 5), QRectF(-170, 154, 341, 5), QRectF(-179, -125, 8, 284),
               QRectF(171, -125, 8, 284)});
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
    const QList<QRectF> frames = FramesShown();
    QCOMPARE(frames.size(), t.frames.size());
    for (const QRectF &frame : t.frames)
        QVERIFY(frames.contains(frame));
    // A plate fixes the area; with the grid chosen again, clicks start from its rectangle.
    const bool grid = t.buttons.last() == QLatin1String("radioButtonGrid");
    ClickTile(1, 1);
    QCOMPARE(scancornerL, grid ? QPointF(1, 1) : QPointF(t.L));
    QCOMPARE(scancornerR, QPointF(t.R));
    SelectionConsistent();
}

// The VESK-5000 starts on latitude 5 with 30000. Latitude 4 shuts 30000 out, latitude 5 shuts
// 1000 out: a choice shut out moves to its neighbour, any other stays.
void TestAreaSelection::latitudeRestrictsSensitivity()
{
    QVERIFY(Start(kModelVESK5000));
    const struct {
        const char *sensitivity, *latitude, *checkedAfter;
    } steps[] = {{"radioButton30000", "radioButton", "radioButton10000"},
                 {"radioButton1000", "radioButton5", "radioButton4000"},
                 {"radioButton4000", "radioButton", "radioButton4000"},
                 {"radioButton10000", "radioButton5", "radioButton10000"}};
    for (const auto &step : steps) {
        ClickButton(step.sensitivity);
        ClickButton(step.latitude);
        const bool four = step.latitude == QLatin1String("radioButton");
        QVERIFY(Child<QAbstractButton>(*w, step.latitude)->isChecked());
        QVERIFY2(Child<QAbstractButton>(*w, step.checkedAfter)->isChecked(), step.checkedAfter);
        QCOMPARE(Child<QAbstractButton>(*w, "radioButton1000")->isEnabled(), four);
        QCOMPARE(Child<QAbstractButton>(*w, "radioButton30000")->isEnabled(), !four);
    }
}

struct EstimateCase {
    int shgStart;
    int scanInit;
    int tiles;
    const char *button;
    int resolution;
    QString readTime;
    QString fileSize;
};
Q_DECLARE_METATYPE(EstimateCase)

void TestAreaSelection::resolutionRefreshesTheEstimate_data()
{
    // The station's constants give an odd number of seconds; the round figures need others.
    QTest::addColumn<EstimateCase>("t");
    QTest::newRow("one tile at 50um") << EstimateCase{
        25, 10, 1, "radioButton_Res50", 50, "Read time: 43sec", "File size: 0.5 MB"};
    QTest::newRow("59 seconds") << EstimateCase{
        25, 10, 12, "radioButton_Res200", 200, "Read time: 59sec", "File size: 0.4 MB"};
    QTest::newRow("exactly one minute") << EstimateCase{
        25, 11, 12, "radioButton_Res200", 200, "Read time: 1min 0sec", "File size: 0.4 MB"};
    QTest::newRow("just under an hour") << EstimateCase{
        26, 10, 890, "radioButton_Res100", 100, "Read time: 59min 56sec", "File size: 113.7 MB"};
    QTest::newRow("exactly one hour") << EstimateCase{
        26, 10, 891, "radioButton_Res100", 100, "Read time: 1hrs 0min 0sec", "File size: 113.9 MB"};
    QTest::newRow("one tile at 25um") << EstimateCase{
        25, 10, 1, "radioButton_Res25", 25, "Read time: 51sec", "File size: 2.0 MB"};
    // 9 x 4 x 0.0319444.. MB: just above 1.15.
    QTest::newRow("nine tiles at 100um") << EstimateCase{
        25, 10, 9, "radioButton_Res100", 100, "Read time: 1min 11sec", "File size: 1.2 MB"};
}

void TestAreaSelection::resolutionRefreshesTheEstimate()
{
    QFETCH(EstimateCase, t);
    QVERIFY(Start(kModelKIREL5));
    // From another resolution, so that the button under test changes the choice.
    ClickButton(t.resolution == 25 ? "radioButton_Res200" : "radioButton_Res25");
    scanDur.SHGstart = t.shgStart;
    scanDur.scaninit = t.scanInit;
    scanDur.num = t.tiles;
    ClickButton(t.button);
    QCOMPARE(scanDur.resolution, t.resolution);
    QCOMPARE(Text("labelScanTime"), t.readTime);
    QCOMPARE(Text("labelFileSize"), t.fileSize);
    // The record keeps what fits in its 20 bytes.
    QCOMPARE(QString::fromLatin1(scanDur.duration), t.readTime.left(19));
    QCOMPARE(QString::fromLatin1(scanDur.filesize), t.fileSize.left(19));
}

void TestAreaSelection::modesSetVoltageLaserAndFilter_data()
{
    QTest::addColumn<QStringList>("modes"); // clicked after fluorescence
    QTest::addColumn<bool>("listBuilt");
    QTest::addColumn<QList<int>>("codes"); // laser code of each list entry
    QTest::addColumn<QStringList>("trayLabels");
    QTest::addColumn<int>("laser");
    QTest::addColumn<bool>("laserEnabled");
    QTest::addColumn<int>("filter");
    QTest::addColumn<bool>("filterEnabled");
    QTest::addColumn<int>("hv"); // 900 set in the free mode

    const QStringList ip = {"radioButton_IPmode"};
    const QStringList twoIP = {"Y520", "IP", "O575", "IP"};
    const QStringList noIP = {"Y520", "R665", "O575", ""};
    const QList<int> codes = {1, 4, 2, 4, 8};
    // IP scans at 750 V and both IP modes read with the last 635 nm laser through the last IP
    // position; IP-V leaves the voltage to the operator, at the value IP left.
    QTest::newRow("IP: last 635nm entry and last IP position")
        << ip << true << codes << twoIP << 3 << false << 3 << false << 750;
    QTest::newRow("IP-V after IP opens the voltage at 750 V")
        << QStringList{"radioButton_IPmode", "radioButton_IPVmode"} << true << codes << twoIP << 3
        << false << 3 << false << 750;
    QTest::newRow("no 635nm laser takes the first entry")
        << ip << true << QList<int>{1, 2, 8, 16} << twoIP << 0 << false << 3 << false << 750;
    QTest::newRow("list not built yet leaves the laser")
        << ip << false << QList<int>{1, 4, 2} << twoIP << 2 << true << 3 << false << 750;
    QTest::newRow("tray without IP position leaves the filter")
        << ip << true << QList<int>{4, 8} << noIP << 0 << false << 2 << true << 750;
    QTest::newRow("digitizing after fluorescence keeps every choice")
        << QStringList{"radioButton_DigitizingMode"} << true << codes << twoIP << 4 << true << 2
        << true << 900;
}

void TestAreaSelection::modesSetVoltageLaserAndFilter()
{
    QFETCH(QStringList, modes);
    QFETCH(bool, listBuilt);
    QFETCH(QList<int>, codes);
    QFETCH(QStringList, trayLabels);
    QFETCH(int, laser);
    QFETCH(bool, laserEnabled);
    QFETCH(int, filter);
    QFETCH(bool, filterEnabled);
    QFETCH(int, hv);

    QVERIFY(Start(kModelKIREL5));
    ClickButton("radioButton_FluorescenceMode");
    QVERIFY(HV()->isEnabled() && HVSlider()->isEnabled());
    QVERIFY(Laser()->isEnabled() && Filter()->isEnabled());
    // The KIREL-5000/5100 keeps its plate sizes in every mode.
    QVERIFY(!Child<QWidget>(*w, "radioButtonIP2040")->isHidden());
    HV()->setValue(900);
    QCOMPARE(HVSlider()->value(), 900);
    // The channel-1 list as the poll builds it from the scanner's lasers.
    for (int i = 0; i < codes.size(); ++i) {
        Laser()->addItem(QStringLiteral("laser %1").arg(codes[i]));
        laserCh1[i] = BYTE(codes[i]);
    }
    scannerconfig[28] = listBuilt ? 1 : 0;
    Laser()->setCurrentIndex(codes.size() - 1);
    for (int i = 0; i < kTrayPositions; ++i)
        filterTray[i].labelCh1 = trayLabels[i];
    Filter()->setCurrentIndex(2);

    for (const QString &mode : modes)
        ClickButton(qPrintable(mode));
    QCOMPARE(Laser()->currentIndex(), laser);
    QCOMPARE(Laser()->isEnabled(), laserEnabled);
    QCOMPARE(Filter()->currentIndex(), filter);
    QCOMPARE(Filter()->isEnabled(), filterEnabled);
    // Channel 2 follows the filter position.
    QCOMPARE(Child<QComboBox>(*w, "comboBox_FilterCh2")->currentIndex(), filter);
    const bool ipMode = modes.last() == QLatin1String("radioButton_IPmode");
    QCOMPARE(HV()->value(), hv);
    QCOMPARE(HVSlider()->value(), hv);
    QCOMPARE(HV()->isEnabled(), !ipMode);
    QCOMPARE(HVSlider()->isEnabled(), !ipMode);
}

void TestAreaSelection::kirel3FluorescenceControls()
{
    QVERIFY(Start(kModelKIREL3));
    auto *view = Child<QGraphicsView>(*w, "graphicsView_ScanArea");
    const QRect viewPlace = view->geometry();
    const QRect areaPlace = Child<QWidget>(*w, "groupBoxScanArea")->geometry();
    ClickButton("radioButtonIP2025");
    ClickButton("radioButton_FluorescenceMode");
    for (const char *plate :
         {"radioButtonIP2040", "radioButtonIP2340", "radioButtonIP2025", "radioButtonIP2325"})
        QVERIFY2(Child<QWidget>(*w, plate)->isHidden(), plate);
    QVERIFY(Child<QAbstractButton>(*w, "radioButtonGrid")->isChecked());
    QCOMPARE(scancornerR, QPointF(9, 7)); // the plate's tiles stay selected
    // The sensitivity buttons become the four gains, the highest chosen.
    for (const char *gain :
         {"radioButton1000", "radioButton4000", "radioButton10000", "radioButton30000"}) {
        auto *button = Child<QAbstractButton>(*w, gain);
        QVERIFY2(!button->isHidden() && button->isEnabled(), gain);
    }
    QCOMPARE(Child<QAbstractButton>(*w, "radioButton30000")->text(), QStringLiteral("F1000"));
    QVERIFY(Child<QAbstractButton>(*w, "radioButton30000")->isChecked());
    QVERIFY(Laser()->isEnabled() && Filter()->isEnabled());
    QCOMPARE(ComboTexts(Laser()), (QStringList{"635nm", "532nm", "473nm"}));
    // The picture stays where the click arithmetic expects it.
    QCOMPARE(view->geometry(), viewPlace);
    QCOMPARE(Child<QWidget>(*w, "groupBoxScanArea")->geometry(), areaPlace);

    // Back in IP mode the fluorescence controls stay; the tray's IP position is chosen again.
    ClickButton("radioButton_IPmode");
    QVERIFY(Child<QWidget>(*w, "radioButtonIP2025")->isHidden());
    QCOMPARE(Child<QAbstractButton>(*w, "radioButton4000")->text(), QStringLiteral("F10"));
    QCOMPARE(Filter()->currentText(), QStringLiteral("IP"));
    QVERIFY(!Filter()->isEnabled());
}

// The folder chooser starts in the home folder; a chosen folder is taken, a cancelled chooser
// keeps the folder there was.
void TestAreaSelection::folderChooser()
{
    const FolderChooser dialog = FolderChooserRun;
    FolderChooserRun = ChooserFake;
    QVERIFY(Start(kModelKIREL5));
    const QString chosen = QStringLiteral("/data/plates/run 7");
    for (const QString &answer : {chosen, QString()}) {
        chooser.answer = answer;
        ClickButton("pushButtonFolder");
        QCOMPARE(chooser.start, root->path("/home"));
        QCOMPARE(image_dir, chosen);
        QCOMPARE(Text("labelFolder"), chosen);
    }
    FolderChooserRun = dialog;
}

QTEST_MAIN(TestAreaSelection)
#include "tst_area_selection.moc"
