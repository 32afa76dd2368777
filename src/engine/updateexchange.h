#pragma once

#include <QByteArray>
#include <QString>

class QDomDocument;
class QTcpSocket;

// The update query's exchange with the update server over one plain TCP
// connection: connect (through the proxy that the system's settings name for
// the server, which carries the connection with CONNECT), send the query,
// then read until the bytes received form a complete XML document. Every wait
// blocks for at most the given time.
class UpdateExchange
{
public:
    UpdateExchange(QTcpSocket &socket, int waitMs, qsizetype maxAnswerSize);

    // True when an answer document was read into *answer. Otherwise
    // failureText() tells the user what went wrong.
    bool run(const QString &host, quint16 port, const QByteArray &query, QDomDocument *answer);
    const QString &failureText() const { return m_failureText; }

private:
    bool connectToServer(const QString &host, quint16 port);

    QTcpSocket &m_socket;
    const int m_waitMs;
    const qsizetype m_maxAnswerSize;
    QString m_failureText;
};
