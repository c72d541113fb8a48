// Opening the station's files without trusting what stands at their paths.
//
// On the Pi the station runs as root and writes into folders its operator owns, so every
// file it reads, writes or creates is opened the same careful way:
//  - the last path component is never followed as a symbolic link (lstat before the open,
//    O_NOFOLLOW in it): a link planted in place of a data file or an image file is refused,
//    dangling or not, and its target stays as it is;
//  - only regular files are accepted (fstat after the open): a folder, FIFO, device or socket
//    is refused, and the open itself never blocks (O_NONBLOCK until the check has passed);
//  - a file the station creates as root in a folder owned by another user gets that
//    folder's owner and group, so the operator keeps his own files;
//  - a data file is replaced whole through a temporary file in the same folder, written,
//    synced and renamed over the old file only when that is a regular file: a failed write
//    leaves the old content as it was.
// Plain POSIX and C++, so that the tools beside the station use the same rules.
#ifndef SAFEFILE_H
#define SAFEFILE_H

#include <cstddef>
#include <string>
#include <sys/types.h>

// Why a file could not be opened or written. `text` names the path and what stands there
// ("/x/scan_templates.tpl is a symbolic link") or the system's reason.
struct SafeFileError {
    int code = 0; // errno of the failure; ENOENT for a missing file
    std::string text;
    bool missing() const;
};

enum class SafeWrite {
    Append, // an existing file is extended, a missing one created
    New,    // only a file that does not exist yet is created
};

// Opens a regular file for reading; -1 and `error` otherwise (error.missing() when there is
// nothing at the path).
int SafeFileOpenRead(const char *path, SafeFileError &error);

// Opens a regular file for writing as `how` says; -1 and `error` otherwise.
int SafeFileOpenWrite(const char *path, SafeWrite how, SafeFileError &error);

// Writes all `size` bytes at the file position, going on after short writes; false (with
// the path and reason in `error`) when the disk refuses them.
bool SafeFileWriteAll(int fd, const char *path, const void *data, std::size_t size,
                      SafeFileError &error);

// Replaces the file at `path` with `size` bytes: written to a temporary file in the same
// folder, synced, then renamed over the old file. The old file, when there is one, must be a
// regular file; its permissions and owner carry over. On failure nothing at `path` changed.
bool SafeFileReplace(const char *path, const void *data, std::size_t size, SafeFileError &error);

// Renames a finished temporary file to `path` when nothing or a regular file stands there;
// false (the temporary file left in place) otherwise.
bool SafeFileRenameOver(const char *temporary, const char *path, SafeFileError &error);

// Gives a file just created as root the owner and group of its folder when another user
// owns the folder; nothing otherwise.
void SafeFileOwnLikeFolder(int fd, const char *path);

// The write call every writer here goes through; tests put a failing one here to stand for
// a full disk.
extern ssize_t (*SafeFileWriteCall)(int fd, const void *data, std::size_t size);

#endif // SAFEFILE_H
