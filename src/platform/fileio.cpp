#include "fileio.h"

// What the file layer does the same way on every system, on top of the
// calls that each system's file implements.
namespace Platform {

FileHandle::~FileHandle()
{
    if (m_fd >= 0)
        closeFile(m_fd);
}

void FileHandle::reset(int fd)
{
    if (m_fd >= 0)
        closeFile(m_fd);
    m_fd = fd;
}

int FileHandle::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

bool FileHandle::close()
{
    const int fd = m_fd;
    m_fd = -1;
    return closeFile(fd);
}

bool FileStatus::isRegular() const
{
    return isRegularMode(mode);
}

bool FileStatus::isDirectory() const
{
    return isDirectoryMode(mode);
}

bool FileStatus::isLink() const
{
    return isLinkMode(mode);
}

bool writeAll(int fd, const QByteArray &bytes)
{
    return writeAll(fd, bytes.constData(), bytes.size());
}

} // namespace Platform
