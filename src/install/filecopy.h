#pragma once

#include <QString>

// Whole-file copies for the installation, made with the file system's own
// copy where it has one. Unlike QFile::copy() they write under the final name
// (or a name the caller chose) directly, without a hidden temporary file, a
// rename and a sync per file, which made many small files slow to install.
namespace FileCopy {

// Copies source to target, which must not exist yet (a dangling symbolic link
// there is replaced, as QFile::copy() does). The new file gets source's
// permission bits. On failure nothing is left at target and errorString, when
// given, says why.
bool copyToNew(const QString &source, const QString &target, QString *errorString = nullptr);

// Makes target hold source's content: a hard link to source (or, across file
// systems, a copy of it) is made under target + temporarySuffix and renamed over
// target, so the file at target goes only once its replacement is complete.
// Nothing is left under the temporary name, and source is never changed.
bool replaceWith(const QString &source, const QString &target, const QString &temporarySuffix);

// Moves a regular file (not a symbolic link) to target within one file
// system. False, with everything as it was, when it cannot: the caller then
// copies instead.
bool moveRegularFile(const QString &source, const QString &target);

} // namespace FileCopy
