#include "engine/workdirectory.h"
#include "startup/polishcatalogues.h"
#include "startup/relocation.h"
#include "startup/startupoptions.h"
#include "startup/startuppaths.h"
#include "startup/updatemode.h"
#include "ui/updaterresources.h"

#include <QApplication>
#include <QFileInfo>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    registerUpdaterResources();

    // Polish whatever the system's language is; a catalogue that does not
    // load leaves its texts in English.
    PolishCatalogues catalogues;
    catalogues.install();

    // Every place the run uses, worked out once and handed down.
    const UpdaterPaths paths = StartupPaths::current();
    const StartupOptions options = parseStartupOptions(paths.commandLine);
    if (options.updateMode) {
        // Qt has found its plug-ins by now (the platform's above all).
        Relocation::forgetOwnPluginPath();
        return runUpdateMode(paths, options.quiet);
    }

    return Relocation::run(paths, QCoreApplication::applicationDirPath(),
                           QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
                           WorkDirectory::bundledLibraries(), options.quiet);
}
