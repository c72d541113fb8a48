// Helpers of the settings tests: the bytes that the data files must hold, built here from
// the record layout (never by the writers under test), and a closer for the modal message
// boxes that the dialogs show.
#ifndef SETTINGSTESTSUPPORT_H
#define SETTINGSTESTSUPPORT_H

#include "scanstate.h"

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>

// Fixed paths of the data files (below the test's station root).
QString FilterTrayFixedPath();
QString FilterModuleFixedPath();
QString SysParamFixedPath(int model);
QString TemplatesFixedPath(int model);

// Stream version 17, big-endian: a 32-bit count of bytes, then UTF-16 units most significant
// byte first; 0xFFFFFFFF for a null string.
QByteArray Be32(quint32 value);
QByteArray StringBytes(const QString &s);
QByteArray DoubleBytes(double value);
QByteArray PointBytes(const QPointF &p);
QByteArray ModuleBytes(const FilterMod &m);
QByteArray TemplateBytes(const ScanTempl &t);
QByteArray SysParamBytes(int raw, int shading, int boot, int scan, int read);

FilterMod Module(const QString &label, int ch1, const QString &labelCh1, int ch2,
                 const QString &labelCh2, int type);

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

#endif // SETTINGSTESTSUPPORT_H
