#include "filemapping.h"
#include "fileio.h"
#include "win32error.h"

#include <io.h>
#include <windows.h>

namespace Platform {

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
    // there); the end of file then makes the file that long.
    FILE_ALLOCATION_INFO allocation;
    allocation.AllocationSize.QuadPart = size;
    if (!SetFileInformationByHandle(handle, FileAllocationInfo, &allocation, sizeof allocation))
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

} // namespace Platform
