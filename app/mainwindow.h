// The station's only top-level window.
//
// The constructor runs the start-up of the station (mainwindow.cpp):
//  1. set the scanner model and the run counters, build the form;
//  2-5. load the templates, the filter tray and the system parameters, fill the laser lists;
//  6-7. show "no connection" and a disabled Start Scan, restore the last scan's settings
//       (or the defaults when there are no templates);
//  8-10. fill the channel-2 laser list and both filter lists from the tray;
//  11. draw the scanner bed and its tiles (mainwindow_scene.cpp) and show the first
//      read-time and file-size estimate (mainwindow_setup.cpp);
//  12-15. reset the side-board state, create the logs, shape the form for the model;
//  16. start the 500 ms status poll (ScannerTest, mainwindow_poll.cpp).
// After that everything happens in the slots, each concern in a file of its own:
// mainwindow_poll.cpp, mainwindow_scan.cpp, mainwindow_settings.cpp, mainwindow_area.cpp and
// mainwindow_setup.cpp.
#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QMainWindow>
#include <QMargins>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>

#include <initializer_list>

class QEvent;
class QGraphicsLineItem;
class QGraphicsRectItem;
class QGraphicsScene;
class QMouseEvent;
class QTimer;
class QWidget;
class kirel5scan;

namespace Ui
{
class MainWindow;
}

// The operator's choices that make up a scan request, as Start Scan reads them from the
// window (mainwindow_scan.cpp).
struct ScanChoice {
    int mode = 0;    // ScanMode
    int area = 0;    // ScanAreaKind
    QPointF cornerL; // top-left selected tile
    QPointF cornerR; // bottom-right selected tile
    int resolution = 200;
    int filterIndex = 0; // tray position of channel 1, -1 when none
    int laserIndex = 0;  // entry of the channel-1 laser list, -1 when none
    int HVch1 = 0;
    int HVch2 = 0;
    int latitude = 5;       // VESK-5000 only
    int sensitivity = 4000; // VESK-5000 only
};

// The scan area on the scanner bed in micrometres: left and lower edge, width, height.
struct ScanAreaUm {
    qint64 x0 = 0;
    qint64 y0 = 0;
    qint64 width = 0;
    qint64 height = 0;
};

// Columns and rows of the tile grid on the model's bed picture.
QSize TileGridOf(int model);
// The corners of a selection lie on the model's bed: finite, left and top corner on a tile,
// right and bottom corner and anchor on a tile or one row below the grid (where the
// 35x43cm plate's corner lies), left not right of right, top not below bottom.
bool ScanCornersOnBed(int model, const QPointF &L, const QPointF &R, const QPointF &C);

// The area of a request for the current ScannerType; empty (zero width or height) when the
// selection lies outside what the scanner reads.
ScanAreaUm ScanAreaCompute(const ScanChoice &choice);
// Fills the geometry and buffer fields of newscansetup and the parameter block scanparams
// for the request, after resetting the run state. False when the model does not offer the
// resolution; nothing is changed then.
bool ScanRequestFill(const ScanChoice &choice, const ScanAreaUm &area);

// Where a dialog of `size` inside a window frame of `frame` goes over its owner (the
// owner's frame rectangle `owner`): centred on it and kept inside `screen`, the available
// area of the owner's screen. A dialog larger than the screen keeps its bottom-right part
// on it, where the scan window has its Stop button. Returns the frame's top-left corner.
QPoint DialogPlace(const QRect &owner, const QSize &size, const QMargins &frame,
                   const QRect &screen);

// The destination-folder chooser: a modal dialog titled `title` that starts at `start`; an
// empty path when the operator cancels. Tests put a function of their own here.
using FolderChooser = QString (*)(QWidget *parent, const QString &title, const QString &start);
extern FolderChooser FolderChooserRun;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

public slots:
    void ScannerTest();
    void on_pushButton_Scan_clicked();
    void on_pushButton_Config_clicked();
    void on_radioButton_Res200_clicked();
    void on_radioButton_Res100_clicked();
    void on_radioButton_Res50_clicked();
    void on_radioButton_Res25_clicked();
    void on_pushButtonFolder_clicked();
    void on_pushButtonSettings_clicked();
    void on_pushButtonTemplates_clicked();
    void on_pushButtonTemplateSave_clicked();
    void on_pushButton_LD685toggle_clicked();
    void on_radioButton_IPmode_clicked();
    void on_radioButton_IPVmode_clicked();
    void on_radioButton_FluorescenceMode_clicked();
    void on_radioButton_DigitizingMode_clicked();
    void on_comboBox_FilterCh1_currentIndexChanged(int index);
    void on_pushButtonHelp_clicked();
    void on_radioButtonIP2040_clicked();
    void on_radioButtonIP2340_clicked();
    void on_radioButtonIP2025_clicked();
    void on_radioButtonIP2325_clicked();
    void on_radioButtonIP3543_clicked();
    void on_radioButtonGrid_clicked();
    void on_radioButton5_clicked();
    void on_radioButton_clicked();

private:
    // Start-up (mainwindow.cpp)
    void StartupSettingsDefault();
    void StartupSettingsRestore();
    void LaserListsFill();
    // Rebuilds both filter lists from filterTray and the filter icons; keeps the selected
    // tray position when it still exists.
    void FilterListsFill();
    void FormShape();
    void ResolutionOfferedEnsure();
    void FormGapsClose();

    // Scan-area picture and tiles (mainwindow_scene.cpp)
    void ScanAreaBuild();
    void ScanBedDraw();
    void TilesCreate();
    void TileShow(int column, int row);
    void TileHide(int column, int row);
    void ViewPlace();
    QSize TileGridSize() const; // columns x rows of the model's bed

    // Scan-area selection (mainwindow_area.cpp)
    bool ClickedTile(const QPoint &windowPos, int &column, int &row) const;
    void TileClicked(int column, int row);
    void TilesSelect(int fromColumn, int toColumn, int fromRow, int toRow);
    void TilesDeselect(int fromColumn, int toColumn, int fromRow, int toRow);
    void PlateChoose(int area);
    void PlateFrames(std::initializer_list<QGraphicsRectItem *> removed,
                     std::initializer_list<QGraphicsRectItem *> added);
    void SelectionCount();

    // Read-time and file-size estimate under the scan area (mainwindow_setup.cpp)
    void EstimateRefresh();
    // Mode handlers (mainwindow_setup.cpp): the laser and filter that IP and IP-V scan with,
    // and the KIREL-3000's controls for fluorescence.
    void LaserAndFilterForIP();
    // The laser alone, whenever IP or IP-V is in force: a plate is never read with the
    // laser of a fluorescence scan.
    void LaserForIP();
    void Kirel3FluorescenceShape();

    // Status poll (mainwindow_poll.cpp)
    void BoardTemperatureShow();
    void LaserDiodeReadingsShow();
    int ConnectionTestRun(kirel5scan &scanner);
    void StartupErrorShow(int sensecode);
    void StatusBlink();
    void StatusShow(const char *style, const char *text);
    void ReadyShow();
    void ReaderStatusShow(int answer);
    void Kirel5StatusShow(int answer);
    void LaserDiodeBoardFind();
    void LaserSlotsTakeOver();
    void Channel1LasersFill();

    // Where the scan window goes (mainwindow_scan.cpp).
    QPoint ScanWindowPlace(const QSize &size) const;

    // Templates (mainwindow_settings.cpp): the current settings into template element 0,
    // and a loaded template back onto the window.
    void TemplateCapture();
    void TemplateApply();

    QGraphicsLineItem *line = nullptr; // last grid line of the bed picture
    Ui::MainWindow *ui = nullptr;
    QTimer *timer = nullptr; // status poll
    QGraphicsScene *scene = nullptr;
    int mouseClicked = 0;
    bool startupErrorShowing = false; // a start-up error box of the poll is on screen
    bool scannerReady = false;        // a tick has found the scanner ready; the poll is over
    // Imaging-plate frames of the VESK readers, out of the scene until a plate size is chosen.
    QGraphicsRectItem *border2025l = nullptr;
    QGraphicsRectItem *border2025r = nullptr;
    QGraphicsRectItem *border2025t = nullptr;
    QGraphicsRectItem *border2025b = nullptr;
    QGraphicsRectItem *border2325l = nullptr;
    QGraphicsRectItem *border2325r = nullptr;
    QGraphicsRectItem *border2325b = nullptr;
};

#endif // MAINWINDOW_H
