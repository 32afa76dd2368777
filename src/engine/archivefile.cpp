#include "archivefile.h"

#include <QFileInfo>

bool ArchiveFile::openForDownload()
{
    m_digest.reset();
    m_written = 0;
    return open(QIODevice::WriteOnly | QIODevice::Truncate);
}

bool ArchiveFile::restartDownload()
{
    m_digest.reset();
    m_written = 0;
    return resize(0) && seek(0);
}

qint64 ArchiveFile::writeData(const char *data, qint64 size)
{
    const qint64 written = QFile::writeData(data, size);
    // Only what reached the file counts; a short write fails the download.
    if (written > 0) {
        m_digest.addData(data, written);
        m_written += written;
    }
    return written;
}

qint64 ArchiveFile::receivedSize() const
{
    const QFileInfo info(fileName());
    return info.isFile() ? info.size() : m_written;
}
