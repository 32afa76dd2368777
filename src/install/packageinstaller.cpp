// PLACEHOLDER: replaced by the package installer.
#include "packageinstaller.h"
PackageInstaller::PackageInstaller(const UpdateInfo &record) : record(record) {}
bool PackageInstaller::install(const QString &, QString *, QStringList *) { return false; }
bool PackageInstaller::restore(const QString &) { return false; }
