#include "relocation.h"

#include "engine/workdirectory.h"
#include "ui/messageboxes.h"

#include <QCoreApplication>
#include <QFile>
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

int run(const QString &sourceDir, const QString &executableName, const QStringList &libraries,
        bool quiet)
{
    const QStringList files = fileList(executableName, libraries);
    const QString workDir = WorkDirectory::path();

    QString problem;
    if (!WorkDirectory::preparePrivate(workDir, &problem)) {
        MessageBoxes::critical(MessageBoxes::updateTitle(), problem);
        return 1;
    }

    for (const QString &name : files) {
        QFile source(sourceDir + QLatin1Char('/') + name);
        const QString target = workDir + name;
        if (!source.copy(target)) {
            // Most often a copy left by an earlier run: QFile::copy never
            // overwrites, so remove it and try once more.
            QFile::remove(target);
            source.unsetError();
            if (!source.copy(target)) {
                MessageBoxes::critical(MessageBoxes::updateTitle(),
                                       QCoreApplication::translate(
                                           "translation", "Copy error: %1 (%2)", "program update")
                                           .arg(source.errorString(), source.fileName()));
                return 1;
            }
        }
    }

    if (QProcess::startDetached(workDir + files.first(), relaunchArguments(quiet, sourceDir)))
        return 0;

    MessageBoxes::critical(MessageBoxes::updateTitle(),
                           QCoreApplication::translate("translation", "Cannot run update!", "nc"));
    return 1;
}

} // namespace Relocation
