#include "filemapping.h"
#include "fileio.h"
#include "systemerror.h"
#include "win32error.h"

#include <cstdio>
#include <io.h>
#include <windows.h>

namespace Platform {

bool openForMapping(QFile *file, int fd, QIODevice::OpenMode mode, QString *error)
{
    // The stream takes the descriptor over: closing the stream closes both.
    FILE *stream = _fdopen(fd, (mode & QIODevice::WriteOnly) ? "r+b" : "rb");
    if (!stream) {
        *error = systemError(errno);
        _close(fd);
        return false;
    }
    if (file->open(stream, mode, QFileDevice::AutoCloseHandle))
        return true;
    *error = file->errorString();
    fclose(stream);
    return false;
}

int createForMapping(const QByteArray &path, uint mode)
{
    // A new file is opened for reading and writing, without following a
    // link, which is what a writable mapping needs.
    return createNew(path, mode);
}

bool reserveFileSpace(int fd, qint64 size)
{
    const intptr_t value = fd < 0 ? -1 : _get_osfhandle(fd);
    if (value == -1 || value == -2)
        return failWithWin32(ERROR_INVALID_HANDLE);
    const HANDLE handle = reinterpret_cast<HANDLE>(value);
    // The allocation claims the clusters (ERROR_DISK_FULL when they are not
    // there); the end of file then makes the file that long. Where the
    // system has no such call (Wine), the end of file alone has to do: NTFS
    // claims the clusters for it too.
    FILE_ALLOCATION_INFO allocation;
    allocation.AllocationSize.QuadPart = size;
    if (!SetFileInformationByHandle(handle, FileAllocationInfo, &allocation, sizeof allocation)
        && GetLastError() != ERROR_CALL_NOT_IMPLEMENTED)
        return failWithLastError();
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = size;
    if (!SetFileInformationByHandle(handle, FileEndOfFileInfo, &end, sizeof end))
        return failWithLastError();
    return true;
}

void releaseMappedPages(const void *address, qint64 size)
{
    if (size <= 0)
        return;
    // On pages that are not locked VirtualUnlock fails with ERROR_NOT_LOCKED
    // and takes them out of the working set, which is what is wanted here;
    // the file's cache keeps them and what was written to them.
    VirtualUnlock(const_cast<void *>(address), SIZE_T(size));
}

void adviseRandomAccess(const void *, qint64)
{
    // A view has no access pattern to set. What a fault brings in stays in
    // the working set only until releaseMappedPages() trims it.
}

bool prepareForWriting(int, qint64, void *, qint64)
{
    // PrefetchVirtualMemory reads pages of a file in ahead, which a new
    // file's pages do not need; they fault in as they are written.
    return true;
}

} // namespace Platform
