#pragma once

#include <QString>
#include <QStringList>

// The updater's private work directory: the system's temporary directory
// followed by "/vupdates/" (UpdaterPaths::workDir, worked out at start-up).
// It holds the relocated updater and its libraries at the top, the downloaded
// archives below "archives/" and the unpack directories below "unpack/", so
// that no archive's path can ever name an unpack directory or the updater's
// own files.
namespace WorkDirectory {

// Where the archive of a package link is saved: below "archives/" at the
// link's URL path (its folders included).
QString archivePath(const QString &dir, const QString &urlPath);

// The folder that package number index of a run is unpacked into, below
// "unpack/"; ends with a slash.
QString unpackPath(const QString &dir, int index);

// File names of the shared libraries that the build ships beside the
// executable (VEMO_BUNDLED_LIBRARIES): relocation copies them into the work
// directory, and clearing the work directory keeps them.
QStringList bundledLibraries();

// Creates the directory (with missing parents) with mode 0700 when it does not
// exist yet. Returns false with a user-readable reason when the directory
// cannot be used safely (problem may be null): it is not a directory (or is a
// symbolic link), it belongs to another user, or users other than its owner
// may write to it. The start-up calls it once, before anything is put there;
// everything later relies on that check.
bool preparePrivate(const QString &dir, QString *problem);

// The running program's own files: its executable, then the libraries the
// build ships beside it in the executable's directory. Absolute paths.
QStringList runningProgramFiles();

// Clears the work directory at the end of an install run: removes everything
// in dir except the files named in keptFiles that lie in it, in its subfolders
// too (the relocated updater runs from there with its libraries and
// plug-ins, and a restart after a failed run needs them). When none of them
// lies there, dir itself is removed as well.
void clear(const QString &dir, const QStringList &keptFiles);

} // namespace WorkDirectory
