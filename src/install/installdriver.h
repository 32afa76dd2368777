#pragma once

#include <QObject>
#include <QString>
#include <QVector>

class UpdateInfo;

// Installs the downloaded packages of one run, in order, one PackageInstaller
// each. At the first package that fails it asks Abort or Retry, restores
// every package of the run from its backups and, on Retry, starts the updater
// again. Every run ends with finished(), after which log() and succeeded()
// hold the outcome; the work directory is cleared after that signal.
//
// Signals, all delivered during run(): for each package fileStarted(name) and
// then progress(percentage of packages done); after a failure
// fileStarted("Rollback update"), progress(0) and one progress per package
// until 100; finished() exactly once.
class InstallDriver : public QObject
{
    Q_OBJECT

public:
    InstallDriver(const QVector<UpdateInfo *> &updates, const QString &workDir);

    // Runs the whole installation before it returns; call it once.
    void run();

    const QString &log() const { return m_log; }
    bool succeeded() const { return m_succeeded; }

signals:
    void fileStarted(const QString &name);
    void progress(int done);
    void finished();

private:
    const QVector<UpdateInfo *> m_updates;
    const QString m_workDir;
    QString m_log;
    bool m_succeeded = false;
};
