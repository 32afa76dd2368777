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
    if (info.owner != Platform::currentUser())
        return Problem::OtherOwner;
    if (info.mode & Platform::OthersWriteMode)
        return Problem::OpenToOthers;
    return Problem::None;
}

} // namespace PrivateFolder
