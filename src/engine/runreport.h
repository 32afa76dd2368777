#pragma once

#include <QObject>
#include <QString>

#include <memory>

class RunPhase;
class VemoUpdaterEngine;

// What the run's log (RunLog) tells of an update in update mode, read from
// the engine as the run goes: the phases (update check, offer, download,
// install, summary) with their times, the installed and offered versions of
// each component, the bytes downloaded, and how the run ended as its last
// line (no updates, check failed, offer closed, download failed, cancelled,
// or the installation's outcome as the install driver words it).
class RunReport : public QObject
{
    Q_OBJECT

public:
    // Starts the update check's phase; the engine must outlive the report.
    explicit RunReport(VemoUpdaterEngine *engine);
    ~RunReport() override;

    // After the engine's checkForUpdates(), with its result.
    void checked(bool succeeded, bool quiet);
    // Once the event loop has ended: the last phase ends and the outcome
    // follows.
    void ended();

private:
    enum class Stage { Check, NoUpdates, Offer, Download, Install, Summary, Ended };

    void nextPhase(Stage stage, const QString &name, const QString &result = QString());
    void logComponents() const;

    VemoUpdaterEngine *m_engine;
    std::unique_ptr<RunPhase> m_phase;
    Stage m_stage = Stage::Check;
    qint64 m_bytesDone = 0;
    qint64 m_bytesTotal = 0;
    QString m_downloadError;
};
