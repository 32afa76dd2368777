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

// Maps the pages of a range of a writable file mapping in one call, ready to
// be written, instead of one fault for each page as the writing reaches it.
// The content stays as it was. Only a speed-up: where the system cannot do
// it the pages fault in as before. Windows: none (a view's pages of a new
// file fault in cheaply; PrefetchVirtualMemory only reads ahead).
void prepareForWriting(void *address, qint64 size);

} // namespace Platform
