#pragma once

#include <QByteArray>
#include <QString>

// Writes zip archives with minizip's zip API, for the package builder and
// the tests. Entry names are given as bytes.
class ZipWriter
{
public:
    enum Method { Stored, Deflated };
    // RawNames: a name goes in as given, flagged as UTF-8 when it leaves
    // ASCII and is valid UTF-8. Latin1Names: a name given in UTF-8 that
    // Latin-1 holds goes in as Latin-1 bytes without the flag, as updaters
    // that read every name as Latin-1 expect; any other name goes in as given,
    // flagged when it is valid UTF-8.
    enum NameEncoding { RawNames, Latin1Names };

    explicit ZipWriter(const QString &path, NameEncoding names = RawNames);
    ~ZipWriter();

    ZipWriter(const ZipWriter &) = delete;
    ZipWriter &operator=(const ZipWriter &) = delete;

    bool isOpen() const { return m_zip != nullptr; }

    // unixMode, when not 0, is recorded as the entry's Unix mode (its
    // permission bits, e.g. 0755), as zip tools on Unix do.
    bool addFile(const QByteArray &name, const QByteArray &content, Method method = Deflated,
                 unsigned unixMode = 0);
    // Streams the file at sourcePath into the archive in blocks, with the
    // file's own permission bits as its Unix mode.
    bool addFileFrom(const QByteArray &name, const QString &sourcePath, Method method = Deflated);
    // name should end with '/'.
    bool addDirectory(const QByteArray &name);

    bool close();
    QString errorString() const { return m_error; }

private:
    bool openEntry(const QByteArray &name, Method method, bool large, unsigned unixMode = 0);
    bool closeEntry();

    void *m_zip = nullptr;
    NameEncoding m_names = RawNames;
    qint64 m_entries = 0;
    QString m_path;
    QString m_error;
};
