#pragma once

#include "engine/updateinfo.h"
#include "zipwriter.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>

#include <functional>

// Building blocks for the installation tests: real zip archives, damage done
// to them afterwards, and compact views of directory trees.

struct ArchiveEntry
{
    QByteArray name; // a name ending with '/' is a directory entry
    QByteArray content;
    ZipWriter::Method method = ZipWriter::Deflated;
    unsigned mode = 0; // the entry's Unix mode; 0: none recorded
};
Q_DECLARE_METATYPE(ArchiveEntry)

using ArchiveEntries = QList<ArchiveEntry>;
// Relative path -> content of every file below a directory.
using FileMap = QMap<QString, QByteArray>;

bool writeArchive(const QString &path, const ArchiveEntries &entries);

enum class Damage {
    None,
    FlipDataByte,        // a byte of the entry's data changes: the checksum no longer fits
    InvalidDeflateBlock, // the first deflate block gets an invalid type: inflating fails
    LocalMethodMismatch, // the local header names another method than the directory
    CentralHeader,       // the entry's record in the archive's directory is unreadable
    DeclaredSmall,       // both headers declare 1000 bytes, far fewer than the entry holds
};
Q_DECLARE_METATYPE(Damage)

// Damages the data or local header of the named entry in place.
bool damageArchiveEntry(const QString &zipPath, const QByteArray &entryName, Damage damage);

// The manifest row and entry of a delta package that turn the installed
// file path/name, holding from, into one holding to: a zstd frame made with
// from as its prefix, as "zstd --patch-from" writes it.
struct PatchRow
{
    QByteArray element;
    ArchiveEntry entry;
};
PatchRow patchRow(const QByteArray &path, const QByteArray &name, const QByteArray &from,
                  const QByteArray &to);

UpdateInfo makeRecord(const QByteArray &project, const QByteArray &name, const QByteArray &type,
                      const QByteArray &link);

// Every file below root, by path relative to root; directories are implied.
FileMap fileMap(const QString &root);
bool writeFiles(const QString &root, const FileMap &files);

// An expected message with every [[path]] written as the system writes
// paths for the user (backslashes on Windows).
QString withSystemPaths(QString text);


// Mounts a tmpfs of the given size (e.g. "64k") on path, in a mount
// namespace of this test process alone (made at the first call), so the
// mount goes away with the process. False where that is not allowed (not
// root): the caller skips.
bool mountSmallFileSystem(const QString &path, const QByteArray &size);
void unmountSmallFileSystem(const QString &path);
// Makes a file system mounted with mountSmallFileSystem() read-only.
bool makeReadOnly(const QString &path);

// Runs the action from the application's event loop and tells whether it
// asked the application to quit (QCoreApplication::quit() takes effect only
// when control is back in the loop).
bool requestsQuit(const std::function<void()> &action);
