#pragma once

#include "archivedigest.h"

#include <QFile>

// The file a package archive is downloaded into. Every byte written through
// it also goes into its SHA-256, so the archive is checked without reading
// it a second time.
class ArchiveFile : public QFile
{
public:
    // Opens the file for writing, truncated, and starts a new digest.
    bool openForDownload();
    // Empties the open file and starts a new digest, for an archive that is
    // sent again from its first byte.
    bool restartDownload();
    // Lowercase hex SHA-256 of everything written since openForDownload().
    QByteArray hexDigest() const { return m_digest.hexResult(); }
    // How many bytes the archive holds: the size of the file on disk. Only a
    // device behind a link (such as /dev/null, where benchmarks send
    // gigabytes) has no size of its own; then the bytes written to it count.
    qint64 receivedSize() const;

protected:
    qint64 writeData(const char *data, qint64 size) override;

private:
    ArchiveDigest m_digest;
    qint64 m_written = 0;
};
