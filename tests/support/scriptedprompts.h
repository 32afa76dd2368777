#pragma once

#include "engine/userprompts.h"

#include <QList>
#include <QString>

// Stands in for the user: records every prompt of the code under test and
// answers the Abort/Retry questions in turn from a script. A question that
// the script does not answer is answered with Abort and marked, so a test
// can tell it from a scripted one.
class ScriptedPrompts : public UserPrompts
{
public:
    enum Answer { Abort, Retry };

    struct Prompt
    {
        QString kind; // "critical", "information" or "question"
        QString title;
        QString text;
        bool unscripted = false;

        // "kind | title | text"
        QString summary() const;
    };

    // Answers for the next questions, in order.
    void answerWith(const QList<Answer> &answers) { m_answers = answers; }

    const QList<Prompt> &prompts() const { return m_prompts; }
    int count() const { return int(m_prompts.size()); }
    const Prompt &last() const { return m_prompts.last(); }
    QStringList summaries() const;
    void clear() { m_prompts.clear(); }

    void critical(const QString &title, const QString &text) override;
    void information(const QString &title, const QString &text) override;
    bool askRetry(const QString &title, const QString &text) override;

private:
    QList<Answer> m_answers;
    QList<Prompt> m_prompts;
};
