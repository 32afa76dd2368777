#include "testmain.h"

#include "startup/startuppaths.h"
#include "ui/updaterresources.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

QString startTempPath;

} // namespace

namespace TestMain {

UpdaterPaths paths(const QStringList &commandLine)
{
    return StartupPaths::build(
        commandLine.isEmpty() ? QStringList{QCoreApplication::applicationFilePath()} : commandLine,
        QProcess::systemEnvironment(),
        QStandardPaths::writableLocation(QStandardPaths::TempLocation), QDir::homePath());
}

UpdaterPaths updateModePaths(const QString &installDir)
{
    return paths({QCoreApplication::applicationFilePath(), QStringLiteral("-u"),
                  QStringLiteral("-root"), installDir});
}

QString originalTempPath()
{
    return startTempPath;
}

int run(QObject *testObject, int argc, char **argv)
{
    // Code under test may start "the running updater" again with its own
    // arguments (the Retry after a failed installation). In a test that is
    // this test executable: such a start is recorded and ends at once
    // instead of running the tests a second time.
    const QByteArray relaunchRecord = qgetenv("VEMO_TEST_RELAUNCH_RECORD");
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "-u") == 0 && !relaunchRecord.isEmpty()) {
            QFile record(QFile::decodeName(relaunchRecord));
            if (record.open(QIODevice::Append)) {
                QStringList arguments;
                // The program as the starter named it: Windows hands it over
                // with native separators.
                arguments << QDir::fromNativeSeparators(QFile::decodeName(argv[0]));
                for (int j = 1; j < argc; ++j)
                    arguments << QFile::decodeName(argv[j]);
                record.write(arguments.join(QLatin1Char('\t')).toUtf8() + '\n');
            }
            return 0;
        }
    }

    startTempPath = QDir::tempPath();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int result = 0;
    {
        // A private runtime directory keeps Qt from warning about the default
        // one.
        QTemporaryDir runtimeDir;
        QFile::setPermissions(runtimeDir.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
        // The updater's state (install journal, one-updater lock) stays inside
        // the test too, away from the user's own and from other test programs.
        QTemporaryDir stateHome;
        qputenv("XDG_STATE_HOME", QFile::encodeName(stateHome.path()));

        QApplication app(argc, argv);
        registerUpdaterResources();
        result = QTest::qExec(testObject, argc, argv);
    }
#ifdef Q_OS_WIN
    // Under Wine the unloading of libstdc++-6.dll at exit now and then waits
    // forever (on two handles, all of them, with the loader lock held), after
    // every result is out. The tests are over and their folders are gone, so
    // the process ends here without unloading its libraries.
    fflush(stdout);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), UINT(result));
#endif
    return result;
}

} // namespace TestMain
