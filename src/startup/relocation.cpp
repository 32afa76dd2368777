#include "relocation.h"

#include "engine/workdirectory.h"

#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <QProcess>

namespace {

QString updateTitle()
{
    return QCoreApplication::translate("translation", "Update", "program update");
}

} // namespace

namespace Relocation {

QStringList fileList(const QString &executableName, const QStringList &libraries)
{
#ifdef Q_OS_WIN
    Q_UNUSED(executableName);
    Q_UNUSED(libraries);
    return {QStringLiteral("updater.exe"), QStringLiteral("QtCore4.dll"),
            QStringLiteral("QtGui4.dll"),  QStringLiteral("QtNetwork4.dll"),
            QStringLiteral("QtXml4.dll"),  QStringLiteral("ssleay32.dll"),
            QStringLiteral("libeay32.dll")};
#else
    return QStringList{executableName} + libraries;
#endif
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
        QMessageBox::critical(nullptr, updateTitle(), problem, QMessageBox::Ok);
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
                QMessageBox::critical(
                    nullptr, updateTitle(),
                    QCoreApplication::translate("translation", "Copy error: %1 (%2)",
                                                "program update")
                        .arg(source.errorString(), source.fileName()),
                    QMessageBox::Ok);
                return 1;
            }
        }
    }

    if (QProcess::startDetached(workDir + files.first(), relaunchArguments(quiet, sourceDir)))
        return 0;

    QMessageBox::critical(nullptr, updateTitle(),
                          QCoreApplication::translate("translation", "Cannot run update!", "nc"),
                          QMessageBox::Ok);
    return 1;
}

} // namespace Relocation
