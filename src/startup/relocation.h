#pragma once

#include <QString>
#include <QStringList>

struct UpdaterPaths;

// Relocation mode: the updater copies itself and the libraries it runs on
// from the installation directory into the work directory and starts that
// copy with "-u", so that the installation may replace every file of the
// installation directory, the updater's own included.
namespace Relocation {

// The files to copy, in order: the executable first, then the libraries.
QStringList fileList(const QString &executableName, const QStringList &libraries);

// "-u", "-q" when quiet, "-root", the installation directory.
QStringList relaunchArguments(bool quiet, const QString &sourceDir);

// Copies the files from sourceDir into the work directory paths.workDir
// (deleting a stale copy and trying once more when a copy fails) and starts
// the copied executable detached. Returns the exit code: 0 when the copy was started,
// 1 after a message box that tells what failed.
int run(const UpdaterPaths &paths, const QString &sourceDir, const QString &executableName,
        const QStringList &libraries, bool quiet);

} // namespace Relocation
