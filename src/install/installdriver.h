#pragma once

#include "deltapackage.h"
#include "engine/updateinfo.h"
#include "engine/updaterpaths.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVector>

#include <map>
#include <memory>
#include <vector>

class InstallJournal;
class PackageInstaller;
class UserPrompts;

// Installs the downloaded packages of one run, in order, one PackageInstaller
// each. At the first package that fails it asks Abort or Retry, takes every
// package of the run back (restoring what they replaced, deleting what they
// created) and, on Retry, starts the updater again. Every run ends with
// finished(), after which log() and succeeded() hold the outcome; the
// backups, the journal and the work directory are cleared after that signal.
//
// The run keeps a journal (InstallJournal) from before its first change to an
// install root until it has finished or rolled back, so that a run cut short
// is rolled back at the next start. A rollback that cannot put everything
// back keeps its backups and its journal, tells where they are, and does not
// restart the updater. The backups go only once the journal records the
// run's end or is gone: a run whose journal can be neither marked nor
// removed keeps them and says so (after all packages installed, the run
// then counts as failed, since the next start takes it back). A quit asked
// for during the run (a failed set-up, a failed rollback, Retry) takes
// effect only once run() has returned, so every box of the run waits for
// the user's answer. The driver asks the user only through its UserPrompts.
//
// Signals, all delivered during run(): for each package fileStarted(name) and
// then progress(percentage of packages done); after a failure
// fileStarted("Rollback update"), progress(0) and one progress per package
// until 100; finished() exactly once. While a package installs,
// detailedProgress() tells the percentage of the run with the part of that
// package done, when it has changed and at most once per detail interval.
class InstallDriver : public QObject
{
    Q_OBJECT

public:
    // paths: the run's places (the work directory, the install roots, the
    // command line a Retry restarts with). prompts: where the run's failures
    // are shown and Abort or Retry asked; it must outlive the driver.
    // journalPath: the journal's file (the state directory's by default).
    InstallDriver(const QVector<UpdateInfo> &updates, const UpdaterPaths &paths,
                  UserPrompts &prompts, const QString &journalPath = QString());
    ~InstallDriver() override;

    // Runs the whole installation before it returns; call it once.
    void run();

    // Package number index is unpacked and patched already (a delta package
    // that DeltaPackage::prepare() made ready): its installer applies it
    // instead of unpacking the archive. Call before run().
    void usePrepared(int index, PreparedPackage package);

    // The least time between two detailedProgress() signals.
    static constexpr int DefaultDetailIntervalMs = 250;
    void setDetailInterval(int milliseconds) { m_detailIntervalMs = milliseconds; }

    // The log as UTF-8: a line per installed file takes half the memory.
    const QByteArray &log() const { return m_log; }
    bool succeeded() const { return m_succeeded; }
    // How the run ended, in words for the run's log ("updated", "failed and
    // rolled back", ...); set before finished().
    const QString &outcome() const { return m_outcome; }

signals:
    void fileStarted(const QString &name);
    void progress(int done);
    void finished();
    void detailedProgress(int done);

private:
    void reportStep(int index, qint64 done, qint64 total);
    bool installPackage(int index);
    void rollBack(int failed, bool retry);
    bool restoreReached(int failed, bool retry);
    void finishInstalled();
    bool closeJournal(bool installed);
    void removeBackups();
    QString backupFolders() const;
    void reportRollbackError(const PackageInstaller &installer, bool retryDropped);

    const QVector<UpdateInfo> m_updates;
    const UpdaterPaths m_paths;
    UserPrompts &m_prompts;
    const QString m_workDir;
    const QString m_journalPath;
    QByteArray m_log;
    bool m_succeeded = false;
    QString m_outcome;
    int m_detailIntervalMs = DefaultDetailIntervalMs;
    QElapsedTimer m_sinceDetail;
    int m_lastDetail = -1;
    // Held while run() goes on. Every installer of the run stays until the
    // run ends: the rollback restores from the backup records each one made.
    std::unique_ptr<InstallJournal> m_journal;
    std::vector<std::unique_ptr<PackageInstaller>> m_installers;
    std::map<int, PreparedPackage> m_prepared;
    // A quit asked for while the run goes on would close every later box
    // by itself: it waits until the run is over.
    bool m_quitWhenDone = false;
};
