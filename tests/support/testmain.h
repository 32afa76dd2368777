#pragma once

#include <QStringList>
#include <QTest>

// Test executables run with a QApplication whose command line the test can
// change, because the updater reads "-root" and its switches from
// QCoreApplication::arguments().
namespace TestMain {

int run(QObject *testObject, int argc, char **argv);

// Replaces what QCoreApplication::arguments() returns from now on. The first
// item is the program path.
void setApplicationArguments(const QStringList &arguments);

// The program path alone, as at start.
void resetApplicationArguments();

} // namespace TestMain

#define VEMO_TEST_MAIN(TestClass)                                                                  \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        TestClass testObject;                                                                      \
        return TestMain::run(&testObject, argc, argv);                                             \
    }
