// The station's own files opened by the rules of safefile.h, for Qt code.
//
// Small files (data files, logs, headers) are read or written whole through a checked
// descriptor, never through a QFile that could follow a link or block on a FIFO. The image
// files, which stay open for the whole scan, are created safely and then handed to their
// QFile by name once the file at that name is known to be the one just created.
#ifndef SAFEQFILE_H
#define SAFEQFILE_H

#include "safefile.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// The whole of a regular file. False when it cannot be read: `missing` tells a file that
// is simply not there from one that is refused, `problem` names the path and why.
bool SafeQFileRead(const QString &path, QByteArray &bytes, QString *problem = nullptr,
                   bool *missing = nullptr);

// Opens `path` as `how` says, writes all of `bytes` and closes it; every step is checked. A
// file created new (SafeWrite::New) is removed again when its bytes could not be written.
bool SafeQFileWrite(const QString &path, SafeWrite how, const QByteArray &bytes,
                    QString *problem = nullptr);

// Replaces a data file whole with `bytes` (see SafeFileReplace).
bool SafeQFileReplace(const QString &path, const QByteArray &bytes, QString *problem = nullptr);

// Opens `file` by its name, read-write without creating or truncating, and makes sure it is
// the very file behind `fd` (one the station has just created safely); `fd` is closed
// either way. On failure `file` stays closed and `problem` says why.
bool SafeQFileAdopt(QFile &file, int fd, QIODevice::OpenMode extra, QString *problem = nullptr);

#endif // SAFEQFILE_H
