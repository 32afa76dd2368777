#pragma once

#include "installjournal.h"

#include <QString>
#include <QStringList>

// What a start of the updater does, before anything else, about an install
// run that never ended: the journal it left behind leads to its backups and
// to what it created, and the run is taken back package by package, the last
// one first, exactly as its own rollback would have done. Taking back can be
// cut short and run again: it deletes what the run created and puts the
// saved files back from backups it keeps until it is done.
namespace InstallRecovery {

enum class Outcome {
    NothingToDo, // no journal, or one written before the first change
    CleanedUp, // the run had finished or rolled back; its leftovers are gone
    RolledBack, // the run was cut short and has been taken back
    Failed, // not everything could be put back; journal and backups stay
};

struct Result
{
    Outcome outcome = Outcome::NothingToDo;
    QString problem; // for Failed
    QStringList backupDirs; // for Failed: where the saved files are
};

Result run(const QString &journalPath);

} // namespace InstallRecovery
