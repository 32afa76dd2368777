#include "processes.h"

#include <QFile>
#include <QProcess>
#include <QString>

#include <cerrno>

#include <signal.h>
#include <unistd.h>

namespace Platform {

ProcessGroup::ProcessGroup() = default;

ProcessGroup::~ProcessGroup() = default;

void ProcessGroup::prepare(QProcess *process)
{
    // Runs in the child between fork and exec.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
}

void ProcessGroup::started(QProcess *process)
{
    // The group's id is the child's process id. Once the child has been
    // reaped that id reads 0, and kill() with 0 would hit the caller's own
    // group, so the id is taken while it runs.
    m_leader = process->processId();
}

void ProcessGroup::kill()
{
    // kill() with 0 would hit the caller's own group.
    if (m_leader > 0)
        ::kill(-pid_t(m_leader), SIGKILL);
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

int exitCodeAsSeen(int code)
{
    return code & 0xff;
}

QStringList programsUsingFile(const QByteArray &)
{
    return QStringList();
}

} // namespace Platform
