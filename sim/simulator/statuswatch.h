// What the simulator does beside the station: it follows the status poll of the main
// window (StatusWatch) and, on the imaging-plate readers, plays the operator who clears the
// loading area once the start-up error box has been acknowledged (LoadingAreaAttendant).
#ifndef STATUSWATCH_H
#define STATUSWATCH_H

#include <QObject>
#include <QString>

class QLabel;
class QPushButton;
class QTimer;
class QWidget;
class ScannerModelSim;

// After start-up and after every tick of the poll: prints each new text of the status
// label (--print-status); when Start Scan becomes enabled, says so (ready()), saves the
// window's picture (--screenshot without --auto-scan) and ends the event loop with 0
// (--exit-when-ready).
class StatusWatch : public QObject
{
    Q_OBJECT

public:
    struct Settings {
        bool printStatus = false;
        bool exitWhenReady = false;
        QString screenshotFile;
    };

    StatusWatch(QWidget &window, const Settings &settings);

    // The main window's poll timer: its only direct child timer.
    static QTimer *PollTimer(QWidget &window);

public slots:
    void Check();

signals:
    // Start Scan has become enabled (once).
    void ready();

private:
    QWidget &window;
    Settings settings;
    QLabel *status = nullptr;
    QPushButton *scanButton = nullptr;
    QString lastText;
    bool printed = false;
    bool readySeen = false;
};

// The readers refuse to get ready while a plate lies in the loading area or its door is
// open. When the operator closes the "STARTUP ERROR" box, the simulated operator has done
// what it asked: the plate is taken out, or the door closed with the plate in the reader.
class LoadingAreaAttendant : public QObject
{
    Q_OBJECT

public:
    explicit LoadingAreaAttendant(ScannerModelSim &model) : model(model) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    ScannerModelSim &model;
};

#endif // STATUSWATCH_H
