// vemo-bench-apply ARCHIVE URL-PATH ROOT WORK-DIR [--delta]
//
// Installs one package into ROOT as the updater's installer does (unpack,
// backups, manifest), from an archive already placed at its link's path
// below WORK-DIR/archives/; with --delta the archive is a delta package,
// prepared first (unpacked, every patch applied and checked in the unpack
// directory) and then installed. bench/run times the whole process against
// the full package. Exit code 1 with the reason on failure.

#include "engine/updateinfo.h"
#include "engine/updaterpaths.h"
#include "engine/workdirectory.h"
#include "install/deltapackage.h"
#include "install/packageinstaller.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 5) {
        std::fputs("usage: vemo-bench-apply ARCHIVE URL-PATH ROOT WORK-DIR [--delta]\n", stderr);
        return 2;
    }
    const QString archive = arguments.at(1);
    const QString urlPath = arguments.at(2);
    UpdaterPaths paths;
    paths.hasInstallDir = true;
    paths.installDir = arguments.at(3);
    paths.workDir = arguments.at(4);
    const bool delta = arguments.value(5) == QLatin1String("--delta");
    const UpdateInfo record(QStringLiteral("vemo"), QStringLiteral("bench"), QStringLiteral("app"),
                            QStringLiteral("2.0"), QString(), QString(),
                            QStringLiteral("http://127.0.0.1") + urlPath);
    PackageInstaller installer(record, paths);
    if (delta) {
        PreparedPackage prepared;
        QString reason;
        if (!DeltaPackage::prepare(archive, urlPath, WorkDirectory::unpackPath(paths.workDir, 0),
                                   paths.installDir, &prepared, &reason)) {
            std::fprintf(stderr, "vemo-bench-apply: %s\n", qPrintable(reason));
            return 1;
        }
        installer.usePrepared(std::move(prepared));
    }
    CompactStringList installed;
    if (!installer.install(paths.workDir, &installed)) {
        std::fprintf(stderr, "vemo-bench-apply: %s\n", qPrintable(installer.errorString()));
        return 1;
    }
    installer.removeBackups();
    return 0;
}
