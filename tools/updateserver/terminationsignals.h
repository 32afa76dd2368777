#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal delivered by the event loop, so
// that a server can shut down cleanly. Only one instance may exist.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    bool install();
    QString errorString() const { return m_error; }

    // Where the system hands a signal over; safe in a signal handler and
    // on any thread.
    static void handle(int signalNumber);

signals:
    void received(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
    QString m_error;
};
