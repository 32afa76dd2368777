#include "statedirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
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
    const QString dir = QDir::cleanPath(path());
    if (QFileInfo(dir).isDir())
        return true;
    QDir().mkpath(QFileInfo(dir).absolutePath());
    if (::mkdir(QFile::encodeName(dir).constData(), S_IRWXU) == 0 || QFileInfo(dir).isDir())
        return true;
    if (problem) {
        *problem =
            QCoreApplication::translate(
                "translation", "Cannot create the folder %1 for the update's records: %2", "nc")
                .arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
    }
    return false;
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
