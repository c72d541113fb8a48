// A stand-in for the scan window's scanner operations: each start and read is counted and does
// what the test scripted on the shared scan state; also the fixed clock and the widget look-up.
#ifndef FAKESCANNER_H
#define FAKESCANNER_H

#include "scanstate.h"
#include "scanwindow.h"

#include <QDateTime>
#include <QWidget>

#include <functional>

struct FakeScanner {
    int starts = 0;
    int reads = 0;
    int connectionTests = 0;
    int busResets = 0;
    int startResult = 1;
    int readResult = 1;
    // What one read call does; by default the scan completes at the first call.
    std::function<void(int call)> onRead = [](int) { newscansetup.scanrunningflag = 0; };
    std::function<void()> onStart = [] {};
};

inline FakeScanner &Fake()
{
    static FakeScanner fake;
    return fake;
}

inline int FakeStart()
{
    ++Fake().starts;
    Fake().onStart();
    return Fake().startResult;
}

inline int FakeRead()
{
    Fake().onRead(++Fake().reads);
    return Fake().readResult;
}

inline int FakeConnectionTest()
{
    ++Fake().connectionTests;
    return 1;
}

inline int FakeBusReset()
{
    ++Fake().busResets;
    return 1;
}

// Puts a fresh fake in front of the scan window.
inline void FakeScannerInstall()
{
    Fake() = FakeScanner();
    scanOperations = {&FakeStart, &FakeStart,          &FakeRead,    &FakeRead,
                      &FakeRead,  &FakeConnectionTest, &FakeBusReset};
}

inline QDateTime FixedClock()
{
    return QDateTime(QDate(2026, 3, 3), QTime(9, 5, 7));
}

template <typename T> T *Child(QWidget &w, const char *name)
{
    T *child = w.findChild<T *>(QLatin1String(name));
    if (!child)
        qFatal("no widget %s", name);
    return child;
}

#endif // FAKESCANNER_H
