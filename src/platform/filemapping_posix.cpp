#include "filemapping.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace Platform {

bool openForMapping(QFile *file, int fd, QIODevice::OpenMode mode, QString *error)
{
    if (file->open(fd, mode, QFileDevice::AutoCloseHandle))
        return true;
    *error = file->errorString();
    ::close(fd);
    return false;
}

int createForMapping(const QByteArray &path, uint mode)
{
    return ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  mode_t(mode));
}

bool reserveFileSpace(int fd, qint64 size)
{
    if (size == 0)
        return ::ftruncate(fd, 0) == 0;
    // posix_fallocate() reports its error as its result, not in errno.
    const int result = ::posix_fallocate(fd, 0, off_t(size));
    if (result != 0) {
        errno = result;
        return false;
    }
    return true;
}

void releaseMappedPages(const void *address, qint64 size)
{
    if (size <= 0)
        return;
    static const std::uintptr_t pageSize = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(address) & ~(pageSize - 1);
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(address) + std::uintptr_t(size);
    // Dropping the pages of a shared file mapping keeps them in the page
    // cache, their changes included; a failure only leaves them resident.
    ::madvise(reinterpret_cast<void *>(start), end - start, MADV_DONTNEED);
}

} // namespace Platform
