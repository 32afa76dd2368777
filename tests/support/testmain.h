#pragma once

#include <QStringList>
#include <QTest>

// Test executables run with a QApplication whose command line the test can
// change, because the updater reads "-root" and its switches from
// QCoreApplication::arguments().
namespace TestMain {

// Creates the application and runs the tests. When the executable is started
// with "-u" while VEMO_TEST_RELAUNCH_RECORD names a file (the code under test
// restarting "itself"), it appends its arguments, tab-separated, as one line
// to that file and exits with 0 without running any test.
int run(QObject *testObject, int argc, char **argv);

// Replaces what QCoreApplication::arguments() returns from now on. The first
// item is the program path.
void setApplicationArguments(const QStringList &arguments);

// The program path alone, as at start.
void resetApplicationArguments();

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
