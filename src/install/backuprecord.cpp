#include "backuprecord.h"

#include "engine/removetree.h"
#include "filecopy.h"
#include "fileinuse.h"
#include "installjournal.h"
#include "platform/fileio.h"
#include "platform/systemerror.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

namespace {

// Inside the run's directory, beside the packages' backup directories:
// where a copy is made before it becomes a backup, and where a saved file is
// staged before it goes back in place.
const QLatin1String SavingName("saving");
const QLatin1String RestoringName("restoring");

bool entryExists(const QString &path)
{
    Platform::FileStatus info;
    return Platform::nameStatus(Platform::encodeName(path), &info);
}

QString systemError()
{
    return Platform::systemError(errno);
}

// dir and those of its parents that do not exist yet, outermost first.
QStringList missingFolders(const QString &dir)
{
    QStringList missing;
    for (QString path = QDir::cleanPath(dir); !entryExists(path);) {
        missing.prepend(path);
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            break;
        path = parent;
    }
    return missing;
}

// Makes dir and its missing parents; false with errno set when one of them
// cannot be made.
bool makePath(const QString &dir)
{
    for (const QString &path : missingFolders(dir)) {
        if (!Platform::makeDirectory(Platform::encodeName(path), 0777) && errno != EEXIST)
            return false;
    }
    return true;
}

QString cannotBackUp(const QString &target, const QString &backup, const QString &reason)
{
    return QCoreApplication::translate("BackupRecord", "Cannot back up file %1 to %2!")
               .arg(QDir::toNativeSeparators(target), QDir::toNativeSeparators(backup))
           + QStringLiteral(" (%1)").arg(reason);
}

} // namespace

BackupRecord::BackupRecord(int index, const QString &root, const QString &backupDir,
                           InstallJournal *journal)
    : m_index(index)
    , m_root(root)
    , m_backupDir(backupDir)
    , m_journal(journal)
{
}

BackupRecord BackupRecord::fromJournal(int index, const QString &root, const QString &backupDir,
                                       const QStringList &createdDirectories,
                                       const CompactStringList &createdFiles)
{
    BackupRecord record(index, root, backupDir, nullptr);
    record.m_createdDirectories = createdDirectories;
    record.m_createdFiles = createdFiles;
    // Every entry below the backup directory that is not a directory is
    // a saved file or link; a copy in the making is never there (it is
    // made under another name and renamed in when complete).
    const QDir base(backupDir);
    QDirIterator it(backupDir,
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    QStringList saved;
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isDir() && !info.isSymLink())
            continue;
        saved.append(base.relativeFilePath(info.filePath()));
    }
    saved.sort();
    for (const QString &relative : std::as_const(saved))
        record.noteSaved(relative);
    return record;
}

QString BackupRecord::runDir() const
{
    return QFileInfo(m_backupDir).absolutePath();
}

bool BackupRecord::makeBackupFolder(QString *error)
{
    if (!makePath(m_backupDir)) {
        *error = QCoreApplication::translate("BackupRecord", "Cannot create folder %1 (%2)")
                     .arg(QDir::toNativeSeparators(m_backupDir), systemError());
        return false;
    }
    m_existingDirectories.insert(m_backupDir);
    return true;
}

bool BackupRecord::makeDirectories(const QString &dir, QString *error)
{
    // Files come directory by directory: most calls end here.
    if (m_existingDirectories.contains(dir))
        return true;
    for (const QString &path : missingFolders(dir)) {
        if (m_journal && !m_journal->addCreatedDirectory(m_index, path)) {
            *error = m_journal->errorString();
            return false;
        }
        m_createdDirectories.append(path);
        if (!Platform::makeDirectory(Platform::encodeName(path), 0777) && errno != EEXIST) {
            *error = QCoreApplication::translate("BackupRecord", "Cannot create folder %1 (%2)")
                         .arg(QDir::toNativeSeparators(path), systemError());
            return false;
        }
    }
    m_existingDirectories.insert(dir);
    return true;
}

bool BackupRecord::noteNewFile(const QString &path, QString *error)
{
    if (m_journal && !m_journal->addCreatedFile(m_index, path)) {
        *error = m_journal->errorString();
        return false;
    }
    if (!m_createdFiles.contains(path))
        m_createdFiles.append(path);
    return true;
}

bool BackupRecord::save(const QString &target, const QString &relative, uint mode,
                        bool deletesTarget, bool *movedAway, QString *error)
{
    *movedAway = false;
    // The first copy holds the content from before the update.
    if (m_saved.contains(relative)
        || (Platform::NamesIgnoreCase && m_savedFolded.contains(Platform::foldedName(relative)))) {
        return true;
    }

    const QString backup = m_backupDir + QLatin1Char('/') + relative;
    const QString backupDirectory = backup.left(backup.lastIndexOf(QLatin1Char('/')));
    if (!m_existingDirectories.contains(backupDirectory)) {
        // A root that cannot be written (read-only, or not the user's) fails
        // here, with the system's reason for it.
        if (!makePath(backupDirectory)) {
            *error = cannotBackUp(target, backup, systemError());
            return false;
        }
        m_existingDirectories.insert(backupDirectory);
    }

    if (Platform::isDirectoryMode(mode)) {
        *error = cannotBackUp(target, backup, Platform::systemError(EISDIR));
        return false;
    }

    // A target that is deleted next anyway becomes its own backup: a rename
    // keeps its content, rights and disk space. Otherwise a copy is made
    // under another name first, so that the backup directory never holds a
    // half-made copy that a recovery would take for the original.
    // A file that a program holds open (Windows) can neither be moved nor
    // read: the package fails at once, naming it, and the layer's retries
    // gave that program a few seconds to let go.
    const bool movable = Platform::isRegularMode(mode) || Platform::isLinkMode(mode);
    if (deletesTarget && movable
        && Platform::rename(Platform::encodeName(target), Platform::encodeName(backup))) {
        *movedAway = true;
    } else if (deletesTarget && movable && Platform::isFileInUse(errno)) {
        *error = FileInUse::message(target);
        return false;
    } else {
        const QString staging = runDir() + QLatin1Char('/') + SavingName;
        QFile::remove(staging);
        QString reason;
        const bool copied = Platform::isLinkMode(mode)
                                ? FileCopy::copyLink(target, staging, &reason)
                                : FileCopy::copyToNew(target, staging, &reason);
        if (!copied || !FileCopy::moveRegularFile(staging, backup)) {
            const bool inUse = !copied && Platform::isFileInUse(errno);
            if (copied)
                reason = systemError();
            QFile::remove(staging);
            *error = inUse ? FileInUse::message(target) : cannotBackUp(target, backup, reason);
            return false;
        }
    }
    noteSaved(relative);
    return true;
}

void BackupRecord::noteSaved(const QString &relative)
{
    m_saved.append(relative);
    if (Platform::NamesIgnoreCase)
        m_savedFolded.insert(Platform::foldedName(relative));
}

bool BackupRecord::restore(QString *error)
{
    // What the package created goes first: a saved file may have to go back
    // where the package had put a directory.
    for (qsizetype i = m_createdFiles.size() - 1; i >= 0; --i) {
        const QString created = m_createdFiles.at(i);
        // Not there, or never made (its folder is a file): nothing to delete.
        if (!Platform::removeFile(Platform::encodeName(created)) && errno != ENOENT
            && errno != ENOTDIR) {
            *error =
                QStringLiteral("%1 (%2)").arg(QDir::toNativeSeparators(created), systemError());
            return false;
        }
    }
    // Deepest first; a directory that holds anything else stays.
    for (auto it = m_createdDirectories.crbegin(); it != m_createdDirectories.crend(); ++it)
        Platform::removeDirectory(Platform::encodeName(*it));

    const QString staging = runDir() + QLatin1Char('/') + RestoringName;
    for (qsizetype i = 0; i < m_saved.size(); ++i) {
        const QString relative = m_saved.at(i);
        const QString saved = m_backupDir + QLatin1Char('/') + relative;
        const QString target = m_root + QLatin1Char('/') + relative;
        if (!entryExists(saved)) {
            *error = QStringLiteral("%1 (%2)").arg(QDir::toNativeSeparators(saved),
                                                   Platform::systemError(ENOENT));
            return false;
        }
        const QString directory = QFileInfo(target).absolutePath();
        if (!entryExists(directory))
            QDir().mkpath(directory);
        QString reason;
        // A file that cannot be written (a read-only place) may never have
        // been changed: when it still holds what was saved it is back as it
        // was, and the rollback must not report a loss that did not happen.
        if (!FileCopy::replaceWith(saved, target, staging, &reason)
            && !FileCopy::sameContent(saved, target)) {
            *error = QStringLiteral("%1 (%2)").arg(QDir::toNativeSeparators(target), reason);
            return false;
        }
    }
    return true;
}

void BackupRecord::removeBackups() const
{
    removeTree(m_backupDir);
    const QString run = runDir();
    QFile::remove(run + QLatin1Char('/') + SavingName);
    QFile::remove(run + QLatin1Char('/') + RestoringName);
    QDir().rmdir(run);
}
