#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct UpdaterPaths;

// Relocation mode: the updater copies itself and the libraries it runs on
// from the installation directory into the work directory and starts that
// copy with "-u", so that the installation may replace every file of the
// installation directory, the updater's own included.
namespace Relocation {

// The files to copy, in order: the executable first, then the libraries.
// A library may lie in a subfolder ("platforms/qwindows.dll"): it is copied
// into the same subfolder of the work directory.
QStringList fileList(const QString &executableName, const QStringList &libraries);

// "-u", "-q" when quiet, "-root", the installation directory.
QStringList relaunchArguments(bool quiet, const QString &sourceDir);

// The environment the relocated copy starts with: this process's, with
// QT_PLUGIN_PATH naming the work directory, so that the copy loads the Qt
// plug-ins it brought along and not those of a path the messenger set.
QProcessEnvironment relaunchEnvironment(const QString &workDir);

// Called by the relocated copy once Qt has read its plug-in path: takes
// QT_PLUGIN_PATH out of this process's environment when it names the
// program's own folder, so that the programs it starts (the messenger, the
// updater again on Retry) do not look for their plug-ins among the updater's.
void forgetOwnPluginPath();

// Copies the files from sourceDir into the work directory paths.workDir
// (deleting a stale copy and trying once more when a copy fails) and starts
// the copied executable detached. Returns the exit code: 0 when the copy was started,
// 1 after a message box that tells what failed.
int run(const UpdaterPaths &paths, const QString &sourceDir, const QString &executableName,
        const QStringList &libraries, bool quiet);

} // namespace Relocation
