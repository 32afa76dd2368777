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

// Gives target, which must not exist yet, what source holds: a second name
// (hard link) for source where its file system allows one, otherwise a copy
// as copyToNew() makes it. A linked target shares source's file, its
// permission bits included: meant for a source that nothing changes or
// writes to afterwards, such as a file just unpacked.
bool linkOrCopy(const QString &source, const QString &target, QString *errorString = nullptr);

// Makes a symbolic link at target (which must not exist) that points where
// the link source points.
bool copyLink(const QString &source, const QString &target, QString *errorString = nullptr);

// Makes target hold what source holds: a hard link to source (or a copy of
// it; a symbolic link source gives a link of its own) is made under the name
// staging and renamed over target, so whatever is at target (a symbolic link
// included, which is never followed) goes only once its replacement is
// complete. Where staging and target lie on two file systems, the
// replacement is staged beside target instead. Nothing is left under either
// temporary name, and source is never changed.
bool replaceWith(const QString &source, const QString &target, const QString &staging,
                 QString *errorString = nullptr);

// Moves a regular file or a symbolic link (the link itself) to target within
// one file system. False, with everything as it was, when it cannot: the
// caller then copies instead.
bool moveRegularFile(const QString &source, const QString &target);

// Whether a and b hold the same: two regular files with the same permission
// bits and the same bytes, or two symbolic links that point to the same
// place (links are never followed). Reads both files whole, block by block.
bool sameContent(const QString &a, const QString &b);

} // namespace FileCopy
