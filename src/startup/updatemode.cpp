#include "updatemode.h"

#include "engine/runlog.h"
#include "engine/runreport.h"
#include "engine/updaterlock.h"
#include "engine/vemoupdaterengine.h"
#include "engine/workdirectory.h"
#include "install/engineinstallation.h"
#include "startupchecks.h"
#include "ui/messageboxes.h"
#include "ui/vemochangelogdialog.h"
#include "ui/vemodownloaddialog.h"

#include <QApplication>
#include <exception>

namespace {

int checkAndOffer(const UpdaterPaths &paths, bool quiet)
{
    // The engine and the installation ask the user through the boxes the
    // windows' side shows.
    MessageBoxPrompts prompts;
    VemoUpdaterEngine engine(paths, prompts);
    EngineInstallation::attach(&engine);
    RunReport report(&engine);
    const bool checked = engine.checkForUpdates();
    report.checked(checked, quiet);
    if (!checked)
        return 0;

    if (engine.hasUpdates()) {
        if (quiet)
            new VemoDownloadDialog(&engine);
        else
            new VemoChangelogDialog(&engine);
        const int code = QApplication::exec();
        report.ended();
        return code;
    }

    if (!quiet)
        MessageBoxes::information(
            UserPrompts::updateTitle(),
            QCoreApplication::translate("UpdateMode", "No updates available."));
    return 0;
}

} // namespace

int runUpdateMode(const UpdaterPaths &paths, bool quiet)
{
    // Held until the program ends: no second updater meanwhile.
    UpdaterLock lock(paths.stateDir);
    // Closed before the lock goes, so that a Retry restart, which waits
    // for the lock, appends after this process's last line.
    RunLog log(paths.stateDir);
    if (!StartupChecks::lockAndRecover(paths, &lock, &log, StartupChecks::UpdateModeWaitMs, quiet))
        return 1;

    // The downloaded archives and the backups live in the work directory, so
    // it must be ours alone before anything is put there.
    QString problem;
    if (!WorkDirectory::preparePrivate(paths.workDir, &problem)) {
        MessageBoxes::critical(UserPrompts::updateTitle(), problem);
        qCInfo(lcRunLog, "outcome: stopped at start-up");
        return 1;
    }

    try {
        return checkAndOffer(paths, quiet);
    } catch (const std::exception &e) {
        MessageBoxes::critical(UserPrompts::updateTitle(), QString::fromLocal8Bit(e.what()));
        qCInfo(lcRunLog, "outcome: stopped by an unexpected error");
        return 1;
    } catch (...) {
        qCInfo(lcRunLog, "outcome: stopped by an unexpected error");
        return 1;
    }
}
