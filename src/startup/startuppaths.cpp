#include "startuppaths.h"

#include "engine/messenger.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>

namespace {

const QLatin1String PluginFolder("/Vemo/plugins/");

// The value of the first entry "name=..."; false when there is none.
bool environmentValue(const QStringList &environment, const QString &name, QString *value)
{
    const QString prefix = name + QLatin1Char('=');
    for (const QString &entry : environment) {
        if (entry.startsWith(prefix)) {
            *value = entry.mid(prefix.size());
            return true;
        }
    }
    return false;
}

} // namespace

namespace StartupPaths {

UpdaterPaths build(const QStringList &arguments, const QStringList &environment,
                   const QString &tempDir, const QString &homeDir)
{
    UpdaterPaths paths;
    paths.commandLine = arguments;
    paths.hasInstallDir = Messenger::installationDirectory(arguments, &paths.installDir);

    // An empty APPDATA still names a place (the plug-in folder then lies
    // at the file system's root); only a missing one leaves no root.
    QString appData;
    if (environmentValue(environment, QStringLiteral("APPDATA"), &appData))
        paths.pluginRoot = appData + PluginFolder;

    // Qt names no temporary folder when TMPDIR names one that is missing
    // (it resolves the name and finds nothing); the work folder then goes
    // where TMPDIR says, made with its parents, never at the root.
    QString temp = tempDir;
    if (temp.isEmpty()
        && (!environmentValue(environment, QStringLiteral("TMPDIR"), &temp)
            || QDir::isRelativePath(temp))) {
        temp = QStringLiteral("/tmp");
    }
    paths.workDir = temp + QStringLiteral("/vupdates/");

    // XDG_STATE_HOME where it is set (Linux; tests set it everywhere), else
    // Windows' per-user local folder, which every Windows session sets and
    // which stays on the machine, else the XDG default below the home.
    QString stateBase;
    environmentValue(environment, QStringLiteral("XDG_STATE_HOME"), &stateBase);
    if (stateBase.isEmpty() || QDir::isRelativePath(stateBase)) {
        QString localAppData;
        environmentValue(environment, QStringLiteral("LOCALAPPDATA"), &localAppData);
        if (!localAppData.isEmpty() && !QDir::isRelativePath(localAppData)) {
            paths.stateDir = QDir::cleanPath(localAppData) + QStringLiteral("/Vemo/updater/");
            return paths;
        }
        stateBase = homeDir + QStringLiteral("/.local/state");
    }
    paths.stateDir = QDir::cleanPath(stateBase) + QStringLiteral("/vemo-updater/");
    return paths;
}

UpdaterPaths current()
{
    return build(QCoreApplication::arguments(), QProcess::systemEnvironment(),
                 QStandardPaths::writableLocation(QStandardPaths::TempLocation), QDir::homePath());
}

} // namespace StartupPaths
