#pragma once

#include <QString>

// The updater's message boxes. Every box is modal, has no parent window (it
// may come before any window exists or after the last one closed) and
// blocks until the user answers.
namespace MessageBoxes {

// "Update", the title of the start-up's boxes and the installer's failure
// boxes.
QString updateTitle();
// "Update" as the install driver looks it up: the same word under another
// disambiguation, so a catalogue may word the two apart.
QString installTitle();
// "Check updates", the title of the update check's boxes.
QString checkTitle();

// A critical box with one OK button.
void critical(const QString &title, const QString &text);
// An information box with one OK button.
void information(const QString &title, const QString &text);
// A warning box with Abort and Retry, Retry being the default. True when the
// user chose Retry; closing the box counts as Abort.
bool askRetry(const QString &title, const QString &text);

} // namespace MessageBoxes
