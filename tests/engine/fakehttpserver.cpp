#include "fakehttpserver.h"

#include <QTcpSocket>

#include <memory>

FakeHttpServer::FakeHttpServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeHttpServer::acceptConnections);
}

bool FakeHttpServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

void FakeHttpServer::setHandler(Handler handler)
{
    m_handler = std::move(handler);
}

QByteArray FakeHttpServer::response(const QByteArray &statusLine, const QByteArray &body)
{
    return statusLine + "\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n\r\n" + body;
}

void FakeHttpServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto received = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
            *received += socket->readAll();
            qsizetype end;
            while ((end = received->indexOf("\r\n\r\n")) >= 0) {
                const QByteArray head = received->left(end);
                received->remove(0, end + 4);
                const QList<QByteArray> requestLine = head.split('\n').first().trimmed().split(' ');
                const QByteArray method = requestLine.value(0);
                const QByteArray target = requestLine.value(1);
                m_requests << QString::fromLatin1(method + ' ' + target);
                const Reply reply = m_handler ? m_handler(method, target)
                                              : Reply{response("HTTP/1.1 404 Not Found", {}), true};
                socket->write(reply.bytes);
                if (reply.close) {
                    socket->disconnectFromHost();
                    return;
                }
            }
        });
    }
}
