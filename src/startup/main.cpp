#include "engine/workdirectory.h"
#include "startup/relocation.h"
#include "startup/startupoptions.h"
#include "startup/updatemode.h"
#include "ui/updaterresources.h"

#include <QApplication>
#include <QFileInfo>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    registerUpdaterResources();

    // The Polish catalogue is loaded whatever the system's language is;
    // without it the English texts show.
    QTranslator translator;
    if (translator.load(QStringLiteral(":/languages/vemo_pl_PL.qm")))
        QCoreApplication::installTranslator(&translator);

    const StartupOptions options = parseStartupOptions(QCoreApplication::arguments());
    if (options.updateMode)
        return runUpdateMode(options.quiet);

    return Relocation::run(QCoreApplication::applicationDirPath(),
                           QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
                           WorkDirectory::bundledLibraries(), options.quiet);
}
