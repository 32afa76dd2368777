#include "startupchecks.h"

#include "engine/runlog.h"
#include "engine/updaterlock.h"
#include "engine/updaterpaths.h"
#include "install/installrecovery.h"
#include "ui/messageboxes.h"

#include <QCoreApplication>
#include <QDir>

namespace StartupChecks {

namespace {

QString recoveryResult(InstallRecovery::Outcome outcome)
{
    switch (outcome) {
    case InstallRecovery::Outcome::NothingToDo:
        return QStringLiteral("nothing to do");
    case InstallRecovery::Outcome::CleanedUp:
        return QStringLiteral("cleared up after an update that had finished");
    case InstallRecovery::Outcome::RolledBack:
        return QStringLiteral("an interrupted update was rolled back");
    case InstallRecovery::Outcome::Refused:
        return QStringLiteral("the journal was not used");
    case InstallRecovery::Outcome::Failed:
        break;
    }
    return QStringLiteral("not everything of an interrupted update could be put back");
}

} // namespace

bool lockAndRecover(const UpdaterPaths &paths, UpdaterLock *lock, RunLog *log, int waitMs,
                    bool quiet)
{
    QString problem;
    if (!lock->acquire(waitMs, &problem)) {
        MessageBoxes::critical(UserPrompts::updateTitle(), problem);
        return false;
    }

    // Only the lock's holder writes the log: a second updater that is
    // turned away leaves the running one's log alone.
    log->start(lock->wasHandedOver() ? RunLog::Start::SameRun : RunLog::Start::NewRun);
    qCInfo(lcRunLog, "%s in process %lld: %s",
           lock->wasHandedOver() ? "run goes on" : "run started",
           QCoreApplication::applicationPid(),
           qUtf8Printable(paths.commandLine.join(QLatin1Char(' '))));

    RunPhase phase(QStringLiteral("recovery at start-up"));
    const QString journalPath = InstallJournal::pathIn(paths.stateDir);
    const InstallRecovery::Result recovery = InstallRecovery::run(journalPath, paths.pluginRoot);
    phase.finish(recoveryResult(recovery.outcome));
    switch (recovery.outcome) {
    case InstallRecovery::Outcome::NothingToDo:
    case InstallRecovery::Outcome::CleanedUp:
        return true;
    case InstallRecovery::Outcome::RolledBack:
        qCInfo(lcRunLog, "outcome: recovered at start-up");
        if (quiet) {
            qInfo("updater: an update that was interrupted before it finished has been rolled "
                  "back");
        } else {
            MessageBoxes::information(
                UserPrompts::updateTitle(),
                QCoreApplication::translate("StartupChecks",
                                            "The last update was interrupted before it "
                                            "finished. Everything it had changed has been put "
                                            "back as it was before that update."));
        }
        return true;
    case InstallRecovery::Outcome::Refused: {
        // Set aside before the user is told, so that the box says what
        // became of it: the next start is not stopped by the same journal.
        QString problem = recovery.problem;
        if (!recovery.setAsideAs.isEmpty()) {
            const QString asideAs = QDir::toNativeSeparators(recovery.setAsideAs);
            QString error;
            if (InstallRecovery::setAside(journalPath, recovery.setAsideAs, &error)) {
                qCInfo(lcRunLog, "journal kept as %s", qUtf8Printable(asideAs));
                problem += QStringLiteral("\n\n")
                    + QCoreApplication::translate("InstallRecovery",
                                                  "The damaged journal is kept as %1, and the next "
                                                  "start of the updater goes on as usual.")
                          .arg(asideAs);
            } else {
                qCWarning(lcRunLog, "the journal cannot be kept as %s: %s", qUtf8Printable(asideAs),
                          qUtf8Printable(error));
                problem += QStringLiteral("\n\n")
                    + QCoreApplication::translate("InstallRecovery",
                                                  "The damaged journal cannot be set aside (%1). "
                                                  "Move %2 elsewhere, then start the update again.")
                          .arg(error, QDir::toNativeSeparators(journalPath));
            }
        }
        MessageBoxes::critical(UserPrompts::updateTitle(), problem);
        qCInfo(lcRunLog, "outcome: stopped at start-up");
        return false;
    }
    case InstallRecovery::Outcome::Failed:
        break;
    }

    QStringList places;
    for (const QString &dir : recovery.backupDirs)
        places << QDir::toNativeSeparators(dir);
    MessageBoxes::critical(
        UserPrompts::updateTitle(),
        QCoreApplication::translate("StartupChecks",
                                    "The last update was interrupted before it finished, and "
                                    "not everything it had changed could be put back: %1")
                .arg(recovery.problem)
            + (places.isEmpty()
                   ? QString()
                   : QStringLiteral("\n\n")
                         + QCoreApplication::translate(
                               "StartupChecks",
                               "The backups of the replaced files are kept in %1. The next "
                               "start of the updater tries again to put them back.")
                               .arg(places.join(QStringLiteral(", ")))));
    qCInfo(lcRunLog, "outcome: stopped at start-up");
    return false;
}

} // namespace StartupChecks
