#pragma once

#include <QString>

// The updater's per-user state directory: what must outlive a crash and a
// reboot lives here (the install journal and the one-updater lock), not in
// the temporary directory, which many systems empty at boot.
// $XDG_STATE_HOME/vemo-updater/, or ~/.local/state/vemo-updater/ when
// XDG_STATE_HOME is unset or not an absolute path (UpdaterPaths::stateDir,
// worked out at start-up).
namespace StateDirectory {

// Creates the directory dir (mode 0700, with missing parents) when it does not
// exist. False with a user-readable reason when it cannot be made, or when
// it is not a directory of the user's own that only the user can change (a
// journal planted there would steer the recovery).
bool prepare(const QString &dir, QString *problem);

// Makes the directory entries of dir (a creation, a rename, a removal)
// durable: fsync() of the directory itself.
bool syncDirectory(const QString &dir);

} // namespace StateDirectory
