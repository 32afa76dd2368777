#pragma once

#include <QString>
#include <QStringList>

// Clearing the work directory at the end of an install run. The relocated
// updater runs from the work directory; its executable and libraries must
// survive so that a restart after a failed run finds them.
namespace WorkDirCleanup {

// The running program's own files: its executable, then the libraries the
// build ships beside it (VEMO_BUNDLED_LIBRARIES) in the executable's
// directory. Absolute paths.
QStringList runningProgramFiles();

// Removes everything in workDir except the files named in keptFiles that lie
// directly in it. When none of them lies there, the work directory itself is
// removed as well.
void clear(const QString &workDir, const QStringList &keptFiles);

} // namespace WorkDirCleanup
