#include "autoscan.h"

#include "scanwindow.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace
{

constexpr int kExitComplete = 0;
constexpr int kExitNotComplete = 1;

const char kTitleComplete[] = "SCAN COMPLETE";

// The box, or the dialog it sits on, belongs to the scan window.
ScanWindow *ScanWindowOf(QWidget *widget)
{
    for (QWidget *w = widget; w; w = w->parentWidget())
        if (auto *scan = qobject_cast<ScanWindow *>(w))
            return scan;
    return nullptr;
}

} // namespace

AutoScan::AutoScan(QWidget &window, const Settings &settings) : window(window), settings(settings)
{
    qApp->installEventFilter(this);
}

AutoScan::~AutoScan()
{
    qApp->removeEventFilter(this);
}

void AutoScan::Run()
{
    auto *name = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_filename"));
    auto *start = window.findChild<QPushButton *>(QStringLiteral("pushButton_Scan"));
    if (!name || !start) {
        std::fprintf(stderr, "scanstation-sim: no file-name box or Start Scan button\n");
        QCoreApplication::exit(kExitNotComplete);
        return;
    }
    std::fprintf(stderr, "scanstation-sim: scanning \"%s\"\n", qPrintable(settings.fileName));
    name->setText(settings.fileName);
    running = true;
    start->click(); // the whole scan, in the scan window's own event loop
    running = false;
    const int status = Finish();
    if (ScanCutShortSignal == 0)
        QCoreApplication::exit(status);
}

bool AutoScan::eventFilter(QObject *watched, QEvent *event)
{
    if (!running || !watched->isWidgetType())
        return QObject::eventFilter(watched, event);
    auto *widget = static_cast<QWidget *>(watched);
    if (event->type() == QEvent::Show) {
        if (auto *box = qobject_cast<QMessageBox *>(widget)) {
            const bool question = box->button(QMessageBox::Yes) != nullptr;
            if (!question) {
                title = box->windowTitle();
                text = box->text();
                if (ScanWindow *scan = ScanWindowOf(box->parentWidget()))
                    Shoot(scan);
            }
            // Every box on the way, so that a script sees why a scan went as it did (a file
            // that could not be saved) even when it ends complete.
            std::fprintf(stderr, "scanstation-sim: box %s: %s\n", qPrintable(box->windowTitle()),
                         qPrintable(box->text()));
            // Closed once it is up, as the operator would; a question answered Yes.
            QPointer<QMessageBox> shown(box);
            QTimer::singleShot(0, box, [shown] {
                if (!shown)
                    return;
                if (QAbstractButton *yes = shown->button(QMessageBox::Yes))
                    yes->click();
                else if (QAbstractButton *ok = shown->button(QMessageBox::Ok))
                    ok->click();
                else
                    shown->reject();
            });
        } else if (auto *scan = qobject_cast<ScanWindow *>(widget)) {
            StopLater(scan);
        }
    } else if (event->type() == QEvent::Hide && picture.isNull()) {
        if (auto *scan = qobject_cast<ScanWindow *>(widget))
            Shoot(scan);
    }
    return QObject::eventFilter(watched, event);
}

void AutoScan::StopLater(QWidget *scanWindow)
{
    if (settings.stopAfterMs < 0)
        return;
    QPointer<QWidget> scan(scanWindow);
    QTimer::singleShot(settings.stopAfterMs, scanWindow, [scan] {
        if (!scan || !scan->isVisible())
            return;
        std::fprintf(stderr, "scanstation-sim: Escape in the scan window\n");
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(scan, &escape);
    });
}

void AutoScan::Shoot(QWidget *scanWindow)
{
    if (!settings.screenshotFile.isEmpty())
        picture = scanWindow->grab();
}

int AutoScan::Finish()
{
    if (!settings.screenshotFile.isEmpty()) {
        if (picture.isNull())
            std::fprintf(stderr, "scanstation-sim: no scan window to take a picture of\n");
        else if (!picture.save(settings.screenshotFile))
            std::fprintf(stderr, "scanstation-sim: cannot write %s\n",
                         qPrintable(settings.screenshotFile));
        else
            std::fprintf(stderr, "scanstation-sim: screenshot %s\n",
                         qPrintable(QFileInfo(settings.screenshotFile).absoluteFilePath()));
    }
    const QString image = ScanFilePath(".img");
    if (QFileInfo::exists(image))
        std::fprintf(stderr, "scanstation-sim: image %s\n", qPrintable(image));
    if (title.isEmpty()) {
        std::fprintf(stderr, "scanstation-sim: the scan ended without a box\n");
        return kExitNotComplete;
    }
    std::printf("%s\n%s\n", qPrintable(title), qPrintable(text));
    std::fflush(stdout);
    return title == QLatin1String(kTitleComplete) ? kExitComplete : kExitNotComplete;
}
