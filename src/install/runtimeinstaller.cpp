#include "runtimeinstaller.h"

#include "platform/processes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace {

constexpr int Installed = 0;
constexpr int NewerVersionPresent = 1638;
constexpr int RebootRequired = 3010;

} // namespace

namespace RuntimeInstaller {

bool isRuntimeInstaller(const QString &target)
{
    return QFileInfo(target).fileName() == QLatin1String("vcredist.exe");
}

bool run(const QString &path, int timeoutMs, QString *problem)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(path, {QStringLiteral("/Q")});
    if (!process.waitForStarted()) {
        *problem = QCoreApplication::translate("RuntimeInstaller",
                                               "The runtime installer %1 cannot be started (%2).")
                       .arg(QDir::toNativeSeparators(path), process.errorString());
        return false;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        *problem = QCoreApplication::translate(
                       "RuntimeInstaller",
                       "The runtime installer %1 did not finish within %2 minutes and was stopped.")
                       .arg(QDir::toNativeSeparators(path))
                       .arg(qMax(1, timeoutMs / 60000));
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        *problem =
            QCoreApplication::translate("RuntimeInstaller", "The runtime installer %1 crashed.")
                .arg(QDir::toNativeSeparators(path));
        return false;
    }
    // Both codes above 255 mean success; a POSIX system passes on their
    // low byte only, which is what a stand-in there is seen to end with.
    const int code = process.exitCode();
    if (code != Installed && code != Platform::exitCodeAsSeen(NewerVersionPresent)
        && code != Platform::exitCodeAsSeen(RebootRequired)) {
        *problem = QCoreApplication::translate("RuntimeInstaller",
                                               "The runtime installer %1 failed with exit code %2.")
                       .arg(QDir::toNativeSeparators(path))
                       .arg(code);
        return false;
    }
    return true;
}

} // namespace RuntimeInstaller
