#include "installrecovery.h"

#include "backuprecord.h"
#include "engine/messenger.h"
#include "engine/statedirectory.h"
#include "platform/fileio.h"
#include "platform/systemerror.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>

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

bool lstatPath(const QString &path, Platform::FileStatus *info)
{
    return Platform::nameStatus(Platform::encodeName(path), info);
}

// Whether a and b (clean, absolute) name one place: the same path, or, where
// links lead to it, the same directory followed by the same names that do
// not exist yet.
bool sameLocation(QString a, QString b)
{
    while (a != b) {
        Platform::FileStatus first;
        Platform::FileStatus second;
        const bool firstExists = Platform::targetStatus(Platform::encodeName(a), &first);
        const bool secondExists = Platform::targetStatus(Platform::encodeName(b), &second);
        if (firstExists && secondExists)
            return first.device == second.device && first.inode == second.inode;
        const QFileInfo infoA(a);
        const QFileInfo infoB(b);
        if (firstExists || secondExists || infoA.fileName() != infoB.fileName()
            || infoA.absolutePath() == a || infoB.absolutePath() == b)
            return false;
        a = infoA.absolutePath();
        b = infoB.absolutePath();
    }
    return true;
}

// The plug-in folder as a journal records roots: clean and absolute.
QString cleanRoot(const QString &folder)
{
    return folder.isEmpty() ? folder : QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

// Recovery deletes and writes inside the roots that a journal names, so
// before it acts on one it makes sure that each root is an installation of
// the messenger (its executable is there, or among the run's backups, where
// an update that replaced it put it) or the plug-in folder, and that none of
// the places it will delete or write in lies behind a link. A run never
// writes through a link and records its roots with their links resolved,
// so a journal that fails this was not written by one.
class PlaceCheck
{
public:
    explicit PlaceCheck(const QString &pluginRoot)
        : m_pluginRoot(cleanRoot(pluginRoot))
    {
    }

    // The roots and the places the journal names. *reason gets the
    // refusal, ready for the user.
    bool check(const InstallJournal::Package &package, QString *reason)
    {
        if (!isRoot(package) || linkIn(package.root, true)) {
            *reason = QCoreApplication::translate(
                          "InstallRecovery",
                          "it names %1, which is neither an installation of the messenger nor "
                          "its plug-in folder")
                          .arg(QDir::toNativeSeparators(package.root));
            return false;
        }
        QString through;
        if (linkIn(package.backupDir, true))
            through = package.backupDir;
        for (qsizetype i = 0; through.isEmpty() && i < package.createdFiles.size(); ++i) {
            if (linkIn(package.createdFiles.at(i), false))
                through = package.createdFiles.at(i);
        }
        for (qsizetype i = 0; through.isEmpty() && i < package.createdDirectories.size(); ++i) {
            if (linkIn(package.createdDirectories.at(i), false))
                through = package.createdDirectories.at(i);
        }
        return through.isEmpty() || refuseLink(through, reason);
    }

    // The places the saved files go back to.
    bool check(const BackupRecord &record, QString *reason)
    {
        const CompactStringList &saved = record.savedFiles();
        for (qsizetype i = 0; i < saved.size(); ++i) {
            const QString target = record.root() + QLatin1Char('/') + saved.at(i);
            if (linkIn(target, false))
                return refuseLink(target, reason);
        }
        return true;
    }

private:
    static bool refuseLink(const QString &path, QString *reason)
    {
        *reason = QCoreApplication::translate("InstallRecovery",
                                              "it names %1, which leads through a link")
                      .arg(QDir::toNativeSeparators(path));
        return false;
    }

    bool isRoot(const InstallJournal::Package &package) const
    {
        Platform::FileStatus info;
        if (lstatPath(Messenger::executablePath(package.root), &info)
            || lstatPath(Messenger::executablePath(package.backupDir), &info))
            return !info.isDirectory();
        return !m_pluginRoot.isEmpty() && sameLocation(package.root, m_pluginRoot);
    }

    // Whether a folder on the way to path (clean and absolute), or path
    // itself with itToo, is a link. Names that do not exist are no links.
    bool linkIn(const QString &path, bool itToo)
    {
        const QString folder = itToo ? path : QFileInfo(path).absolutePath();
        QStringList unchecked;
        for (QString dir = folder; !m_linkFree.contains(dir);) {
            unchecked.prepend(dir);
            const QString parent = QFileInfo(dir).absolutePath();
            if (parent == dir)
                break;
            dir = parent;
        }
        for (const QString &dir : std::as_const(unchecked)) {
            Platform::FileStatus info;
            if (!lstatPath(dir, &info))
                return false; // nothing below it exists either
            if (info.isLink())
                return true;
            m_linkFree.insert(dir);
        }
        return false;
    }

    QSet<QString> m_linkFree;
    QString m_pluginRoot;
};

// Beside the journal, named after the time, never in place of another.
QString setAsideName(const QString &journalPath)
{
    const QString base =
        journalPath + QStringLiteral("-damaged-")
        + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = base;
    Platform::FileStatus info;
    for (int n = 2; lstatPath(name, &info); ++n)
        name = base + QLatin1Char('-') + QString::number(n);
    return name;
}

// The run's backup folders that a journal names and that are there, for
// the user.
QStringList backupFoldersOf(const InstallJournal::Contents &contents)
{
    QStringList folders;
    for (const InstallJournal::Package &package : contents.packages) {
        Platform::FileStatus info;
        if (lstatPath(package.backupDir, &info) && info.isDirectory())
            folders.append(QDir::toNativeSeparators(QFileInfo(package.backupDir).absolutePath()));
    }
    folders.removeDuplicates();
    return folders;
}

} // namespace

namespace InstallRecovery {

bool setAside(const QString &journalPath, const QString &to, QString *error)
{
    const QString folder = QFileInfo(journalPath).absolutePath();
    const QByteArray from = Platform::encodeName(QFileInfo(journalPath).fileName());
    const QByteArray name = Platform::encodeName(QFileInfo(to).fileName());
    Platform::FileHandle dir(Platform::openDirectory(Platform::encodeName(folder)));
    if (!dir.isOpen()
        || !Platform::renameNoReplaceAt(dir.get(), from.constData(), dir.get(), name.constData())) {
        *error = Platform::systemError(errno);
        return false;
    }
    StateDirectory::syncDirectory(folder);
    return true;
}

Result run(const QString &journalPath, const QString &pluginRoot)
{
    Result result;
    const InstallJournal::Contents contents = InstallJournal::read(journalPath);
    // A journal that is not acted on is kept, and so are the backups: they
    // may be the only copy of the replaced files. The caller sets the
    // journal aside under setAsideAs and tells the user, so that later
    // starts can update again.
    const auto refuse = [&result, &journalPath, &contents](const QString &reason) {
        result.outcome = Outcome::Refused;
        result.setAsideAs = setAsideName(journalPath);
        result.problem = QCoreApplication::translate(
                             "InstallRecovery",
                             "The record of the last update, the update journal %1, is damaged: "
                             "%2. Nothing has been put back automatically, so if that update was "
                             "interrupted, the messenger may be left partly updated; installing "
                             "the messenger again restores it.")
                             .arg(QDir::toNativeSeparators(journalPath), reason);
        const QStringList backups = backupFoldersOf(contents);
        if (!backups.isEmpty()) {
            result.problem +=
                QLatin1Char(' ')
                + QCoreApplication::translate("InstallRecovery",
                                              "The files that update replaced are kept in %1.")
                      .arg(backups.join(QStringLiteral(", ")));
        }
        return result;
    };
    switch (contents.state) {
    case InstallJournal::State::Absent:
        return result;
    case InstallJournal::State::Empty:
        QFile::remove(journalPath);
        return result;
    case InstallJournal::State::Refused:
        return refuse(contents.problem);
    case InstallJournal::State::Unreadable:
        result.outcome = Outcome::Failed;
        result.problem = QCoreApplication::translate("InstallRecovery",
                                                     "The update journal %1 cannot be read: %2")
                             .arg(QDir::toNativeSeparators(journalPath), contents.problem);
        return result;
    case InstallJournal::State::Finished:
    case InstallJournal::State::RolledBack:
    case InstallJournal::State::Open:
        break;
    }

    // Nothing is looked up in the backups before their places are known
    // to be sound.
    PlaceCheck places(pluginRoot);
    QString reason;
    for (const InstallJournal::Package &package : contents.packages) {
        if (!places.check(package, &reason))
            return refuse(reason);
    }
    QList<BackupRecord> records = recordsOf(contents);
    for (const BackupRecord &record : std::as_const(records)) {
        if (!places.check(record, &reason))
            return refuse(reason);
    }

    if (contents.state != InstallJournal::State::Open) {
        forget(records, journalPath);
        result.outcome = Outcome::CleanedUp;
        return result;
    }
    if (contents.packages.isEmpty()) {
        QFile::remove(journalPath);
        return result;
    }

    // A package makes its backup folder before its first change to a root
    // that was there before it: when the folder is gone, so are the saved
    // files, and deleting what the package created would leave the files it
    // replaced new beside the old ones put back.
    for (const InstallJournal::Package &package : contents.packages) {
        Platform::FileStatus info;
        if (!package.createdDirectories.contains(package.root)
            && (package.createdFiles.size() > 0 || !package.createdDirectories.isEmpty())
            && !lstatPath(package.backupDir, &info)) {
            return refuse(QCoreApplication::translate("InstallRecovery",
                                                      "the backups it names in %1 are missing")
                              .arg(QDir::toNativeSeparators(package.backupDir)));
        }
    }

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
    // clears up: the backups may already be partly gone. Without the mark
    // and without the journal gone, the backups stay for the next start,
    // which takes the run back once more (changing nothing) before it
    // clears up.
    QFile journal(journalPath);
    if (!InstallJournal::markRolledBack(journalPath) && !journal.remove()) {
        result.outcome = Outcome::Refused;
        QStringList kept;
        for (const BackupRecord &record : std::as_const(records))
            kept.append(QDir::toNativeSeparators(record.runDir()));
        kept.removeDuplicates();
        result.problem =
            QCoreApplication::translate(
                "InstallRecovery",
                "Everything the last update had changed has been put back, but the update "
                "journal %1 cannot be closed (%2). The backups of the replaced files are kept "
                "in %3 until the next start of the updater can close it.")
                .arg(QDir::toNativeSeparators(journalPath), journal.errorString(),
                     kept.join(QStringLiteral(", ")));
        return result;
    }
    forget(records, journalPath);
    result.outcome = Outcome::RolledBack;
    return result;
}

} // namespace InstallRecovery
