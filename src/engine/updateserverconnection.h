#pragma once

#include <QString>

class QTcpSocket;

// The update query's plain TCP connection to the update server.
namespace UpdateServerConnection {

// Connects socket to host:port, through the proxy that the system's settings
// name for that host if any (an HTTP proxy carries the connection with
// CONNECT), and waits up to waitMs for it. A connection left from before is
// dropped first. False when no connection was made; *failure then tells the
// user why, naming the proxy when the connection went through one.
bool open(QTcpSocket &socket, const QString &host, quint16 port, int waitMs, QString *failure);

} // namespace UpdateServerConnection
