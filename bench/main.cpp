// vemo-bench MODE [--report FILE] [--timeout SECONDS] -root DIR
//
// Runs one phase of an update with the updater's own engine, headless, and
// prints its duration. MODE is one of:
//   check     the update check (messenger run, query, answer)
//   download  the download of every available package into $TMPDIR/vupdates/
//   install   the installation of the packages already placed there, run by
//             the install window (offscreen) as the updater runs it
//   rollback  an installation in which a package fails, timed from the start
//             of the rollback to its end
// Every mode runs the update check first, as the updater does. --report
// appends the duration in seconds as one line to FILE. A run that does not
// end within the timeout (default 1800 s) is killed with exit code 3; a
// phase that does not end as it must exits with 1.

#include "boxanswerer.h"
#include "engine/vemoupdaterengine.h"
#include "engine/workdirectory.h"
#include "install/engineinstallation.h"
#include "phaserunner.h"
#include "startup/startuppaths.h"
#include "ui/messageboxes.h"
#include "ui/updaterresources.h"

#include <QApplication>
#include <QFile>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

constexpr unsigned DefaultTimeoutSeconds = 1800;

// Ends the run from a thread of its own once its time is up, whatever the
// main thread is doing (a modal loop, a blocking call).
void startWatchdog(unsigned seconds)
{
    std::thread([seconds] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        std::fputs("vemo-bench: timed out\n", stderr);
        std::fflush(stderr);
        std::_Exit(3);
    }).detach();
}

int usage()
{
    std::fputs("usage: vemo-bench check|download|install|rollback [--report FILE] "
               "[--timeout SECONDS] -root DIR\n",
               stderr);
    return 2;
}

bool appendReport(const QString &path, double seconds)
{
    QFile report(path);
    if (!report.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return false;
    const QByteArray line = QByteArray::number(seconds, 'f', 6) + '\n';
    return report.write(line) == line.size() && report.flush();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    registerUpdaterResources();

    const QStringList arguments = QCoreApplication::arguments();
    const QString mode = arguments.value(1);
    QString reportPath;
    unsigned timeout = DefaultTimeoutSeconds;
    bool hasRoot = false;
    for (int i = 2; i < arguments.size(); i += 2) {
        if (i + 1 >= arguments.size())
            return usage();
        const QString &option = arguments.at(i);
        if (option == QLatin1String("--report")) {
            reportPath = arguments.at(i + 1);
        } else if (option == QLatin1String("--timeout")) {
            bool ok = false;
            timeout = arguments.at(i + 1).toUInt(&ok);
            if (!ok || timeout == 0)
                return usage();
        } else if (option == QLatin1String("-root")) {
            hasRoot = true; // the start-up's paths take it from the arguments
        } else {
            return usage();
        }
    }
    if (!hasRoot)
        return usage();

    startWatchdog(timeout);

    const UpdaterPaths paths = StartupPaths::current();
    QString problem;
    if (!WorkDirectory::preparePrivate(paths.workDir, &problem)) {
        std::fprintf(stderr, "vemo-bench: %s\n", qPrintable(problem));
        return 1;
    }

    MessageBoxPrompts prompts;
    VemoUpdaterEngine engine(paths, prompts);
    EngineInstallation::attach(&engine);
    BoxAnswerer answerer;
    PhaseRunner runner(&engine, &answerer);

    bool ok = false;
    if (mode == QLatin1String("check"))
        ok = runner.check();
    else if (mode == QLatin1String("download"))
        ok = runner.download();
    else if (mode == QLatin1String("install"))
        ok = runner.install();
    else if (mode == QLatin1String("rollback"))
        ok = runner.rollback();
    else
        return usage();

    if (!ok) {
        std::fprintf(stderr, "vemo-bench: %s: %s\n", qPrintable(mode),
                     qPrintable(runner.failure()));
        return 1;
    }
    std::printf("vemo-bench: %s %.6f s (%s)\n", qPrintable(mode), runner.seconds(),
                qPrintable(runner.summary()));
    if (!reportPath.isEmpty() && !appendReport(reportPath, runner.seconds())) {
        std::fprintf(stderr, "vemo-bench: cannot write %s\n", qPrintable(reportPath));
        return 1;
    }
    return 0;
}
