#pragma once

#include <QByteArray>
#include <QFile>

#include <memory>

// The file a package archive is downloaded into. Every byte written through
// it also goes into its SHA-256, so the archive is checked without reading
// it a second time. The hashing runs on a thread of its own, a few blocks
// behind the writing, so that it costs the download no time where a second
// processor is free.
class ArchiveFile : public QFile
{
public:
    ArchiveFile();
    ~ArchiveFile() override;

    // Opens the file for writing, truncated, and starts a new digest.
    bool openForDownload();
    // Empties the open file and starts a new digest, for an archive that is
    // sent again from its first byte.
    bool restartDownload();
    // Lowercase hex SHA-256 of everything written since openForDownload() or
    // restartDownload(); waits for the hashing to catch up.
    QByteArray hexDigest() const;
    // How many bytes the archive holds: the size of the file on disk. Only a
    // device behind a link (such as /dev/null, where benchmarks send
    // gigabytes) has no size of its own; then the bytes written to it count.
    qint64 receivedSize() const;

protected:
    qint64 writeData(const char *data, qint64 size) override;

private:
    class Hasher;
    std::unique_ptr<Hasher> m_hasher;
    qint64 m_written = 0;
};
