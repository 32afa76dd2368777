#include "fakehttpserver.h"

#include <QTcpSocket>
#include <QTimer>

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
                const QList<QByteArray> lines = received->left(end).split('\n');
                received->remove(0, end + 4);
                const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
                Request request{requestLine.value(0), requestLine.value(1), {}};
                for (const QByteArray &line : lines.mid(1)) {
                    const qsizetype colon = line.indexOf(':');
                    if (colon > 0)
                        request.fields.insert(line.left(colon).trimmed().toLower(),
                                              line.mid(colon + 1).trimmed());
                }
                QByteArray logLine = request.method + ' ' + request.target;
                for (const QByteArray &name : {QByteArray("range"), QByteArray("if-range")}) {
                    if (request.fields.contains(name))
                        logLine += ' ' + name + ' ' + request.fields.value(name);
                }
                m_requests << QString::fromLatin1(logLine);
                const Reply reply = m_handler ? m_handler(request)
                                              : Reply{response("HTTP/1.1 404 Not Found", {}), true};
                socket->write(reply.bytes);
                if (!reply.later.isEmpty()) {
                    writeLater(socket, reply);
                    return;
                }
                if (reply.close) {
                    socket->disconnectFromHost();
                    return;
                }
            }
        });
    }
}

void FakeHttpServer::writeLater(QTcpSocket *socket, const Reply &reply)
{
    QTimer::singleShot(reply.pauseMs, socket, [this, socket, reply] {
        Reply rest = reply;
        socket->write(rest.later.takeFirst());
        if (!rest.later.isEmpty())
            writeLater(socket, rest);
        else if (rest.close)
            socket->disconnectFromHost();
    });
}
