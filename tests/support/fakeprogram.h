#pragma once

#include <QByteArray>
#include <QString>

// Stand-ins for the programs that the updater starts (the messenger, the
// runtime installer, the relaunched updater): one small compiled program
// (fakeprogram.cpp) that runs a script attached to the end of its own
// executable file, so that each copy does what its test chose and runs on
// every platform. A script is one command a line:
//
//   on ARG          the lines up to the next "on" run only when the first
//                   argument is ARG ("on *": when no other "on" matched);
//                   lines before the first "on" always run
//   print TEXT      TEXT and a newline on standard output
//   cat FILE        FILE's bytes on standard output
//   args FILE       appends each argument followed by "|", then a newline
//   started FILE    writes the argument count, each argument and the
//                   canonical working directory, one a line
//   env NAME FILE   writes the variable NAME's value and a newline, or
//                   "(unset)" when there is none
//   pid FILE        writes its process id
//   parent FILE     writes its parent's process id, executable and command
//                   line, one a line (Linux only)
//   spawn FILE CMD  starts a copy of itself running CMD (commands separated
//                   by ";") that stays in its process group or job, and
//                   writes the copy's process id
//   mkdir DIR       makes a directory
//   write FILE TEXT writes TEXT and a newline
//   sleep SECONDS   waits
//   crash           ends as a crash does (a signal, or an access violation)
//   exit CODE       ends with CODE (0 at the end of the script)
//
// A relative FILE or DIR is taken from the program's own directory. Files
// are written whole (a temporary file renamed), so a test never reads half.
namespace FakeProgram {

// The end of a fake program's file: its script's length in 10 digits
// between these.
inline constexpr char TrailerStart[] = "\n#vemo-fake-script ";
inline constexpr int TrailerSize = sizeof(TrailerStart) - 1 + 10 + 1;
// Set for the copies that "spawn" starts: their script.
inline constexpr char ScriptVariable[] = "VEMO_FAKE_SCRIPT";

// The bytes of a fake program running 'script'.
QByteArray bytes(const QByteArray &script);
// Writes a fake program running 'script' at 'path', executable.
bool write(const QString &path, const QByteArray &script);

// The script of a messenger that answers "-updatequery" with a query about
// one component.
inline constexpr char Messenger[] = "print <s><c/></s>";

} // namespace FakeProgram
