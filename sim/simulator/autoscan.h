// The unattended scan of scanstation-sim (--auto-scan): the operator who types a file name
// once the scanner is ready, presses Start Scan and reads the boxes of the scan.
//
// Start Scan runs the whole scan in the scan window's own event loop, so the click returns
// once the window has closed. Every box opened meanwhile is noted and closed with OK; the
// last one says how the scan ended: its title and text go to standard output, and the
// event loop ends with 0 for "SCAN COMPLETE", 1 otherwise (also when no box came, as when a
// plate reader's scan is stopped). The picture (--screenshot) is the scan window as its
// last box opens over it, or as it closes when no box comes.
// With a stop time (--auto-stop) the operator presses Escape in the scan window that long
// after it opened and answers the stop question with Yes; a question is not a last box.
// A scan cut short by a signal leaves the exit status to the scan window (128 + signal).
#ifndef AUTOSCAN_H
#define AUTOSCAN_H

#include <QObject>
#include <QPixmap>
#include <QString>

class QWidget;

class AutoScan : public QObject
{
    Q_OBJECT

public:
    struct Settings {
        QString fileName;
        QString screenshotFile;
        int stopAfterMs = -1; // Escape in the scan window; -1: never
    };

    // `window` is the station's main window. Watches the application's boxes while it lives.
    AutoScan(QWidget &window, const Settings &settings);
    ~AutoScan() override;

    // The title and text of the last box of the scan (empty before the scan has ended).
    QString lastTitle() const { return title; }
    QString lastText() const { return text; }

public slots:
    // Types the name and presses Start Scan; returns when the scan window has closed and
    // ends the event loop with the scan's exit status.
    void Run();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Shoot(QWidget *scanWindow);
    void StopLater(QWidget *scanWindow);
    int Finish();

    QWidget &window;
    Settings settings;
    bool running = false;
    QString title;
    QString text;
    QPixmap picture;
};

#endif // AUTOSCAN_H
