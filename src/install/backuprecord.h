#pragma once

#include "compactstringlist.h"

#include <QSet>
#include <QString>
#include <QStringList>

class InstallJournal;

// What one package of an install run changed in its install root, and how to
// take it back: the saved copies of the files it replaced or removed (in its
// own backup directory inside the root, so that saving a file is a rename
// within one file system), and the files and directories it created where
// none were. Every creation is entered in the run's journal before it
// happens, so a run cut short can be taken back from the journal and the
// backup directory alone.
class BackupRecord
{
public:
    // root: the install root, absolute, with its links resolved, without a
    // trailing slash. backupDir: this package's backup directory, directly
    // inside a directory of the run inside the root. journal may be null.
    BackupRecord(int index, const QString &root, const QString &backupDir, InstallJournal *journal);

    // Rebuilds the record of a package from the journal of a run that did
    // not end: its creations from the journal, its backups from what lies in
    // its backup directory.
    static BackupRecord fromJournal(int index, const QString &root, const QString &backupDir,
                                    const QStringList &createdDirectories,
                                    const CompactStringList &createdFiles);

    const QString &root() const { return m_root; }
    // Where the run keeps the backups of all its packages in this root.
    QString runDir() const;

    bool wasCreated(const QString &path) const { return m_createdFiles.contains(path); }
    // The saved files, by their paths below the root.
    const CompactStringList &savedFiles() const { return m_saved; }

    // Makes the backup directory exist (with its missing parents, none of
    // them entered in the journal); false with the reason in error.
    bool makeBackupFolder(QString *error);
    // Makes the absolute directory dir exist, entering every directory it
    // creates in the journal first. A directory it has seen exist is not
    // looked at again.
    bool makeDirectories(const QString &dir, QString *error);
    // Enters path, about to be created where nothing is, in the journal.
    bool noteNewFile(const QString &path, QString *error);
    // Saves target (relative below the root; mode: the mode of its
    // Platform::FileStatus) unless it was saved before. With deletesTarget the target
    // itself moves into the backup where it can (*movedAway tells);
    // otherwise a copy is made. Links are saved as links, never followed.
    bool save(const QString &target, const QString &relative, uint mode, bool deletesTarget,
              bool *movedAway, QString *error);

    // Takes the package back: deletes what it created (directories only when
    // empty of anything else), then puts every saved file back. Can be run
    // again after it was cut short. False at the first file that cannot be
    // put back; *error says which.
    bool restore(QString *error);

    // Deletes the backups, once the run is over.
    void removeBackups() const;

private:
    void noteSaved(const QString &relative);

    int m_index;
    QString m_root;
    QString m_backupDir;
    InstallJournal *m_journal;
    QStringList m_createdDirectories;
    CompactStringList m_createdFiles;
    CompactStringList m_saved;
    // The saved names case-folded, where names that differ only in case are
    // one file: a second row for the same file must not back up what the
    // first one already changed.
    QSet<QString> m_savedFolded;
    // Directories known to exist, in the root and in the backups.
    QSet<QString> m_existingDirectories;
};
