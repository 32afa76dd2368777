#include "relocation.h"

#include "engine/runlog.h"
#include "engine/updaterlock.h"
#include "engine/updaterpaths.h"
#include "engine/workdirectory.h"
#include "startupchecks.h"
#include "ui/messageboxes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace Relocation {

QStringList fileList(const QString &executableName, const QStringList &libraries)
{
    return QStringList{executableName} + libraries;
}

QStringList relaunchArguments(bool quiet, const QString &sourceDir)
{
    QStringList arguments{QStringLiteral("-u")};
    if (quiet)
        arguments << QStringLiteral("-q");
    arguments << QStringLiteral("-root") << sourceDir;
    return arguments;
}

QProcessEnvironment relaunchEnvironment(const QString &workDir)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_PLUGIN_PATH"),
                       QDir::toNativeSeparators(QDir::cleanPath(workDir)));
    return environment;
}

void forgetOwnPluginPath()
{
    const QString pluginPath = qEnvironmentVariable("QT_PLUGIN_PATH");
    if (pluginPath.isEmpty())
        return;
    const Qt::CaseSensitivity caseSensitivity =
#ifdef Q_OS_WIN
        Qt::CaseInsensitive;
#else
        Qt::CaseSensitive;
#endif
    if (QDir::cleanPath(QDir::fromNativeSeparators(pluginPath))
            .compare(QDir::cleanPath(QCoreApplication::applicationDirPath()), caseSensitivity)
        == 0)
        qunsetenv("QT_PLUGIN_PATH");
}

int run(const UpdaterPaths &paths, const QString &sourceDir, const QString &executableName,
        const QStringList &libraries, bool quiet)
{
    // Before the work directory is touched: one updater at a time, and
    // nothing left of an update that a crash cut short.
    UpdaterLock lock(paths.stateDir);
    // This process begins the run's log, the relocated one continues it, so
    // one update is one log. Closed before the lock goes to the copy.
    RunLog log(paths.stateDir);
    if (!StartupChecks::lockAndRecover(paths, &lock, &log, StartupChecks::RelocationWaitMs, quiet))
        return 1;
    RunPhase phase(QStringLiteral("relocation"));
    const auto failed = [&phase] {
        phase.finish(QStringLiteral("failed"));
        qCInfo(lcRunLog, "outcome: failed at relocation");
        return 1;
    };

    const QStringList files = fileList(executableName, libraries);
    const QString workDir = paths.workDir;

    QString problem;
    if (!WorkDirectory::preparePrivate(workDir, &problem)) {
        MessageBoxes::critical(UserPrompts::updateTitle(), problem);
        return failed();
    }

    for (const QString &name : files) {
        QFile source(sourceDir + QLatin1Char('/') + name);
        const QString target = workDir + name;
        // A plug-in's subfolder; a folder that cannot be made shows as the
        // copy's own failure below.
        if (name.contains(QLatin1Char('/')))
            QDir().mkpath(QFileInfo(target).absolutePath());
        if (!source.copy(target)) {
            // Most often a copy left by an earlier run: QFile::copy never
            // overwrites, so remove it and try once more.
            QFile::remove(target);
            source.unsetError();
            if (!source.copy(target)) {
                MessageBoxes::critical(
                    UserPrompts::updateTitle(),
                    QCoreApplication::translate("Relocation", "Copy error: %1 (%2)")
                        .arg(source.errorString(), QDir::toNativeSeparators(source.fileName())));
                return failed();
            }
        }
    }

    QProcess relocated;
    relocated.setProgram(workDir + files.first());
    relocated.setArguments(relaunchArguments(quiet, sourceDir));
    relocated.setProcessEnvironment(relaunchEnvironment(workDir));
    qint64 pid = 0;
    if (relocated.startDetached(&pid)) {
        phase.finish(QStringLiteral("%1 started as process %2")
                         .arg(QDir::toNativeSeparators(workDir + files.first()))
                         .arg(pid));
        // The relocated instance takes the lock over as this one lets go.
        UpdaterLock::handOverTo(pid, paths.stateDir);
        return 0;
    }

    MessageBoxes::critical(UserPrompts::updateTitle(),
                           QCoreApplication::translate("Relocation", "Cannot run update!"));
    return failed();
}

} // namespace Relocation
