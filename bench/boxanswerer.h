#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

// Answers every modal message box that the engine opens, so that a headless
// run never waits for a user. Abort is pressed where a box offers it (a
// failed install must not restart the program), otherwise the box's escape
// button or its first button. Each box is reported on standard error and
// kept for the caller.
class BoxAnswerer : public QObject
{
    Q_OBJECT

public:
    explicit BoxAnswerer(QObject *parent = nullptr);

    const QStringList &texts() const { return m_texts; }

private:
    void poll();

    QTimer m_timer;
    QStringList m_texts;
};
