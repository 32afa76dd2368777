#pragma once

#include <QString>
#include <QStringList>

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

    // Extracts every entry; appends " - " + name for each file entry except
    // skippedEntry to *installedList. On false, message() says what failed,
    // for the user.
    bool extract(const QString &skippedEntry, QStringList *installedList);

    const QString &message() const { return m_message; }
    // The system's error text when a file could not be created or written.
    const QString &errorText() const { return m_errorText; }
    // Entries met, directories included; 0 for an archive without any.
    int entryCount() const { return m_entryCount; }

private:
    bool fail(const QString &message, const QString &errorText = QString());

    QString m_archivePath;
    QString m_unpackDir;
    QString m_message;
    QString m_errorText;
    int m_entryCount = 0;
};
