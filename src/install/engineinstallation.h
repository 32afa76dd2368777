#pragma once

class VemoUpdaterEngine;
struct UpdaterPaths;

// The installation behind the engine's installUpdates(): an InstallDriver
// over the engine's updates and places, whose signals become the engine's
// install signals and whose log and result the engine keeps once it has
// finished.
namespace EngineInstallation {

// Makes engine->installUpdates() run run() with the engine's own paths; the
// start-up calls it for the engine of every update run.
void attach(VemoUpdaterEngine *engine);

// Runs the whole installation of the engine's updates, into the install
// roots and with the work directory of paths, before it returns. It asks
// the user through the engine's prompts.
void run(VemoUpdaterEngine &engine, const UpdaterPaths &paths);

} // namespace EngineInstallation
