#pragma once

#include "engine/updaterpaths.h"

#include <QString>
#include <QStringList>

// Works out the run's places (UpdaterPaths) from what the program was given.
namespace StartupPaths {

// arguments: the command line, the program first. environment: the process
// environment as "NAME=value" entries, in QProcess::systemEnvironment()'s
// form; the first entry of a name counts. tempDir: the system's temporary
// directory. homeDir: the user's home directory, for the state directory
// when XDG_STATE_HOME is unset, empty or relative.
UpdaterPaths build(const QStringList &arguments, const QStringList &environment,
                   const QString &tempDir, const QString &homeDir);

// The running program's: its command line, its environment, the system's
// temporary directory and the user's home directory as they are now.
UpdaterPaths current();

} // namespace StartupPaths
