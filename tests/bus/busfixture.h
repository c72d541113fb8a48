// Test helpers of the bus tests: capture of the standard error and of the Qt debug traces.
#ifndef BUSFIXTURE_H
#define BUSFIXTURE_H

#include <QByteArray>
#include <QStringList>
#include <QTemporaryFile>
#include <QtGlobal>

#include <cstdio>
#include <unistd.h>

// Redirects the standard error into a temporary file until text() is called or the capture
// goes.
class CapturedStream
{
public:
    CapturedStream()
    {
        file_.open();
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        dup2(file_.handle(), STDERR_FILENO);
    }
    ~CapturedStream() { restore(); }

    QByteArray text()
    {
        restore();
        file_.seek(0);
        return file_.readAll();
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
    }

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

#endif // BUSFIXTURE_H
