#include "scriptedprompts.h"

#include <QStringList>

QString ScriptedPrompts::Prompt::summary() const
{
    return kind + QStringLiteral(" | ") + title + QStringLiteral(" | ") + text;
}

QStringList ScriptedPrompts::summaries() const
{
    QStringList result;
    for (const Prompt &prompt : m_prompts)
        result << prompt.summary();
    return result;
}

void ScriptedPrompts::critical(const QString &title, const QString &text)
{
    m_prompts.append({QStringLiteral("critical"), title, text});
}

void ScriptedPrompts::information(const QString &title, const QString &text)
{
    m_prompts.append({QStringLiteral("information"), title, text});
}

bool ScriptedPrompts::askRetry(const QString &title, const QString &text)
{
    Prompt prompt{QStringLiteral("question"), title, text};
    prompt.unscripted = m_answers.isEmpty();
    m_prompts.append(prompt);
    return !m_answers.isEmpty() && m_answers.takeFirst() == Retry;
}
