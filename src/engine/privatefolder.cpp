#include "privatefolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace PrivateFolder {

Problem prepare(const QString &dir, int *error)
{
    const QString clean = QDir::cleanPath(dir);
    const QByteArray native = QFile::encodeName(clean);
    struct stat info;
    if (::lstat(native.constData(), &info) != 0) {
        if (errno != ENOENT) {
            *error = errno;
            return Problem::CannotUse;
        }
        QDir().mkpath(QFileInfo(clean).absolutePath());
        // mkdir() applies the umask on top of 0700, which can only take
        // rights away; the checks below still run on what was created.
        if (::mkdir(native.constData(), S_IRWXU) != 0 && errno != EEXIST) {
            *error = errno;
            return Problem::CannotCreate;
        }
        if (::lstat(native.constData(), &info) != 0) {
            *error = errno;
            return Problem::CannotUse;
        }
    }
    if (!S_ISDIR(info.st_mode))
        return Problem::NotAFolder;
    if (info.st_uid != ::geteuid())
        return Problem::OtherOwner;
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return Problem::OpenToOthers;
    return Problem::None;
}

} // namespace PrivateFolder
