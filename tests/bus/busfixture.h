// Test helpers of the bus tests: capture of a standard stream, of the Qt debug traces, and
// a virtual scanner installed under the bus with the bus brought up as initiator.
#ifndef BUSFIXTURE_H
#define BUSFIXTURE_H

#include "initiator.h"
#include "virtualscanner.h"

#include <QByteArray>
#include <QtGlobal>
#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>
#include <memory>
#include <unistd.h>

// Redirects a standard stream (fd 1 or 2) into a temporary file until text() is called
// or the capture goes.
class CapturedStream
{
public:
    explicit CapturedStream(int fd = STDERR_FILENO) : fd_(fd)
    {
        file_.open();
        flush();
        saved_ = dup(fd_);
        dup2(file_.handle(), fd_);
    }
    ~CapturedStream() { restore(); }

    QByteArray text()
    {
        restore();
        file_.seek(0);
        return file_.readAll();
    }

private:
    void flush()
    {
        std::fflush(stdout);
        std::fflush(stderr);
    }
    void restore()
    {
        if (saved_ < 0)
            return;
        flush();
        dup2(saved_, fd_);
        close(saved_);
        saved_ = -1;
    }

    int fd_;
    int saved_ = -1;
    QTemporaryFile file_;
};

// Collects the Qt debug messages while it lives.
class CapturedDebug
{
public:
    CapturedDebug() : previous_(qInstallMessageHandler(Collect)) { sink().clear(); }
    ~CapturedDebug() { qInstallMessageHandler(previous_); }
    QStringList messages() const { return sink(); }

private:
    static QStringList &sink()
    {
        static QStringList messages;
        return messages;
    }
    static void Collect(QtMsgType, const QMessageLogContext &, const QString &text)
    {
        sink().append(text);
    }

    QtMessageHandler previous_;
};

// A virtual scanner under the bus, with Init() and Reset() done as a protocol operation
// would; the bus is cleaned up and the scanner taken away at the end.
class ScannerOnBus
{
public:
    ScannerOnBus();
    ~ScannerOnBus();
    VirtualScanner &scanner() { return *scanner_; }
    EmulatedGpio &regs() { return scanner_->registers(); }
    bool up() const { return up_; }

private:
    std::unique_ptr<VirtualScanner> scanner_;
    bool up_ = false;
};

#endif // BUSFIXTURE_H
