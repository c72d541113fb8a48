// Helpers of the settings, main-window and data-file tests: the bytes that the data files
// must hold, built here from the record layout (never by the writers under test), the
// widgets of a window by name, a started main window with its tile selection, and a closer
// for the modal message boxes that the dialogs show.
#ifndef SETTINGSSUPPORT_H
#define SETTINGSSUPPORT_H

#include "mainwindow.h"
#include "scanstate.h"
#include "stationfixture.h"

#include <QApplication>
#include <QByteArray>
#include <QComboBox>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Fixed paths of the data files (below the test's station root).
QString FilterTrayFixedPath();
QString FilterModuleFixedPath();
QString SysParamFixedPath(int model);
QString TemplatesFixedPath(int model);

// Stream version 17, big-endian: a 32-bit count of bytes, then UTF-16 units most significant
// byte first; 0xFFFFFFFF for a null string.
QByteArray Be32(quint32 value);
QByteArray StringBytes(const QString &s);
QByteArray ModuleBytes(const FilterMod &m);
QByteArray ModulesBytes(const QList<FilterMod> &modules);
QByteArray TemplateBytes(const ScanTempl &t);
QByteArray TemplatesBytes(const QList<ScanTempl> &templates);
QByteArray SysParamBytes(int raw, int shading, int boot, int scan, int read);

FilterMod Module(const QString &label, int ch1, const QString &labelCh1, int ch2,
                 const QString &labelCh2, int type);

template <typename T> T *Child(QWidget *parent, const QString &name)
{
    T *w = parent->findChild<T *>(name);
    if (!w)
        qFatal("no widget %s", qPrintable(name));
    return w;
}

template <typename T> T *Child(QWidget &parent, const QString &name)
{
    return Child<T>(&parent, name);
}

inline QStringList ComboTexts(QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

// The window as a freshly started station of that model has it, from the files under the
// test root. Without `poll` the status poll is stopped: with no scanner on the bus it would
// get in between the operator's choices under test.
inline std::unique_ptr<MainWindow> MainWindowStart(int model, bool poll = false)
{
    ResetSharedState(model);
    auto w = std::make_unique<MainWindow>();
    if (!poll)
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

// Closes every message box that becomes visible, as the operator pressing OK, and keeps
// what it showed. One closer lives through a whole test program, so that no test can hang
// on a box it did not expect.
class MessageBoxCloser : public QObject
{
public:
    struct Shown {
        QString title;
        QString text;
    };

    MessageBoxCloser();
    QList<Shown> shown;
    // Exactly one box was shown, with this title and a text that holds `part`.
    bool OneShown(const QString &title, const QString &part) const
    {
        return shown.size() == 1 && shown[0].title == title && shown[0].text.contains(part);
    }

private:
    void CloseVisible();
    QTimer timer;
};

// Runs action once on the first visible top-level widget of type T (a dialog that a slot
// under test runs with exec()); the action must close it. Returns at once; the action runs
// from the event loop of that exec().
template <typename T> void WhenShown(std::function<void(T *)> action)
{
    auto *poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, action]() {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            T *target = qobject_cast<T *>(w);
            if (target && target->isVisible()) {
                poll->stop();
                poll->deleteLater();
                action(target);
                return;
            }
        }
    });
    poll->start();
}

#endif // SETTINGSSUPPORT_H
