#include "processes.h"

#include <QFile>
#include <QString>

#include <cerrno>

#include <signal.h>
#include <unistd.h>

namespace Platform {

void startOwnProcessGroup()
{
    ::setpgid(0, 0);
}

void killProcessGroup(qint64 group)
{
    // kill() with 0 would hit the caller's own group.
    if (group > 0)
        ::kill(-pid_t(group), SIGKILL);
}

bool processIsAlive(qint64 pid)
{
    if (pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno != EPERM))
        return false;
    // A process that has ended but was not reaped yet still answers.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype nameEnd = line.lastIndexOf(')');
    return nameEnd < 0 || line.mid(nameEnd + 2, 1) != "Z";
}

} // namespace Platform
