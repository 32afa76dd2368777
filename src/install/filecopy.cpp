#include "filecopy.h"

#include <QFile>

#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Read-and-write fallback where the kernel cannot copy between the two files.
constexpr size_t CopyBufferSize = 256 * 1024;
// copy_file_range() moves at most this much per call.
constexpr size_t KernelCopyChunk = 1024 * 1024 * 1024;

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return m_fd; }
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes now and tells whether the last writes made it.
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

QString systemError(int error)
{
    return qt_error_string(error);
}

bool fail(QString *errorString, int error)
{
    if (errorString)
        *errorString = systemError(error);
    return false;
}

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

bool copyWithBuffer(int in, int out)
{
    const std::unique_ptr<char[]> buffer(new char[CopyBufferSize]);
    for (;;) {
        const ssize_t count = ::read(in, buffer.get(), CopyBufferSize);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (count == 0)
            return true;
        if (!writeAll(out, buffer.get(), size_t(count)))
            return false;
    }
}

// Copies everything from in (at offset 0) to the empty out.
bool copyData(int in, int out)
{
    bool copiedAny = false;
    for (;;) {
        const ssize_t count = ::copy_file_range(in, nullptr, out, nullptr, KernelCopyChunk, 0);
        if (count > 0) {
            copiedAny = true;
            continue;
        }
        if (count == 0)
            return true;
        if (errno == EINTR)
            continue;
        // Not possible between these two files: copy by hand, from where
        // the kernel stopped (nothing was copied when it refuses outright).
        if (!copiedAny
            && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL
                || errno == EBADF))
            return copyWithBuffer(in, out);
        return false;
    }
}

bool isDanglingLink(const QByteArray &path)
{
    struct stat info;
    return ::lstat(path.constData(), &info) == 0 && S_ISLNK(info.st_mode)
           && ::stat(path.constData(), &info) != 0;
}

} // namespace

namespace FileCopy {

bool copyToNew(const QString &source, const QString &target, QString *errorString)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(target);

    FileDescriptor in(::open(from.constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return fail(errorString, errno);
    struct stat info;
    if (::fstat(in.get(), &info) != 0)
        return fail(errorString, errno);
    if (S_ISDIR(info.st_mode))
        return fail(errorString, EISDIR);

    constexpr int CreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    FileDescriptor out(::open(to.constData(), CreateFlags, S_IRUSR | S_IWUSR));
    if (out.get() < 0 && errno == EEXIST && isDanglingLink(to) && ::unlink(to.constData()) == 0)
        out.reset(::open(to.constData(), CreateFlags, S_IRUSR | S_IWUSR));
    if (out.get() < 0)
        return fail(errorString, errno);

    // The permission bits as QFile reports them: read, write and execute for
    // owner, group and others.
    if (!copyData(in.get(), out.get()) || ::fchmod(out.get(), info.st_mode & 0777) != 0) {
        const int error = errno;
        out.close();
        ::unlink(to.constData());
        return fail(errorString, error);
    }
    if (!out.close()) {
        const int error = errno;
        ::unlink(to.constData());
        return fail(errorString, error);
    }
    return true;
}

bool linkOrCopy(const QString &source, const QString &target, QString *errorString)
{
    // A link costs no new file on the disk, and that is what makes a file
    // expensive to install: creating it. Across file systems, on one that
    // knows no links, or onto a dangling link, the copy does what it can.
    if (::link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0)
        return true;
    return copyToNew(source, target, errorString);
}

bool copyLink(const QString &source, const QString &target, QString *errorString)
{
    char destination[4096];
    const ssize_t length =
        ::readlink(QFile::encodeName(source).constData(), destination, sizeof destination - 1);
    if (length < 0)
        return fail(errorString, errno);
    destination[length] = '\0';
    if (::symlink(destination, QFile::encodeName(target).constData()) != 0)
        return fail(errorString, errno);
    return true;
}

bool replaceWith(const QString &source, const QString &target, const QString &staging,
                 QString *errorString)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(target);

    struct stat sourceInfo;
    if (::lstat(from.constData(), &sourceInfo) != 0)
        return fail(errorString, errno);
    const bool regular = S_ISREG(sourceInfo.st_mode);
    const bool link = S_ISLNK(sourceInfo.st_mode);
    if (!regular && !link)
        return fail(errorString, EISDIR);

    // Already the very same file (a second restore of one entry): done.
    struct stat targetInfo;
    if (regular && ::lstat(to.constData(), &targetInfo) == 0 && S_ISREG(targetInfo.st_mode)
        && sourceInfo.st_dev == targetInfo.st_dev && sourceInfo.st_ino == targetInfo.st_ino)
        return true;

    // Only a regular file is linked: a hard link to a symbolic link would
    // be a link of another kind than the one that was saved.
    const auto stage = [&](const QString &name) {
        const QByteArray staged = QFile::encodeName(name);
        ::unlink(staged.constData());
        if (link)
            return copyLink(source, name, errorString);
        return ::link(from.constData(), staged.constData()) == 0
               || copyToNew(source, name, errorString);
    };
    const auto put = [&](const QString &name) {
        const QByteArray staged = QFile::encodeName(name);
        if (::rename(staged.constData(), to.constData()) == 0)
            return true;
        const int error = errno;
        ::unlink(staged.constData());
        errno = error;
        return false;
    };

    if (!stage(staging))
        return false;
    if (put(staging))
        return true;
    if (errno == EXDEV) {
        const QString beside = target + QStringLiteral(".vemo-restore");
        if (stage(beside) && put(beside))
            return true;
    }
    return fail(errorString, errno);
}

bool moveRegularFile(const QString &source, const QString &target)
{
    const QByteArray from = QFile::encodeName(source);
    struct stat info;
    if (::lstat(from.constData(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)))
        return false;
    return ::rename(from.constData(), QFile::encodeName(target).constData()) == 0;
}

bool sameContent(const QString &a, const QString &b)
{
    const QByteArray first = QFile::encodeName(a);
    const QByteArray second = QFile::encodeName(b);
    struct stat firstInfo;
    struct stat secondInfo;
    if (::lstat(first.constData(), &firstInfo) != 0
        || ::lstat(second.constData(), &secondInfo) != 0)
        return false;
    if (S_ISLNK(firstInfo.st_mode) && S_ISLNK(secondInfo.st_mode)) {
        char firstTarget[4096];
        char secondTarget[4096];
        const ssize_t firstLength = ::readlink(first.constData(), firstTarget, sizeof firstTarget);
        const ssize_t secondLength =
            ::readlink(second.constData(), secondTarget, sizeof secondTarget);
        return firstLength >= 0 && firstLength == secondLength
               && std::memcmp(firstTarget, secondTarget, size_t(firstLength)) == 0;
    }
    if (!S_ISREG(firstInfo.st_mode) || !S_ISREG(secondInfo.st_mode)
        || firstInfo.st_size != secondInfo.st_size
        || (firstInfo.st_mode & 07777) != (secondInfo.st_mode & 07777))
        return false;
    const FileDescriptor firstFile(::open(first.constData(), O_RDONLY | O_CLOEXEC));
    const FileDescriptor secondFile(::open(second.constData(), O_RDONLY | O_CLOEXEC));
    if (firstFile.get() < 0 || secondFile.get() < 0)
        return false;
    std::unique_ptr<char[]> firstBlock(new char[CopyBufferSize]);
    std::unique_ptr<char[]> secondBlock(new char[CopyBufferSize]);
    for (;;) {
        const ssize_t count = ::read(firstFile.get(), firstBlock.get(), CopyBufferSize);
        if (count < 0)
            return false;
        // Regular files of one size: a full block from one is a full block
        // from the other, unless something changes them meanwhile.
        ssize_t got = 0;
        while (got < count) {
            const ssize_t more =
                ::read(secondFile.get(), secondBlock.get() + got, size_t(count - got));
            if (more <= 0)
                return false;
            got += more;
        }
        if (count == 0)
            return ::read(secondFile.get(), secondBlock.get(), 1) == 0;
        if (std::memcmp(firstBlock.get(), secondBlock.get(), size_t(count)) != 0)
            return false;
    }
}

} // namespace FileCopy
