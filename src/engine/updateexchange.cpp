#include "updateexchange.h"

#include "systemproxy.h"
#include "updateanswer.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QTcpSocket>

UpdateExchange::UpdateExchange(QTcpSocket &socket, int waitMs, qsizetype maxAnswerSize)
    : m_socket(socket)
    , m_waitMs(waitMs)
    , m_maxAnswerSize(maxAnswerSize)
{
}

bool UpdateExchange::run(const QString &host, quint16 port, const QByteArray &query,
                         QDomDocument *answer)
{
    m_failureText.clear();
    if (!connectToServer(host, port))
        return false;

    // Neither result is looked at: a query that did not get through shows as
    // an answer that never comes, and the wait below reports that.
    m_socket.write(query);
    m_socket.waitForBytesWritten(m_waitMs);

    QByteArray received;
    while (!UpdateAnswer::parse(received, answer)) {
        // An answer larger than the limit is not an answer: the check stops
        // instead of filling memory.
        if (received.size() > m_maxAnswerSize || !m_socket.waitForReadyRead(m_waitMs)) {
            m_failureText = QCoreApplication::translate("translation",
                                                        "An error occured while comunicating "
                                                        "update server. Check your internet "
                                                        "connection.",
                                                        "nc");
            return false;
        }
        received += m_socket.readAll();
    }
    return true;
}

bool UpdateExchange::connectToServer(const QString &host, quint16 port)
{
    // A connection left from an earlier check would make connectToHost() a
    // no-op; each check asks the server afresh.
    m_socket.abort();
    const QNetworkProxy proxy = SystemProxy::forTcp(host, port);
    m_socket.setProxy(proxy);
    m_socket.connectToHost(host, port, QIODevice::ReadWrite);
    if (m_socket.waitForConnected(m_waitMs))
        return true;

    if (!SystemProxy::isProxy(proxy)) {
        m_failureText = QCoreApplication::translate(
            "translation", "Couldn't connect to update server. Check your internet connection.",
            "nc");
    } else if (m_socket.error() == QAbstractSocket::ProxyAuthenticationRequiredError) {
        m_failureText = QCoreApplication::translate("translation",
                                                    "Couldn't connect to update server: the proxy "
                                                    "server %1 asks for a user name and password.",
                                                    "nc")
                            .arg(SystemProxy::name(proxy));
    } else {
        m_failureText = QCoreApplication::translate(
                            "translation",
                            "Couldn't connect to update server through the proxy server %1: %2",
                            "nc")
                            .arg(SystemProxy::name(proxy), m_socket.errorString());
    }
    return false;
}
