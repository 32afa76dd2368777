#include "queryconnection.h"

#include "catalogue.h"

#include <QTcpSocket>

namespace {
constexpr qint64 MaximumQueryBytes = 1024 * 1024;
} // namespace

QueryConnection::QueryConnection(QTcpSocket *socket, const QString &cataloguePath,
                                 int idleTimeoutMs, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_cataloguePath(cataloguePath)
    , m_peer(QStringLiteral("%1:%2")
                 .arg(socket->peerAddress().toString())
                 .arg(socket->peerPort()))
{
    m_socket->setParent(this);
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(idleTimeoutMs);
    connect(&m_idleTimer, &QTimer::timeout, this, &QueryConnection::timedOut);
    connect(m_socket, &QTcpSocket::readyRead, this, &QueryConnection::readQuery);
    connect(m_socket, &QTcpSocket::disconnected, this, &QueryConnection::socketClosed);
    m_idleTimer.start();
    // Bytes may have arrived before the connection was taken over; read them
    // once the creator has connected to finished().
    if (m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &QueryConnection::readQuery, Qt::QueuedConnection);
}

void QueryConnection::readQuery()
{
    const QByteArray bytes = m_socket->readAll();
    if (m_answered || m_reported)
        return;
    m_queryBytes += bytes.size();
    if (m_queryBytes > MaximumQueryBytes) {
        reject(QStringLiteral("closed: query larger than 1 MiB"));
        return;
    }
    m_idleTimer.start();
    switch (m_query.addData(bytes)) {
    case UpdateQuery::Incomplete:
        break;
    case UpdateQuery::Malformed:
        reject(QStringLiteral("closed: malformed query (%1)").arg(m_query.errorString()));
        break;
    case UpdateQuery::Complete:
        answer();
        break;
    }
}

void QueryConnection::answer()
{
    Catalogue catalogue;
    if (!catalogue.load(m_cataloguePath)) {
        reject(QStringLiteral("closed: no answer, %1").arg(catalogue.errorString()));
        return;
    }
    m_answered = true;
    m_socket->write(catalogue.answer(m_query));
    report(QStringLiteral("answered %1 request(s)").arg(m_query.components().size()));
    // A client that does not take the answer is cut off when the timer runs
    // out again.
    m_idleTimer.start();
    m_socket->disconnectFromHost();
}

void QueryConnection::reject(const QString &reason)
{
    report(reason);
    m_idleTimer.stop();
    m_socket->abort();
    deleteLater();
}

void QueryConnection::timedOut()
{
    if (m_answered) {
        m_socket->abort();
        deleteLater();
        return;
    }
    reject(m_queryBytes == 0
               ? QStringLiteral("closed: nothing received within %1 ms")
                     .arg(m_idleTimer.interval())
               : QStringLiteral("closed: query not complete after %1 ms of silence")
                     .arg(m_idleTimer.interval()));
}

void QueryConnection::socketClosed()
{
    report(QStringLiteral("client closed the connection before the query was complete"));
    m_idleTimer.stop();
    deleteLater();
}

void QueryConnection::report(const QString &outcome)
{
    if (m_reported)
        return;
    m_reported = true;
    emit finished(m_peer, outcome, m_queryBytes);
}
