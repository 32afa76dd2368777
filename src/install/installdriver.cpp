#include "installdriver.h"

#include "engine/updateinfo.h"
#include "engine/updaterlock.h"
#include "engine/workdirectory.h"
#include "compactstringlist.h"
#include "installjournal.h"
#include "packageinstaller.h"
#include "ui/messageboxes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <memory>
#include <vector>

namespace {

// Asks whether to abort or to retry after a package failed. True for Retry.
bool askForRetry(const QString &packageName, const QString &errorText)
{
    QString message = QCoreApplication::translate("translation", "Failed installing package ", "nc")
                      + packageName;
    if (!errorText.isEmpty())
        message += QLatin1Char('\n') + errorText;
    return MessageBoxes::askRetry(MessageBoxes::installTitle(), message);
}

void reportRollbackError(const QString &problem, const QString &backups, bool retryDropped)
{
    QString text = QCoreApplication::translate("translation",
                                               "An error occured while rolling back update "
                                               "progress. Software may not work properly. Try "
                                               "reinstalling whole application",
                                               "nc");
    if (!problem.isEmpty())
        text += QStringLiteral("\n\n") + problem;
    text += QStringLiteral("\n\n")
            + QCoreApplication::translate(
                  "translation",
                  "The backups of the replaced files are kept in %1. The next start of the "
                  "updater tries again to put them back.",
                  "nc")
                  .arg(QDir::toNativeSeparators(backups));
    if (retryDropped) {
        text +=
            QLatin1Char(' ')
            + QCoreApplication::translate("translation", "The update is not started again.", "nc");
    }
    MessageBoxes::critical(MessageBoxes::installTitle(), text);
}

} // namespace

InstallDriver::InstallDriver(const QVector<UpdateInfo> &updates, const UpdaterPaths &paths,
                             const QString &journalPath)
    : m_updates(updates)
    , m_paths(paths)
    , m_workDir(paths.workDir)
    , m_journalPath(journalPath.isEmpty() ? InstallJournal::pathIn(paths.stateDir) : journalPath)
{
}

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
    InstallJournal journal(m_journalPath);
    // A quit asked for while the run goes on would close every later box
    // by itself: it waits until the run is over.
    bool quitWhenDone = false;
    // Every installer of the run stays until the run ends: the rollback
    // restores from the backup records each one made.
    std::vector<std::unique_ptr<PackageInstaller>> installers;
    installers.reserve(size_t(count));

    const auto removeBackups = [&] {
        for (const auto &installer : installers)
            installer->removeBackups();
        journal.remove();
    };
    // The backups may go only once the journal says how the run ended, or
    // is gone: a journal left open leads the next start to take the run
    // back, which with the backups gone would delete what the run added and
    // leave what it replaced. False when neither can be written.
    const auto closeJournal = [&](bool installed) {
        return !journal.isStarted()
               || (installed ? journal.markFinished() : journal.markRolledBack())
               || journal.remove();
    };
    // The backup folders that the run made: a package that failed before
    // its first change has none.
    const auto backupFolders = [&] {
        QStringList folders;
        for (const auto &installer : installers) {
            if (!installer->backupDir().isEmpty() && QFileInfo::exists(installer->backupDir()))
                folders << QDir::toNativeSeparators(
                    QFileInfo(QDir::cleanPath(installer->backupDir())).absolutePath());
        }
        folders.removeDuplicates();
        return folders.join(QStringLiteral(", "));
    };

    for (int index = 0; index < count; ++index) {
        const UpdateInfo &record = m_updates.at(index);
        installers.push_back(std::make_unique<PackageInstaller>(record, m_paths, index, &journal));
        PackageInstaller &installer = *installers.back();
        quitWhenDone = quitWhenDone || installer.setupFailed();

        const QString name = record.name();
        emit fileStarted(name);
        m_log += (QCoreApplication::translate("translation", "Installing package %1:",
                                              "status information about currently installed "
                                              "package")
                      .arg(name)
                  + QLatin1Char('\n'))
                     .toUtf8();

        QString errorText;
        // One line per file: kept compact, since an update may hold many.
        CompactStringList installedList;
        const auto step = [this, index](qint64 done, qint64 total) {
            reportStep(index, done, total);
        };
        if (!installer.install(m_workDir, &errorText, &installedList, step)) {
            const bool retry = askForRetry(name, errorText);

            emit fileStarted(QCoreApplication::translate(
                "translation", "Rollback update",
                "restoring application to state before installing update"));
            emit progress(0);

            // Last reached package first: what a later package changed goes
            // back before an earlier one takes back its own changes, so the
            // original content is the one written last. Packages the run
            // never reached have nothing to restore and count as restored.
            bool rolledBack = true;
            for (int step = 0; step < count; ++step) {
                const int restoring = index - step;
                if (restoring >= 0) {
                    PackageInstaller &reached = *installers.at(size_t(restoring));
                    if (!reached.restore(m_workDir)) {
                        rolledBack = false;
                        reportRollbackError(
                            reached.restoreError(),
                            QFileInfo(QDir::cleanPath(reached.backupDir())).absolutePath(), retry);
                        quitWhenDone = true;
                    }
                }
                emit progress(100 * (step + 1) / count);
            }
            m_log = QCoreApplication::translate("translation",
                                                "An error occured while installing updates", "nc")
                        .toUtf8();
            // Backups that could not be put back are the only copy of the
            // user's files left: they stay, and so does the journal that
            // leads the next start to them. Otherwise the mark on the disk
            // tells a start that finds the journal (this process cut short
            // while clearing up) that the backups may already be partly gone;
            // a journal that can be neither marked nor removed keeps them
            // too, and the next start takes the run back once more, which
            // changes nothing. Without any backups there is nothing to keep.
            const QString keptBackups = backupFolders();
            const bool backupsGo = rolledBack && (closeJournal(false) || keptBackups.isEmpty());
            if (rolledBack && !backupsGo) {
                MessageBoxes::critical(
                    MessageBoxes::installTitle(),
                    QCoreApplication::translate(
                        "translation",
                        "The update has been rolled back, but the updater cannot record that: "
                        "%1\n\nThe backups of the replaced files are kept in %2. The next start "
                        "of the updater puts them back once more and then removes them.",
                        "nc")
                        .arg(journal.errorString(), keptBackups));
            }
            emit finished();
            if (backupsGo)
                removeBackups();
            WorkDirectory::clear(m_workDir, WorkDirectory::runningProgramFiles());

            if (retry && rolledBack) {
                qint64 pid = 0;
                if (QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                            m_paths.commandLine, QString(), &pid))
                    UpdaterLock::handOverTo(pid, m_paths.stateDir);
                quitWhenDone = true;
            }
            if (quitWhenDone)
                QCoreApplication::quit();
            return;
        }

        journal.packageInstalled(index);
        installedList.sort();
        installedList.appendJoined(&m_log, '\n');
        m_log += "\n\n";
        emit progress(100 * (index + 1) / count);
    }

    // The commit: from here on an interruption leaves the update in place.
    // Without the mark the journal goes at once; backups found later without
    // a journal are merely left over. When neither is possible, the next
    // start takes the update back from the backups, which stay for it.
    const bool closed = closeJournal(true);
    if (closed) {
        m_succeeded = true;
    } else {
        const QString message =
            QCoreApplication::translate(
                "translation",
                "The update has been installed, but the updater cannot record that it has "
                "finished: %1\n\nThe backups of the replaced files are kept in %2. The next "
                "start of the updater takes the update back and offers it again.",
                "nc")
                .arg(journal.errorString(), backupFolders());
        MessageBoxes::critical(MessageBoxes::installTitle(), message);
        m_log = (message + QStringLiteral("\n\n")).toUtf8() + m_log;
    }
    emit finished();
    if (closed)
        removeBackups();
    WorkDirectory::clear(m_workDir, WorkDirectory::runningProgramFiles());
    if (quitWhenDone)
        QCoreApplication::quit();
}
