#include "testprogram.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace
{

constexpr long kPollNs = 5 * 1000 * 1000;

QString OutputPath(const QTemporaryDir &dir, const char *name)
{
    return dir.filePath(QLatin1String(name));
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// argv for execve: the bytes live in `storage`, which must outlive the pointers.
std::vector<char *> PointerList(std::vector<QByteArray> &storage)
{
    std::vector<char *> list;
    list.reserve(storage.size() + 1);
    for (QByteArray &s : storage)
        list.push_back(s.data());
    list.push_back(nullptr);
    return list;
}

} // namespace

TestProgram::~TestProgram()
{
    if (pid > 0 && !ended)
        kill();
}

bool TestProgram::start(const QString &program, const QStringList &arguments)
{
    if (!dir.isValid() || pid > 0)
        return false;
    QStringList words =
        QString::fromUtf8(SCANSTATION_TEST_LAUNCHER).split(QLatin1Char('|'), Qt::SkipEmptyParts);
    words << program << arguments;

    // Everything the child needs is made before the fork: between fork and exec it may
    // only make system calls.
    std::vector<QByteArray> argStorage;
    for (const QString &w : words)
        argStorage.push_back(w.toLocal8Bit());
    std::vector<char *> argv = PointerList(argStorage);
    const QByteArray outPath = QFile::encodeName(OutputPath(dir, "stdout"));
    const QByteArray errPath = QFile::encodeName(OutputPath(dir, "stderr"));

    pid = fork();
    if (pid == 0) {
        const int out = open(outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    ended = false;
    return pid > 0;
}

bool TestProgram::waitForFinished(int msecs)
{
    if (pid <= 0)
        return false;
    QElapsedTimer clock;
    clock.start();
    while (!ended) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) {
            if (r < 0)
                status = -1; // lost: neither an exit code nor a signal
            ended = true;
            break;
        }
        if (clock.elapsed() >= msecs)
            return false;
        const timespec pause{0, kPollNs};
        nanosleep(&pause, nullptr);
    }
    return true;
}

void TestProgram::kill()
{
    if (pid <= 0 || ended)
        return;
    ::kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ended = true;
}

void TestProgram::sendSignal(int sig)
{
    if (pid > 0 && !ended)
        ::kill(pid, sig);
}

int TestProgram::exitCode() const
{
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

QByteArray TestProgram::standardOutput() const
{
    return ReadAll(OutputPath(dir, "stdout"));
}

QByteArray TestProgram::standardError() const
{
    return ReadAll(OutputPath(dir, "stderr"));
}
