#include "updateserver.h"

#include "queryconnection.h"

#include <QDateTime>
#include <QTcpSocket>

UpdateServer::UpdateServer(const QString &catalogueDir, QObject *parent)
    : QObject(parent)
    , m_cataloguePath(catalogueDir + QStringLiteral("/catalogue.xml"))
{
    connect(&m_server, &QTcpServer::newConnection, this, &UpdateServer::acceptConnections);
}

bool UpdateServer::openLog(const QString &path)
{
    m_log.setFileName(path);
    if (!m_log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        m_error = QStringLiteral("Cannot open the log %1: %2").arg(path, m_log.errorString());
        return false;
    }
    return true;
}

bool UpdateServer::listen(const QHostAddress &address, quint16 port)
{
    if (!m_server.listen(address, port)) {
        m_error = QStringLiteral("Cannot listen on %1:%2: %3")
                      .arg(address.toString())
                      .arg(port)
                      .arg(m_server.errorString());
        return false;
    }
    return true;
}

void UpdateServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        auto *connection = new QueryConnection(socket, m_cataloguePath, m_idleTimeoutMs, m_signer,
                                               m_lifetime, this);
        connect(connection, &QueryConnection::finished, this, &UpdateServer::logConnection);
    }
}

void UpdateServer::logConnection(const QString &peer, const QString &outcome, qint64 queryBytes)
{
    if (!m_log.isOpen())
        return;
    const QString line = QStringLiteral("%1\t%2\t%3\t%4 bytes\n")
                             .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs), peer,
                                  outcome)
                             .arg(queryBytes);
    m_log.write(line.toUtf8());
    m_log.flush();
}
