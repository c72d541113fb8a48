#include "safefile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

ssize_t (*SafeFileWriteCall)(int fd, const void *data, std::size_t size) = &::write;

namespace
{

constexpr mode_t kNewFileMode = 0666; // less the umask, as any new file
constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

const char *KindOf(mode_t mode)
{
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

bool Fail(SafeFileError &error, const char *path, int code, const std::string &what)
{
    error.code = code;
    error.text = std::string(path) + what;
    return false;
}

bool FailErrno(SafeFileError &error, const char *path, int code)
{
    return Fail(error, path, code, std::string(": ") + std::strerror(code));
}

// What stands at the path, not followed: false when it is something the station must not
// open (the error says what). A missing file passes with `exists` false.
bool PathAcceptable(const char *path, bool &exists, struct stat &st, SafeFileError &error)
{
    exists = ::lstat(path, &st) == 0;
    if (!exists)
        return errno == ENOENT ? true : FailErrno(error, path, errno);
    if (S_ISREG(st.st_mode))
        return true;
    const int code = S_ISDIR(st.st_mode) ? EISDIR : S_ISLNK(st.st_mode) ? ELOOP : EINVAL;
    return Fail(error, path, code, std::string(" is ") + KindOf(st.st_mode));
}

// After the open: the descriptor is a regular file (the path may have changed between the
// look and the open), then it blocks again as files do.
int OpenedCheck(int fd, const char *path, SafeFileError &error)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        FailErrno(error, path, errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        Fail(error, path, EINVAL, std::string(" is ") + KindOf(st.st_mode));
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

// An open that failed: say what stands at the path when that is why.
int OpenFailed(const char *path, int code, SafeFileError &error)
{
    struct stat st;
    if ((code == ELOOP || code == ENXIO || code == EISDIR || code == EWOULDBLOCK) &&
        ::lstat(path, &st) == 0 && !S_ISREG(st.st_mode))
        Fail(error, path, code, std::string(" is ") + KindOf(st.st_mode));
    else
        FailErrno(error, path, code);
    return -1;
}

std::string FolderOf(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    if (!slash)
        return ".";
    if (slash == path)
        return "/";
    return std::string(path, std::size_t(slash - path));
}

std::string BaseNameOf(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    return slash ? std::string(slash + 1) : std::string(path);
}

bool SyncAndClose(int fd, const char *path, SafeFileError &error)
{
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    const bool closed = ::close(fd) == 0;
    if (!synced)
        return FailErrno(error, path, syncError);
    if (!closed)
        return FailErrno(error, path, errno);
    return true;
}

// The rename is on disk once its folder is.
void FolderSync(const std::string &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// Gives a file an owner when running as root. A failure is not fatal: the file is written
// all the same, only owned by root.
void OwnerSet(int fd, uid_t uid, gid_t gid)
{
    if (::geteuid() == 0 && ::fchown(fd, uid, gid) != 0)
        return;
}

} // namespace

bool SafeFileError::missing() const
{
    return code == ENOENT;
}

void SafeFileOwnLikeFolder(int fd, const char *path)
{
    struct stat folder;
    if (::geteuid() == 0 && ::stat(FolderOf(path).c_str(), &folder) == 0 && folder.st_uid != 0)
        OwnerSet(fd, folder.st_uid, folder.st_gid);
}

int SafeFileOpenRead(const char *path, SafeFileError &error)
{
    bool exists = false;
    struct stat st;
    if (!PathAcceptable(path, exists, st, error))
        return -1;
    if (!exists) {
        FailErrno(error, path, ENOENT);
        return -1;
    }
    const int fd = ::open(path, O_RDONLY | kOpenFlags);
    if (fd < 0)
        return OpenFailed(path, errno, error);
    return OpenedCheck(fd, path, error);
}

int SafeFileOpenWrite(const char *path, SafeWrite how, SafeFileError &error)
{
    bool exists = false;
    struct stat st;
    if (!PathAcceptable(path, exists, st, error))
        return -1;
    if (exists && how == SafeWrite::New) {
        Fail(error, path, EEXIST, " already exists");
        return -1;
    }
    // A missing file is created exclusively, so that it is known to be the station's own
    // (and gets the folder's owner); one that appeared meanwhile is opened as it is.
    int fd = -1;
    bool created = false;
    if (!exists) {
        fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, kNewFileMode);
        created = fd >= 0;
        if (fd < 0 && (errno != EEXIST || how == SafeWrite::New))
            return OpenFailed(path, errno, error);
    }
    if (fd < 0) {
        fd = ::open(path, O_WRONLY | O_APPEND | kOpenFlags);
        if (fd < 0)
            return OpenFailed(path, errno, error);
    }
    fd = OpenedCheck(fd, path, error);
    if (fd >= 0 && created)
        SafeFileOwnLikeFolder(fd, path);
    return fd;
}

bool SafeFileWriteAll(int fd, const char *path, const void *data, std::size_t size,
                      SafeFileError &error)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = SafeFileWriteCall(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return FailErrno(error, path, n < 0 ? errno : ENOSPC);
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

bool SafeFileReplace(const char *path, const void *data, std::size_t size, SafeFileError &error)
{
    bool exists = false;
    struct stat old;
    if (!PathAcceptable(path, exists, old, error))
        return false;

    const std::string folder = FolderOf(path);
    std::string name = folder + "/." + BaseNameOf(path) + ".XXXXXX";
    std::vector<char> temporary(name.begin(), name.end());
    temporary.push_back('\0');
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return FailErrno(error, path, errno);
    if (exists) {
        // The new content takes the old file's place with its permissions and owner.
        ::fchmod(fd, old.st_mode & 0777);
        OwnerSet(fd, old.st_uid, old.st_gid);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, kNewFileMode & ~mask);
        SafeFileOwnLikeFolder(fd, path);
    }

    bool ok = SafeFileWriteAll(fd, path, data, size, error);
    if (ok)
        ok = SyncAndClose(fd, path, error);
    else
        ::close(fd);
    if (ok)
        ok = SafeFileRenameOver(temporary.data(), path, error);
    if (!ok) {
        ::unlink(temporary.data());
        return false;
    }
    FolderSync(folder);
    return true;
}

bool SafeFileRenameOver(const char *temporary, const char *path, SafeFileError &error)
{
    // What stands at the path is looked at again: it may have been swapped for something
    // else while the new content was written.
    bool exists = false;
    struct stat st;
    if (!PathAcceptable(path, exists, st, error))
        return false;
    if (::rename(temporary, path) != 0)
        return FailErrno(error, path, errno);
    return true;
}
