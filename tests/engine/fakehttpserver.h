#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

// An HTTP server for faults that nginx cannot produce on demand: silence, a
// connection cut in the middle of a body, a header without Content-Length.
// Runs on the test's thread; every request is answered by the handler with
// raw bytes, after which the connection is closed or left open.
class FakeHttpServer : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray method;
        QByteArray target;
        // Header fields by lower-case name.
        QMap<QByteArray, QByteArray> fields;
    };
    struct Reply
    {
        QByteArray bytes;
        // Leaving the connection open after empty bytes is a server gone silent.
        bool close = true;
        // Written after the bytes, one every pauseMs, before the close: a
        // slow server.
        QList<QByteArray> later = {};
        int pauseMs = 0;
    };
    using Handler = std::function<Reply(const Request &request)>;

    explicit FakeHttpServer(QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port);
    void setHandler(Handler handler);

    // "METHOD target" of every request received, in order, followed by
    // " range VALUE" and " if-range VALUE" for those fields when present.
    QStringList requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }

    // A complete response with the given status line, Content-Length and body.
    static QByteArray response(const QByteArray &statusLine, const QByteArray &body);

private:
    void acceptConnections();
    void writeLater(QTcpSocket *socket, const Reply &reply);

    QTcpServer m_server;
    Handler m_handler;
    QStringList m_requests;
};
