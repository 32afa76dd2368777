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
//
// A journal is acted on only when a run could have written it: a regular
// file of at most InstallJournal::MaxSize bytes, whose roots are
// installations of the messenger or the plug-in folder, whose places lie in
// those roots without a link on the way, and whose packages that changed a
// root still have their backup folders. Any other is left alone, with every
// file it names, reported (Refused), and then set aside under another name,
// so that it stops only one start.
namespace InstallRecovery {

enum class Outcome {
    NothingToDo, // no journal, or one written before the first change
    CleanedUp, // the run had finished or rolled back; its leftovers are gone
    RolledBack, // the run was cut short and has been taken back
    Failed, // not everything could be put back; journal and backups stay
    Refused, // the journal was not acted on, or cannot be closed; problem says why
};

struct Result
{
    Outcome outcome = Outcome::NothingToDo;
    QString problem; // for Failed and Refused (for Refused what the user is told of it)
    QStringList backupDirs; // for Failed: where the saved files are
    // For a journal that was not acted on: the name it is to be kept under
    // (setAside()), which the user is then told; empty when it stays.
    QString setAsideAs;
};

// pluginRoot: the plug-in folder of this start (UpdaterPaths::pluginRoot), the
// one root besides installations of the messenger that a journal may name.
Result run(const QString &journalPath, const QString &pluginRoot);

// Renames the journal to `to` in its folder (never over another file).
bool setAside(const QString &journalPath, const QString &to, QString *error);

} // namespace InstallRecovery
