#include "filecopy.h"

#include "platform/fileio.h"
#include "platform/systemerror.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

using Platform::FileHandle;
using Platform::FileStatus;

// Read-and-write fallback where the kernel cannot copy between the two files.
constexpr qint64 CopyBufferSize = 256 * 1024;
// The kernel's copy moves at most this much per call.
constexpr qint64 KernelCopyChunk = 1024 * 1024 * 1024;

bool fail(QString *errorString, int error)
{
    if (errorString)
        *errorString = Platform::systemError(error);
    return false;
}

bool copyWithBuffer(int in, int out)
{
    const std::unique_ptr<char[]> buffer(new char[CopyBufferSize]);
    for (;;) {
        const qint64 count = Platform::read(in, buffer.get(), CopyBufferSize);
        if (count < 0)
            return false;
        if (count == 0)
            return true;
        if (!Platform::writeAll(out, buffer.get(), count))
            return false;
    }
}

// Copies everything from in (at offset 0) to the empty out.
bool copyData(int in, int out)
{
    bool copiedAny = false;
    for (;;) {
        const qint64 count = Platform::copyRange(in, out, KernelCopyChunk);
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
    FileStatus info;
    return Platform::nameStatus(path, &info) && info.isLink()
           && !Platform::targetStatus(path, &info);
}

} // namespace

namespace FileCopy {

bool copyToNew(const QString &source, const QString &target, QString *errorString)
{
    const QByteArray from = Platform::encodeName(source);
    const QByteArray to = Platform::encodeName(target);

    FileHandle in(Platform::openForReading(from));
    if (!in.isOpen())
        return fail(errorString, errno);
    FileStatus info;
    if (!Platform::fileStatus(in.get(), &info))
        return fail(errorString, errno);
    if (info.isDirectory())
        return fail(errorString, EISDIR);

    // Read and write for the owner until the copy is complete.
    constexpr uint CopyingMode = 0600;
    FileHandle out(Platform::createNew(to, CopyingMode));
    if (!out.isOpen() && errno == EEXIST && isDanglingLink(to) && Platform::removeFile(to))
        out.reset(Platform::createNew(to, CopyingMode));
    if (!out.isOpen())
        return fail(errorString, errno);

    // The permission bits as QFile reports them: read, write and execute for
    // owner, group and others.
    if (!copyData(in.get(), out.get()) || !Platform::setPermissions(out.get(), info.mode & 0777)) {
        const int error = errno;
        out.close();
        Platform::removeFile(to);
        return fail(errorString, error);
    }
    if (!out.close()) {
        const int error = errno;
        Platform::removeFile(to);
        return fail(errorString, error);
    }
    return true;
}

bool linkOrCopy(const QString &source, const QString &target, QString *errorString)
{
    // A link costs no new file on the disk, and that is what makes a file
    // expensive to install: creating it. Across file systems, on one that
    // knows no links, or onto a dangling link, the copy does what it can.
    if (Platform::makeLink(Platform::encodeName(source), Platform::encodeName(target)))
        return true;
    return copyToNew(source, target, errorString);
}

bool copyLink(const QString &source, const QString &target, QString *errorString)
{
    QByteArray destination;
    if (!Platform::readSymbolicLink(Platform::encodeName(source), &destination))
        return fail(errorString, errno);
    if (!Platform::makeSymbolicLink(destination, Platform::encodeName(target)))
        return fail(errorString, errno);
    return true;
}

bool replaceWith(const QString &source, const QString &target, const QString &staging,
                 QString *errorString)
{
    const QByteArray from = Platform::encodeName(source);
    const QByteArray to = Platform::encodeName(target);

    FileStatus sourceInfo;
    if (!Platform::nameStatus(from, &sourceInfo))
        return fail(errorString, errno);
    const bool regular = sourceInfo.isRegular();
    const bool link = sourceInfo.isLink();
    if (!regular && !link)
        return fail(errorString, EISDIR);

    // Already the very same file (a second restore of one entry): done.
    FileStatus targetInfo;
    if (regular && Platform::nameStatus(to, &targetInfo) && targetInfo.isRegular()
        && sourceInfo.device == targetInfo.device && sourceInfo.inode == targetInfo.inode)
        return true;

    // Only a regular file is linked: a hard link to a symbolic link would
    // be a link of another kind than the one that was saved.
    const auto stage = [&](const QString &name) {
        const QByteArray staged = Platform::encodeName(name);
        Platform::removeFile(staged);
        if (link)
            return copyLink(source, name, errorString);
        return Platform::makeLink(from, staged) || copyToNew(source, name, errorString);
    };
    const auto put = [&](const QString &name) {
        const QByteArray staged = Platform::encodeName(name);
        if (Platform::rename(staged, to))
            return true;
        const int error = errno;
        Platform::removeFile(staged);
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
    const QByteArray from = Platform::encodeName(source);
    FileStatus info;
    if (!Platform::nameStatus(from, &info) || !(info.isRegular() || info.isLink()))
        return false;
    return Platform::rename(from, Platform::encodeName(target));
}

bool sameContent(const QString &a, const QString &b)
{
    const QByteArray first = Platform::encodeName(a);
    const QByteArray second = Platform::encodeName(b);
    FileStatus firstInfo;
    FileStatus secondInfo;
    if (!Platform::nameStatus(first, &firstInfo) || !Platform::nameStatus(second, &secondInfo))
        return false;
    if (firstInfo.isLink() && secondInfo.isLink()) {
        QByteArray firstTarget;
        QByteArray secondTarget;
        return Platform::readSymbolicLink(first, &firstTarget)
               && Platform::readSymbolicLink(second, &secondTarget) && firstTarget == secondTarget;
    }
    if (!firstInfo.isRegular() || !secondInfo.isRegular() || firstInfo.size != secondInfo.size
        || firstInfo.permissions() != secondInfo.permissions())
        return false;
    const FileHandle firstFile(Platform::openForReading(first));
    const FileHandle secondFile(Platform::openForReading(second));
    if (!firstFile.isOpen() || !secondFile.isOpen())
        return false;
    std::unique_ptr<char[]> firstBlock(new char[CopyBufferSize]);
    std::unique_ptr<char[]> secondBlock(new char[CopyBufferSize]);
    for (;;) {
        const qint64 count = Platform::read(firstFile.get(), firstBlock.get(), CopyBufferSize);
        if (count < 0)
            return false;
        // Regular files of one size: a full block from one is a full block
        // from the other, unless something changes them meanwhile.
        qint64 got = 0;
        while (got < count) {
            const qint64 more =
                Platform::read(secondFile.get(), secondBlock.get() + got, count - got);
            if (more <= 0)
                return false;
            got += more;
        }
        if (count == 0)
            return Platform::read(secondFile.get(), secondBlock.get(), 1) == 0;
        if (std::memcmp(firstBlock.get(), secondBlock.get(), size_t(count)) != 0)
            return false;
    }
}

} // namespace FileCopy
