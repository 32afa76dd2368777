#include "engineinstallation.h"

#include "engine/vemoupdaterengine.h"
#include "installdriver.h"

namespace EngineInstallation {

void attach(VemoUpdaterEngine *engine)
{
    engine->setInstallation([](VemoUpdaterEngine &engine) { run(engine, engine.paths()); });
}

void run(VemoUpdaterEngine &engine, const UpdaterPaths &paths)
{
    InstallDriver driver(engine.updates(), paths, engine.prompts());
    driver.setDetailInterval(engine.installDetailInterval());
    QObject::connect(&driver, &InstallDriver::fileStarted, &engine,
                     &VemoUpdaterEngine::installFile);
    QObject::connect(&driver, &InstallDriver::progress, &engine,
                     &VemoUpdaterEngine::installProgress);
    QObject::connect(&driver, &InstallDriver::detailedProgress, &engine,
                     &VemoUpdaterEngine::installDetailedProgress);
    // The summary window reads the log and the result as soon as it hears
    // that the installation is over.
    QObject::connect(&driver, &InstallDriver::finished, &engine, [&engine, &driver] {
        engine.finishInstall(driver.log(), driver.succeeded(), driver.outcome());
    });
    driver.run();
}

} // namespace EngineInstallation
