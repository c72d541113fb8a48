#include "statuswatch.h"

#include "scannermodels.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

StatusWatch::StatusWatch(QWidget &window, const Settings &settings)
    : window(window), settings(settings)
{
    status = window.findChild<QLabel *>(QStringLiteral("labelstatus"));
    scanButton = window.findChild<QPushButton *>(QStringLiteral("pushButton_Scan"));
    // Connected after the window's own slot, so each check sees the tick's result.
    if (QTimer *poll = PollTimer(window))
        connect(poll, &QTimer::timeout, this, &StatusWatch::Check);
    Check();
}

QTimer *StatusWatch::PollTimer(QWidget &window)
{
    const QList<QTimer *> timers =
        window.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    return timers.size() == 1 ? timers.first() : nullptr;
}

void StatusWatch::Check()
{
    if (status && settings.printStatus && (!printed || status->text() != lastText)) {
        lastText = status->text();
        printed = true;
        std::printf("%s\n", qPrintable(lastText));
        std::fflush(stdout);
    }
    if (readySeen || !scanButton || !scanButton->isEnabled())
        return;
    readySeen = true;
    emit ready();
    if (!settings.screenshotFile.isEmpty() && !window.grab().save(settings.screenshotFile))
        std::fprintf(stderr, "scanstation-sim: cannot write %s\n",
                     qPrintable(settings.screenshotFile));
    if (settings.exitWhenReady)
        QCoreApplication::exit(0);
}

bool LoadingAreaAttendant::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Hide) {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (box && box->windowTitle() == QLatin1String("STARTUP ERROR")) {
            if (model.scenario() == ScannerScenario::DoorOpen) {
                std::fprintf(stderr, "scanstation-sim: loading-area door closed\n");
                model.setScenario(ScannerScenario::None);
            } else if (model.scenario() == ScannerScenario::PlateInLoader) {
                std::fprintf(stderr, "scanstation-sim: plate taken out of the loading area\n");
                model.setScenario(ScannerScenario::NoPlate);
            }
        }
    }
    return QObject::eventFilter(watched, event);
}
