#pragma once

#include "packagedownload.h"
#include "updateinfo.h"
#include "updaterpaths.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTcpSocket>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>

class QThread;
class UserPrompts;

// Carries one update run of the relocated updater: the available updates
// found by the check, the package download, and the log and result of the
// installation. Created by main() as a local object; the windows hold plain
// pointers to it. It keeps the run's places (UpdaterPaths) and the way to
// ask its user (UserPrompts, which must outlive it) for everything that
// works on its behalf; it shows nothing itself.
class VemoUpdaterEngine : public QObject
{
    Q_OBJECT

public:
    VemoUpdaterEngine(const UpdaterPaths &paths, UserPrompts &prompts);
    ~VemoUpdaterEngine() override;

    bool checkForUpdates();
    // The release keys that answers must be signed with, as a comma-separated
    // base64 list; the build's own (VEMO_UPDATE_KEYS) unless changed here.
    // With none, answers are taken unsigned.
    void setUpdateKeys(const QByteArray &keys) { m_updateKeys = keys; }
    // The time the whole check may take, 60 s unless changed here.
    void setCheckTimeout(int milliseconds) { m_checkTimeoutMs = milliseconds; }
    // The least time between two installDetailedProgress() signals, 250 ms
    // unless changed here.
    void setInstallDetailInterval(int milliseconds) { m_installDetailIntervalMs = milliseconds; }
    // What installUpdates() runs: the installation of the updates found,
    // wired in by whoever sets up the run, since the engine knows no
    // installer. It reports through the install signals and ends with
    // finishInstall().
    using Installation = std::function<void(VemoUpdaterEngine &engine)>;
    void setInstallation(const Installation &installation) { m_installation = installation; }
    // What makes a downloaded delta package ready to install, wired in like
    // the installation: for update number index, it unpacks the delta and
    // patches the installed files into that package's unpack directory,
    // touching no install root. False with a one-line reason when the delta
    // does not fit the installation; the full package is then downloaded.
    // It runs on a thread of its own, so that the window stays alive: it
    // reports its bytes done of total through progress, stops soon (and
    // fails) once cancelled turns true, and touches nothing of the engine.
    using PreparationProgress = std::function<void(qint64 done, qint64 total)>;
    using DeltaPreparation =
        std::function<bool(const UpdateInfo &update, int index, const std::atomic_bool &cancelled,
                           const PreparationProgress &progress, QString *reason)>;
    void setDeltaPreparation(const DeltaPreparation &preparation)
    {
        m_deltaPreparation = preparation;
    }
    int installDetailInterval() const { return m_installDetailIntervalMs; }
    // Keeps the installation's log (UTF-8), after the download's lines, and
    // result for the summary window, and how it ended in words for the
    // run's log, and emits installFinished().
    void finishInstall(const QByteArray &log, bool succeeded, const QString &outcome = QString());
    const UpdaterPaths &paths() const { return m_paths; }
    UserPrompts &prompts() const { return m_prompts; }
    // The window of the download's stall floor (see PackageDownload), 30 s
    // unless changed here.
    void setDownloadStallWindow(int milliseconds) { download.setStallWindow(milliseconds); }
    bool hasUpdates() const;
    // The query that the messenger gave for the last check: the installed
    // components.
    const QByteArray &query() const { return m_query; }
    // The updates found; once the download has finished, an update that
    // still has its delta package installs that package, prepared.
    const QVector<UpdateInfo> &updates() const;
    // The summary's log: the download's lines (a delta package that could
    // not be used), then the installation's.
    QString installLog() const;
    bool installSucceeded() const;
    const QString &installOutcome() const { return m_installOutcome; }

signals:
    void downloadProgress(int done);
    void downloadFile(const QString &name);
    void downloadFinished();
    void installProgress(int done);
    void installFile(const QString &name);
    void installFinished();
    void error(const QString &str);
    // The download's bytes: 'done' of the 'total' that the servers announced.
    // Emitted with every downloadProgress(), and once with 0 done when the
    // sizes are known. Declared after the others so that their order in the
    // meta-object stays as it was.
    void downloadBytes(qint64 done, qint64 total);
    // While a package installs: the percentage of the whole installation
    // with the part of that package done, at most every few hundred
    // milliseconds and only when it changed. installProgress() still marks
    // each package's end.
    void installDetailedProgress(int done);
    // beginDownload() has started the download.
    void downloadBegun();
    // After the download, the delta package of update name is being made
    // ready: percent of it done, from 0.
    void preparing(const QString &name, int percent);

public slots:
    void beginDownload();
    void abortDownload();
    void installUpdates();

private:
    bool receiveAnswer(const QByteArray &query, const QDeadlineTimer &deadline,
                       QByteArray *message);
    void archivesDownloaded();
    // The preparation thread has ended, with the updates whose delta
    // packages do not fit and why.
    void deltasPrepared(const QVector<QPair<int, QString>> &failures);
    void deltaDropped(int index, const QString &reason);
    // The delta of update number index cannot be used: the line for the
    // log, and the update goes by its full package.
    void fallBack(int index, const QString &reason);

    const UpdaterPaths m_paths;
    UserPrompts &m_prompts;
    QTcpSocket querySocket;
    QByteArray m_installLog; // UTF-8
    QByteArray m_downloadLog; // UTF-8
    QVector<UpdateInfo> updateList;
    QByteArray m_query;
    PackageDownload download;
    // The updates whose full packages the second round of the download
    // fetches, in order; empty in the first.
    QVector<int> m_fallbacks;
    bool m_fallbackRound = false;
    DeltaPreparation m_deltaPreparation;
    std::unique_ptr<QThread> m_preparation;
    std::atomic_bool m_preparationCancelled{false};
    bool m_installSucceeded = false;
    QString m_installOutcome;
    QByteArray m_updateKeys;
    int m_checkTimeoutMs;
    int m_installDetailIntervalMs;
    Installation m_installation;
};
