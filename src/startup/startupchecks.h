#pragma once

class RunLog;
class UpdaterLock;
struct UpdaterPaths;

// What every start of the updater does before anything else, in either mode:
// it takes the one-updater lock, and then takes back an install run that a
// crash or a power cut left unfinished (telling the user afterwards in a
// box, or in quiet mode with a line on the log).
namespace StartupChecks {

// How long each mode waits for the lock: the relocated instance for the
// instance that started it to let go, a relocating one not at all.
constexpr int RelocationWaitMs = 0;
constexpr int UpdateModeWaitMs = 10000;

// False when the updater must end now with exit code 1, the user told why:
// another updater holds the lock, or an unfinished run could not be taken
// back completely (its backups stay, and the next start tries again).
// The journal looked at is the one in paths.stateDir.
// Once the lock is held, the run's log starts: appended to when the lock was
// handed over by the updater that began the run, a new one otherwise.
bool lockAndRecover(const UpdaterPaths &paths, UpdaterLock *lock, RunLog *log, int waitMs,
                    bool quiet);

} // namespace StartupChecks
