#pragma once

#include <QString>
#include <QStringList>

// Runs a server script of tools/ ("webserver": nginx, "proxy": tinyproxy)
// with these arguments and returns its exit code (-1 when it could not be
// run). The servers are Linux programs: a test under Wine hands the command
// to the host runner (tests/support/host-runner) that a CTest fixture
// started, whose folder VEMO_HOST_RUNNER names, and gives the paths as Wine
// names them.
int runServerScript(const QString &kind, const QStringList &arguments);
