#pragma once

#include <QString>

// A package may ship the runtime installer "vcredist.exe": once copied in
// place it is run with "/Q", waited for, and deleted again.
namespace RuntimeInstaller {

// How long it may run before it is stopped: ten minutes.
constexpr int TimeoutMs = 10 * 60 * 1000;

// True when target's file name is exactly "vcredist.exe".
bool isRuntimeInstaller(const QString &target);

// Runs the installer at path with "/Q" and waits for it at most timeoutMs;
// one still running then is killed. True when it ended by itself with exit
// code 0 (installed), 1638 (a newer version is already there) or 3010
// (installed, a reboot will finish it); otherwise *problem says what went
// wrong, for the user.
bool run(const QString &path, int timeoutMs, QString *problem);

} // namespace RuntimeInstaller
