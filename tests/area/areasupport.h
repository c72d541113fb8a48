// Support of the main-window choice tests: a started main window of one model, its widgets
// by name, and the tile selection as the shared state holds it.
#ifndef AREASUPPORT_H
#define AREASUPPORT_H

#include "mainwindow.h"
#include "scanstate.h"
#include "stationfixture.h"

#include <QList>
#include <QPoint>
#include <QTimer>
#include <QWidget>

#include <memory>

template <typename T> T *Child(QWidget &w, const char *name)
{
    T *child = w.findChild<T *>(QLatin1String(name));
    if (!child)
        qFatal("no widget %s", name);
    return child;
}

// The window as a freshly started station has it, without the status poll: these tests are
// about the operator's choices, and a poll that finds no scanner must not get in between.
inline std::unique_ptr<MainWindow> MainWindowStart(int model)
{
    ResetSharedState(model);
    auto w = std::make_unique<MainWindow>();
    for (QTimer *timer : w->findChildren<QTimer *>())
        timer->stop();
    return w;
}

inline QList<QPoint> FlaggedTiles()
{
    QList<QPoint> flagged;
    for (int c = 0; c < kTileColumns; ++c)
        for (int r = 0; r < kTileRows; ++r)
            if (tileflag[c][r])
                flagged << QPoint(c, r);
    return flagged;
}

// Tiles of the rectangle [l, r] that the tile arrays hold.
inline QList<QPoint> TilesBetween(QPoint l, QPoint r)
{
    QList<QPoint> tiles;
    for (int c = qMax(l.x(), 0); c <= qMin(r.x(), kTileColumns - 1); ++c)
        for (int row = qMax(l.y(), 0); row <= qMin(r.y(), kTileRows - 1); ++row)
            tiles << QPoint(c, row);
    return tiles;
}

#endif // AREASUPPORT_H
