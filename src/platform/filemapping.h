#pragma once

#include <QByteArray>
#include <QFile>
#include <QtGlobal>

// What a file mapped into memory (QFile::map) needs from the system beyond
// the mapping itself.
namespace Platform {

// Creates a new file, open for reading and writing as a writable mapping of
// it needs; fails with EEXIST when the name is taken, never following a
// link there. Windows: CreateFileW(GENERIC_READ | GENERIC_WRITE, CREATE_NEW)
// with FILE_FLAG_OPEN_REPARSE_POINT.
int createForMapping(const QByteArray &path, uint mode);

// Hands the descriptor fd over to file, open in mode, so that file can map
// it; file closes it. When that fails fd is closed too, and error says why.
// Windows: Qt maps only a file that it opened by name or from a stream, so
// fd is wrapped in a stream (_fdopen) first.
bool openForMapping(QFile *file, int fd, QIODevice::OpenMode mode, QString *error);

// Gives the open file room on the disk for size bytes and makes it that
// long, so that writing them through a mapping cannot fail for want of
// space (where the mapping could only report that with a signal). False with
// errno set (ENOSPC on a full disk). Windows: SetFileInformationByHandle with
// FileAllocationInfo, then FileEndOfFileInfo.
bool reserveFileSpace(int fd, qint64 size);

// Takes the pages of a mapped range out of this process's resident memory
// without losing them: a file mapping reads them back from the system's
// cache when they are next touched, and what was written through it stays
// written. Keeps a walk over a large mapped file from growing the process
// by the file's size. The range is widened to whole pages. Windows:
// VirtualUnlock (on pages that are not locked it only trims them from the
// working set).
void releaseMappedPages(const void *address, qint64 size);

// Tells the system that a mapped range is reached at scattered places: a
// fault reads in the page it needs, not a run read ahead around it that
// would then be mapped, and count as this process's memory, until
// released. Only a hint. Windows: none (nothing to say it with for a view).
void adviseRandomAccess(const void *address, qint64 size);

// Readies size bytes at offset of the file fd, mapped writable at address,
// for being written through the mapping: writes zeros there with the
// file's own writes, which put the pages in the system's cache in runs of
// 64 KiB, then maps them in one call (Linux 5.14 and later), instead of
// one fault for each 4 KiB page that reads it in, zeroes it and makes it
// writable as the writing reaches it. Only for a range not yet written.
// False with errno set when a write fails. Windows: nothing to do (a view's
// pages of a new file fault in as they are written).
bool prepareForWriting(int fd, qint64 offset, void *address, qint64 size);

} // namespace Platform
