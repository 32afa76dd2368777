#pragma once

struct UpdaterPaths;

// Update mode: checks for updates, opens the first window (the update offer,
// or with quiet the download window) and runs the event loop. Returns the
// program's exit code.
int runUpdateMode(const UpdaterPaths &paths, bool quiet);
