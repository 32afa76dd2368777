#include "fileio.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstdio>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

QByteArray encodeName(const QString &name)
{
    return QFile::encodeName(name);
}

QString decodeName(const QByteArray &name)
{
    return QFile::decodeName(name);
}

QString foldedName(const QString &name)
{
    return name;
}

QString nameProblem(const QString &relativePath)
{
    // The kernel takes every byte in a name but the separator and NUL, at
    // which the C string of the name would end.
    if (!relativePath.contains(QChar(0)))
        return QString();
    return QCoreApplication::translate(
               "Platform", "%1 holds the character %2, which file names on this system cannot hold")
        .arg(relativePath, QStringLiteral("U+0000"));
}

bool closeFile(int fd)
{
    return ::close(fd) == 0;
}

namespace {

// The status of a stat call that returned result into info; false (errno
// set) when the call failed.
bool filled(int result, const struct stat &info, FileStatus *status)
{
    if (result != 0)
        return false;
    status->mode = uint(info.st_mode);
    status->size = qint64(info.st_size);
    status->device = quint64(info.st_dev);
    status->inode = quint64(info.st_ino);
    status->owner = uint(info.st_uid);
    status->modifiedS = qint64(info.st_mtime);
    return true;
}

} // namespace

bool isRegularMode(uint mode)
{
    return S_ISREG(mode);
}

bool isDirectoryMode(uint mode)
{
    return S_ISDIR(mode);
}

bool isLinkMode(uint mode)
{
    return S_ISLNK(mode);
}

int openForReading(const QByteArray &path)
{
    return ::open(path.constData(), O_RDONLY | O_CLOEXEC);
}

int openForReadingNoFollow(const QByteArray &path)
{
    return ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

int createNew(const QByteArray &path, uint mode)
{
    return ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode_t(mode));
}

int createNoFollow(const QByteArray &path, uint mode, bool replace)
{
    constexpr int Flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
    return ::open(path.constData(), Flags | (replace ? O_TRUNC : O_EXCL), mode_t(mode));
}

int createForAppending(const QByteArray &path, uint mode)
{
    return ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC,
                  mode_t(mode));
}

int openDirectory(const QByteArray &path)
{
    return ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int openDirectoryNoFollow(const QByteArray &path)
{
    return ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

int openDirectoryNoFollowAt(int dir, const char *name)
{
    return ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

int duplicate(int fd)
{
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

qint64 read(int fd, char *buffer, qint64 size)
{
    ssize_t count;
    do {
        count = ::read(fd, buffer, size_t(size));
    } while (count < 0 && errno == EINTR);
    return count;
}

qint64 readAt(int fd, char *buffer, qint64 size, qint64 offset)
{
    ssize_t count;
    do {
        count = ::pread(fd, buffer, size_t(size), off_t(offset));
    } while (count < 0 && errno == EINTR);
    return count;
}

qint64 copyRange(int in, int out, qint64 size)
{
    return ::copy_file_range(in, nullptr, out, nullptr, size_t(size), 0);
}

bool sync(int fd)
{
    return ::fsync(fd) == 0;
}

bool syncData(int fd)
{
    return ::fdatasync(fd) == 0;
}

bool fileStatus(int fd, FileStatus *status)
{
    struct stat info;
    return filled(::fstat(fd, &info), info, status);
}

bool nameStatus(const QByteArray &path, FileStatus *status)
{
    struct stat info;
    return filled(::lstat(path.constData(), &info), info, status);
}

bool targetStatus(const QByteArray &path, FileStatus *status)
{
    struct stat info;
    return filled(::stat(path.constData(), &info), info, status);
}

bool setPermissions(int fd, uint mode)
{
    return ::fchmod(fd, mode_t(mode)) == 0;
}

bool setPermissions(const QByteArray &path, uint mode)
{
    return ::chmod(path.constData(), mode_t(mode)) == 0;
}

uint creationMask()
{
    // There is no call that only reads it.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return uint(mask);
}

uint currentUser()
{
    return uint(::geteuid());
}

const char *tempDirectoryVariable()
{
    return "TMPDIR";
}

bool folderAccess(const QByteArray &, const FileStatus &status, FolderAccess *access)
{
    if (status.owner != currentUser())
        *access = FolderAccess::OtherOwner;
    else if (status.mode & OthersWriteMode)
        *access = FolderAccess::OpenToOthers;
    else
        *access = FolderAccess::Private;
    return true;
}

bool makeLink(const QByteArray &from, const QByteArray &to)
{
    return ::link(from.constData(), to.constData()) == 0;
}

bool makeSymbolicLink(const QByteArray &target, const QByteArray &path)
{
    return ::symlink(target.constData(), path.constData()) == 0;
}

bool readSymbolicLink(const QByteArray &path, QByteArray *target)
{
    char destination[4096];
    const ssize_t length = ::readlink(path.constData(), destination, sizeof destination);
    if (length < 0)
        return false;
    *target = QByteArray(destination, qsizetype(length));
    return true;
}

bool rename(const QByteArray &from, const QByteArray &to)
{
    return ::rename(from.constData(), to.constData()) == 0;
}

bool renameNoReplaceAt(int fromDir, const char *name, int toDir, const char *toName)
{
    return ::renameat2(fromDir, name, toDir, toName, RENAME_NOREPLACE) == 0;
}

bool removeFile(const QByteArray &path)
{
    return ::unlink(path.constData()) == 0;
}

bool removeFileAt(int dir, const char *name)
{
    return ::unlinkat(dir, name, 0) == 0;
}

bool removeDirectory(const QByteArray &path)
{
    return ::rmdir(path.constData()) == 0;
}

bool removeDirectoryAt(int dir, const char *name)
{
    return ::unlinkat(dir, name, AT_REMOVEDIR) == 0;
}

bool makeDirectory(const QByteArray &path, uint mode)
{
    return ::mkdir(path.constData(), mode_t(mode)) == 0;
}

DirectoryReader::DirectoryReader(int fd)
    : m_dir(::fdopendir(fd))
    , m_fd(fd)
{
    if (!m_dir)
        ::close(fd);
}

DirectoryReader::~DirectoryReader()
{
    if (m_dir)
        ::closedir(static_cast<DIR *>(m_dir));
}

void DirectoryReader::rewind()
{
    ::rewinddir(static_cast<DIR *>(m_dir));
}

bool DirectoryReader::next(const char **name, bool *isDirectory)
{
    while (const dirent *entry = ::readdir(static_cast<DIR *>(m_dir))) {
        const char *entryName = entry->d_name;
        if (entryName[0] == '.'
            && (entryName[1] == '\0' || (entryName[1] == '.' && entryName[2] == '\0')))
            continue;
        *isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info;
            *isDirectory = ::fstatat(m_fd, entryName, &info, AT_SYMLINK_NOFOLLOW) == 0
                           && S_ISDIR(info.st_mode);
        }
        *name = entryName;
        return true;
    }
    return false;
}

} // namespace Platform
