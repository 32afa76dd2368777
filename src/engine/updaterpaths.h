#pragma once

#include <QString>
#include <QStringList>

// Where one run of the updater finds and puts things. The start-up works it
// out once from the command line and the environment (StartupPaths) and
// hands it to everything that needs a place; nothing else reads the command
// line or the environment for them.
struct UpdaterPaths
{
    // The command line as the program got it, the program first. A Retry
    // restart passes it on unchanged.
    QStringList commandLine;
    // The argument after the first "-root"; hasInstallDir is false when there
    // is no "-root" or nothing follows it.
    bool hasInstallDir = false;
    QString installDir;
    // Where "plugin" packages go: the APPDATA directory + "/Vemo/plugins/".
    // Empty when APPDATA is not set.
    QString pluginRoot;
    // The work directory: the system's temporary directory + "/vupdates/".
    QString workDir;
    // The state directory (install journal, one-updater lock); ends with a
    // slash.
    QString stateDir;
};
