#include "engineinstallation.h"

#include "engine/updateinfo.h"
#include "engine/updaterpaths.h"
#include "engine/vemoupdaterengine.h"
#include "engine/workdirectory.h"
#include "installdriver.h"
#include "packageinstaller.h"

#include <QCoreApplication>
#include <QUrl>

#include <memory>
#include <utility>

namespace EngineInstallation {

void attach(VemoUpdaterEngine *engine)
{
    // Made ready after the download, used by the installation that follows.
    auto prepared = std::make_shared<PreparedPackages>();
    engine->setDeltaPreparation([prepared, paths = engine->paths()](
                                    const UpdateInfo &update, int index,
                                    const std::atomic_bool &cancelled,
                                    const VemoUpdaterEngine::PreparationProgress &progress,
                                    QString *reason) {
        return prepareDelta(update, index, paths, prepared.get(), reason, &cancelled, progress);
    });
    engine->setInstallation([prepared](VemoUpdaterEngine &engine) {
        run(engine, engine.paths(), std::exchange(*prepared, PreparedPackages()));
    });
}

bool prepareDelta(const UpdateInfo &update, int index, const UpdaterPaths &paths,
                  PreparedPackages *prepared, QString *reason,
                  const std::atomic_bool *cancelled, const DeltaPackage::Progress &progress)
{
    const QString root = PackageInstaller::rootFor(update, paths);
    if (root.isEmpty()) {
        *reason = QCoreApplication::translate(
            "EngineInstallation", "There is no folder to compare the delta package with.");
        return false;
    }
    // The archive lies where the download saved it, and the package
    // unpacks where the installer of that update looks for it.
    const QString urlPath = QUrl(update.delta().link).path();
    PreparedPackage package;
    if (!DeltaPackage::prepare(WorkDirectory::archivePath(paths.workDir, urlPath), urlPath,
                               WorkDirectory::unpackPath(paths.workDir, index), root, &package,
                               reason, cancelled, progress))
        return false;
    (*prepared)[index] = std::move(package);
    return true;
}

void run(VemoUpdaterEngine &engine, const UpdaterPaths &paths, PreparedPackages prepared)
{
    InstallDriver driver(engine.updates(), paths, engine.prompts());
    driver.setDetailInterval(engine.installDetailInterval());
    for (auto &[index, package] : prepared) {
        if (index < engine.updates().size() && engine.updates().at(index).hasDelta())
            driver.usePrepared(index, std::move(package));
    }
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
