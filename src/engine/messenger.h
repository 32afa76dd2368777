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

// The most the updater reads of the messenger's output; a query is a few
// hundred bytes.
constexpr qsizetype MaxOutputBytes = 1024 * 1024;

// Runs the messenger with "-updatequery", standard output and error merged,
// in a process group of its own, and returns everything it printed. A
// messenger that is missing, does not start, prints more than
// MaxOutputBytes, or is still running after timeoutMs counts as one that
// printed nothing; in the last two cases its whole process group is killed.
QByteArray runUpdateQuery(const QString &installDir, int timeoutMs);

// The part of the output from the first "<s>" through the last "</s>",
// markers included, taken as Latin-1 and returned UTF-8-encoded. Empty when
// either marker is missing or the last "</s>" starts before the first "<s>"
// ends.
QByteArray cutOutQuery(const QByteArray &output);

// False when the messenger reported nothing to ask about: no query, or
// nothing but white space between "<s>" and "</s>".
bool isUsableQuery(const QByteArray &query);

} // namespace Messenger
