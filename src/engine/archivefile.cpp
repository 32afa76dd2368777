#include "archivefile.h"

bool ArchiveFile::openForDownload()
{
    m_digest.reset();
    return open(QIODevice::WriteOnly | QIODevice::Truncate);
}

qint64 ArchiveFile::writeData(const char *data, qint64 size)
{
    const qint64 written = QFile::writeData(data, size);
    // Only what reached the file counts; a short write fails the download.
    if (written > 0)
        m_digest.addData(data, written);
    return written;
}
