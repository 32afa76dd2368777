#pragma once

#include "compactstringlist.h"

#include <QList>
#include <QString>
#include <QStringList>

// The on-disk record of one install run, kept in the state directory so that
// a run that never ended (killed, crashed, a power cut) can be rolled back at
// the next start of the updater.
//
// A text file of lines, only ever appended to: a header, then for each
// package of the run the line that names its install root and backup
// directory (written and flushed before the package changes anything), one
// line for every directory and file the package creates where none was
// (written before it is created), a line when the package is installed, and
// at the end "finished" or "rolled back". Backups need no lines: the backup
// directory holds exactly the saved files, by their path below the root.
//
// Writes reach the file at once (a process killed right after a call loses
// nothing); they are flushed to the disk itself at package boundaries and at
// the end, so that a power cut costs at most the lines since the last one.
class InstallJournal
{
public:
    struct Package
    {
        int index = 0;
        QString root;
        QString backupDir;
        QStringList createdDirectories; // in the order created
        CompactStringList createdFiles; // one per file: kept compact
    };
    // Refused: not a regular file, larger than any run writes, or a line
    // that no run writes; it is never acted on. The packages read before
    // such a line stay in Contents (only those a run could have written).
    enum class State { Absent, Empty, Open, Finished, RolledBack, Unreadable, Refused };
    struct Contents
    {
        State state = State::Absent;
        QList<Package> packages;
        QString problem; // for Unreadable and Refused
    };

    // The most a journal may hold, in bytes (see read()).
    static const qint64 MaxSize;

    // The journal in the state directory stateDir.
    static QString pathIn(const QString &stateDir);
    // The start of the name of the top-level directory inside an install
    // root that holds a run's backups (the run's id follows).
    static QLatin1String backupFolderPrefix();

    explicit InstallJournal(const QString &path);
    ~InstallJournal();

    InstallJournal(const InstallJournal &) = delete;
    InstallJournal &operator=(const InstallJournal &) = delete;

    // Names this run's backup directories apart from any other run's.
    const QString &runId() const { return m_runId; }
    // Why the last call returned false.
    const QString &errorString() const { return m_error; }

    // The first call creates the file (refusing one that exists: it belongs
    // to a run that was never rolled back) and writes the header.
    bool addPackage(int index, const QString &root, const QString &backupDir);
    bool addCreatedDirectory(int index, const QString &path);
    bool addCreatedFile(int index, const QString &path);
    bool packageInstalled(int index);
    bool markFinished();
    bool markRolledBack();
    // Deletes the file this run wrote (nothing when it never wrote one);
    // the run is over.
    bool remove();

    bool isStarted() const { return m_fd >= 0; }

    // Looks at what stands at path without following a link and without
    // waiting on it: anything but a regular file of at most MaxSize bytes
    // is refused unread.
    static Contents read(const QString &path);
    // Appends "rolled back" to the journal of an earlier run, after cutting
    // off a line that its crash left half written.
    static bool markRolledBack(const QString &path);

private:
    bool append(const QByteArray &line, bool flush);
    bool fail(const QString &what);

    QString m_path;
    QString m_runId;
    QString m_error;
    int m_fd = -1;
};
