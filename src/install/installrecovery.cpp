#include "installrecovery.h"

#include "backuprecord.h"
#include "engine/statedirectory.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

QList<BackupRecord> recordsOf(const InstallJournal::Contents &contents)
{
    QList<BackupRecord> records;
    for (const InstallJournal::Package &package : contents.packages) {
        records.append(BackupRecord::fromJournal(package.index, package.root, package.backupDir,
                                                 package.createdDirectories, package.createdFiles));
    }
    // The last package first, as the run's own rollback goes.
    std::reverse(records.begin(), records.end());
    return records;
}

void forget(const QList<BackupRecord> &records, const QString &journalPath)
{
    for (const BackupRecord &record : records)
        record.removeBackups();
    QFile::remove(journalPath);
    StateDirectory::syncDirectory(QFileInfo(journalPath).absolutePath());
}

} // namespace

namespace InstallRecovery {

Result run(const QString &journalPath)
{
    Result result;
    const InstallJournal::Contents contents = InstallJournal::read(journalPath);
    switch (contents.state) {
    case InstallJournal::State::Absent:
        return result;
    case InstallJournal::State::Empty:
        QFile::remove(journalPath);
        return result;
    case InstallJournal::State::Unreadable:
        result.outcome = Outcome::Failed;
        result.problem = QCoreApplication::translate(
                             "translation", "The update journal %1 cannot be read: %2", "nc")
                             .arg(journalPath, contents.problem);
        return result;
    case InstallJournal::State::Finished:
    case InstallJournal::State::RolledBack:
        forget(recordsOf(contents), journalPath);
        result.outcome = Outcome::CleanedUp;
        return result;
    case InstallJournal::State::Open:
        break;
    }

    if (contents.packages.isEmpty()) {
        QFile::remove(journalPath);
        return result;
    }

    QList<BackupRecord> records = recordsOf(contents);
    for (BackupRecord &record : records) {
        QString error;
        if (!record.restore(&error)) {
            result.outcome = Outcome::Failed;
            result.problem = error;
            for (const BackupRecord &kept : std::as_const(records))
                result.backupDirs.append(kept.runDir());
            result.backupDirs.removeDuplicates();
            return result;
        }
    }
    // Once this mark is on the disk, a start cut short from here on only
    // clears up: the backups may already be partly gone.
    InstallJournal::markRolledBack(journalPath);
    forget(records, journalPath);
    result.outcome = Outcome::RolledBack;
    return result;
}

} // namespace InstallRecovery
