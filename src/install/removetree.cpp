#include "removetree.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Empties the directory open as fd (which this takes over and closes). Works
// by names relative to the open directory, so a tree of many files costs one
// system call per entry and no path is built. A directory entry is opened
// with O_NOFOLLOW: a link is only ever unlinked, never descended into, since
// that would delete data that lives outside the tree.
void emptyDirectory(int fd)
{
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    // Removing entries while reading the directory may make readdir() skip
    // some; another pass picks them up, as long as a pass removes anything.
    for (bool removedAny = true; removedAny;) {
        removedAny = false;
        ::rewinddir(dir);
        while (const dirent *entry = ::readdir(dir)) {
            const char *name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            bool isDirectory = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat info;
                isDirectory = ::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0
                              && S_ISDIR(info.st_mode);
            }
            if (isDirectory) {
                const int child =
                    ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (child >= 0)
                    emptyDirectory(child);
                if (::unlinkat(fd, name, AT_REMOVEDIR) == 0)
                    removedAny = true;
            } else if (::unlinkat(fd, name, 0) == 0) {
                removedAny = true;
            }
        }
    }
    ::closedir(dir);
}

} // namespace

void removeTree(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat info;
    if (::lstat(encoded.constData(), &info) != 0)
        return;
    if (!S_ISDIR(info.st_mode)) {
        // A link (to a directory or not) goes itself; a plain file is no
        // tree and stays.
        if (S_ISLNK(info.st_mode))
            ::unlink(encoded.constData());
        return;
    }
    const int fd = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    emptyDirectory(fd);
    ::rmdir(encoded.constData());
}
