#pragma once

#include "engine/userprompts.h"

#include <QString>

// The updater's message boxes. Every box is modal, has no parent window (it
// may come before any window exists or after the last one closed) and
// blocks until the user answers.
namespace MessageBoxes {

// A critical box with one OK button.
void critical(const QString &title, const QString &text);
// An information box with one OK button.
void information(const QString &title, const QString &text);
// A warning box with Abort and Retry, Retry being the default. True when the
// user chose Retry; closing the box counts as Abort.
bool askRetry(const QString &title, const QString &text);

} // namespace MessageBoxes

// What the engine and the installation ask, shown as the message boxes above.
class MessageBoxPrompts : public UserPrompts
{
public:
    void critical(const QString &title, const QString &text) override;
    void information(const QString &title, const QString &text) override;
    bool askRetry(const QString &title, const QString &text) override;
};
