#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What the updater needs of the messenger's main executable, "vemo7.exe" in
// the installation directory: the update query it prints, its presence as
// the mark of an installation directory, and its restart at the end.
namespace Messenger {

// The argument after the first "-root" (compared whole and case-sensitively).
// False when there is no "-root" or nothing follows it.
bool installationDirectory(const QStringList &arguments, QString *dir);

// installDir + "/vemo7.exe"
QString executablePath(const QString &installDir);

// Runs the messenger with "-updatequery", standard output and error merged,
// and returns everything it printed. A messenger that is missing, does not
// start, or is still running after timeoutMs counts as one that printed
// nothing; a run past the bound is killed.
QByteArray runUpdateQuery(const QString &installDir, int timeoutMs);

// The part of the output from the first "<s>" through the last "</s>",
// markers included, taken as Latin-1 and returned UTF-8-encoded. Empty when
// either marker is missing or the last "</s>" starts before the first "<s>"
// ends.
QByteArray cutOutQuery(const QByteArray &output);

} // namespace Messenger
