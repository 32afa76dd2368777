#include "updateserverconnection.h"

#include "systemproxy.h"

#include <QCoreApplication>
#include <QTcpSocket>

namespace UpdateServerConnection {

bool open(QTcpSocket &socket, const QString &host, quint16 port, int waitMs, QString *failure)
{
    // A connection left from an earlier check would make connectToHost() a
    // no-op; each check asks the server afresh.
    socket.abort();
    const QNetworkProxy proxy = SystemProxy::forTcp(host, port);
    socket.setProxy(proxy);
    socket.connectToHost(host, port, QIODevice::ReadWrite);
    if (socket.waitForConnected(waitMs))
        return true;

    if (!SystemProxy::isProxy(proxy)) {
        *failure = QCoreApplication::translate(
            "UpdateServerConnection",
            "Couldn't connect to update server. Check your internet connection.");
    } else if (socket.error() == QAbstractSocket::ProxyAuthenticationRequiredError) {
        *failure = QCoreApplication::translate("UpdateServerConnection",
                                               "Couldn't connect to update server: the proxy "
                                               "server %1 asks for a user name and password.")
                       .arg(SystemProxy::name(proxy));
    } else {
        *failure = QCoreApplication::translate(
                       "UpdateServerConnection",
                       "Couldn't connect to update server through the proxy server %1: %2")
                       .arg(SystemProxy::name(proxy), socket.errorString());
    }
    return false;
}

} // namespace UpdateServerConnection
