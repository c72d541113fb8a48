#include "safeqfile.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QByteArray Encoded(const QString &path)
{
    return QFile::encodeName(path);
}

bool Failed(const SafeFileError &error, QString *problem)
{
    if (problem)
        *problem = QString::fromLocal8Bit(error.text.c_str());
    return false;
}

} // namespace

bool SafeQFileRead(const QString &path, QByteArray &bytes, QString *problem, bool *missing)
{
    SafeFileError error;
    const int fd = SafeFileOpenRead(Encoded(path).constData(), error);
    if (missing)
        *missing = fd < 0 && error.missing();
    if (fd < 0)
        return Failed(error, problem);
    bytes.clear();
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error.code = errno;
            error.text = Encoded(path).toStdString() + ": " + std::strerror(errno);
            ::close(fd);
            return Failed(error, problem);
        }
        bytes.append(chunk, int(n));
    }
    ::close(fd);
    return true;
}

bool SafeQFileWrite(const QString &path, SafeWrite how, const QByteArray &bytes, QString *problem)
{
    SafeFileError error;
    const QByteArray name = Encoded(path);
    const int fd = SafeFileOpenWrite(name.constData(), how, error);
    if (fd < 0)
        return Failed(error, problem);
    bool written =
        SafeFileWriteAll(fd, name.constData(), bytes.constData(), std::size_t(bytes.size()), error);
    if (::close(fd) != 0 && written) {
        error.code = errno;
        error.text = name.toStdString() + ": " + std::strerror(errno);
        written = false;
    }
    // A new file that did not get all its bytes is no file of the station's: it goes.
    if (!written && how == SafeWrite::New)
        ::unlink(name.constData());
    return written || Failed(error, problem);
}

bool SafeQFileReplace(const QString &path, const QByteArray &bytes, QString *problem)
{
    SafeFileError error;
    if (SafeFileReplace(Encoded(path).constData(), bytes.constData(), std::size_t(bytes.size()),
                        error))
        return true;
    return Failed(error, problem);
}

bool SafeQFileAdopt(QFile &file, int fd, QIODevice::OpenMode extra, QString *problem)
{
    // ExistingOnly and ReadWrite: the open by name neither creates nor truncates, whatever
    // may have been put at the name meanwhile; the inode check then refuses anything else.
    const bool opened = file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | extra);
    struct stat made, now;
    const bool same = opened && ::fstat(fd, &made) == 0 && ::fstat(file.handle(), &now) == 0 &&
                      made.st_dev == now.st_dev && made.st_ino == now.st_ino;
    ::close(fd);
    if (same)
        return true;
    if (problem)
        *problem = file.fileName() + (opened ? QStringLiteral(" was replaced while it was opened")
                                             : QStringLiteral(": ") + file.errorString());
    file.close();
    return false;
}
