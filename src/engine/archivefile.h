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
    // Lowercase hex SHA-256 of everything written since openForDownload().
    QByteArray hexDigest() const { return m_digest.hexResult(); }

protected:
    qint64 writeData(const char *data, qint64 size) override;

private:
    ArchiveDigest m_digest;
};
