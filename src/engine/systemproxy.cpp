#include "systemproxy.h"

#include <QNetworkProxyFactory>
#include <QUrl>

namespace {

// The first usable answer of the application's proxy factory, which Qt fills
// from the system's settings and which keeps loopback connections direct.
QNetworkProxy firstProxy(const QNetworkProxyQuery &query)
{
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::proxyForQuery(query);
    for (const QNetworkProxy &proxy : proxies) {
        if (proxy.type() != QNetworkProxy::DefaultProxy)
            return proxy;
    }
    return QNetworkProxy(QNetworkProxy::NoProxy);
}

} // namespace

namespace SystemProxy {

QNetworkProxy forUrl(const QUrl &url)
{
    return firstProxy(QNetworkProxyQuery(url));
}

QNetworkProxy forTcp(const QString &host, quint16 port)
{
    return firstProxy(QNetworkProxyQuery(host, port, QString(), QNetworkProxyQuery::TcpSocket));
}

bool isProxy(const QNetworkProxy &proxy)
{
    return proxy.type() != QNetworkProxy::NoProxy && proxy.type() != QNetworkProxy::DefaultProxy;
}

QString name(const QNetworkProxy &proxy)
{
    const QString host = proxy.hostName();
    // An IPv6 address is written in brackets, as in a URL.
    const QString shown = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']')
                                                          : host;
    return QStringLiteral("%1:%2").arg(shown).arg(proxy.port());
}

} // namespace SystemProxy
