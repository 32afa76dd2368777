#include "installdriver.h"

#include "engine/runlog.h"
#include "engine/updateinfo.h"
#include "engine/updaterlock.h"
#include "engine/userprompts.h"
#include "engine/workdirectory.h"
#include "compactstringlist.h"
#include "installjournal.h"
#include "packageinstaller.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <memory>
#include <vector>

namespace {

QString backupParent(const PackageInstaller &installer)
{
    return QFileInfo(QDir::cleanPath(installer.backupDir())).absolutePath();
}

} // namespace

InstallDriver::InstallDriver(const QVector<UpdateInfo> &updates, const UpdaterPaths &paths,
                             UserPrompts &prompts, const QString &journalPath)
    : m_updates(updates)
    , m_paths(paths)
    , m_prompts(prompts)
    , m_workDir(paths.workDir)
    , m_journalPath(journalPath.isEmpty() ? InstallJournal::pathIn(paths.stateDir) : journalPath)
{
}

InstallDriver::~InstallDriver() = default;

void InstallDriver::reportStep(int index, qint64 done, qint64 total)
{
    if (total <= 0 || m_sinceDetail.elapsed() < m_detailIntervalMs)
        return;
    const qint64 count = m_updates.size();
    const int percent = int(100 * (index * total + qMin(done, total)) / (count * total));
    if (percent == m_lastDetail)
        return;
    m_lastDetail = percent;
    m_sinceDetail.start();
    emit detailedProgress(percent);
}

void InstallDriver::run()
{
    const int count = int(m_updates.size());
    m_sinceDetail.start();
    m_journal = std::make_unique<InstallJournal>(m_journalPath);
    m_installers.reserve(size_t(count));

    bool installed = true;
    for (int index = 0; index < count && installed; ++index)
        installed = installPackage(index);
    if (installed)
        finishInstalled();
    if (m_quitWhenDone)
        QCoreApplication::quit();
    m_installers.clear();
    m_journal.reset();
}

void InstallDriver::usePrepared(int index, PreparedPackage package)
{
    m_prepared[index] = std::move(package);
}

// Installs one package; false when it failed, after the user has answered
// Abort or Retry and the run has been rolled back and ended.
bool InstallDriver::installPackage(int index)
{
    const UpdateInfo &record = m_updates.at(index);
    m_installers.push_back(
        std::make_unique<PackageInstaller>(record, m_paths, index, m_journal.get()));
    PackageInstaller &installer = *m_installers.back();
    const auto prepared = m_prepared.find(index);
    if (prepared != m_prepared.end()) {
        installer.usePrepared(std::move(prepared->second));
        m_prepared.erase(prepared);
    }
    if (installer.setupFailed()) {
        m_prompts.critical(UserPrompts::updateTitle(), tr("Cannot run update!"));
        m_quitWhenDone = true;
    }

    const QString name = record.name();
    emit fileStarted(name);
    m_log += (tr("Installing package %1:").arg(name) + QLatin1Char('\n')).toUtf8();

    // One line per file: kept compact, since an update may hold many.
    CompactStringList installedList;
    const auto step = [this, index](qint64 done, qint64 total) {
        reportStep(index, done, total);
    };
    if (!installer.install(m_workDir, &installedList, step)) {
        // A failed set-up has been told already.
        if (!installer.setupFailed())
            m_prompts.critical(UserPrompts::updateTitle(), installer.errorString());
        QString question = tr("Failed installing package ") + name;
        if (!installer.errorReason().isEmpty())
            question += QLatin1Char('\n') + installer.errorReason();
        rollBack(index, m_prompts.askRetry(UserPrompts::installTitle(), question));
        return false;
    }

    m_journal->packageInstalled(index);
    installedList.sort();
    installedList.appendJoined(&m_log, '\n');
    m_log += "\n\n";
    emit progress(100 * (index + 1) / int(m_updates.size()));
    return true;
}

// Takes every reached package back after the failed one, ends the run and,
// on Retry, starts the updater again.
void InstallDriver::rollBack(int failed, bool retry)
{
    RunPhase phase(QStringLiteral("rollback"));
    emit fileStarted(tr("Rollback update"));
    emit progress(0);
    const bool rolledBack = restoreReached(failed, retry);
    phase.finish(rolledBack ? QStringLiteral("every package put back")
                            : QStringLiteral("not everything could be put back"));
    m_outcome = rolledBack ? QStringLiteral("failed and rolled back")
                           : QStringLiteral("failed, and the rollback did not finish");
    m_log = tr("An error occured while installing updates").toUtf8();
    // Backups that could not be put back are the only copy of the user's
    // files left: they stay, and so does the journal that leads the next
    // start to them. Otherwise the mark on the disk tells a start that finds
    // the journal (this process cut short while clearing up) that the
    // backups may already be partly gone; a journal that can be neither
    // marked nor removed keeps them too, and the next start takes the run
    // back once more, which changes nothing. Without any backups there is
    // nothing to keep.
    const QString keptBackups = backupFolders();
    const bool backupsGo = rolledBack && (closeJournal(false) || keptBackups.isEmpty());
    if (rolledBack && !backupsGo) {
        m_prompts.critical(
            UserPrompts::installTitle(),
            tr("The update has been rolled back, but the updater cannot record that: "
               "%1\n\nThe backups of the replaced files are kept in %2. The next start "
               "of the updater puts them back once more and then removes them.")
                .arg(m_journal->errorString(), keptBackups));
    }
    emit finished();
    if (backupsGo)
        removeBackups();
    WorkDirectory::clear(m_workDir, WorkDirectory::runningProgramFiles());

    if (retry && rolledBack) {
        qint64 pid = 0;
        if (QProcess::startDetached(QCoreApplication::applicationFilePath(), m_paths.commandLine,
                                    QString(), &pid)) {
            qCInfo(lcRunLog, "retry: the updater starts again as process %lld", pid);
            UpdaterLock::handOverTo(pid, m_paths.stateDir);
        }
        m_quitWhenDone = true;
    }
}

// Last reached package first: what a later package changed goes back before
// an earlier one takes back its own changes, so the original content is the
// one written last. Packages the run never reached have nothing to restore
// and count as restored. False when any could not be put back.
bool InstallDriver::restoreReached(int failed, bool retry)
{
    const int count = int(m_updates.size());
    bool rolledBack = true;
    for (int step = 0; step < count; ++step) {
        const int restoring = failed - step;
        if (restoring >= 0) {
            PackageInstaller &reached = *m_installers.at(size_t(restoring));
            if (!reached.restore()) {
                rolledBack = false;
                reportRollbackError(reached, retry);
                m_quitWhenDone = true;
            }
        }
        emit progress(100 * (step + 1) / count);
    }
    return rolledBack;
}

// The commit: from here on an interruption leaves the update in place.
// Without the mark the journal goes at once; backups found later without a
// journal are merely left over. When neither is possible, the next start
// takes the update back from the backups, which stay for it.
void InstallDriver::finishInstalled()
{
    const bool closed = closeJournal(true);
    m_outcome = closed ? QStringLiteral("updated")
                       : QStringLiteral("updated, but the end of the update could not be recorded");
    if (closed) {
        m_succeeded = true;
    } else {
        const QString message =
            tr("The update has been installed, but the updater cannot record that it has "
               "finished: %1\n\nThe backups of the replaced files are kept in %2. The next "
               "start of the updater takes the update back and offers it again.")
                .arg(m_journal->errorString(), backupFolders());
        m_prompts.critical(UserPrompts::installTitle(), message);
        m_log = (message + QStringLiteral("\n\n")).toUtf8() + m_log;
    }
    emit finished();
    if (closed)
        removeBackups();
    WorkDirectory::clear(m_workDir, WorkDirectory::runningProgramFiles());
}

// The backups may go only once the journal says how the run ended, or is
// gone: a journal left open leads the next start to take the run back,
// which with the backups gone would delete what the run added and leave
// what it replaced. False when neither can be written.
bool InstallDriver::closeJournal(bool installed)
{
    return !m_journal->isStarted()
           || (installed ? m_journal->markFinished() : m_journal->markRolledBack())
           || m_journal->remove();
}

void InstallDriver::removeBackups()
{
    for (const auto &installer : m_installers)
        installer->removeBackups();
    m_journal->remove();
}

// The backup folders that the run made: a package that failed before its
// first change has none.
QString InstallDriver::backupFolders() const
{
    QStringList folders;
    for (const auto &installer : m_installers) {
        if (!installer->backupDir().isEmpty() && QFileInfo::exists(installer->backupDir()))
            folders << QDir::toNativeSeparators(backupParent(*installer));
    }
    folders.removeDuplicates();
    return folders.join(QStringLiteral(", "));
}

void InstallDriver::reportRollbackError(const PackageInstaller &installer, bool retryDropped)
{
    QString text = tr("An error occured while rolling back update "
                      "progress. Software may not work properly. Try "
                      "reinstalling whole application");
    if (!installer.errorString().isEmpty())
        text += QStringLiteral("\n\n") + installer.errorString();
    text += QStringLiteral("\n\n")
            + tr("The backups of the replaced files are kept in %1. The next start of the "
                 "updater tries again to put them back.")
                  .arg(QDir::toNativeSeparators(backupParent(installer)));
    if (retryDropped) {
        text += QLatin1Char(' ') + tr("The update is not started again.");
    }
    m_prompts.critical(UserPrompts::installTitle(), text);
}
