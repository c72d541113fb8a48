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

class QEvent;
class QGraphicsLineItem;
class QGraphicsRectItem;
class QGraphicsScene;
class QMouseEvent;
class QTimer;
class QWidget;

namespace Ui
{
class MainWindow;
}

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
    void FormGapsClose();

    // Scan-area picture and tiles (mainwindow_scene.cpp)
    void ScanAreaBuild();
    void ScanBedDraw();
    void TilesCreate();
    void TileShow(int column, int row);
    void TileHide(int column, int row);

    // Read-time and file-size estimate under the scan area (mainwindow_setup.cpp)
    void EstimateRefresh();

    // Templates (mainwindow_settings.cpp): the current settings into template element 0,
    // and a loaded template back onto the window.
    void TemplateCapture();
    void TemplateApply();

    QGraphicsLineItem *line = nullptr; // last grid line of the bed picture
    Ui::MainWindow *ui = nullptr;
    QTimer *timer = nullptr; // status poll
    QGraphicsScene *scene = nullptr;
    int mouseClicked = 0;
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
