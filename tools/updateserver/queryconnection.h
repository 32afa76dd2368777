#pragma once

#include "updatequery.h"

#include <QObject>
#include <QString>
#include <QTimer>

class AnswerSigner;
class QTcpSocket;

// One client of the update server: reads its query, answers it from the
// catalogue and closes the connection once the answer is written. A query
// that is too large, malformed, or not complete after a period of silence
// gets no answer; its connection is simply closed. With a signer, every
// answer carries "expires" (now + lifetime) and the SHA-256 of the query
// bytes received, and is signed. Deletes itself when done.
class QueryConnection : public QObject
{
    Q_OBJECT

public:
    QueryConnection(QTcpSocket *socket, const QString &cataloguePath, int idleTimeoutMs,
                    AnswerSigner *signer, qint64 lifetimeSeconds, QObject *parent = nullptr);

signals:
    // Emitted once per connection.
    void finished(const QString &peer, const QString &outcome, qint64 queryBytes);

private:
    void readQuery();
    void answer();
    void reject(const QString &reason);
    void timedOut();
    void socketClosed();
    void report(const QString &outcome);

    QTcpSocket *m_socket;
    QString m_cataloguePath;
    QString m_peer;
    UpdateQuery m_query;
    AnswerSigner *m_signer;
    qint64 m_lifetime;
    QByteArray m_received;
    QTimer m_idleTimer;
    bool m_answered = false;
    bool m_reported = false;
};
