#include "filemapping.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

// Linux 5.14 and later; older headers lack it, and older kernels refuse it
// with EINVAL, which leaves the pages to fault in as they are written.
#if defined(__linux__) && !defined(MADV_POPULATE_WRITE)
#define MADV_POPULATE_WRITE 23
#endif

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

namespace {

// Gives advice for the whole pages that hold the range; a failure only
// leaves the pages as they were.
void advise(const void *address, qint64 size, int advice)
{
    if (size <= 0)
        return;
    static const std::uintptr_t pageSize = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(address) & ~(pageSize - 1);
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(address) + std::uintptr_t(size);
    ::madvise(reinterpret_cast<void *>(start), end - start, advice);
}

} // namespace

void releaseMappedPages(const void *address, qint64 size)
{
    // Dropping the pages of a shared file mapping keeps them in the page
    // cache, their changes included.
    advise(address, size, MADV_DONTNEED);
}

void adviseRandomAccess(const void *address, qint64 size)
{
    // Without it a fault reads ahead, into large folios where the file
    // system has them, and the mapping takes up whole runs of up to 2 MiB
    // for each page the decoder reaches.
    advise(address, size, MADV_RANDOM);
}

bool prepareForWriting(int fd, qint64 offset, void *address, qint64 size)
{
    // Writes of 64 KiB make folios of about that size: large enough to cost
    // little each, small enough that a later read of a page through a
    // mapping marked for random access maps little beside it.
    static const char zeros[64 * 1024] = {};
    for (qint64 done = 0; done < size;) {
        const ssize_t wrote = ::pwrite(fd, zeros, size_t(qMin(qint64(sizeof zeros), size - done)),
                                       off_t(offset + done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            if (wrote == 0)
                errno = EIO;
            return false;
        }
        done += wrote;
    }
#ifdef MADV_POPULATE_WRITE
    advise(address, size, MADV_POPULATE_WRITE);
#else
    Q_UNUSED(address);
#endif
    return true;
}

} // namespace Platform
