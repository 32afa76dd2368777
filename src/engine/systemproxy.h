#pragma once

#include <QNetworkProxy>
#include <QString>

class QUrl;

// The proxy that the system's settings name for a connection, as Qt reads
// them (on Linux the http_proxy and no_proxy variables). Connections to
// "localhost" and loopback addresses never go through a proxy.
//
// The download and the update query ask here and set the answer on their
// connection themselves, so that a failure can name the proxy it went
// through.
namespace SystemProxy {

// For an HTTP request to url.
QNetworkProxy forUrl(const QUrl &url);
// For a plain TCP connection to host:port; an HTTP proxy carries it with
// CONNECT.
QNetworkProxy forTcp(const QString &host, quint16 port);

// True when connections go through proxy rather than straight to their
// host.
bool isProxy(const QNetworkProxy &proxy);
// "host:port" of the proxy, for messages; never its user name or password.
QString name(const QNetworkProxy &proxy);

} // namespace SystemProxy
