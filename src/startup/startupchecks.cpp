#include "startupchecks.h"

#include "engine/updaterlock.h"
#include "engine/updaterpaths.h"
#include "install/installrecovery.h"
#include "ui/messageboxes.h"

#include <QCoreApplication>
#include <QDir>

namespace StartupChecks {

bool lockAndRecover(const UpdaterPaths &paths, UpdaterLock *lock, int waitMs, bool quiet)
{
    QString problem;
    if (!lock->acquire(waitMs, &problem)) {
        MessageBoxes::critical(UserPrompts::updateTitle(), problem);
        return false;
    }

    const InstallRecovery::Result recovery = InstallRecovery::run(InstallJournal::pathIn(paths.stateDir), paths.pluginRoot);
    switch (recovery.outcome) {
    case InstallRecovery::Outcome::NothingToDo:
    case InstallRecovery::Outcome::CleanedUp:
        return true;
    case InstallRecovery::Outcome::RolledBack:
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
    case InstallRecovery::Outcome::Refused:
        MessageBoxes::critical(UserPrompts::updateTitle(), recovery.problem);
        return false;
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
    return false;
}

} // namespace StartupChecks
