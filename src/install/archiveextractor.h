#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <vector>

class CompactStringList;

// Unpacks an update archive (a zip file) into a directory, entry by entry,
// streaming each through a small buffer. Before anything is written the
// sizes the archive declares are added up and compared with the free space
// where it unpacks; an entry that inflates beyond its declared size, a
// damaged entry, a name that would leave the directory and a file that
// cannot be written all end the extraction. Unpacked files carry the
// execute bits of their entries (when the archive records Unix modes) for
// the owner to read and write.
class ArchiveExtractor
{
public:
    ArchiveExtractor(const QString &archivePath, const QString &unpackDir);

    // Called after each entry: how many of the archive's entries are done.
    using Step = std::function<void(int done, int entries)>;

    // Extracts every entry; appends " - " + name for each file entry except
    // skippedEntry to *installedList. On false, message() says what failed,
    // for the user.
    bool extract(const QString &skippedEntry, CompactStringList *installedList,
                 const Step &step = Step());

    const QString &message() const { return m_message; }
    // The system's error text when a file could not be created or written.
    const QString &errorText() const { return m_errorText; }
    // Entries met, directories included; 0 for an archive without any.
    int entryCount() const { return m_entryCount; }

private:
    class UnzipHandle;
    class OutputFile;

    // Reads the archive's directory alone: every entry readable, and room
    // for what the entries declare. Counts the entries into *entries and
    // leaves the archive at its first entry.
    bool checkDirectory(UnzipHandle &archive, int *entries);
    // Unpacks the archive's current entry (a directory or a file).
    bool extractEntry(UnzipHandle &archive, const QString &skippedEntry,
                      CompactStringList *installedList, uint umask, std::vector<char> &buffer);
    // Creates the entry's file with mode and fills it from the entry.
    bool unpackFile(UnzipHandle &archive, const QString &entryName, uint mode, uint umask,
                    qint64 declaredSize, std::vector<char> &buffer);
    // Streams the open entry into output, holding it to its declared size.
    bool copyEntry(UnzipHandle &archive, OutputFile &output, const QString &entryName,
                   qint64 declaredSize, std::vector<char> &buffer);
    bool fail(const QString &message, const QString &errorText = QString());
    // Makes the directory (below the unpack directory) exist; each is made
    // once, whatever the number of entries in it.
    void makeDirectory(const QString &path);

    QString m_archivePath;
    QString m_unpackDir;
    QString m_message;
    QString m_errorText;
    int m_entryCount = 0;
    QSet<QString> m_madeDirectories;
    // Where names ignore case: each file entry's name by its folded form.
    QHash<QString, QString> m_unpackedFiles;
};
