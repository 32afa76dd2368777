#pragma once

#include <QtGlobal>

namespace Platform {

// Called in a child between fork and exec: makes it the leader of a process
// group of its own, so that whatever it starts can be stopped with it.
// Windows: the child is assigned to a job object instead.
void startOwnProcessGroup();

// Kills every process of the group led by the process group. Does nothing
// for a group id that is not positive.
// Windows: TerminateJobObject on the child's job object.
void killProcessGroup(qint64 group);

// Whether a process with this id runs (an ended one that was not reaped yet
// does not count).
// Windows: OpenProcess + GetExitCodeProcess (STILL_ACTIVE).
bool processIsAlive(qint64 pid);

} // namespace Platform
