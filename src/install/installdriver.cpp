#include "installdriver.h"

#include "engine/updateinfo.h"
#include "engine/workdirectory.h"
#include "packageinstaller.h"
#include "ui/messageboxes.h"

#include <QCoreApplication>
#include <QProcess>

#include <memory>
#include <vector>

namespace {

// Asks whether to abort or to retry after a package failed. True for Retry.
bool askForRetry(const QString &packageName, const QString &errorText)
{
    QString message =
        QCoreApplication::translate("translation", "Failed installing package ", "nc")
        + packageName;
    if (!errorText.isEmpty())
        message += QLatin1Char('\n') + errorText;
    return MessageBoxes::askRetry(MessageBoxes::installTitle(), message);
}

void reportRollbackError()
{
    MessageBoxes::critical(
        MessageBoxes::installTitle(),
        QCoreApplication::translate("translation",
                                    "An error occured while rolling back update progress. "
                                    "Software may not work properly. Try reinstalling whole "
                                    "application",
                                    "nc"));
    QCoreApplication::quit();
}

} // namespace

InstallDriver::InstallDriver(const QVector<UpdateInfo *> &updates, const QString &workDir)
    : m_updates(updates)
    , m_workDir(workDir)
{
}

void InstallDriver::run()
{
    const int count = int(m_updates.size());
    // Every installer of the run stays until the run ends: the rollback
    // restores from the backup records each one made.
    std::vector<std::unique_ptr<PackageInstaller>> installers;
    installers.reserve(size_t(count));

    for (int index = 0; index < count; ++index) {
        const UpdateInfo &record = *m_updates.at(index);
        installers.push_back(std::make_unique<PackageInstaller>(record));
        PackageInstaller &installer = *installers.back();

        const QString name = recordText(record.name());
        emit fileStarted(name);
        m_log += QCoreApplication::translate("translation", "Installing package %1:",
                                             "status information about currently installed "
                                             "package")
                     .arg(name)
                 + QLatin1Char('\n');

        QString errorText;
        QStringList installedList;
        if (!installer.install(m_workDir, &errorText, &installedList)) {
            const bool retry = askForRetry(name, errorText);

            emit fileStarted(QCoreApplication::translate(
                "translation", "Rollback update",
                "restoring application to state before installing update"));
            emit progress(0);

            // Last reached package first: when two packages replaced the same
            // file, the backup of the earlier one holds the original content
            // and must be the one written last. Packages the run never reached
            // have nothing to restore and count as restored.
            bool rolledBack = true;
            for (int step = 0; step < count; ++step) {
                const int restoring = index - step;
                if (restoring >= 0 && !installers.at(size_t(restoring))->restore(m_workDir)) {
                    rolledBack = false;
                    reportRollbackError();
                }
                emit progress(100 * (step + 1) / count);
            }

            m_log = QCoreApplication::translate("translation",
                                                "An error occured while installing updates", "nc");
            emit finished();
            // Backups that could not be put back are the only copy of the
            // user's files left: the work directory then stays as it is.
            if (rolledBack)
                WorkDirectory::clear(m_workDir, WorkDirectory::runningProgramFiles());

            if (retry) {
                QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                        QCoreApplication::arguments());
                QCoreApplication::quit();
            }
            return;
        }

        installedList.sort();
        m_log += installedList.join(QLatin1Char('\n')) + QLatin1String("\n\n");
        emit progress(100 * (index + 1) / count);
    }

    m_succeeded = true;
    emit finished();
    WorkDirectory::clear(m_workDir, WorkDirectory::runningProgramFiles());
}
