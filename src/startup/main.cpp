#include "engine/workdirectory.h"
#include "startup/polishcatalogues.h"
#include "startup/relocation.h"
#include "startup/startupoptions.h"
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

    const StartupOptions options = parseStartupOptions(QCoreApplication::arguments());
    if (options.updateMode)
        return runUpdateMode(options.quiet);

    return Relocation::run(QCoreApplication::applicationDirPath(),
                           QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
                           WorkDirectory::bundledLibraries(), options.quiet);
}
