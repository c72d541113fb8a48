// A program of the project started by a test, with its output caught in files.
//
// Tests start programs with fork and exec rather than QProcess: QProcess starts children
// with a pidfd clone, which qemu's user-mode emulation refuses while the PC's kernel
// reports it as available, so under the arm64 test run no QProcess could ever start.
// Output goes to files in a folder of the program's own, so that programs run side by
// side never stall on a full pipe while the test waits on another one.
#ifndef TESTPROGRAM_H
#define TESTPROGRAM_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/types.h>

class TestProgram
{
public:
    TestProgram() = default;
    ~TestProgram();
    TestProgram(const TestProgram &) = delete;
    TestProgram &operator=(const TestProgram &) = delete;

    // Starts the program with the test's environment, directly on a native build, through
    // the build's emulator when the tests themselves run under one. False when it could not
    // be started.
    bool start(const QString &program, const QStringList &arguments);
    // False when the program is still running after msecs.
    bool waitForFinished(int msecs);
    // Ends the program at once and waits for it.
    void kill();
    // Sends a signal to the running program.
    void sendSignal(int sig);

    // The exit code of a program that ended by itself; -1 while it runs or when it was
    // ended by a signal.
    int exitCode() const;
    QByteArray standardOutput() const;
    QByteArray standardError() const;

private:
    QTemporaryDir dir;
    pid_t pid = -1;
    int status = 0;
    bool ended = false;
};

#endif // TESTPROGRAM_H
