#pragma once

#include <QFile>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>

// The update server stand-in: accepts any number of clients at once and
// hands each to a QueryConnection, which answers from DIR/catalogue.xml,
// re-read for every query.
class AnswerSigner;

class UpdateServer : public QObject
{
    Q_OBJECT

public:
    explicit UpdateServer(const QString &catalogueDir, QObject *parent = nullptr);

    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }
    // Signs every answer with the signer, which must outlive the server;
    // answers expire lifetimeSeconds after they are made.
    void setSigner(AnswerSigner *signer, qint64 lifetimeSeconds)
    {
        m_signer = signer;
        m_lifetime = lifetimeSeconds;
    }
    // Appends one line per connection to the file: time, peer, outcome and
    // the number of query bytes received, separated by tabs.
    bool openLog(const QString &path);
    bool listen(const QHostAddress &address, quint16 port);

    QString errorString() const { return m_error; }
    QHostAddress serverAddress() const { return m_server.serverAddress(); }
    quint16 serverPort() const { return m_server.serverPort(); }

private:
    void acceptConnections();
    void logConnection(const QString &peer, const QString &outcome, qint64 queryBytes);

    QString m_cataloguePath;
    int m_idleTimeoutMs = 10000;
    AnswerSigner *m_signer = nullptr;
    qint64 m_lifetime = 0;
    QTcpServer m_server;
    QFile m_log;
    QString m_error;
};
