#pragma once

#include <QByteArray>
#include <QStringList>
#include <QtGlobal>

class QProcess;

namespace Platform {

// A child process and whatever it starts in turn, stopped as one.
// POSIX: the child leads a process group of its own.
// Windows: the child is created suspended, assigned to a job object
// (JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) and then let run, so that nothing it
// starts escapes the job; what is still in the job when this goes is ended.
class ProcessGroup
{
public:
    ProcessGroup();
    ~ProcessGroup();
    ProcessGroup(const ProcessGroup &) = delete;
    ProcessGroup &operator=(const ProcessGroup &) = delete;

    // Before process->start(): arranges for the child to join the group.
    void prepare(QProcess *process);
    // Once the process has started (waitForStarted() said so), while it
    // runs: the group takes the child in from here on.
    void started(QProcess *process);
    // Kills every process of the group; nothing before started().
    void kill();

private:
    qint64 m_leader = 0;
    void *m_job = nullptr;
    void *m_creation = nullptr;
    void *m_process = nullptr;
};

// Whether a process with this id runs (an ended one that was not reaped yet
// does not count).
// Windows: OpenProcess + GetExitCodeProcess (STILL_ACTIVE).
bool processIsAlive(qint64 pid);

// A program's exit code as its parent learns it: POSIX passes on the low 8
// bits only (exit(1638) reads as 102), Windows all 32.
int exitCodeAsSeen(int code);

// The names of the programs that hold the file at path (an encoded name)
// open, as far as the system tells; empty when it cannot.
// POSIX: always empty (an open file never keeps another from replacing it).
// Windows: the Restart Manager (RmRegisterResources, RmGetList).
QStringList programsUsingFile(const QByteArray &path);

} // namespace Platform
