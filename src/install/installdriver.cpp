#include "engine/updateinfo.h"
#include "engine/vemoupdaterengine.h"
#include "install/packageinstaller.h"
#include "install/workdircleanup.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProcess>

#include <memory>
#include <vector>

namespace {

// Asks whether to abort or to retry after a package failed. True for Retry;
// closing the box counts as Abort.
bool askForRetry(const QString &packageName, const QString &errorText)
{
    QString message =
        QCoreApplication::translate("translation", "Failed installing package ", "nc")
        + packageName;
    if (!errorText.isEmpty())
        message += QLatin1Char('\n') + errorText;
    const QMessageBox::StandardButton answer = QMessageBox::warning(
        nullptr, QCoreApplication::translate("translation", "Update", "nc"), message,
        QMessageBox::Abort | QMessageBox::Retry, QMessageBox::Retry);
    return answer == QMessageBox::Retry;
}

void reportRollbackError()
{
    QMessageBox::critical(
        nullptr, QCoreApplication::translate("translation", "Update", "nc"),
        QCoreApplication::translate("translation",
                                    "An error occured while rolling back update progress. "
                                    "Software may not work properly. Try reinstalling whole "
                                    "application",
                                    "nc"),
        QMessageBox::Ok);
    QCoreApplication::quit();
}

} // namespace

void VemoUpdaterEngine::installUpdates()
{
    const int count = int(updateList.size());
    // Every installer of the run stays until the run ends: the rollback
    // restores from the backup records each one made.
    std::vector<std::unique_ptr<PackageInstaller>> installers;
    installers.reserve(size_t(count));

    for (int index = 0; index < count; ++index) {
        const UpdateInfo &record = *updateList.at(index);
        installers.push_back(std::make_unique<PackageInstaller>(record));
        PackageInstaller &installer = *installers.back();

        const QString name = QString::fromUtf8(record.name());
        emit installFile(name);
        m_installLog += QCoreApplication::translate(
                            "translation", "Installing package %1:",
                            "status information about currently installed package")
                            .arg(name)
                        + QLatin1Char('\n');

        QString errorText;
        QStringList installedList;
        if (!installer.install(workDir, &errorText, &installedList)) {
            const bool retry = askForRetry(name, errorText);

            emit installFile(QCoreApplication::translate(
                "translation", "Rollback update",
                "restoring application to state before installing update"));
            emit installProgress(0);

            // Last reached package first: when two packages replaced the same
            // file, the backup of the earlier one holds the original content
            // and must be the one written last. Packages the run never reached
            // have nothing to restore and count as restored.
            bool rolledBack = true;
            for (int step = 0; step < count; ++step) {
                const int restoring = index - step;
                if (restoring >= 0 && !installers.at(size_t(restoring))->restore(workDir)) {
                    rolledBack = false;
                    reportRollbackError();
                }
                emit installProgress(100 * (step + 1) / count);
            }

            m_installLog = QCoreApplication::translate(
                "translation", "An error occured while installing updates", "nc");
            emit installFinished();
            // Backups that could not be put back are the only copy of the
            // user's files left: the work directory then stays as it is.
            if (rolledBack)
                WorkDirCleanup::clear(workDir, WorkDirCleanup::runningProgramFiles());

            if (retry) {
                QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                        QCoreApplication::arguments());
                QCoreApplication::quit();
            }
            return;
        }

        installedList.sort();
        m_installLog += installedList.join(QLatin1Char('\n')) + QLatin1String("\n\n");
        emit installProgress(100 * (index + 1) / count);
    }

    m_installSucceeded = true;
    emit installFinished();
    WorkDirCleanup::clear(workDir, WorkDirCleanup::runningProgramFiles());
}
