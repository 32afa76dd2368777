#include "queryconnection.h"

#include "answersignature.h"
#include "answersigner.h"
#include "catalogue.h"

#include <QDateTime>

#include <QTcpSocket>

namespace {
constexpr qint64 MaximumQueryBytes = 1024 * 1024;
} // namespace

QueryConnection::QueryConnection(QTcpSocket *socket, const QString &cataloguePath,
                                 int idleTimeoutMs, AnswerSigner *signer, qint64 lifetimeSeconds,
                                 QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_cataloguePath(cataloguePath)
    , m_peer(QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()))
    , m_signer(signer)
    , m_lifetime(lifetimeSeconds)
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
    m_received += bytes;
    if (m_received.size() > MaximumQueryBytes) {
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
    QByteArray answer = catalogue.answer(m_query);
    if (m_signer) {
        // The hash covers every byte the client sent, just as the client
        // hashes everything it sent.
        QString error;
        if (!AnswerSigner::stamp(answer, QDateTime::currentSecsSinceEpoch() + m_lifetime,
                                 AnswerSignature::queryHash(m_received), &answer, &error)
            || !m_signer->sign(answer, &answer)) {
            reject(QStringLiteral("closed: cannot sign the answer: %1")
                       .arg(error.isEmpty() ? m_signer->errorString() : error));
            return;
        }
    }
    m_answered = true;
    m_socket->write(answer);
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
    reject(qint64(m_received.size()) == 0
               ? QStringLiteral("closed: nothing received within %1 ms").arg(m_idleTimer.interval())
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
    emit finished(m_peer, outcome, qint64(m_received.size()));
}
