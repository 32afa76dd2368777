#pragma once

#include "engine/updaterpaths.h"

#include <QStringList>
#include <QTest>

// Test executables run with a QApplication, the updater's resources and a
// state directory of their own.
namespace TestMain {

// Creates the application and runs the tests. When the executable is started
// with "-u" while VEMO_TEST_RELAUNCH_RECORD names a file (the code under test
// restarting "itself"), it appends its arguments, tab-separated, as one line
// to that file and exits with 0 without running any test.
int run(QObject *testObject, int argc, char **argv);

// The places of an updater started now with this command line (the program
// first; this program alone when empty), in the environment as it is at this
// call (TMPDIR, APPDATA, XDG_STATE_HOME), as the start-up works them out.
UpdaterPaths paths(const QStringList &commandLine = QStringList());
// Those of the relocated updater on installDir: the command line
// "<this program> -u -root installDir".
UpdaterPaths updateModePaths(const QString &installDir);

// QDir::tempPath() as it was when the test executable started, before any
// test changed TMPDIR.
QString originalTempPath();

} // namespace TestMain

#define VEMO_TEST_MAIN(TestClass)                                                                  \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        TestClass testObject;                                                                      \
        return TestMain::run(&testObject, argc, argv);                                             \
    }
