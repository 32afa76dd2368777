#include "phaserunner.h"

#include "boxanswerer.h"
#include "engine/updateinfo.h"
#include "engine/vemoupdaterengine.h"
#include "engine/workdirectory.h"
#include "ui/vemoinstalldialog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QUrl>

namespace {

double secondsOf(qint64 nanoseconds)
{
    return double(nanoseconds) / 1e9;
}

QString rollbackText()
{
    return QCoreApplication::translate("translation", "Rollback update",
                                       "restoring application to state before installing update");
}

// Lines of the install log that name an extracted file.
int listedFiles(const QString &log)
{
    int count = 0;
    for (const QStringView line : QStringView(log).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String(" - ")))
            ++count;
    }
    return count;
}

} // namespace

PhaseRunner::PhaseRunner(VemoUpdaterEngine *engine, const BoxAnswerer *answerer)
    : m_engine(engine)
    , m_answerer(answerer)
{
}

bool PhaseRunner::fail(const QString &reason)
{
    m_failure = reason;
    return false;
}

bool PhaseRunner::checkFindsUpdates()
{
    QElapsedTimer timer;
    timer.start();
    const bool answered = m_engine->checkForUpdates();
    m_checkSeconds = secondsOf(timer.nsecsElapsed());
    if (!answered)
        return fail(QStringLiteral("the update check failed"));
    if (!m_engine->hasUpdates())
        return fail(QStringLiteral("the update check found no updates"));
    return true;
}

bool PhaseRunner::check()
{
    if (!checkFindsUpdates())
        return false;
    m_seconds = m_checkSeconds;
    m_summary = QStringLiteral("%1 update(s)").arg(m_engine->updates().size());
    return true;
}

bool PhaseRunner::download()
{
    if (!checkFindsUpdates())
        return false;

    QEventLoop loop;
    QElapsedTimer timer;
    qint64 elapsed = -1;
    QString error;
    QObject::connect(m_engine, &VemoUpdaterEngine::downloadFinished, &loop, [&] {
        elapsed = timer.nsecsElapsed();
        loop.quit();
    });
    QObject::connect(m_engine, &VemoUpdaterEngine::error, &loop, [&](const QString &text) {
        error = text;
        loop.quit();
    });

    timer.start();
    m_engine->beginDownload();
    // An address refused up front is reported before the loop could run.
    if (elapsed < 0 && error.isEmpty())
        loop.exec();
    if (!error.isEmpty())
        return fail(QStringLiteral("the download failed: %1").arg(error));
    m_seconds = secondsOf(elapsed);

    qint64 bytes = 0;
    const QString workDir = m_engine->paths().workDir;
    for (const UpdateInfo &update : m_engine->updates()) {
        const QUrl url(update.link());
        bytes += QFileInfo(WorkDirectory::archivePath(workDir, url.path())).size();
    }
    const double mebibytes = double(bytes) / (1024 * 1024);
    m_summary = QStringLiteral("%1 archive(s), %2 bytes, %3 MiB/s; update check %4 s")
                    .arg(m_engine->updates().size())
                    .arg(bytes)
                    .arg(mebibytes / m_seconds, 0, 'f', 1)
                    .arg(m_checkSeconds, 0, 'f', 3);
    return true;
}

bool PhaseRunner::install()
{
    if (!checkFindsUpdates())
        return false;

    QObject marks;
    QElapsedTimer timer;
    qint64 elapsed = -1;
    QObject::connect(m_engine, &VemoUpdaterEngine::installFinished, &marks,
                     [&] { elapsed = timer.nsecsElapsed(); });

    const qsizetype boxesBefore = m_answerer->texts().size();
    timer.start();
    // As the updater installs: through the install window, which paints
    // its progress while the installation runs and opens the summary.
    new VemoInstallDialog(m_engine);
    if (elapsed < 0)
        return fail(QStringLiteral("the installation never finished"));
    if (!m_engine->installSucceeded() || m_answerer->texts().size() != boxesBefore)
        return fail(QStringLiteral("the installation failed: %1")
                        .arg(m_answerer->texts().mid(boxesBefore).join(QStringLiteral(" / "))));

    m_seconds = secondsOf(elapsed);
    m_summary = QStringLiteral("%1 package(s), %2 file(s); update check %3 s")
                    .arg(m_engine->updates().size())
                    .arg(listedFiles(m_engine->installLog()))
                    .arg(m_checkSeconds, 0, 'f', 3);
    return true;
}

bool PhaseRunner::rollback()
{
    if (!checkFindsUpdates())
        return false;

    QObject marks;
    QElapsedTimer run;
    QElapsedTimer rollback;
    qint64 untilRollback = -1;
    qint64 elapsed = -1;
    QObject::connect(m_engine, &VemoUpdaterEngine::installFile, &marks,
                     [&](const QString &name) {
                         if (name == rollbackText() && !rollback.isValid()) {
                             untilRollback = run.nsecsElapsed();
                             rollback.start();
                         }
                     });
    QObject::connect(m_engine, &VemoUpdaterEngine::installFinished, &marks, [&] {
        if (rollback.isValid())
            elapsed = rollback.nsecsElapsed();
    });

    run.start();
    new VemoInstallDialog(m_engine);
    if (m_engine->installSucceeded())
        return fail(QStringLiteral("every package installed, so nothing was rolled back"));
    if (elapsed < 0)
        return fail(QStringLiteral("the rollback never started or never finished"));
    const QStringList &boxes = m_answerer->texts();
    if (boxes.size() != 2)
        return fail(QStringLiteral("expected the package's failure and the Abort/Retry question, "
                                   "got: %1")
                        .arg(boxes.join(QStringLiteral(" / "))));

    m_seconds = secondsOf(elapsed);
    m_summary = QStringLiteral("install until the failure %1 s; update check %2 s")
                    .arg(secondsOf(untilRollback), 0, 'f', 3)
                    .arg(m_checkSeconds, 0, 'f', 3);
    return true;
}
