#include "privatefolder.h"

#include "platform/fileio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

namespace PrivateFolder {

Problem prepare(const QString &dir, int *error)
{
    const QString clean = QDir::cleanPath(dir);
    const QByteArray native = Platform::encodeName(clean);
    Platform::FileStatus info;
    if (!Platform::nameStatus(native, &info)) {
        if (errno != ENOENT) {
            *error = errno;
            return Problem::CannotUse;
        }
        QDir().mkpath(QFileInfo(clean).absolutePath());
        // mkdir() applies the umask on top of 0700, which can only take
        // rights away; the checks below still run on what was created.
        if (!Platform::makeDirectory(native, Platform::OwnerOnlyMode) && errno != EEXIST) {
            *error = errno;
            return Problem::CannotCreate;
        }
        if (!Platform::nameStatus(native, &info)) {
            *error = errno;
            return Problem::CannotUse;
        }
    }
    if (!info.isDirectory())
        return Problem::NotAFolder;
    Platform::FolderAccess access;
    if (!Platform::folderAccess(native, info, &access)) {
        *error = errno;
        return Problem::CannotUse;
    }
    switch (access) {
    case Platform::FolderAccess::Private:
        return Problem::None;
    case Platform::FolderAccess::OtherOwner:
        return Problem::OtherOwner;
    case Platform::FolderAccess::OpenToOthers:
        return Problem::OpenToOthers;
    }
    return Problem::OpenToOthers;
}

} // namespace PrivateFolder
