#pragma once

#include <QString>

// What the update run asks of its user and tells them: a failure, a notice,
// and whether to retry an installation that failed. The engine and the
// installation ask only through this; the windows' side (MessageBoxPrompts)
// shows them as message boxes, tests answer them from a script. Each call
// returns once the user has answered.
class UserPrompts
{
public:
    virtual ~UserPrompts() = default;

    // A failure the user must know of, acknowledged with OK.
    virtual void critical(const QString &title, const QString &text) = 0;
    // A notice, acknowledged with OK.
    virtual void information(const QString &title, const QString &text) = 0;
    // Abort or Retry, Retry being the default. True when the user chose
    // Retry; a question closed without an answer counts as Abort.
    virtual bool askRetry(const QString &title, const QString &text) = 0;

    // "Update", the title of the start-up's notices and the installer's
    // failures.
    static QString updateTitle();
    // "Update" as the install driver looks it up: the same word under another
    // disambiguation, so a catalogue may word the two apart.
    static QString installTitle();
    // "Check updates", the title of the update check's failures.
    static QString checkTitle();
};
