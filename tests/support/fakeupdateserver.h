#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QThread>

class QTcpServer;

// An update server for tests that need answers the stand-in server would
// never give: an answer in pieces with pauses, an early close, silence.
// It runs in its own thread, because the update check blocks the thread
// that calls it.
//
// Each connection: the query is read until it holds "</s>" or nothing more
// arrives for 300 ms; then the pieces are written with the pause between
// them; then the connection is closed, or left open and silent.
class FakeUpdateServer
{
public:
    struct Behaviour
    {
        QList<QByteArray> pieces;
        int pauseMs = 0;
        bool closeAtEnd = true;
    };

    FakeUpdateServer();
    ~FakeUpdateServer();

    FakeUpdateServer(const FakeUpdateServer &) = delete;
    FakeUpdateServer &operator=(const FakeUpdateServer &) = delete;

    bool listen(const QHostAddress &address, quint16 port);

    void setBehaviour(const Behaviour &behaviour);
    void answerWith(const QByteArray &document) { setBehaviour({{document}, 0, true}); }

    // Queries received so far, one per connection, in order.
    QList<QByteArray> queries() const;

private:
    friend class FakeUpdateServerWorker;
    Behaviour behaviour() const;
    void recordQuery(const QByteArray &query);

    mutable QMutex m_mutex;
    Behaviour m_behaviour;
    QList<QByteArray> m_queries;
    QThread m_thread;
    QObject *m_context = nullptr;
    QTcpServer *m_server = nullptr;
};
