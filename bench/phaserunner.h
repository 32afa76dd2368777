#pragma once

#include <QString>

class BoxAnswerer;
class VemoUpdaterEngine;

// Runs one phase of an update on the engine and times it, using the
// engine's own signals as marks so that start-up and the update check stay
// out of the figure (except for check(), which times the check itself).
// Each phase returns true when it ended the way a benchmark run must end;
// otherwise failure() says why.
class PhaseRunner
{
public:
    PhaseRunner(VemoUpdaterEngine *engine, const BoxAnswerer *answerer);

    // checkForUpdates() alone.
    bool check();
    // From beginDownload() to downloadFinished().
    bool download();
    // From installUpdates() to installFinished(), run by the install window
    // as in the updater; every package must install.
    bool install();
    // From installFile("Rollback update") to installFinished(): a package
    // must fail so that the run rolls back.
    bool rollback();

    double seconds() const { return m_seconds; }
    const QString &summary() const { return m_summary; }
    const QString &failure() const { return m_failure; }

private:
    bool checkFindsUpdates();
    bool fail(const QString &reason);

    VemoUpdaterEngine *m_engine;
    const BoxAnswerer *m_answerer;
    double m_seconds = 0;
    double m_checkSeconds = 0;
    QString m_summary;
    QString m_failure;
};
