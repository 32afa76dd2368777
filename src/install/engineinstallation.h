#pragma once

#include "deltapackage.h"

#include <QString>

#include <map>

class UpdateInfo;
class VemoUpdaterEngine;
struct UpdaterPaths;

// The installation behind the engine's installUpdates(): an InstallDriver
// over the engine's updates and places, whose signals become the engine's
// install signals and whose log and result the engine keeps once it has
// finished. It also makes the engine's delta packages ready before that
// (the engine's DeltaPreparation), since only the installation knows how.
namespace EngineInstallation {

// The delta packages made ready for a run, by the index of their update.
using PreparedPackages = std::map<int, PreparedPackage>;

// Makes engine->installUpdates() run run() with the engine's own paths, and
// the engine's delta preparation prepareDelta(), the two sharing the
// packages made ready; the start-up calls it for the engine of every update
// run.
void attach(VemoUpdaterEngine *engine);

// Unpacks the downloaded delta package of update (number index)
// into that package's unpack directory in the work directory of paths and
// patches it there against the update's install root (the installation
// directory, or the plug-in folder), touching nothing in the root. On
// success the package joins *prepared; otherwise *reason says in one line
// why the delta does not fit.
// It may run on a thread of its own: see VemoUpdaterEngine::DeltaPreparation.
bool prepareDelta(const UpdateInfo &update, int index, const UpdaterPaths &paths,
                  PreparedPackages *prepared, QString *reason,
                  const std::atomic_bool *cancelled = nullptr,
                  const DeltaPackage::Progress &progress = {});

// Runs the whole installation of the engine's updates, into the install
// roots and with the work directory of paths, before it returns. An update
// that still has its delta package installs it from prepared. It asks the
// user through the engine's prompts.
void run(VemoUpdaterEngine &engine, const UpdaterPaths &paths, PreparedPackages prepared = {});

} // namespace EngineInstallation
