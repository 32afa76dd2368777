#include "updatemode.h"

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
    if (!engine.checkForUpdates())
        return 0;

    if (engine.hasUpdates()) {
        if (quiet)
            new VemoDownloadDialog(&engine);
        else
            new VemoChangelogDialog(&engine);
        return QApplication::exec();
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
    if (!StartupChecks::lockAndRecover(paths, &lock, StartupChecks::UpdateModeWaitMs, quiet))
        return 1;

    // The downloaded archives and the backups live in the work directory, so
    // it must be ours alone before anything is put there.
    QString problem;
    if (!WorkDirectory::preparePrivate(paths.workDir, &problem)) {
        MessageBoxes::critical(UserPrompts::updateTitle(), problem);
        return 1;
    }

    try {
        return checkAndOffer(paths, quiet);
    } catch (const std::exception &e) {
        MessageBoxes::critical(UserPrompts::updateTitle(), QString::fromLocal8Bit(e.what()));
        return 1;
    } catch (...) {
        return 1;
    }
}
