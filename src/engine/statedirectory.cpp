#include "statedirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace StateDirectory {

QString path()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(base) + QStringLiteral("/vemo-updater/");
}

bool prepare(QString *problem)
{
    // The journal found here tells recovery what to delete and what to put
    // back, so the folder must be the user's own, as the work directory is.
    const QString dir = QDir::cleanPath(path());
    const QByteArray native = QFile::encodeName(dir);
    struct stat info;
    if (::lstat(native.constData(), &info) != 0) {
        QDir().mkpath(QFileInfo(dir).absolutePath());
        if ((::mkdir(native.constData(), S_IRWXU) != 0 && errno != EEXIST)
            || ::lstat(native.constData(), &info) != 0) {
            if (problem) {
                *problem = QCoreApplication::translate(
                               "translation",
                               "Cannot create the folder %1 for the update's records: %2", "nc")
                               .arg(dir, qt_error_string(errno));
            }
            return false;
        }
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()
        || (info.st_mode & (S_IWGRP | S_IWOTH))) {
        if (problem) {
            *problem = QCoreApplication::translate(
                           "translation",
                           "The folder %1 for the update's records is not a folder of your own "
                           "that only you can change. Remove it and start the update again.",
                           "nc")
                           .arg(dir);
        }
        return false;
    }
    return true;
}

bool syncDirectory(const QString &dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

} // namespace StateDirectory
